// Arbitrary bytes as a task definition file. The reader must neither crash,
// hang, leak nor step into undefined behaviour, whatever the encoding, and
// must give what pugixml gives when it reads the same bytes by itself: every
// Exec of the first Actions, each text its element's text and CDATA
// children joined, the comments between them (kept as nodes here, unlike in
// the reader) passed over. (Processing instructions stay unkept: kept, the
// parser refuses some that it otherwise skips.) The
// reader hands UTF-16 LE to the parser already converted, keeping a lone
// surrogate the parser would drop: such bytes are given to pugixml in the
// text module's UTF-8 (whose conversion the unit tests check on their own).
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include <pugixml.hpp>

#include "fuzz/scratch.h"
#include "tasks/task_definition.h"
#include "text/text.h"

namespace {

std::string textOf(const pugi::xml_node& element) {
  std::string text;
  for (pugi::xml_node child : element.children())
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
      text += child.value();
  return text;
}

std::string definitionPath;
int definitionFile = -1;

TaskRecord parsedByPugixml(const uint8_t* data, size_t size) {
  TaskRecord record;
  pugi::xml_document document;
  const bool utf16Le =
      size >= 4 && data[0] == 0xFF && data[1] == 0xFE && !(data[2] == 0 && data[3] == 0);
  std::string utf8(size / 2 * 3 + 1, '\0');
  // With the zero after the text, as the reader gives it.
  if (utf16Le)
    utf8.resize(utf8FromUtf16Le(data, size, reinterpret_cast<unsigned char*>(&utf8[0])) + 1);
  const unsigned options = pugi::parse_default | pugi::parse_comments;
  if (!(utf16Le ? document.load_buffer(utf8.data(), utf8.size(), options, pugi::encoding_utf8)
                : document.load_buffer(data, size, options, pugi::encoding_auto)))
    return record;
  pugi::xml_node task = document.child("Task");
  record.uri = task.child("RegistrationInfo").child("URI").child_value();
  for (pugi::xml_node exec : task.child("Actions").children("Exec"))
    record.actions.push_back({textOf(exec.child("Command")), textOf(exec.child("Arguments"))});
  if (!record.actions.empty()) {
    record.command = record.actions[0].command;
    record.arguments = record.actions[0].arguments;
  }
  return record;
}

void printField(const char* name, const std::string& read, const std::string& expected) {
  if (read == expected) return;
  fprintf(stderr, "  %s: read %zu bytes, pugixml %zu bytes\n", name, read.size(),
          expected.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  definitionPath = scratchFolder() + "/task";
  definitionFile = open(definitionPath.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (definitionFile < 0) {
    perror(definitionPath.c_str());
    exit(2);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rewrite(definitionFile, data, size);
  const TaskRecord read = readTaskDefinition(definitionPath);
  const TaskRecord expected = parsedByPugixml(data, size);
  bool same = read.uri == expected.uri && read.command == expected.command &&
              read.arguments == expected.arguments &&
              read.actions.size() == expected.actions.size();
  for (size_t i = 0; same && i < read.actions.size(); ++i)
    same = read.actions[i].command == expected.actions[i].command &&
           read.actions[i].arguments == expected.actions[i].arguments;
  if (!same) {
    fprintf(stderr, "task definition: the reader and pugixml differ\n");
    printField("URI", read.uri, expected.uri);
    printField("Command", read.command, expected.command);
    printField("Arguments", read.arguments, expected.arguments);
    fprintf(stderr, "  %zu actions read, pugixml %zu\n", read.actions.size(),
            expected.actions.size());
    for (size_t i = 0; i < read.actions.size() && i < expected.actions.size(); ++i) {
      printField("an action's Command", read.actions[i].command, expected.actions[i].command);
      printField("an action's Arguments", read.actions[i].arguments,
                 expected.actions[i].arguments);
    }
    abort();
  }
  return 0;
}
