#!/usr/bin/env python3
"""Writes a synthetic machine for the benchmarks: N task definitions shaped
like the Task Scheduler's own, and a pool of executables some of them name.

    gen_machine.py --count N --out FOLDER [--seed S] [--layout native|wine]

native: FOLDER is a working directory for the POSIX build, so the tasks go
        to FOLDER/C:/Windows/System32/Tasks and drive C: is FOLDER/C:.
wine:   FOLDER is a Wine prefix, so the tasks go to
        FOLDER/drive_c/windows/system32/Tasks and drive C: is FOLDER/drive_c.

Each definition is UTF-16 LE with a byte-order mark, 3-4 KB, with
registration info, triggers, principals, settings and one Exec action, in a
folder up to four deep below the task folder. One in a hundred starts
cmd.exe with an argument line naming an executable from a pool of a few
dozen 256 KiB files under C:\\ProgramData; one file of the pool is the
stand-in payload (tests/stand-in-payload.exe, byte for byte), so a test
signature build counts the tasks naming it as dangerous. Everything follows
from the seed.

Each task has the keys the scheduler keeps for it below
HKLM\\...\\Schedule\\TaskCache: a Tree key at its path with Id (its
identifier, "{GUID}"), SD and Index, every folder of Tree an SD, and a
Tasks\\{GUID} key with Path and Actions (the binary layout Windows 10
writes, with the definition's Exec action). Natively the keys are folders
and the values files under FOLDER/HKEY_LOCAL_MACHINE; for Wine they are
C:\\tasks.reg, for regedit to import once.

FOLDER/manifest.tsv lists, one a line, "candidate" or "dangerous", the
task's URI and its definition's Windows path; a first comment line gives the
counts. Only standard library. --no-registry leaves the keys out.
"""

import argparse
import os
import random
import struct
import sys
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
STAND_IN = os.path.join(HERE, "..", "tests", "stand-in-payload.exe")

POOL_SIZE = 36
POOL_FILE_SIZE = 256 * 1024
PAYLOAD_INDEX = 17  # the pool entry holding the stand-in payload
CANDIDATE_EVERY = 100  # one definition in a hundred is a candidate

POOL_FOLDERS = ["Package Cache", "SvcHostData", "Microsoft\\Crypto", "Intel"]

TOP_FOLDERS = ["Microsoft", "Adobe", "Mozilla", "GoogleSystem", "Lenovo",
               "Intel", "NVIDIA", "OneDrive Sync", "Zoom", "Dell"]
SECOND_FOLDERS = ["Windows", "Office", "Update", "Telemetry", "Maintenance",
                  "Agents", "Edge", "Defender", "Services", "Backup"]
THIRD_FOLDERS = ["Component%02d" % i for i in range(40)]
FOURTH_FOLDERS = ["Part%02d" % i for i in range(20)]
# Folders grow with the machine, so that the share of time spent listing
# folders is the same at every size.
DEFINITIONS_PER_FOLDER = 25

ORDINARY_ACTIONS = [
    ("%windir%\\system32\\rundll32.exe",
     "%windir%\\system32\\shell32.dll,SHCreateLocalServerRunDll {9aa46009-3ce0-458a-a354-715610a075e6}"),
    ("%windir%\\system32\\sc.exe", "start wuauserv"),
    ("C:\\Program Files\\Common Files\\Vendor\\updater.exe", "/silent /check --channel=stable"),
    ("C:\\Program Files (x86)\\Tools\\agent.exe", "--run-task daily --log C:\\ProgramData\\Tools\\agent.log"),
    ("powershell.exe", "-NoProfile -ExecutionPolicy Bypass -File C:\\Scripts\\cleanup.ps1"),
    ("%SystemRoot%\\System32\\wermgr.exe", "-upload"),
    ("%windir%\\system32\\defrag.exe", "-c -h -o -$"),
    ("cmd.exe", "/c del /q %TEMP%\\*.tmp"),  # cmd.exe, but no executable named
    ("C:\\Windows\\System32\\cmd.exe", "/c echo maintenance > C:\\ProgramData\\Tools\\last.txt"),
    ("%ProgramFiles%\\Windows Defender\\MpCmdRun.exe", "Scan -ScheduleJob -ScanTrigger 55"),
]

