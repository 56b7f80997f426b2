#include "tests/task_text.h"

#include "text/text.h"

std::string encodeUnicode(const std::string& utf8, int unit, bool bigEndian, bool mark) {
  std::string out;
  auto put = [&](unsigned value) {
    for (int k = 0; k < unit; ++k) {
      int shift = 8 * (bigEndian ? unit - 1 - k : k);
      out += static_cast<char>((value >> shift) & 0xFF);
    }
  };
  if (mark) put(0xFEFF);
  if (unit == 2)
    for (char16_t code : utf16FromUtf8(utf8)) put(code);
  else
    for (size_t at = 0; at < utf8.size();) put(nextCodePoint(utf8, &at));
  return out;
}

std::string utf16leWithBom(const std::string& utf8) {
  return "\xFF\xFE" + utf16LeFromUtf8(utf8);
}

std::string escapeXml(const std::string& text) {
  // Line breaks as the scheduler writes them: a raw CR LF would be read as LF.
  const std::string special = "&<>\"\r\n";
  const char* const references[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&#13;", "&#10;"};
  std::string out;
  for (char c : text) {
    const size_t which = special.find(c);
    out += which == std::string::npos ? std::string(1, c) : references[which];
  }
  return out;
}

std::string schedulerTaskXml(const std::string& uri, const std::string& command,
                             const std::string& arguments) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
      "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
      "  <RegistrationInfo>\n    <Date>2026-03-14T09:26:53</Date>\n"
      "    <Author>WORKSTATION\\Administrator</Author>\n";
  if (!uri.empty()) xml += "    <URI>" + escapeXml(uri) + "</URI>\n";
  xml +=
      "  </RegistrationInfo>\n  <Triggers>\n    <LogonTrigger>\n      <Enabled>true</Enabled>\n"
      "    </LogonTrigger>\n  </Triggers>\n  <Principals>\n    <Principal id=\"Author\">\n"
      "      <UserId>S-1-5-18</UserId>\n      <RunLevel>HighestAvailable</RunLevel>\n"
      "    </Principal>\n  </Principals>\n  <Settings>\n"
      "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
      "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
      "    <Hidden>true</Hidden>\n    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\n"
      "  </Settings>\n  <Actions Context=\"Author\">\n    <Exec>\n"
      "      <Command>" + escapeXml(command) + "</Command>\n";
  if (!arguments.empty()) xml += "      <Arguments>" + escapeXml(arguments) + "</Arguments>\n";
  return xml + "    </Exec>\n  </Actions>\n</Task>\n";
}

std::string u16Le(unsigned value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8 & 0xFF)};
}

std::string u32Le(unsigned value) { return u16Le(value & 0xFFFF) + u16Le(value >> 16); }

std::string countedString(const std::string& utf8) {
  const std::string units = utf16LeFromUtf8(utf8);
  return u32Le(units.size()) + units;
}

std::string programAction(unsigned version, const std::string& command,
                          const std::string& arguments) {
  return u16Le(0x6666) + countedString("") + countedString(command) + countedString(arguments) +
         countedString("C:\\Windows") + (version == 3 ? u16Le(0) : "");
}

std::string actionsValueHead(unsigned version, const std::string& context) {
  return u16Le(version) + (version == 3 ? countedString(context) : "");
}
