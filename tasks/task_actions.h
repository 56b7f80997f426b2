// The actions of a task's registry copy: the bytes of the Actions value of
// the scheduler's TaskCache\Tasks\{Id} key, which Windows 8 to 11 run from.
#ifndef VORKEL_TASKS_TASK_ACTIONS_H_
#define VORKEL_TASKS_TASK_ACTIONS_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "tasks/task_definition.h"

/// The versions of the value's layout: Windows 8.1's, and 10's and 11's.
const uint16_t ActionsVersion81 = 1;
const uint16_t ActionsVersion10 = 3;

/// The kinds of action, as the value numbers them.
const uint16_t ActionKindProgram = 0x6666;
const uint16_t ActionKindComHandler = 0x7777;
const uint16_t ActionKindMail = 0x8888;
const uint16_t ActionKindMessageBox = 0x9999;

/// What a value says: every program action in order, or, when any part of
/// it does not follow the layout, nothing but why.
struct RegistryActions {
  bool ok = false;
  uint16_t version = 0;              // when it could be read
  std::string reason;                // when refused: what and where, in English
  std::vector<TaskAction> programs;  // when ok; empty when refused
};

/// Decodes the value's size bytes. Never reads past their end, and
/// allocates nothing from a count before checking that the bytes hold it.
RegistryActions decodeTaskActions(const unsigned char* bytes, size_t size);
/// The same for a value's bytes as the registry stores them (KeyValue.raw).
RegistryActions decodeTaskActions(const std::string& value);

#endif  // VORKEL_TASKS_TASK_ACTIONS_H_
