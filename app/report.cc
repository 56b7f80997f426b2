#include "app/report.h"

#include "console/console.h"
#include "text/text.h"

namespace {

void colour(Report* report, ConsoleColour colour) {
  ShownPiece piece;
  piece.kind = ShownPiece::Kind::Colour;
  piece.colour = colour;
  report->shown.push_back(piece);
}

void text(Report* report, MessageKey key, StdStream stream = StdStream::Out) {
  ShownPiece piece;
  piece.stream = stream;
  piece.message = key;
  report->shown.push_back(piece);
}

void value(Report* report, const std::string& text, StdStream stream = StdStream::Out) {
  ShownPiece piece;
  piece.kind = ShownPiece::Kind::Value;
  piece.stream = stream;
  piece.value = text;
  report->shown.push_back(piece);
}

void number(Report* report, uint32_t number, int base, StdStream stream = StdStream::Out) {
  value(report, numberText(number, base), stream);
}

void endLine(Report* report, StdStream stream = StdStream::Out) {
  ShownPiece piece;
  piece.kind = ShownPiece::Kind::LineEnd;
  piece.stream = stream;
  report->shown.push_back(piece);
}

void record(Report* report, const std::string& label, const std::string& value) {
  report->recorded.push_back({label, value});
}

/// A report only the record holds.
Report recordedOnly(const std::string& label, const std::string& value) {
  Report report;
  record(&report, label, value);
  return report;
}

/// A whole line of the catalogue's text.
Report lineOf(MessageKey key) {
  Report report;
  text(&report, key);
  endLine(&report);
  return report;
}

// Why a file gave no content, as the record says it.
std::string unreadReason(const WhyUnread& unread) {
  switch (unread.failure) {
    case FileFailure::None: break;
    case FileFailure::Missing: return "not there (" + std::to_string(unread.error) + ")";
    case FileFailure::NotAFile: return "not a file";
    case FileFailure::Refused: return "could not be read, error " + std::to_string(unread.error);
    case FileFailure::ContentElsewhere:
      return unread.reparseTag != 0
                 ? "its content is held elsewhere, reparse tag 0x" +
                       numberText(unread.reparseTag, 16)
                 : "its content is held elsewhere, attributes 0x" +
                       numberText(unread.attributes, 16);
  }
  return std::string();
}

std::string keyOutcome(const KeyDeletion& deletion) {
  std::string outcome = deletion.result == ErrorSuccess    ? "key deleted"
                        : deletion.result == ErrorNotFound ? "key not found"
                        : deletion.result == ErrorKeyIsLink
                            ? std::string("key not deleted, it is a registry link")
                            : "key not deleted, error " + std::to_string(deletion.result);
  if (deletion.retried)
    outcome += deletion.result == ErrorSuccess ? " with the restore right"
                                               : " (also with the restore right)";
  return outcome;
}

void keyDeletionLine(Report* report, const std::string& subKey, bool deleted) {
  text(report, MsgDeletedPrefix);
  value(report, subKey);
  text(report, deleted ? MsgOk : MsgKeyFailed);
  endLine(report);
}

std::string payloadOutcome(const PayloadRemoval& removal) {
  const std::string code = std::to_string(removal.code);
  switch (removal.outcome) {
    case PayloadOutcome::Kept: return "file kept by the user";
    case PayloadOutcome::Deleted: return "file deleted";
    case PayloadOutcome::Scheduled:
      return "file in use by a running program, renamed and scheduled for deletion at restart";
    case PayloadOutcome::Failed:
      return std::string("file not deleted, ") +
             (removal.inUse ? "in use by a running program, and not scheduled for deletion at "
                              "restart, "
                            : "") +
             "error " + code;
    case PayloadOutcome::Changed: return "file not deleted, no longer the file judged";
  }
  return std::string();
}

// Each process that ran the file, as stopping it went.
void processStops(Report* report, const std::string& path, const PayloadRemoval& removal) {
  for (const ProcessStop& stop : removal.stopped) {
    text(report, MsgStopProcessPrefix);
    value(report, path);
    text(report, MsgProcessIdLabel);
    number(report, stop.processId, 10);
    text(report, stop.result == ErrorSuccess ? MsgOk : MsgFileFailed);
    endLine(report);
    const std::string process = path + " (process id " + std::to_string(stop.processId) + ")";
    record(report,
           stop.result == ErrorSuccess    ? std::string("process stopped")
           : stop.result == ErrorTimedOut ? std::string("process not stopped, it did not end in time")
                                          : "process not stopped, error " +
                                                std::to_string(stop.result),
           process);
  }
}

// A deleted name leaves the content under the file's other names.
void otherNames(Report* report, const OtherNames& other) {
  for (const std::string& name : other.paths) {
    text(report, MsgOtherName);
    value(report, name);
    endLine(report);
    record(report, "other name of the file, which keeps its content", name);
  }
  if (other.listed == ErrorSuccess) return;
  text(report, MsgOtherNamesUnlisted);
  endLine(report);
  record(report, "other names of the file not listed, error " + std::to_string(other.listed),
         std::to_string(other.count - other.paths.size()) + " of " + std::to_string(other.count));
}

}  // namespace