CANDIDATE_COMMANDS = ["cmd.exe", "C:\\Windows\\System32\\cmd.exe",
                      "%windir%\\system32\\CMD.EXE", "Cmd.Exe"]
CANDIDATE_ARGUMENTS = ['/c start "" "{path}"', "/c {path}", '/q /c "{path}"',
                       '/c "{path}" & exit']

TEMPLATE = """<?xml version="1.0" encoding="UTF-16"?>
<Task version="1.4" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <RegistrationInfo>
    <Date>2025-{month:02d}-{day:02d}T{hour:02d}:{minute:02d}:{second:02d}.{fraction:07d}</Date>
    <Author>WORKSTATION-{host:03d}\\Administrator</Author>
    <Description>{description}</Description>
    <URI>{uri}</URI>
  </RegistrationInfo>
  <Triggers>
    <LogonTrigger>
      <Enabled>true</Enabled>
      <Delay>PT{delay}M</Delay>
    </LogonTrigger>
    <CalendarTrigger>
      <StartBoundary>2025-01-{day:02d}T03:{minute:02d}:00</StartBoundary>
      <Enabled>true</Enabled>
      <ScheduleByDay>
        <DaysInterval>{interval}</DaysInterval>
      </ScheduleByDay>
    </CalendarTrigger>
  </Triggers>
  <Principals>
    <Principal id="{principal}">
      <UserId>S-1-5-18</UserId>
      <RunLevel>HighestAvailable</RunLevel>
    </Principal>
  </Principals>
  <Settings>
    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>
    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>
    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>
    <AllowHardTerminate>true</AllowHardTerminate>
    <StartWhenAvailable>true</StartWhenAvailable>
    <IdleSettings>
      <StopOnIdleEnd>true</StopOnIdleEnd>
      <RestartOnIdle>false</RestartOnIdle>
    </IdleSettings>
    <AllowStartOnDemand>true</AllowStartOnDemand>
    <Enabled>true</Enabled>
    <Hidden>{hidden}</Hidden>
    <ExecutionTimeLimit>PT72H</ExecutionTimeLimit>
    <Priority>7</Priority>
  </Settings>
  <Actions Context="{principal}">
    <Exec>
      <Command>{command}</Command>
      <Arguments>{arguments}</Arguments>
    </Exec>
  </Actions>
</Task>
"""

WORDS = ("keeps the component up to date checks for new versions reports "
         "status collects diagnostic data when the computer is idle runs "
         "maintenance cleans temporary files after logon every day").split()


def escape(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;")
            .replace(">", "&gt;").replace('"', "&quot;"))


def pool_file(index):
    """Windows path of pool entry index."""
    folder = POOL_FOLDERS[index % len(POOL_FOLDERS)]
    return "C:\\ProgramData\\%s\\svc%02d.exe" % (folder, index)


def write_pool(drive_c, rng):
    stand_in = open(STAND_IN, "rb").read()
    for index in range(POOL_SIZE):
        host = os.path.join(drive_c, *pool_file(index)[3:].split("\\"))
        os.makedirs(os.path.dirname(host), exist_ok=True)
        if index == PAYLOAD_INDEX:
            data = stand_in
        else:
            data = rng.getrandbits(8 * POOL_FILE_SIZE).to_bytes(POOL_FILE_SIZE, "little")
        with open(host, "wb") as f:
            f.write(data)


