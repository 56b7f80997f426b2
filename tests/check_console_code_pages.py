#!/usr/bin/env python3
"""Runs the test-signature Windows build in a real console: Wine's cmd inside
tmux, at code pages 936, 65001 and 54936, on a machine with a Chinese task.
What the terminal shows (UTF-8) must be the start screen, the task in the
danger list and every question as the catalogue words them; the pause after
the last answer (y and Enter) must wait for a key of its own; and the code
page must be as it was after the run.

usage: check_console_code_pages.py SOURCE_DIR WINDOWS_BUILD_DIR

Exits 77 (skipped) without Wine, tmux or the Windows build, 1 when
VORKEL_REQUIRE_ALL is set. A code page Wine's cmd will not take is reported
and left out, not passed.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
CODE_PAGES = [936, 65001, 54936]
TASK = "更新检查"
TASK_ID = "{3A9E61C4-2B7D-4F08-9C15-6E2D8B0A7F31}"
# Korean is outside code page 936, and reads right on its console all the same.
PAYLOAD = "C:\\ProgramData\\更新服务\\한글\\svchost.exe"
INTERPRETER = "C:\\Windows\\System32\\cmd.exe"
# Long enough to be written in several pieces. (Wine's console shows a
# character beyond U+FFFF as two U+FFFD, whoever writes it, so no pairs.)
ARGUMENTS = "/c \"" + PAYLOAD + "\" " + "a中" * 4000
CACHE = ("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule"
         "\\TaskCache")


class Fault(Exception):
    pass


def catalogue(source):
    """The catalogue's texts by key, as the source writes them (UTF-8)."""
    with open(os.path.join(source, "console", "messages.cc"), encoding="utf-8") as file:
        text = file.read()
    escapes = {"n": "\n", "r": "\r", "\\": "\\", '"': '"'}
    return {key: re.sub(r"\\(.)", lambda m: escapes[m.group(1)], value)
            for key, value in re.findall(r'/\* (Msg\w+) \*/ "((?:[^"\\]|\\.)*)"', text)}


def definition():
    return ('<?xml version="1.0" encoding="UTF-16"?>\n'
            '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">\n'
            "  <RegistrationInfo><URI>\\" + TASK + "</URI></RegistrationInfo>\n"
            "  <Actions Context=\"Author\"><Exec>\n"
            "    <Command>" + INTERPRETER + "</Command>\n"
            "    <Arguments>" + ARGUMENTS + "</Arguments>\n"
            "  </Exec></Actions>\n</Task>\n")


def lay_out_payload(drive, source):
    payload = os.path.join(drive, *PAYLOAD[3:].split("\\"))
    os.makedirs(os.path.dirname(payload), exist_ok=True)
    shutil.copyfile(os.path.join(source, "tests", "stand-in-payload.exe"), payload)


def lay_out_machine(drive, source):
    tasks = os.path.join(drive, "windows", "system32", "Tasks")
    os.makedirs(tasks, exist_ok=True)
    with open(os.path.join(tasks, TASK), "wb") as file:
        file.write(definition().encode("utf-16"))
    lay_out_payload(drive, source)
    reg = ("Windows Registry Editor Version 5.00\r\n\r\n"
           f"[{CACHE}\\Tree\\{TASK}]\r\n\"Id\"=\"{TASK_ID}\"\r\n\r\n"
           f"[{CACHE}\\Tasks\\{TASK_ID}]\r\n\"Path\"=\"\\\\{TASK}\"\r\n\r\n")
    with open(os.path.join(drive, "machine.reg"), "wb") as file:
        file.write(reg.encode("utf-16"))


