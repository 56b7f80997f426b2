#!/usr/bin/env python3
"""Writes the stand-in payload: a tiny, harmless 64-bit Windows console
program that the tests can start in place of a real threat, so that they can
check what happens when the payload is running (Windows will not delete a
running .exe until its process ends).

    make_stand_in.py OUTPUT [--sleep-ms N]
    make_stand_in.py --check FILE    exits 1 unless FILE holds these bytes

When run, the program calls kernel32!Sleep(N) and then kernel32!ExitProcess(0);
it does nothing else. N is 600000 (ten minutes) unless --sleep-ms says
otherwise. It imports only Sleep and ExitProcess from KERNEL32.dll and carries
a line of text saying what it is.

The output is the same bytes on every run: no timestamps, no randomness. The
file is built by hand here (no compiler or linker), with the PE checksum
filled in. Only standard library.
"""

import argparse
import struct
import sys

NOTE = (b"Stand-in for the Vorkelbraith.C payload in vorkelbraith-remover's "
        b"tests. It sleeps ten minutes and exits; test builds take its MD5 as "
        b"the threat's.")

DEFAULT_SLEEP_MS = 600000

IMAGE_BASE = 0x140000000
FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000
PE_HEADER_OFFSET = 0x80

IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_FILE_EXECUTABLE_IMAGE = 0x0002
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000
IMAGE_SCN_CNT_CODE = 0x00000020
IMAGE_SCN_CNT_INITIALIZED_DATA = 0x00000040
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_SCN_MEM_READ = 0x40000000
IMAGE_DIRECTORY_ENTRY_IMPORT = 1
IMAGE_DIRECTORY_ENTRY_IAT = 12
NUMBER_OF_DIRECTORIES = 16

FILE_HEADER_SIZE = 20
OPTIONAL_HEADER_SIZE = 112 + 8 * NUMBER_OF_DIRECTORIES
SECTION_HEADER_SIZE = 40
# Offset of CheckSum inside the PE32+ optional header.
CHECKSUM_FIELD = 64

IMPORTED_DLL = b"KERNEL32.dll"
IMPORTED_NAMES = [b"Sleep", b"ExitProcess"]

TEXT_RVA = 0x1000
RDATA_RVA = 0x2000