std::string machineKey(const std::string& subKey) { return "HKEY_LOCAL_MACHINE\\" + subKey; }

void show(const Report& report, const RunRecord& runRecord) {
  for (const ShownPiece& piece : report.shown) {
    switch (piece.kind) {
      case ShownPiece::Kind::Colour: setColour(piece.colour); break;
      case ShownPiece::Kind::Message:
        piece.stream == StdStream::Out ? writeOut(piece.message) : writeErr(piece.message);
        break;
      case ShownPiece::Kind::Value:
        piece.stream == StdStream::Out ? writeOut(piece.value) : writeErr(piece.value);
        break;
      case ShownPiece::Kind::LineEnd: ::endLine(piece.stream); break;
      case ShownPiece::Kind::Flush: flushOut(); break;
    }
  }
  for (const RecordedLine& line : report.recorded) recordLine(runRecord, line.label, line.value);
}

Report rightsReport(const std::string& label, const RightsGivenBack& rights) {
  const std::string afterwards =
      rights.asBefore ? "" : ", and the rights were not as before afterwards";
  return recordedOnly(label,
                      std::string(rights.inForce ? "in force" : "not in force") + afterwards);
}

Report progressReport(uint32_t number) {
  Report report;
  colour(&report, ColourGreen);
  text(&report, MsgProgressHead);
  ::number(&report, number, 10);
  text(&report, MsgProgressTail);
  ShownPiece flush;
  flush.kind = ShownPiece::Kind::Flush;
  report.shown.push_back(flush);
  colour(&report, ColourNormal);
  return report;
}

Report unreadReport(const std::string& what, const std::string& path, const WhyUnread& unread) {
  Report report;
  if (unread.failure == FileFailure::None) return report;
  const std::string why = unreadReason(unread);
  if (!contentUnknown(unread)) {
    record(&report, what + " " + why, path);
    return report;
  }
  record(&report, "not judged, " + what + " " + why, path);
  colour(&report, ColourRed);
  text(&report, MsgUnjudgedHead);
  value(&report, path);
  if (unread.failure == FileFailure::Refused) {
    text(&report, MsgFieldErrorCode);
    number(&report, static_cast<uint32_t>(unread.error), 16);
  } else if (unread.reparseTag != 0) {
    text(&report, MsgFieldReparseTag);
    number(&report, unread.reparseTag, 16);
  } else {
    text(&report, MsgFieldAttributes);
    number(&report, unread.attributes, 16);
  }
  endLine(&report);
  colour(&report, ColourNormal);
  return report;
}

Report unparsableReport(const std::string& path) {
  return recordedOnly("definition does not parse", path);
}

Report taskStoreReport(const std::string& store) { return recordedOnly("task store", store); }

Report storeLinksReport(const std::vector<StoreLink>& links) {
  Report report;
  for (const StoreLink& link : links) {
    record(&report,
           link.walked ? "link in the task store, walked" : "link in the task store, not walked",
           link.path + " -> " + link.target);
    colour(&report, ColourRed);
    text(&report, MsgStoreLinkHead);
    value(&report, link.path);
    text(&report, MsgFieldLinkTarget);
    value(&report, link.target);
    endLine(&report);
    colour(&report, ColourNormal);
  }
  return report;
}

Report registryWalkReport(const RegistryTasks& registry) {
  Report report;
  for (const UnreadKey& key : registry.unread)
    record(&report, "registry key not read, error " + std::to_string(key.error),
           machineKey(key.key));
  return report;
}

Report registryCopyReport(const RegistryTask& task, const RegistryActions& actions) {
  Report report;
  if (!task.hiddenBecause.empty())
    record(&report, "hidden task, " + task.hiddenBecause, machineKey(task.treeKey));
  if (!task.hasActions) return report;
  if (task.actionsRead != ErrorSuccess)
    record(&report, "Actions not read, error " + std::to_string(task.actionsRead),
           machineKey(task.treeKey));
  else if (!actions.ok)
    record(&report, "Actions not judged, " + actions.reason, machineKey(task.treeKey));
  return report;
}

Report disagreementReport(const std::string& definitionPath) {
  return recordedOnly("the registry's copy starts other programs than the definition",
                      definitionPath);
}

Report dangerReport(const DangerousTask& danger, bool fromRegistry) {
  Report report;
  colour(&report, ColourRed);
  text(&report, MsgDangerHead);
  value(&report, danger.definitionPath);
  text(&report, MsgFieldRegistry);
  value(&report, danger.task.uri);
  text(&report, MsgFieldExecute);
  value(&report, danger.task.command);
  text(&report, MsgFieldArg);
  value(&report, danger.task.arguments);
  endLine(&report);
  colour(&report, ColourNormal);
  record(&report, "dangerous task", danger.definitionPath);
  record(&report, "  uri", danger.task.uri);
  record(&report, "  command", danger.task.command);
  record(&report, "  arguments", danger.task.arguments);
  if (fromRegistry) record(&report, "  action from", "the registry's copy of the task");
  record(&report, "  executable", danger.executable);
  record(&report, "  md5", danger.md5);
  return report;
}

