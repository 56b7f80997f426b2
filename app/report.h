// What each step's outcome shows and records, in one place. The passes ask
// and act; each outcome they get back is turned here into the console's
// pieces and the record's lines, and show() writes both. Nothing here asks,
// reads the machine or changes it, so every report can be checked as a
// value.
#ifndef VORKEL_APP_REPORT_H_
#define VORKEL_APP_REPORT_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "app/environment.h"
#include "app/scan_pass.h"
#include "console/messages.h"
#include "platform/platform.h"
#include "record/run_record.h"
#include "remedy/payload.h"
#include "remedy/task_cache.h"
#include "tasks/registry_tasks.h"
#include "tasks/task_actions.h"
#include "tasks/task_store.h"

/// One piece of the console's output, in the order written.
struct ShownPiece {
  enum class Kind { Colour, Message, Value, LineEnd, Flush };
  Kind kind = Kind::Message;
  StdStream stream = StdStream::Out;
  ConsoleColour colour = ColourNormal;  // Colour
  MessageKey message = MsgNewline;      // Message
  std::string value;                    // Value (a number as its digits)
};

struct RecordedLine {
  std::string label, value;
};

struct Report {
  std::vector<ShownPiece> shown;
  std::vector<RecordedLine> recorded;
};

/// A key below HKEY_LOCAL_MACHINE by its full name, as shown and recorded.
std::string machineKey(const std::string& subKey);

/// Writes the report's pieces to the console, then its lines to the record.
void show(const Report& report, const RunRecord& runRecord);

/// How the administrator's rights of a pass went, under label.
Report rightsReport(const std::string& label, const RightsGivenBack& rights);

// The scan.
/// The count of definitions read so far, in place of the last.
Report progressReport(uint32_t number);
/// A file whose content is unknown is not called clean: named on the
/// console and in the record. One that is not there, or is no file, has
/// nothing to judge: the record alone says so. Nothing for a file read.
Report unreadReport(const std::string& what, const std::string& path, const WhyUnread& unread);
Report unparsableReport(const std::string& path);
/// Where the definitions are read from.
Report taskStoreReport(const std::string& store);
/// The scheduler makes no links in its store: each is named.
Report storeLinksReport(const std::vector<StoreLink>& links);
/// The registry keys the walk could not read.
Report registryWalkReport(const RegistryTasks& registry);
/// A task the scheduler's own list leaves out; its Actions value that could
/// not be read, or does not follow the layout and is judged not at all.
Report registryCopyReport(const RegistryTask& task, const RegistryActions& actions);
/// The definition and the registry's copy of it start different programs.
Report disagreementReport(const std::string& definitionPath);
/// A dangerous task, shown with the action that matched.
Report dangerReport(const DangerousTask& danger, bool fromRegistry);
/// The end of the scan: the counts in the record; on the console the end,
/// then the list of dangerous tasks.
Report scanEndReport(size_t definitions, int unjudged, const DangerList& dangers);
Report removalDeclinedReport();

// The removal.
/// The task's removal begins: its registry step.
Report taskStepReport(const DangerousTask& danger);
/// What the plan found: both keys, the Tree key that could not be read, or
/// no usable Id in it.
Report keysPlanReport(const KeysPlan& plan);
Report keysQuestion();
Report keysKeptReport();
/// Each key's deletion, the Tasks key's after the Tree key's.
Report keysRemovalReport(const KeysPlan& plan, const KeysRemoval& removal);
Report executableQuestion(const std::string& path);
/// What became of the executable: the processes stopped, its deletion (or
/// the user's no), and the other names that keep its content.
Report payloadReport(const std::string& path, const PayloadRemoval& removal);
/// Why the machine must restart after this task's removal, when it must.
Report restartReport(const PayloadRemoval& removal);
/// The last lines: done, and the restart when one is needed.
Report cleanupEndReport(bool restartNeeded);

#endif  // VORKEL_APP_REPORT_H_