def align_up(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def pad_to(data, size):
    if len(data) > size:
        raise ValueError("%d bytes do not fit in %d" % (len(data), size))
    return data + b"\0" * (size - len(data))


def dos_header_and_stub():
    """The MZ header and the usual "cannot be run in DOS mode" stub, up to
    the PE signature."""
    stub = (bytes([0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD,
                   0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21])
            + b"This program cannot be run in DOS mode.\r\r\n$")
    header = struct.pack(
        "<2s13H8sHH20sI",
        b"MZ",
        0x90,    # bytes on last page
        3,       # pages in file
        0,       # relocations
        4,       # header size in paragraphs
        0,       # minimum extra paragraphs
        0xFFFF,  # maximum extra paragraphs
        0,       # initial SS
        0xB8,    # initial SP
        0,       # checksum
        0,       # initial IP
        0,       # initial CS
        0x40,    # relocation table offset
        0,       # overlay number
        b"\0" * 8,
        0,       # OEM id
        0,       # OEM info
        b"\0" * 20,
        PE_HEADER_OFFSET)
    return pad_to(header + stub, PE_HEADER_OFFSET)


def build_rdata(rva):
    """Import address table, import directory, lookup table, hint/name
    entries, DLL name and the note. Returns (bytes, layout) where layout
    gives the RVAs the headers and the code need."""
    count = len(IMPORTED_NAMES)
    thunk_table_size = 8 * (count + 1)

    iat_rva = rva
    descriptors_rva = iat_rva + thunk_table_size
    descriptors_size = 20 * 2  # KERNEL32.dll, then the all-zero terminator
    ilt_rva = descriptors_rva + descriptors_size
    names_rva = ilt_rva + thunk_table_size

    hint_names = b""
    name_rvas = []
    for name in IMPORTED_NAMES:
        name_rvas.append(names_rva + len(hint_names))
        entry = struct.pack("<H", 0) + name + b"\0"
        hint_names += pad_to(entry, align_up(len(entry), 2))
    dll_name_rva = names_rva + len(hint_names)
    dll_name = IMPORTED_DLL + b"\0"
    note_rva = align_up(dll_name_rva + len(dll_name), 16)

    thunks = b"".join(struct.pack("<Q", r) for r in name_rvas) + b"\0" * 8
    descriptor = struct.pack("<5I",
                             ilt_rva,       # OriginalFirstThunk
                             0,             # TimeDateStamp
                             0,             # ForwarderChain
                             dll_name_rva,  # Name
                             iat_rva)       # FirstThunk
    data = (thunks                            # IAT, filled in by the loader
            + descriptor + b"\0" * 20
            + thunks                          # ILT
            + hint_names
            + dll_name)
    data = pad_to(data, note_rva - rva) + NOTE + b"\0"

    layout = {
        "iat": iat_rva,
        "iat_size": thunk_table_size,
        "imports": descriptors_rva,
        "imports_size": descriptors_size,
        "iat_slot": {name: iat_rva + 8 * i
                     for i, name in enumerate(IMPORTED_NAMES)},
    }
    return data, layout


def build_text(rva, iat_slot, sleep_ms):
    """Entry point code: Sleep(sleep_ms); ExitProcess(0)."""
    def call_through(code_so_far, slot_rva):
        # call qword ptr [rip+disp32]; rip is the address after this 6-byte call
        next_rva = rva + len(code_so_far) + 6
        return b"\xFF\x15" + struct.pack("<i", slot_rva - next_rva)

    code = b"\x48\x83\xEC\x28"                      # sub rsp, 40
    code += b"\xB9" + struct.pack("<I", sleep_ms)   # mov ecx, sleep_ms
    code += call_through(code, iat_slot[b"Sleep"])  # call [Sleep]
    code += b"\x31\xC9"                             # xor ecx, ecx
    code += call_through(code, iat_slot[b"ExitProcess"])
    code += b"\xCC"                                 # int3
    return code


def section_header(name, virtual_size, rva, raw_size, raw_offset, flags):
    return struct.pack("<8sIIIIIIHHI",
                       name, virtual_size, rva, raw_size, raw_offset,
                       0, 0, 0, 0, flags)


def pe_checksum(image, checksum_offset):
    """The PE checksum: 16-bit one's-complement-style sum of the file with
    the CheckSum field counted as zero, plus the file's length."""
    total = 0
    for at in range(0, len(image), 2):
        if at in (checksum_offset, checksum_offset + 2):
            continue
        word = image[at] | (image[at + 1] << 8 if at + 1 < len(image) else 0)
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def build_image(sleep_ms):
    rdata, layout = build_rdata(RDATA_RVA)
    text = build_text(TEXT_RVA, layout["iat_slot"], sleep_ms)

    sections_offset = (PE_HEADER_OFFSET + 4 + FILE_HEADER_SIZE
                       + OPTIONAL_HEADER_SIZE)
    headers_size = align_up(sections_offset + 2 * SECTION_HEADER_SIZE,
                            FILE_ALIGNMENT)
    text_raw = align_up(len(text), FILE_ALIGNMENT)
    rdata_raw = align_up(len(rdata), FILE_ALIGNMENT)
    text_offset = headers_size
    rdata_offset = text_offset + text_raw
    if (TEXT_RVA + align_up(len(text), SECTION_ALIGNMENT) > RDATA_RVA
            or headers_size > TEXT_RVA):
        raise ValueError("sections overlap")
    image_size = RDATA_RVA + align_up(len(rdata), SECTION_ALIGNMENT)

    file_header = struct.pack(
        "<HHIIIHH",
        IMAGE_FILE_MACHINE_AMD64,
        2,                        # NumberOfSections
        0,                        # TimeDateStamp
        0,                        # PointerToSymbolTable
        0,                        # NumberOfSymbols
        OPTIONAL_HEADER_SIZE,
        IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_LARGE_ADDRESS_AWARE)

    directories = [(0, 0)] * NUMBER_OF_DIRECTORIES
    directories[IMAGE_DIRECTORY_ENTRY_IMPORT] = (layout["imports"],
                                                 layout["imports_size"])
    directories[IMAGE_DIRECTORY_ENTRY_IAT] = (layout["iat"], layout["iat_size"])

    optional_header = struct.pack(
        "<HBBIIIII",
        0x20B,             # Magic: PE32+
        0, 0,              # linker version
        text_raw,          # SizeOfCode
        rdata_raw,         # SizeOfInitializedData
        0,                 # SizeOfUninitializedData
        TEXT_RVA,          # AddressOfEntryPoint
        TEXT_RVA)          # BaseOfCode
    optional_header += struct.pack(
        "<QIIHHHHHHIIIIHHQQQQII",
        IMAGE_BASE,
        SECTION_ALIGNMENT,
        FILE_ALIGNMENT,
        6, 0,              # operating system version
        0, 0,              # image version
        6, 0,              # subsystem version
        0,                 # Win32VersionValue
        image_size,
        headers_size,
        0,                 # CheckSum, filled in below
        IMAGE_SUBSYSTEM_WINDOWS_CUI,
        IMAGE_DLLCHARACTERISTICS_NX_COMPAT
        | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE,
        0x100000, 0x1000,  # stack reserve, commit
        0x100000, 0x1000,  # heap reserve, commit
        0,                 # LoaderFlags
        NUMBER_OF_DIRECTORIES)
    optional_header += b"".join(struct.pack("<II", rva, size)
                                for rva, size in directories)
    assert len(optional_header) == OPTIONAL_HEADER_SIZE

    sections = (
        section_header(b".text", len(text), TEXT_RVA, text_raw, text_offset,
                       IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE
                       | IMAGE_SCN_MEM_READ)
        + section_header(b".rdata", len(rdata), RDATA_RVA, rdata_raw,
                         rdata_offset,
                         IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ))

    headers = (dos_header_and_stub() + b"PE\0\0" + file_header
               + optional_header + sections)
    image = bytearray(pad_to(headers, headers_size)
                      + pad_to(text, text_raw)
                      + pad_to(rdata, rdata_raw))

    checksum_offset = PE_HEADER_OFFSET + 4 + FILE_HEADER_SIZE + CHECKSUM_FIELD
    struct.pack_into("<I", image, checksum_offset,
                     pe_checksum(image, checksum_offset))
    return bytes(image)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", help="where to write the .exe")
    parser.add_argument("--sleep-ms", type=int, default=DEFAULT_SLEEP_MS,
                        help="how long the program sleeps (default %(default)s)")
    parser.add_argument("--check", action="store_true",
                        help="compare OUTPUT with what would be written instead")
    args = parser.parse_args()
    if not 0 <= args.sleep_ms <= 0xFFFFFFFF:
        parser.error("--sleep-ms must fit in 32 bits")

    image = build_image(args.sleep_ms)
    if args.check:
        with open(args.output, "rb") as existing:
            if existing.read() != image:
                print(f"{args.output} is not what {sys.argv[0]} writes", file=sys.stderr)
                return 1
        return 0
    with open(args.output, "wb") as out:
        out.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