class Console:
    """Wine's cmd in a detached tmux session of its own server."""

    def __init__(self, env):
        self.socket = "vorkel-console-%d" % os.getpid()
        self.mark = None  # the line a run's screen starts at
        self.tmux(["new-session", "-d", "-x", "220", "-y", "80", "-s", "vk",
                   "env " + " ".join("%s='%s'" % item for item in sorted(env.items()))
                   + " " + WINE + " cmd"])
        deadline = time.time() + 60
        while not any(line.endswith(">") for line in self.lines()):
            if time.time() > deadline:
                raise Fault("cmd shows no prompt:\n" + "\n".join(self.lines()))
            time.sleep(0.2)

    def tmux(self, args):
        return subprocess.run(["tmux", "-L", self.socket, "-f", "/dev/null"] + args,
                              stdin=subprocess.DEVNULL, capture_output=True, check=True,
                              timeout=30).stdout.decode("utf-8", "replace")

    def type(self, text):
        self.tmux(["send-keys", "-t", "vk", "-l", text])
        self.tmux(["send-keys", "-t", "vk", "Enter"])

    def press(self, key):
        self.tmux(["send-keys", "-t", "vk", key])

    def lines(self):
        screen = self.tmux(["capture-pane", "-p", "-J", "-t", "vk", "-S", "-", "-E", "-"])
        return [line.rstrip() for line in screen.split("\n")]

    def wait_for(self, wanted, seconds=60):
        """The screen's lines from the last mark on, once one of them is
        wanted (so that an earlier run cannot answer)."""
        deadline = time.time() + seconds
        while True:
            lines = self.lines()
            marks = [i for i, line in enumerate(lines) if line == self.mark]
            lines = lines[marks[-1] if marks else 0:]
            if wanted in lines:
                return lines
            if time.time() > deadline:
                raise Fault("never shown: %r\nthe screen:\n%s" % (wanted, "\n".join(lines)))
            time.sleep(0.2)

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


def reply(console, command):
    """The first line cmd answers a command with (this time: not an earlier
    answer to the same command still on the screen)."""
    earlier = sum(1 for line in console.lines() if line.endswith(">" + command))
    console.type(command)
    deadline = time.time() + 30
    while time.time() < deadline:
        lines = console.lines()
        typed = [i for i, line in enumerate(lines) if line.endswith(">" + command)]
        if len(typed) > earlier and typed[-1] + 1 < len(lines) and lines[typed[-1] + 1]:
            return lines[typed[-1] + 1]
        time.sleep(0.2)
    return "(no answer)"


def code_page_now(console):
    number = re.search(r"(\d+)$", reply(console, "chcp"))
    return int(number.group(1)) if number else None


def run_at(console, code_page, texts):
    """Runs the tool once at a code page; None, or what went wrong."""
    answer = reply(console, "chcp %d" % code_page)
    if code_page_now(console) != code_page:
        return "skipped: Wine's cmd does not take it (chcp %d answers: %s)" % (code_page, answer)

    start = [texts["MsgBannerRule"], texts["MsgBannerTitle"], texts["MsgBannerAuthor"],
             texts["MsgBannerRule"], "", texts["MsgEnvHeading"].strip("\n"),
             texts["MsgRoleLabel"] + texts["MsgRoleAdmin"], texts["MsgRootLabel"] + "C:\\windows",
             "", texts["MsgNoticeHeading"].strip("\n"), texts["MsgNotice1"], texts["MsgNotice2"], "",
             texts["MsgAskStart"].strip("\n")]
    start = [line.rstrip() for line in start]
    console.mark = None
    console.type("C:\\vk\\vorkelbraith-remover-testsig.exe")
    lines = console.wait_for(start[-1])
    at = max(i for i, line in enumerate(lines) if line == start[0]) - 3
    console.mark = start[1]
    screen = lines[at:at + len(start)]
    if screen != start:
        raise Fault("the start screen at %d reads:\n%s" % (code_page, "\n".join(screen)))

    root = "C:\\windows\\System32\\Tasks\\"
    steps = [
        ("y", texts["MsgAskDeleteAll"].strip("\n"),
         [texts["MsgDangerHead"].strip("\n") + root + TASK + texts["MsgFieldRegistry"] + "\\"
          + TASK + texts["MsgFieldExecute"] + INTERPRETER + texts["MsgFieldArg"] + ARGUMENTS,
          texts["MsgDangerTag"] + "\\" + TASK]),
        ("y", texts["MsgAskDeleteKeys"].strip("\n"),
         [texts["MsgTreeKeyFound"] + CACHE[19:] + "\\Tree\\\\" + TASK,
          texts["MsgTasksKeyFound"] + CACHE[19:] + "\\Tasks\\" + TASK_ID]),
        ("n", texts["MsgAskDeleteExeHead"].strip("\n") + PAYLOAD + texts["MsgAskDeleteExeTail"],
         [texts["MsgKeysKept"]]),
        ("y", texts["MsgAllDone"].strip("\n"),
         [texts["MsgExeDeletedPrefix"] + PAYLOAD + texts["MsgOk"]]),
    ]
    for answer, question, before in steps:
        console.type(answer)
        shown = console.wait_for(question)
        # Wine's console breaks a long line at its width itself.
        for wanted in before:
            if wanted not in "".join(shown):
                raise Fault("at %d this line is missing: %r\nthe screen:\n%s"
                            % (code_page, wanted, "\n".join(shown)))
    # The last answer's line end is not the pause's key: it waits for one.
    pause = texts["MsgPressAnyKey"]
    console.wait_for(pause)
    time.sleep(2)
    shown = [line for line in console.wait_for(pause) if line]
    if shown[-1] != pause:
        raise Fault("at %d the pause did not wait for a key:\n%s" % (code_page, "\n".join(shown)))
    console.press("x")
    page = code_page_now(console)
    if page != code_page:
        raise Fault("the run left code page %s, not %d" % (page, code_page))
    return None


