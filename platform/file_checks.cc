#include "platform/file_checks.h"

namespace {

// A reparse tag's name-surrogate bit: the tag makes the file another name
// for something else (IsReparseTagNameSurrogate).
const uint32_t NameSurrogateTag = 0x20000000;

bool startsWithCaseless(const std::string& text, const char* upperStart) {
  size_t i = 0;
  for (; upperStart[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upperStart[i]) return false;
  }
  return true;
}

}  // namespace

OpenedFileUse useOfOpenedFile(uint32_t attributes, uint32_t reparseTag) {
  const bool reparsePoint = (attributes & AttributeReparsePoint) != 0;
  if (reparsePoint && reparseTag != ReparseTagWof && reparseTag != ReparseTagDedup)
    return OpenedFileUse::ContentElsewhere;
  if ((attributes & AttributeDirectory) != 0) return OpenedFileUse::Refuse;
  if ((attributes & (AttributeOffline | AttributeRecallOnOpen | AttributeRecallOnDataAccess)) != 0)
    return OpenedFileUse::ContentElsewhere;
  return reparsePoint ? OpenedFileUse::Reopen : OpenedFileUse::Use;
}

bool isLinkEntry(uint32_t attributes, uint32_t reparseTag) {
  return (attributes & AttributeReparsePoint) != 0 &&
         (reparseTag == 0 || (reparseTag & NameSurrogateTag) != 0);
}

FileFailure failureOfOpenError(long error) {
  return error == ErrorNotFound || error == ErrorPathNotFound || error == ErrorInvalidName
             ? FileFailure::Missing
             : FileFailure::Refused;
}

bool contentUnknown(const WhyUnread& unread) {
  return unread.failure == FileFailure::Refused || unread.failure == FileFailure::ContentElsewhere;
}

long errorOfUnopenedRemoval(const WhyUnread& unread) {
  const bool named =
      unread.failure == FileFailure::Missing || unread.failure == FileFailure::Refused;
  return named ? unread.error : ErrorAccessDenied;
}

uint32_t settableAttributes(uint32_t attributes) {
  return attributes & (AttributeReadOnly | AttributeHidden | AttributeSystem | AttributeArchive |
                       AttributeTemporary | AttributeOffline | AttributeNotContentIndexed);
}

std::string driveOf(const std::string& finalPath) {
  const size_t at = startsWithCaseless(finalPath, "\\\\?\\") ? 4 : 0;
  const bool drive = finalPath.size() >= at + 2 && finalPath[at + 1] == ':' &&
                     ((finalPath[at] >= 'A' && finalPath[at] <= 'Z') ||
                      (finalPath[at] >= 'a' && finalPath[at] <= 'z'));
  return drive ? finalPath.substr(at, 2) : std::string();
}

bool isOnNetwork(const std::string& finalPath, uint32_t driveType) {
  const bool extended = startsWithCaseless(finalPath, "\\\\?\\");
  if (extended ? startsWithCaseless(finalPath, "\\\\?\\UNC\\")
               : startsWithCaseless(finalPath, "\\\\"))
    return true;  // \\server\share\...
  return !driveOf(finalPath).empty() && driveType == DriveRemote;
}
