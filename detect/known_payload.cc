// The fingerprint the verdict takes for the threat's. Compiled once per
// program: a test build names the harmless stand-in's instead (its build
// says so); release builds never do.
#include "detect/verdict.h"

#ifdef VORKEL_TEST_PAYLOAD_MD5
const char KnownPayloadMd5[] = VORKEL_TEST_PAYLOAD_MD5;
#else
const char KnownPayloadMd5[] = "6b6f44b7f013b9d7536005f234066047";
#endif
