#!/usr/bin/env python3
"""Reads the version resource and the application manifest back from a built
vorkelbraith-remover.exe and checks what Windows will show and do with them.

usage: check_windows_resources.py EXE VERSION [--test-signature]

VERSION is project()'s version in CMakeLists.txt. The release tool carries no
SpecialBuild mark; the test-signature tool (--test-signature) must. Exits 77
(skipped) when EXE is missing, 1 when VORKEL_REQUIRE_ALL is set.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_VERSION = 16
RT_MANIFEST = 24
VS_FF_SPECIALBUILD = 0x20
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


class Fault(Exception):
    pass


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def resources(image):
    """Returns {type id: [resource bytes, ...]} from the .rsrc section."""
    if image[:2] != b"MZ":
        raise Fault("not an MZ image")
    pe = u32(image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise Fault("no PE signature")
    sections = u16(image, pe + 6)
    optional_size = u16(image, pe + 20)
    optional = pe + 24
    if u16(image, optional) != 0x20B:
        raise Fault("not PE32+")
    # Data directory 2 is the resource table.
    rsrc_rva = u32(image, optional + 112 + 2 * 8)
    if rsrc_rva == 0:
        raise Fault("no resource table")

    table = optional + optional_size
    spans = []
    for i in range(sections):
        entry = table + 40 * i
        virtual_size, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, entry + 8)
        spans.append((rva, max(virtual_size, raw_size), raw_at))

    def offset(rva):
        for start, size, raw_at in spans:
            if start <= rva < start + size:
                return raw_at + rva - start
        raise Fault("address %#x outside every section" % rva)

    root = offset(rsrc_rva)

    def entries(directory):
        named, numbered = u16(image, directory + 12), u16(image, directory + 14)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", image, directory + 16 + 8 * i)
            yield name, target

    found = {}
    for type_id, type_target in entries(root):
        if type_id & 0x80000000 or not type_target & 0x80000000:
            continue  # named types and stray leaves are not ours
        for _, name_target in entries(root + (type_target & 0x7FFFFFFF)):
            for _, leaf in entries(root + (name_target & 0x7FFFFFFF)):
                data_rva, size = struct.unpack_from("<II", image, root + (leaf & 0x7FFFFFFF))
                at = offset(data_rva)
                found.setdefault(type_id, []).append(image[at:at + size])
    return found


def version_info(block):
    """Parses VS_VERSIONINFO: (fixed file info dict, {string name: value})."""
    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if kind == 1 else value_length
        children_at = (value_at + value_bytes + 3) & ~3
        return key, length, value_at, value_length, children_at

    def children(start, end):
        at = start
        while at < end:
            length = u16(block, at)
            if length == 0:
                break
            yield at
            at = (at + length + 3) & ~3

    key, length, value_at, value_length, children_at = node(0)
    if key != "VS_VERSION_INFO" or value_length != 52:
        raise Fault("malformed VS_VERSION_INFO")
    signature, _, ms, ls, pms, pls, mask, flags = struct.unpack_from("<8I", block, value_at)
    if signature != 0xFEEF04BD:
        raise Fault("bad VS_FIXEDFILEINFO signature")
    fixed = {"file": (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF),
             "product": (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF),
             "flags": flags & mask}

    strings = {}
    for info in children(children_at, length):
        info_key, info_length, _, _, tables_at = node(info)
        if info_key != "StringFileInfo":
            continue
        for table in children(tables_at, info + info_length):
            _, table_length, _, _, strings_at = node(table)
            for entry in children(strings_at, table + table_length):
                name, _, at, count, _ = node(entry)
                text = block[at:at + 2 * count].decode("utf-16-le")
                strings[name] = text.rstrip("\0")
    return fixed, strings


def check(path, version, test_signature):
    with open(path, "rb") as file:
        found = resources(file.read())
    faults = []

    versions = found.get(RT_VERSION, [])
    if len(versions) != 1:
        raise Fault("%d version resources, expected 1" % len(versions))
    fixed, strings = version_info(versions[0])
    numbers = (tuple(int(part) for part in version.split(".")) + (0, 0, 0))[:4]
    for field in ("file", "product"):
        if fixed[field] != numbers:
            faults.append("fixed %s version %s, expected %s" % (field, fixed[field], numbers))
    expected = {"ProductName": "vorkelbraith-remover",
                "FileVersion": version,
                "ProductVersion": version,
                "OriginalFilename": "vorkelbraith-remover.exe"}
    for name, value in expected.items():
        if strings.get(name) != value:
            faults.append("%s is %r, expected %r" % (name, strings.get(name), value))
    for name in ("FileDescription", "LegalCopyright"):
        if not strings.get(name):
            faults.append("%s is missing or empty" % name)
    marked = bool(fixed["flags"] & VS_FF_SPECIALBUILD) and bool(strings.get("SpecialBuild"))
    if marked != test_signature:
        faults.append("test-signature mark is %s, expected %s" % (
            "present" if marked else "absent", "present" if test_signature else "absent"))

    manifests = found.get(RT_MANIFEST, [])
    if len(manifests) != 1:
        raise Fault("%d manifests, expected 1" % len(manifests))
    manifest = ElementTree.fromstring(manifests[0])
    levels = [e.get("level") for e in manifest.iter() if e.tag.endswith("}requestedExecutionLevel")]
    if levels != ["requireAdministrator"]:
        faults.append("requestedExecutionLevel %s, expected ['requireAdministrator']" % levels)
    systems = {e.get("Id", "").lower() for e in manifest.iter() if e.tag.endswith("}supportedOS")}
    if systems != SUPPORTED_OS:
        faults.append("supportedOS %s, expected %s" % (sorted(systems), sorted(SUPPORTED_OS)))
    # Anything under windowsSettings (dpiAware, longPathAware, activeCodePage...)
    # would change how the tool behaves.
    settings = [e.tag for e in manifest.iter() if e.tag.endswith("}windowsSettings")]
    if settings:
        faults.append("manifest has windowsSettings")

    if faults:
        raise Fault("; ".join(faults))
    return strings


def main(argv):
    if len(argv) not in (3, 4) or (len(argv) == 4 and argv[3] != "--test-signature"):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    if not os.path.exists(argv[1]):
        print("%s is missing: make the Windows build with cmake --preset windows && "
              "cmake --build --preset windows" % argv[1])
        return 77 if os.environ.get("VORKEL_REQUIRE_ALL", "0") in ("", "0") else 1
    try:
        strings = check(argv[1], argv[2], len(argv) == 4)
    except (Fault, OSError, struct.error, ElementTree.ParseError, UnicodeDecodeError) as fault:
        print("%s: %s" % (argv[1], fault))
        return 1
    print("%s: %s %s, manifest requireAdministrator for Windows 7 to 11" % (
        argv[1], strings["ProductName"], strings["FileVersion"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