def skip(why):
    print("skipped: " + why)
    return 77 if os.environ.get("VORKEL_REQUIRE_ALL", "0") in ("", "0") else 1


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    source, build = sys.argv[1:]
    tool = os.path.join(build, "vorkelbraith-remover-testsig.exe")
    for needed in (WINE, WINESERVER, tool):
        if not os.path.exists(needed):
            return skip("%s is missing" % needed)
    if shutil.which("tmux") is None:
        return skip("tmux is missing (scripts/setup installs it)")
    texts = catalogue(source)
    prefix = tempfile.mkdtemp(prefix="vorkel-console-")
    env = {"WINEPREFIX": prefix, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
           "LANG": "zh_CN.UTF-8", "LC_ALL": "zh_CN.UTF-8", "HOME": os.environ.get("HOME", "/")}
    wine_env = dict(os.environ, **env)
    log = open(os.path.join(prefix, "wine.log"), "wb")
    console = None
    try:
        subprocess.run([WINE, "wineboot", "-i"], env=wine_env, stdin=subprocess.DEVNULL,
                       stdout=log, stderr=log, timeout=300, check=True)
        subprocess.run([WINESERVER, "-p"], env=wine_env, stdin=subprocess.DEVNULL, stdout=log,
                       stderr=log, timeout=60)
        drive = os.path.join(prefix, "drive_c")
        lay_out_machine(drive, source)
        os.makedirs(os.path.join(drive, "vk"), exist_ok=True)
        shutil.copyfile(tool, os.path.join(drive, "vk", os.path.basename(tool)))
        subprocess.run([WINE, "regedit", "/S", "C:\\machine.reg"], env=wine_env,
                       stdin=subprocess.DEVNULL, stdout=log, stderr=log, timeout=120, check=True)
        console = Console(env)
        failed = False
        for code_page in CODE_PAGES:
            try:
                note = run_at(console, code_page, texts)
                lay_out_payload(drive, source)  # the run deleted it
                print("code page %d: %s" % (code_page, note or "reads right"))
            except Fault as fault:
                print("code page %d: FAILED: %s" % (code_page, fault))
                failed = True
                break
        return 1 if failed else 0
    finally:
        if console is not None:
            console.close()
        subprocess.run([WINESERVER, "-k"], env=wine_env, capture_output=True, timeout=60)
        log.close()
        shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
