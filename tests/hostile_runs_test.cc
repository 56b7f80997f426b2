// Whole runs on machines the threat has had its way with: every byte the
// tool reads may be hostile. Each row must end in time with the exact
// transcript and status, and leave everything but what was confirmed.
// Rows run natively (sanitized, so a memory error shows on standard error;
// with a memory limit, without sanitizers) and, unless they say not, under Wine.
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/task_text.h"
#include "tests/whole_run.h"
#include "tests/wine.h"
#include "text/text.h"

namespace {

const std::string QuotedPayload = "/c \"" + std::string(PayloadPath) + "\"";
const std::string UnheldPayload = u8"C:\\ProgramData\\한글\U0001F600\\svchost.exe";
// Past 290 characters, in folders of 40.
const std::string LongPath = [] {
  std::string path = "C:\\ProgramData";
  while (path.size() < 290) path += "\\" + std::string(40, 'p');
  return path + "\\svchost.exe";
}();

// The threat's names holding CR LF and lines of regedit's own, which a
// backup that wrote them as they are would import as a key and a value; and
// as the record writes them.
const std::string SectionHeaderUri =
    "\\Upd\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Anything]\r\n@=\"x\"\r\n;";
const std::string SectionHeaderRecorded =
    "\\Upd^0D^0A[HKEY_LOCAL_MACHINE\\SOFTWARE\\Anything]^0D^0A@=\"x\"^0D^0A;";
const std::string NotBackedUp = "not backed up, the name holds a control character: ";

TaskFile rawFile(const std::string& relativePath, const std::string& bytes,
                 EntryKind kind = EntryKind::File) {
  return {.relativePath = relativePath, .bytes = bytes, .kind = kind};
}

// The infected task, its definition's text changed before it is stored as
// UTF-8 (the declaration is made to say so) when the row runs.
std::function<void(const Runner&, Scenario&)> infectedUtf8(
    const std::string& arguments, const std::function<void(std::string&)>& change) {
  return [=](const Runner&, Scenario& s) {
    s.machine.tasks[0] = definition(TaskName, Uri, Interpreter, arguments, true);
    std::string xml = schedulerTaskXml(Uri, Interpreter, arguments);
    xml.replace(xml.find("UTF-16"), 6, "UTF-8");
    change(xml);
    s.machine.tasks[0].bytes = xml;
  };
}

void insertAfter(std::string& xml, const std::string& tag, const std::string& text) {
  xml.insert(xml.find(tag) + tag.size(), text);
}

enum Judged { Never, UnderWine, Always };

// The infected machine with these arguments in the task and its file made
// by change; dangerous where judged so; the file named as unread with this
// error, when one is given.
std::function<void(const Runner&, Scenario&)> candidate(
    const std::string& arguments, Judged judged,
    const std::function<void(MachineFile&)>& change = nullptr, long unreadError = 0) {
  return [=](const Runner& r, Scenario& s) {
    const bool dangerous = judged == Always || (judged == UnderWine && r.wine);
    s.machine.tasks[0] = definition(TaskName, Uri, Interpreter, arguments, dangerous);
    if (change) change(s.machine.files[0]);
    if (unreadError != 0) {
      s.machine.tasks[0].unjudgedPath = PayloadString;
      s.machine.tasks[0].unjudgedFields = errorField(unreadError);
    }
    if (!dangerous) {
      s.afterScan = nothingFound;
      s.gone = {};
    }
  };
}

// The infected machine with its task, that task's keys and its payload
// under these names (then changed): found, judged and removed by them.
Scenario removesTaskNamed(const char* row, const std::string& name,
                          const std::string& exe = PayloadString,
                          const std::function<void(Machine&)>& change = [](Machine&) {}) {
  return {.name = row,
          .machine = infectedMachineWith([name, exe, change](Machine& m) {
            m.tasks[0] = definition(name, "\\" + name, Interpreter, "/c start " + exe, true);
            m.keys = cacheKeys(name, TaskId);
            m.files = {payload(exe)};
            change(m);
          }), .afterScan = removes({.uri = "\\" + name, .exe = exe}),
          .gone = {"Tree\\" + name, TasksName, exe}};
}

// The infected task's action as Windows 10 stores it in the registry.
std::string registryActions() {
  return actionsValueHead(3) + programAction(3, Interpreter, "/c start " + PayloadString);
}

Machine withIdKey(const CacheKey& tree, const std::vector<CacheKey>& more = {}) {
  Machine m = infectedMachine();
  m.keys = more;
  m.keys.insert(m.keys.begin(), tree);
  return m;
}

const std::vector<Scenario>& scenarios() {
  static const std::vector<Scenario> table = {
      // ---- Definitions --------------------------------------------------
      {.name = "PrintsMebibyteArgumentLine",
       .prepare = candidate(QuotedPayload + " " + std::string(1 << 20, 'a'), Always)},
      {.name = "Prints16MiBArgumentLine",
       .prepare = candidate(QuotedPayload + " -k " + std::string(16 << 20, 'k'), Always)},

      // 64 MiB in all, nearly all of it a description nobody asked for.
      {.name = "Reads64MiBDefinition", .prepare = infectedUtf8(QuotedPayload, [](std::string& xml) {
         const size_t rest = xml.size() + std::string("<Description></Description>").size();
         insertAfter(xml, "<RegistrationInfo>",
                     "<Description>" + std::string((64u << 20) - rest, 'd') + "</Description>");
       })},

      {.name = "ReadsMillionLevelDocument",
       .prepare = infectedUtf8(QuotedPayload, [](std::string& xml) {
         std::string deep;
         for (int i = 0; i < 1000000; ++i) deep += "<a>";
         for (int i = 0; i < 1000000; ++i) deep += "</a>";
         insertAfter(xml, "<RegistrationInfo>", deep);
       })},

      // Each gives an empty record: a progress line and nothing else.
      {.name = "PassesOverUnparsableDefinitions", .machine = infectedMachineWith([](Machine& m) {
         std::mt19937 generator(20240229);
         std::string garbage(1 << 16, '\0');
         for (char& c : garbage) c = static_cast<char>(generator());
         // Cut in the middle of an end tag, and of a UTF-16 code unit.
         std::string xml = schedulerTaskXml(Uri, Interpreter, "/c start " + PayloadString);
         std::string cut = utf16leWithBom(xml).substr(0, 2 + 2 * (xml.find("</Command>") + 4) + 1);
         for (const TaskFile& task :
              {rawFile("garbage", garbage), rawFile("empty", ""), rawFile("truncated", cut),
               rawFile("bom-utf16", "\xFF\xFE"), rawFile("bom-utf8", "\xEF\xBB\xBF"),
               rawFile("bom-utf32", std::string("\xFF\xFE\0\0", 4))})
           m.tasks.push_back(task);
       }),
       .recordHolds = [](const Runner& r) -> std::vector<std::string> {
         return {"definition does not parse: " + taskStore(r) + "\\truncated"};
       }},

      {.name = "ReadsUtf16WithoutBom", .machine = infectedMachineWith([](Machine& m) {
         m.tasks[0].bytes = m.tasks[0].bytes.substr(2);
       })},

      // An encoding the reader does not know is read as UTF-8, other bytes as they are.
      {.name = "ReadsUnknownEncodingAsUtf8",
       .prepare = infectedUtf8(QuotedPayload + " \xF0\xD2\xC9\xD7\xC5\xD4", [](std::string& xml) {
         xml.replace(xml.find("UTF-8"), 5, "KOI9-X");
       })},

      // ---- The task store -----------------------------------------------
      // Folders nested past the path limit, natively PATH_MAX (4096 bytes
      // with the terminating zero): a folder too deep is not listed, a file
      // in a listed folder whose own path is too long reads as an empty
      // record. Windows keeps 260 characters for the wide calls too; Wine
      // keeps no limit, so there folders go past 300 and every file is read.
      {.name = "WalksFoldersUpToThePathLimit", .prepare = [](const Runner& r, Scenario& s) {
         const size_t limit = r.wine ? std::string::npos : 4095;
         const std::string root = taskStore(r) + "\\";
         std::string folder;
         bool listed = true;
         for (int beyond = 0; beyond < 2 && (!r.wine || folder.size() < 300);
              beyond += !listed) {
           folder += std::string(r.wine ? 20 : 200, 'd') + "\\";
           const size_t folderPath = root.size() + folder.size() - 1;
           listed = listed && folderPath <= limit;
           for (const std::string& name :
                {std::string("t"), std::string(r.wine ? 15 : 150, 'u')}) {
             const bool reached = listed && root.size() + folder.size() + name.size() <= limit;
             TaskFile task = definition(folder + name, "\\t", Interpreter,
                                        "/c start " + PayloadString, reached);
             task.listed = listed;
             // Listed, but too long a path to open: named, not passed over.
             if (listed && !reached) task.unjudgedFields = errorField(ErrorAccessDenied);
             s.machine.tasks.push_back(task);
           }
         }
       },
       .answers = "yn", .afterScan = cancelsAfterList, .gone = {}},

      {.name = "ScansHundredThousandDefinitions", .prepare = [](const Runner& r, Scenario& s) {
         const int count = r.wine ? 10000 : 100000;
         s.machine.inMemory = true;
         s.machine.tasks.reserve(s.machine.tasks.size() + count);
         for (int i = 0; i < count; ++i)
           s.machine.tasks.push_back(rawFile("Bulk\\" + std::to_string(i),
                                             "<Task><Actions><Exec><Command>cmd.exe</Command>"
                                             "</Exec></Actions></Task>"));
       },
       .timeoutSeconds = 60},

      // The name as the system holds it: natively its bytes, shown as they
      // are; under Wine Unicode, shown in code page 936. Its URI names
      // another task, whose keys stay: the keys removed are the definition's.
      {.name = "ShowsNonAsciiFileNameAsListed", .machine = infectedMachineWith([](Machine& m) {
         m.tasks[0] =
             definition(u8"更新\\检查", Uri, Interpreter, "/c start " + PayloadString, true);
         for (const CacheKey& key : cacheKeys(u8"更新\\检查", "{own}")) m.keys.push_back(key);
       }), .afterScan = removes({.uri = u8"\\更新\\检查", .id = "{own}"}),
       .gone = {u8"Tree\\更新\\检查", "Tasks\\{own}", PayloadString}},

      // Names Windows' path rules would change: listed, read by that very
      // name and judged. Natively they are ordinary names.
      removesTaskNamed("JudgesDefinitionNamedWithTrailingDot", "Upd."),
      removesTaskNamed("JudgesDefinitionNamedWithTrailingSpace", "Upd "),

      // Links are no definitions: each is named with its target, and one to a
      // folder inside the store walked once there, so no loop forms; one out
      // of the store (to the root of everything) is not walked.
      {.name = "NamesLinksInTheStoreAndWalksEachFolderOnce",
       .machine = infectedMachineWith([](Machine& m) {
         m.tasks.push_back(rawFile("Loop\\self", ".", EntryKind::Symlink));
         m.tasks.push_back(rawFile("Loop\\up", "..", EntryKind::Symlink));
         m.tasks.push_back(rawFile("Loop\\root", "/", EntryKind::Symlink));
       })},

      // A FIFO (opened without waiting for a writer) is passed over; a link
      // to nothing is named natively, and Wine does not list it at all.
      {.name = "PassesOverUnreadableDefinitions", .machine = infectedMachineWith([](Machine& m) {
         m.tasks.push_back(rawFile("pipe", "", EntryKind::Fifo));
         m.tasks.push_back(rawFile("dangling", "nowhere", EntryKind::Symlink));
       }),
       .prepare = [](const Runner& r, Scenario& s) { s.machine.tasks.back().listed = !r.wine; }},

      // Permission bits (which shut Wine's server out too) keep the tool from a
      // second infected definition: named with the system's code, never clean.
      {.name = "NamesDefinitionItCannotOpen", .machine = infectedMachineWith([](Machine& m) {
         m.tasks.push_back(rawFile("locked", utf16leWithBom(schedulerTaskXml(
                                                 "\\locked", Interpreter, QuotedPayload)),
                                   EntryKind::Locked));
         m.tasks.back().unjudgedFields = errorField(ErrorAccessDenied);
       }),
       .outcome = "dangerous=1 removed=1 incomplete=0 unjudged=1 restart=no"},

      // ---- Candidate executables -----------------------------------------
      {.name = "IgnoresFolderNamedExe",
       .prepare = candidate("/c start " + PayloadString, Never,
                            [](MachineFile& f) { f.kind = EntryKind::Folder; })},

      // A payload the tool may not read, or one another program holds open
      // sharing nothing: named, and nothing of it deleted on a guess.
      {.name = "NamesPayloadItCannotOpen",
       .prepare = candidate(QuotedPayload, Never,
                            [](MachineFile& f) { f.kind = EntryKind::Locked; }, ErrorAccessDenied)},
      {.name = "NamesPayloadHeldOpenSharingNothing", .wineOnly = true,
       .prepare = candidate(QuotedPayload, Never, [](MachineFile& f) { f.held = true; },
                            ErrorSharingViolation),
       .recordHolds = holds({"not judged, executable could not be read, error 32: " + PayloadString,
                             "not judged: 1"}),
       .outcome = "dangerous=0 removed=0 incomplete=0 unjudged=1 restart=no"},

      // The user's own default cryptographic provider names one that is not
      // there: the fingerprint asks no provider, and the task is removed.
      {.name = "FingerprintsWhateverProviderTheUserNames", .wineOnly = true,
       .machine = infectedMachineWith([](Machine& m) {
         m.userValues = {
             {"Software\\Microsoft\\Cryptography\\Provider Type 024", "Name", "Bogus Provider"}};
       })},

      // Under Wine these open devices, which are not files on disk; CON
      // must not wait for input.
      {.name = "IgnoresDeviceNames", .machine = infectedMachineWith([](Machine& m) {
         for (const char* device : {"C:\\NUL.exe", "C:\\CON.exe", "C:\\AUX.exe",
                                    "C:\\COM1.exe", "C:\\PRN.exe", "\"C:\\CONIN$\" x.exe"})
           m.tasks.push_back(definition("device " + std::to_string(m.tasks.size()), "\\d",
                                        Interpreter, std::string("/c ") + device, false));
       }), .timeoutSeconds = 20},

      // The path taken ends in a space. Windows drops it and opens the
      // payload; natively no such file exists.
      {.name = "JudgesPathWithTrailingSpace",
       .prepare = candidate("/c " + PayloadString + " /q", UnderWine),
       .afterScan = removes({.exe = PayloadString + " "})},

      // Natively a name may end in a space: that file is the one judged and
      // removed, not its neighbour without the space.
      {.name = "RemovesOnlyTheNameWithTheSpace", .onWine = false,
       .machine = infectedMachineWith([](Machine& m) {
         m.tasks[0] = definition(TaskName, Uri, Interpreter, "/c " + PayloadString + " /q", true);
         m.files = {payload(PayloadString + " "), {PayloadString, "MZ not the payload"}};
       }), .afterScan = removes({.exe = PayloadString + " "}),
       .gone = {TreeName, TasksName, PayloadString + " "}},

      // A path past 260 characters: Windows keeps that limit for the wide
      // calls too, so there the task is not judged dangerous; natively and
      // under Wine, which keeps no such limit, it is judged and removed.
      {.name = "JudgesPathLongerThan260", .prepare = [](const Runner& r, Scenario& s) {
         candidate("/c start " + LongPath, Always,
                   [](MachineFile& f) { f.windowsPath = LongPath; })(r, s);
         s.gone = {TreeName, TasksName, LongPath};
       },
       .afterScan = removes({.exe = LongPath})},

      // Names no code page holds (Korean, an emoji) in the task file's name,
      // the task's name and the payload's path: found, judged and removed by
      // their real names; under Wine each such character shows as '?'.
      removesTaskNamed("RemovesTaskNamedOutsideTheCodePage", u8"Update\U0001F600", UnheldPayload),

      // The file removed must be the file judged: a decoy put in the payload's
      // place before the answer stays, and the line says the deletion failed.
      {.name = "SparesDecoyPutInThePayloadsPlace", .beforeExeAnswer = [](LiveMachine& live) {
         const std::string host = live.hostPath(PayloadString);
         writeFile(host + ".decoy", "MZ decoy");
         ASSERT_EQ(0, rename((host + ".decoy").c_str(), host.c_str()));
       },
       .afterScan = removes({.exeDeleted = false}), .gone = {TreeName, TasksName}},

      // The same, with the payload's folder swapped for a link to a folder
      // holding a decoy of the same name.
      {.name = "SparesDecoyBehindSwappedFolder", .machine = infectedMachineWith([](Machine& m) {
         m.files.push_back({"C:\\ProgramData\\Elsewhere\\svchost.exe", "MZ decoy"});
       }), .beforeExeAnswer = [](LiveMachine& live) {
         const std::string folder = live.hostPath("C:\\ProgramData\\Vorkel");
         ASSERT_EQ(0, rename(folder.c_str(), (folder + ".moved").c_str()));
         ASSERT_EQ(0, symlink("Elsewhere", folder.c_str()));
         live.removeAfterwards(folder);
         live.removeAfterwards(folder + ".moved");
       },
       .afterScan = removes({.exeDeleted = false}), .gone = {TreeName, TasksName}},

      // Changed all through the run: the digest is of whatever was read, and
      // content that never began as the payload's is never the payload.
      {.name = "HashesFileBeingWritten", .onWine = false,
       .prepare = candidate("/c start " + PayloadString, Never, [](MachineFile& f) {
         f.bytes = "MZ growing";
         f.growing = true;
       })},

      // Run without sanitizers, whose shadow memory would be counted too.
      {.name = "HashesSparse8GiBFileInLittleMemory", .onWine = false,
       .prepare = candidate("/c start " + PayloadString, Never,
                            [](MachineFile& f) { f.sparseSize = uint64_t(8) << 30; }),
       .timeoutSeconds = 300, .peakKibLimit = 64 << 10},

      // ---- Registry values, as the Windows backend reads them (the native
      // backend's reading is the key plan's unit table) ----------------------
      // A string value is stored with its terminating zero: 259 characters
      // fill the 260-byte buffer. No key can have so long a name.
      {.name = "TakesId259Characters", .wineOnly = true,
       .machine = withIdKey({TreeName, IdKind::Text, std::string(259, 'A')}),
       .afterScan = treeKeyOnly(std::string(259, 'A')), .gone = {TreeName, PayloadString}},

      {.name = "SkipsId260Characters", .wineOnly = true,
       .machine = withIdKey({TreeName, IdKind::Text, std::string(260, 'A')}), .answers = "yyy",
       .afterScan = noIdentifier, .gone = {PayloadString}},

      // A number's bytes, 31 32 33 00, read as text up to the zero.
      {.name = "ReadsNumberIdAsText", .wineOnly = true,
       .machine = withIdKey({TreeName, IdKind::Number, std::to_string(0x333231)},
                            {{"Tasks\\123", IdKind::None, ""}}),
       .afterScan = removes({.id = "123"}),
       .gone = {TreeName, "Tasks\\123", PayloadString}},

      // An identifier with ".." parts names a key of that literal name,
      // never a key elsewhere: the other task's Tree key stays.
      {.name = "TakesDotsInIdLiterally", .wineOnly = true,
       .machine = withIdKey({TreeName, IdKind::Text, "..\\Tree\\Victim"},
                            {{"Tree\\Victim", IdKind::Text, "{victim}"},
                             {"Tasks\\{victim}", IdKind::None, ""}}),
       .afterScan = treeKeyOnly("..\\Tree\\Victim"), .gone = {TreeName, PayloadString}},

      // ---- What the scheduler runs: every action, and its registry copy ------
      // Only the registry has the task (Windows 8 to 11 run it from there):
      // reported by its Tree key and removed in the same steps.
      removesTaskNamed("RemovesTaskOnlyTheRegistryHas", "Ghost", PayloadString, [](Machine& m) {
        m.tasks[0].registryOnly = true;
        m.keys[1].values = {{"Actions", ValueTypeBinary, registryActions()}};
      }),

      // A harmless definition beside a harmful registry copy: the copy is
      // what runs, and what is shown and removed.
      {.name = "JudgesRegistryCopyBesideHarmlessDefinition",
       .machine = infectedMachineWith([](Machine& m) {
         m.tasks[0].bytes = ordinary(TaskName).bytes;
         m.keys[1].values = {{"Actions", ValueTypeBinary, registryActions()}};
       }),
       .recordHolds = holds({"the registry's copy starts other programs than the definition: *",
                             "dangerous task: *",
                             "  action from: the registry's copy of the task"})},

      // A value that does not follow the layout is judged not at all, and
      // said so; the definition is judged as ever.
      {.name = "PassesOverMalformedActions", .machine = infectedMachineWith([](Machine& m) {
         m.keys[1].values = {{"Actions", ValueTypeBinary, registryActions().substr(0, 20)}};
       }),
       .recordHolds = holds({"Actions not judged, *"})},

      // The scheduler runs every Exec, and takes an element's whole text.
      {.name = "JudgesSecondAction", .prepare = infectedUtf8(
           "/c start " + PayloadString, [](std::string& xml) {
             xml.replace(xml.find("<Exec>"), 6,
                         "<Exec><Command>C:\\Windows\\notepad.exe</Command></Exec><Exec>");
           })},
      {.name = "JudgesArgumentsSplitByAComment", .prepare = infectedUtf8(
           "/c start " + PayloadString,
           [](std::string& xml) { xml.replace(xml.find("svchost"), 7, "svc<!-- -->host"); })},

      // ---- Names the threat wrote ------------------------------------------
      // The task's name holds CR LF and regedit's lines: judged, shown with
      // '?', recorded with ^0D^0A, one event a line. Natively the definition
      // lies at that name, so does the Tree key, and the backup names it in a
      // comment only. Windows opens no file so named (Wine lists one but will
      // not open it), so there the definition and keys have a plain name.
      {.name = "RemovesTaskWhoseNameHoldsASectionHeader",
       .prepare = [](const Runner& r, Scenario& s) {
         const std::string place = r.wine ? "Upd" : SectionHeaderUri.substr(1);
         const std::string recorded = r.wine ? "\\Upd" : SectionHeaderRecorded;
         s.machine.tasks[0] = definition(place, SectionHeaderUri, Interpreter,
                                         "/c start " + PayloadString, true);
         s.machine.keys = cacheKeys(place, TaskId);
         s.afterScan = removes({.uri = "\\" + place});
         s.gone = {"Tree\\" + place, TasksName, PayloadString};
         std::vector<std::string> keys = recordedKeys(recorded, TaskId, true);
         if (!r.wine) {
           keys.insert(keys.begin() + 1, NotBackedUp + CacheRoot + "\\Tree" + recorded);
           s.backupHolds = "; " + CacheRoot + "\\Tree" + recorded +
                           ": not backed up, its name holds a control character\r\n";
         }
         s.recordHolds = [keys, recorded](const Runner& runner) {
           return joined({recordedDanger(runner, recorded.substr(1), SectionHeaderRecorded),
                          {"removing: " + SectionHeaderRecorded}, keys,
                          recordedFile(PayloadString, true)});
         };
       },
       .restoresFromBackup = true},

      // Value names on both keys holding CR LF and regedit's lines: each is
      // named in a comment, the record says it was not backed up, and the
      // backup imported brings back every other value (written raw, such a
      // name loses those after it) and plants nothing. Natively a value is a
      // file, whose name cannot hold a key path's backslash.
      {.name = "BacksUpValuesBesideNamesWithLineBreaks", .wineOnly = true,
       .machine = infectedMachineWith([](Machine& m) {
         m.keys[0].values = {
             {"SD", ValueTypeBinary, "\x01\x02"},
             {"x\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Anything]\r\n\"y\"=\"z\"", ValueTypeBinary,
              "z"}};
         m.keys[1].values = {
             {"Path", ValueTypeString, registryString(Uri)},
             {"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Anything]\r\n@=\"x\"", ValueTypeNumber,
              std::string("\x01\0\0\0", 4)}};
       }), .recordHolds = holds({
           NotBackedUp + CacheRoot + "\\" + TreeName +
               " value x^0D^0A[HKEY_LOCAL_MACHINE\\SOFTWARE\\Anything]^0D^0A\"y\"=\"z\"",
           NotBackedUp + CacheRoot + "\\" + TasksName +
               " value ^0D^0A[HKEY_LOCAL_MACHINE\\SOFTWARE\\Anything]^0D^0A@=\"x\"",
           "registry backup: *"}),
       .restoresFromBackup = true, .plantedKey = "SOFTWARE\\Anything"},

      // Arguments holding CR LF and the record's own words: the console
      // shows ??, the record ^0D^0A; no line of theirs in either.
      {.name = "ForgesNoLineFromArguments", .machine = infectedMachineWith([](Machine& m) {
         m.tasks[0] = definition(TaskName, Uri, Interpreter, "/c start " + PayloadString +
                                 "\r\nfile deleted: C:\\Windows\\System32\\kernel32.dll", true);
       }), .recordHolds = [](const Runner& r) {
         std::vector<std::string> lines = recordedRemoval(true, true)(r);
         const std::string arguments = "  arguments: /c start " + PayloadString;
         std::replace(lines.begin(), lines.end(), arguments,
                      arguments + "^0D^0Afile deleted: C:\\Windows\\System32\\kernel32.dll");
         return lines;
       }},

      // ---- Registry links, as the Windows backend meets them (natively
      // symbolic links to key folders, in the key plan's unit tables) --------
      // A Tree key that is a link to another key, whose Id names the Tasks
      // key, is not followed: the open error with its code (681); both stay.
      {.name = "KeepsTreeKeyThatIsALink", .wineOnly = true,
       .machine = withIdKey({.path = TreeName, .linkTo = "Tree\\Other"},
                            {{"Tree\\Other", IdKind::Text, TaskId}, {TasksName}}),
       .answers = "yyy", .afterScan = noIdentifier,
       .err = msg(MsgOpenKeyError) + "2a9" + msg(MsgRegistryAbort) + "\n",
       .gone = {PayloadString},
       .recordHolds = holds(
           {"Tree key is a registry link, not followed: " + CacheRoot + "\\Tree\\" + Uri})},

      // A Tasks key that is a link is neither backed up nor deleted, and
      // the key it names stays; the Tree key goes as confirmed.
      {.name = "KeepsTasksKeyThatIsALink", .wineOnly = true,
       .machine = withIdKey({TreeName, IdKind::Text, TaskId},
                            {{.path = TasksName, .linkTo = "Tasks\\{other}"}, {"Tasks\\{other}"}}),
       .afterScan = treeKeyOnly(TaskId), .gone = {TreeName, PayloadString},
       .recordHolds = holds({"answer: delete registry keys *",
                             "backup of " + CacheRoot + "\\" + TasksName +
                                 ": not read, the key is a registry link",
                             "key deleted: " + CacheRoot + "\\Tree\\" + Uri,
                             "key not deleted, it is a registry link: " + CacheRoot + "\\" +
                                 TasksName})},

      // ---- The command interpreter ---------------------------------------
      // The user's settings name the probe (which says so when it runs) as the
      // interpreter and as what it runs first: the tool starts no program.
      {.name = "RunsOnlyTheSystemsCommandInterpreter", .wineOnly = true,
       .prepare = [](const Runner&, Scenario& s) {
         const std::string helper = "C:\\ProgramData\\Tools\\helper.exe";
         s.machine.files.push_back({helper, readFile(probeProgram())});
         s.machine.userValues = {
             {"Environment", "ComSpec", helper},
             {"Software\\Microsoft\\Command Processor", "AutoRun", helper + " /c autorun"}};
       }},

      // The user's own SystemRoot is not the one shown and scanned.
      {.name = "TakesTheSystemsOwnSystemRoot", .wineOnly = true, .machine = infectedMachineWith(
           [](Machine& m) { m.userValues = {{"Environment", "SystemRoot", "C:\\fake"}}; })},

      // ---- Answers ---------------------------------------------------------
      // The input ends at each question in turn: every answer left is no.
      {.name = "EndsAtStartWhenInputIsEmpty", .answers = "", .gone = {}, .recordsNothing = true},
      {.name = "CancelsWhenInputEndsAtRemoval", .answers = "y", .afterScan = cancelsAfterList,
       .gone = {}},
      {.name = "KeepsPayloadWhenInputEndsAtIt", .answers = "yyy", .afterScan = executableKept,
       .gone = {TreeName, TasksName}},

      {.name = "TakesCrLfAnswers", .answers = "y\r\ny\r\ny\r\ny\r\n"},

      // A double-byte character is two answers, neither yes; so are two zero bytes.
      {.name = "TakesDoubleByteCharacterAsTwoNos", .answers = "yy是", .afterScan = bothKept,
       .gone = {}},
      {.name = "TakesZeroBytesAsNo", .answers = std::string("yy\0\0", 4), .afterScan = bothKept,
       .gone = {}},

      // ---- The run's record and backups ----------------------------------
      // Where they cannot be written the run is exactly as without them:
      // the same transcript and status, the confirmed deletions done.
      {.name = "RunsAsEverWhenDebugIsAFile", .prepare = [](const Runner& r, Scenario& s) {
         s.machine.files.push_back({r.systemRoot + "\\Debug", "not a folder"});
       },
       .recordsNothing = true, .backups = 0},

      {.name = "RunsAsEverWhenDebugIsReadOnly", .prepare = [](const Runner& r, Scenario& s) {
         s.machine.files.push_back({r.systemRoot + "\\Debug", "", true, EntryKind::Folder});
       },
       .recordsNothing = true, .backups = 0},

      // A link planted where the record goes: nothing is written through it
      // (the file it leads to stays empty), and the backup is written beside.
      {.name = "WritesNothingThroughALinkWhereTheRecordGoes",
       .prepare = [](const Runner& r, Scenario& s) {
         s.machine.files.push_back({r.systemRoot + "\\Debug\\planted.txt", ""});
         s.machine.files.push_back({r.systemRoot + "\\Debug\\vorkelbraith-remover.log",
                                    "planted.txt", false, EntryKind::Symlink});
       },
       .recordsNothing = true, .backups = 1},
  };
  return table;
}

class HostileRun : public testing::TestWithParam<RowParam> {};

TEST_P(HostileRun, EndsWellAndTouchesOnlyWhatWasConfirmed) {
  checkWholeRun(*std::get<0>(GetParam()), *std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Native, HostileRun,
                         testing::ValuesIn(rowsFor(scenarios(), nativeRunner())), rowName);
INSTANTIATE_TEST_SUITE_P(Release, HostileRun,
                         testing::ValuesIn(rowsFor(scenarios(), releaseRunner())), rowName);
INSTANTIATE_TEST_SUITE_P(Wine, HostileRun, testing::ValuesIn(rowsFor(scenarios(), wineRunner())),
                         rowName);

}  // namespace
