#include "console/messages.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"

// The same table as written, in UTF-8: console/messages.cc built once more
// without the GBK conversion, the table renamed (tests/CMakeLists.txt).
extern const char* const MessageCatalogueAsWritten[MessageCount];

namespace {

/// "<not GBK>" when the text has no GBK form.
std::string toGbk(const std::string& utf8) {
  std::string gbk;
  return convertText(utf8, "GBK", "UTF-8", &gbk) ? gbk : "<not GBK>";
}

TEST(Messages, EveryEntryIsItsTextInGbk) {
  for (size_t i = 0; i < MessageCount; ++i) {
    ASSERT_NE(nullptr, MessageCatalogue[i]) << "message " << i << " has no text";
    ASSERT_NE(nullptr, MessageCatalogueAsWritten[i]) << "message " << i << " has no text";
    const std::string utf8 = MessageCatalogueAsWritten[i];
    EXPECT_EQ(hexBytes(MessageCatalogue[i], " "), hexBytes(toGbk(utf8), " "))
        << "message " << i << ": " << utf8;
  }
}

}  // namespace
