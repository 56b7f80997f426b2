// Arbitrary bytes as the Actions value of a task's registry copy. The
// decoder must neither crash, read past the bytes, hang nor step into
// undefined behaviour, and what it says must hold:
//  - refused: a reason, no programs; accepted: no reason, version 1 or 3;
//  - an accepted value written again from what was decoded (its version,
//    its programs, nothing else) decodes to the same programs, and so does
//    it with one more program after it, that one added;
//  - an accepted value without its last byte is refused: every action ends
//    on a field the layout counts, so no valid value is another's prefix
//    but at an action's end.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tasks/task_actions.h"
#include "tests/task_text.h"

namespace {

bool samePrograms(const std::vector<TaskAction>& a, const std::vector<TaskAction>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].command != b[i].command || a[i].arguments != b[i].arguments) return false;
  return true;
}

[[noreturn]] void fail(const char* what, const RegistryActions& decoded) {
  fprintf(stderr, "task actions: %s (version %u, %zu programs, reason \"%s\")\n", what,
          decoded.version, decoded.programs.size(), decoded.reason.c_str());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const RegistryActions decoded = decodeTaskActions(data, size);
  if (!decoded.ok) {
    if (decoded.reason.empty() || !decoded.programs.empty()) fail("refused, yet", decoded);
    return 0;
  }
  if (!decoded.reason.empty() || (decoded.version != 1 && decoded.version != 3))
    fail("accepted, yet", decoded);

  std::string again = actionsValueHead(decoded.version);
  for (const TaskAction& program : decoded.programs)
    again += programAction(decoded.version, program.command, program.arguments);
  const RegistryActions written = decodeTaskActions(again);
  if (!written.ok || !samePrograms(written.programs, decoded.programs))
    fail("written again, the programs differ", written);

  std::vector<TaskAction> more = decoded.programs;
  more.push_back({"C:\\Windows\\System32\\cmd.exe", "/c C:\\a.exe"});
  const std::string longer = std::string(reinterpret_cast<const char*>(data), size) +
                             programAction(decoded.version, more.back().command,
                                           more.back().arguments);
  const RegistryActions extended = decodeTaskActions(longer);
  if (!extended.ok || !samePrograms(extended.programs, more))
    fail("with one more program, the programs differ", extended);

  if (decodeTaskActions(data, size - 1).ok) fail("accepted without its last byte", decoded);
  return 0;
}
