// Wine, for running the Windows build: one throwaway prefix per test process
// (a Chinese Windows: code page 936), made on first use and removed at exit;
// programs run in it, its registry read and written through regedit.
#ifndef VORKEL_TESTS_WINE_H_
#define VORKEL_TESTS_WINE_H_

#include <string>
#include <vector>

#include "tests/test_support.h"

extern const char WineLoader[];

/// The prefix's folder, or "" when Wine is missing or the prefix could not
/// be made.
const std::string& winePrefix();
/// Why winePrefix() is "", for the failure message.
const std::string& winePrefixProblem();
/// Host folder of the prefix's C: drive.
std::string wineDriveC();
/// Runs a Windows program (host path) with arguments under Wine.
ProcessResult runUnderWine(const std::vector<std::string>& programAndArgs,
                           const std::string& input, int timeoutSeconds = 120,
                           const Interlude* interlude = nullptr);
/// Starts a Windows program under Wine and leaves it running; its process
/// group, for stopUnderWine.
int startUnderWine(const std::vector<std::string>& programAndArgs);
/// Ends what startUnderWine started.
void stopUnderWine(int processGroup);

/// The Windows build's probe (tests/windows_probe/windows_probe.cc), which Wine runs,
/// and one run of it with these arguments and no input.
std::string probeProgram();
ProcessResult runTheProbe(std::vector<std::string> arguments);

/// Imports a .reg file's bytes with regedit; its exit status.
int importRegistry(const std::string& regFile);
/// A key and everything below it as regedit exports them, in UTF-8; "" when
/// the key is not there.
std::string exportedKey(const std::string& key);
/// The keys below key, each lower-cased and named relative to it.
std::vector<std::string> exportedSubkeys(const std::string& key);
/// The files the system is to delete at the next restart ("\\??\\C:\\...").
std::vector<std::string> pendingDeletions();
/// Takes the files left to be deleted at the restart off the list.
void clearPendingDeletions();

#endif  // VORKEL_TESTS_WINE_H_