def task_folders(rng, count):
    """The task folder itself and distinct folders one to four deep below
    it, one for every DEFINITIONS_PER_FOLDER definitions."""
    levels = [TOP_FOLDERS, SECOND_FOLDERS, THIRD_FOLDERS, FOURTH_FOLDERS]
    folders = [()]
    seen = set(folders)
    while len(folders) < max(1, count // DEFINITIONS_PER_FOLDER):
        folder = tuple(rng.choice(levels[i]) for i in range(rng.randrange(1, 5)))
        if folder not in seen:
            seen.add(folder)
            folders.append(folder)
    return folders


def definition(rng, uri, command, arguments):
    """The definition's bytes and its principal, which is also the context
    of the registry copy's actions."""
    words = [rng.choice(WORDS) for _ in range(rng.randrange(4, 32))]
    fields = dict(
        month=rng.randrange(1, 13), day=rng.randrange(1, 29),
        hour=rng.randrange(24), minute=rng.randrange(60), second=rng.randrange(60),
        fraction=rng.randrange(10**7), host=rng.randrange(1000),
        description=escape(" ".join(words).capitalize() + "."), uri=escape(uri),
        delay=rng.randrange(1, 30), interval=rng.randrange(1, 8),
        principal=rng.choice(["Author", "LocalSystem", "System"]),
        hidden=rng.choice(["true", "false"]),
        command=escape(command), arguments=escape(arguments))
    text = TEMPLATE.format(**fields)
    return ("\ufeff".encode("utf-16-le") + text.replace("\n", "\r\n").encode("utf-16-le"),
            fields["principal"])


# The scheduler's copy of the tasks, below HKEY_LOCAL_MACHINE.
TASK_CACHE = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache"
REG_SZ, REG_BINARY, REG_DWORD = 1, 3, 4


def counted(text):
    """A string of an Actions value: its byte count, then UTF-16 LE."""
    units = text.encode("utf-16-le")
    return struct.pack("<I", len(units)) + units


def actions_value(context, command, arguments):
    """Version 3 (Windows 10 and 11): the context, then one program action
    with an empty id and working folder, and no flags."""
    return (struct.pack("<H", 3) + counted(context) + struct.pack("<H", 0x6666) + counted("")
            + counted(command) + counted(arguments) + counted("") + struct.pack("<H", 0))


def sid(authority, *subs):
    return struct.pack("<BB", 1, len(subs)) + struct.pack(">Q", authority)[2:] + \
        b"".join(struct.pack("<I", s) for s in subs)


def security_descriptor():
    """Self-relative: owner and group SYSTEM, full access for SYSTEM and
    the Administrators, as the scheduler's SD values look."""
    system, admins = sid(5, 18), sid(5, 32, 544)
    aces = b"".join(struct.pack("<BBHI", 0, 0, 8 + len(s), 0x1F01FF) + s for s in (system, admins))
    acl = struct.pack("<BBHHH", 2, 0, 8 + len(aces), 2, 0) + aces
    dacl_at = 20
    owner_at = dacl_at + len(acl)
    group_at = owner_at + len(system)
    return (struct.pack("<BBHIIII", 1, 0, 0x8004, owner_at, group_at, 0, dacl_at) + acl
            + system + system)


SECURITY = security_descriptor()


def native_value(value_type, data):
    """The value file's bytes: the POSIX build takes a string as UTF-8."""
    if value_type == REG_SZ:
        return data.encode("utf-8") + b"\0"
    if value_type == REG_DWORD:
        return struct.pack("<I", data)
    return data


def reg_value(name, value_type, data):
    """One line of a regedit file."""
    if value_type == REG_SZ:
        return '"%s"="%s"' % (name, data.replace("\\", "\\\\").replace('"', '\\"'))
    if value_type == REG_DWORD:
        return '"%s"=dword:%08x' % (name, data)
    return '"%s"=hex:%s' % (name, ",".join("%02x" % b for b in data))


def write_keys(keys, out, layout):
    """keys: (path below HKEY_LOCAL_MACHINE, [(name, type, data)]) in order."""
    if layout == "native":
        for path, values in keys:
            folder = os.path.join(out, "HKEY_LOCAL_MACHINE", *path.split("\\"))
            os.makedirs(folder, exist_ok=True)
            for name, value_type, data in values:
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(native_value(value_type, data))
        return
    lines = ["Windows Registry Editor Version 5.00", ""]
    for path, values in keys:
        lines.append("[HKEY_LOCAL_MACHINE\\%s]" % path)
        lines.extend(reg_value(*value) for value in values)
        lines.append("")
    with open(os.path.join(out, "drive_c", "tasks.reg"), "wb") as f:
        f.write("\ufeff".encode("utf-16-le") + "\r\n".join(lines + [""]).encode("utf-16-le"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seed", type=int, default=20260314)
    parser.add_argument("--layout", choices=["native", "wine"], default="native")
    parser.add_argument("--no-registry", action="store_true")
    options = parser.parse_args()

    rng = random.Random(options.seed)
    # Identifiers from a generator of their own, so that the definitions are
    # the same with the keys or without.
    ids = random.Random(options.seed + 1)
    if options.layout == "native":
        drive_c = os.path.join(options.out, "C:")
        tasks_windows = "C:\\Windows\\System32\\Tasks"
        tasks_host = os.path.join(drive_c, "Windows", "System32", "Tasks")
    else:
        drive_c = os.path.join(options.out, "drive_c")
        tasks_windows = "C:\\windows\\system32\\Tasks"
        tasks_host = os.path.join(drive_c, "windows", "system32", "Tasks")
    os.makedirs(tasks_host, exist_ok=True)
    write_pool(drive_c, rng)

    folders = task_folders(rng, options.count)
    manifest = []
    candidates = dangerous = 0
    made = set()
    tree = TASK_CACHE + "\\Tree"
    keys = [(tree + "".join("\\" + name for name in folder[:depth]), [("SD", REG_BINARY, SECURITY)])
            for folder in folders for depth in range(1, len(folder) + 1)]
    keys = list({path: values for path, values in keys}.items())
    for number in range(options.count):
        folder = list(rng.choice(folders))
        name = "%s-%06d" % (rng.choice(["Update", "Sync", "Telemetry", "Cleanup",
                                        "Scan", "Report", "Refresh"]), number)
        uri = "\\" + "\\".join(folder + [name])
        if number % CANDIDATE_EVERY == CANDIDATE_EVERY // 2:
            # The first candidate always names the payload, so every machine
            # has at least one dangerous task.
            index = PAYLOAD_INDEX if candidates == 0 else rng.randrange(POOL_SIZE)
            command = rng.choice(CANDIDATE_COMMANDS)
            arguments = rng.choice(CANDIDATE_ARGUMENTS).format(path=pool_file(index))
            kind = "dangerous" if index == PAYLOAD_INDEX else "candidate"
            candidates += 1
            dangerous += kind == "dangerous"
        else:
            command, arguments = rng.choice(ORDINARY_ACTIONS)
            kind = None
        host_folder = os.path.join(tasks_host, *folder)
        if host_folder not in made:
            os.makedirs(host_folder, exist_ok=True)
            made.add(host_folder)
        data, principal = definition(rng, uri, command, arguments)
        with open(os.path.join(host_folder, name), "wb") as f:
            f.write(data)
        guid = "{%s}" % str(uuid.UUID(int=ids.getrandbits(128), version=4)).upper()
        keys.append((tree + uri, [("Id", REG_SZ, guid), ("SD", REG_BINARY, SECURITY),
                                  ("Index", REG_DWORD, 3)]))
        keys.append((TASK_CACHE + "\\Tasks\\" + guid,
                     [("Path", REG_SZ, uri),
                      ("Actions", REG_BINARY, actions_value(principal, command, arguments))]))
        if kind:
            manifest.append("%s\t%s\t%s" % (kind, uri, tasks_windows + uri))

    if not options.no_registry:
        write_keys(keys, options.out, options.layout)
    with open(os.path.join(options.out, "manifest.tsv"), "w", encoding="utf-8") as f:
        f.write("# definitions %d registry tasks %d candidates %d dangerous %d\n"
                % (options.count, 0 if options.no_registry else options.count, candidates,
                   dangerous))
        f.write("".join(line + "\n" for line in manifest))
    return 0


if __name__ == "__main__":
    sys.exit(main())
