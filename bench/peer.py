#!/usr/bin/env python3
"""The scan as an administrator would script it: prints the URI of every
dangerous task, one a line. Run in a machine folder (the POSIX build's
layout: C:\\Windows\\System32\\Tasks is ./C:/Windows/System32/Tasks).

    peer.py MD5 [TASK_FOLDER]
"""

import hashlib
import os
import re
import sys
import xml.etree.ElementTree as ET

NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"
PATH = re.compile(r'"([A-Za-z]:\\[^ "]+)"|([A-Za-z]:\\(?:[^\\/:*?"<>|\r\n]+\\)*[^\\/:*?"<>|\r\n]+)')


def host(windows_path):
    return windows_path.replace("\\", "/")


def md5_of(path):
    digest = hashlib.md5()
    try:
        with open(path, "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                digest.update(chunk)
    except OSError:
        return ""
    return digest.hexdigest()


def main():
    payload_md5 = sys.argv[1]
    root = sys.argv[2] if len(sys.argv) > 2 else "C:\\Windows\\System32\\Tasks"
    for folder, _, names in os.walk(host(root)):
        for name in names:
            try:
                task = ET.parse(os.path.join(folder, name)).getroot()
            except (ET.ParseError, OSError):
                continue
            command = task.findtext(NS + "Actions/" + NS + "Exec/" + NS + "Command") or ""
            arguments = task.findtext(NS + "Actions/" + NS + "Exec/" + NS + "Arguments") or ""
            if "cmd.exe" not in command.lower() or ".exe" not in arguments:
                continue
            found = PATH.search(arguments)
            if found and md5_of(host(found.group(1) or found.group(2))) == payload_md5:
                print(task.findtext(NS + "RegistrationInfo/" + NS + "URI") or "")


if __name__ == "__main__":
    main()