Report scanEndReport(size_t definitions, int unjudged, const DangerList& dangers) {
  Report report;
  record(&report, "definitions read", std::to_string(definitions));
  record(&report, "not judged", std::to_string(unjudged));
  colour(&report, ColourGreen);
  text(&report, MsgScanDone);
  colour(&report, ColourNormal);
  if (dangers.empty()) return report;
  text(&report, MsgNewline);
  colour(&report, ColourRed);
  for (const DangerousTask& danger : dangers) {
    text(&report, MsgDangerTag);
    value(&report, danger.task.uri);
    endLine(&report);
  }
  colour(&report, ColourNormal);
  text(&report, MsgAskDeleteAll);
  return report;
}

Report removalDeclinedReport() { return lineOf(MsgUserCancelled); }

Report taskStepReport(const DangerousTask& danger) {
  Report report;
  record(&report, "removing", danger.task.uri);
  colour(&report, ColourRed);
  text(&report, MsgRegistryStep);
  endLine(&report);
  colour(&report, ColourNormal);
  return report;
}

Report keysPlanReport(const KeysPlan& plan) {
  Report report;
  if (plan.treeFound != ErrorSuccess) {
    record(&report,
           plan.treeFound == ErrorNotFound    ? std::string("Tree key not found")
           : plan.treeFound == ErrorKeyIsLink ? std::string("Tree key is a registry link, not followed")
                                              : "Tree key not opened, error " +
                                                    std::to_string(plan.treeFound),
           machineKey(plan.treeKey));
    text(&report, MsgOpenKeyError, StdStream::Err);
    number(&report, static_cast<uint32_t>(plan.treeFound), 16, StdStream::Err);
    text(&report, MsgRegistryAbort, StdStream::Err);
    endLine(&report, StdStream::Err);
    return report;
  }
  if (plan.tasksKey.empty()) {
    record(&report, "no usable Id in", machineKey(plan.treeKey));
    return report;
  }
  text(&report, MsgTreeKeyFound);
  value(&report, plan.treeKey);
  endLine(&report);
  text(&report, MsgTasksKeyFound);
  value(&report, plan.tasksKey);
  endLine(&report);
  return report;
}

Report keysQuestion() {
  Report report;
  colour(&report, ColourRed);
  text(&report, MsgAskDeleteKeys);
  colour(&report, ColourNormal);
  return report;
}

Report keysKeptReport() {
  Report report = lineOf(MsgKeysKept);
  record(&report, "registry keys", "kept by the user");
  return report;
}

Report keysRemovalReport(const KeysPlan& plan, const KeysRemoval& removal) {
  Report report;
  keyDeletionLine(&report, plan.treeKey, removal.tree.result == ErrorSuccess);
  record(&report, keyOutcome(removal.tree), machineKey(plan.treeKey));
  if (removal.tasksKept) {
    keyDeletionLine(&report, plan.tasksKey, false);
    record(&report, "key not deleted, its Path names another task, " + plan.owner,
           machineKey(plan.tasksKey));
    return report;
  }
  keyDeletionLine(&report, plan.tasksKey, removal.tasks.result == ErrorSuccess);
  record(&report, keyOutcome(removal.tasks), machineKey(plan.tasksKey));
  return report;
}

Report executableQuestion(const std::string& path) {
  Report report;
  colour(&report, ColourRed);
  text(&report, MsgAskDeleteExeHead);
  value(&report, path);
  text(&report, MsgAskDeleteExeTail);
  colour(&report, ColourNormal);
  return report;
}

Report payloadReport(const std::string& path, const PayloadRemoval& removal) {
  Report report;
  if (removal.outcome == PayloadOutcome::Kept) {
    report = lineOf(MsgExeKept);
  } else {
    processStops(&report, path, removal);
    text(&report, MsgExeDeletedPrefix);
    value(&report, path);
    text(&report, removal.outcome == PayloadOutcome::Deleted     ? MsgOk
                  : removal.outcome == PayloadOutcome::Scheduled ? MsgFileScheduled
                                                                 : MsgFileFailed);
    endLine(&report);
  }
  record(&report, payloadOutcome(removal), path);
  if (removal.outcome == PayloadOutcome::Deleted || removal.outcome == PayloadOutcome::Scheduled)
    otherNames(&report, removal.otherNames);
  return report;
}

Report restartReport(const PayloadRemoval& removal) {
  return recordedOnly("restart needed",
                      removal.outcome == PayloadOutcome::Scheduled
                          ? "the file is deleted at restart"
                          : "the scheduler holds the task until it restarts, and its file is "
                            "there");
}

Report cleanupEndReport(bool restartNeeded) {
  Report report;
  colour(&report, ColourGreen);
  text(&report, MsgAllDone);
  endLine(&report);
  if (restartNeeded) {
    // What only the restart finishes: a file left to it, or a task the
    // scheduler still holds.
    colour(&report, ColourRed);
    text(&report, MsgRestartNeeded);
    endLine(&report);
  }
  colour(&report, ColourNormal);
  return report;
}
