#!/usr/bin/python3
"""Checks a released Windows program from the outside, with an independent PE
reader: the version resource (numbers and texts in English and German), the
hardening bits of the PE header, no link time in it, and imports of Windows'
own DLLs only. Prints each check; exit code 1 when one fails.

    check_windows_program.py PROGRAM.exe VERSION
"""
import sys

import pefile

# The DLLs every Windows installation has; anything else would have to ship
# beside the .exe (libstdc++, libgcc, libssp, libwinpthread...).
SYSTEM_DLLS = {"advapi32.dll", "comctl32.dll", "gdi32.dll", "hid.dll", "kernel32.dll",
               "msimg32.dll", "msvcrt.dll", "ole32.dll", "setupapi.dll", "user32.dll",
               "winmm.dll"}
TEXTS = ("CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
         "OriginalFilename", "ProductName", "ProductVersion")
BLOCKS = ("040904b0", "040704b0")  # English and German, UTF-16

failures = 0


def check(what, ok, detail=""):
    global failures
    print(f"{'PASS' if ok else 'FAIL'}: {what}{': ' + detail if detail else ''}")
    failures += 0 if ok else 1


def main(path, version):
    pe = pefile.PE(path)
    dotted = version + ".0" * (3 - version.count("."))
    major, minor, patch, build = (int(part) for part in dotted.split("."))

    check("64-bit program (PE32+, x86-64)",
          pe.OPTIONAL_HEADER.Magic == 0x20B and pe.FILE_HEADER.Machine == 0x8664)
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    for name, bit in (("DYNAMIC_BASE", 0x0040), ("HIGH_ENTROPY_VA", 0x0020),
                      ("NX_COMPAT", 0x0100)):
        check(f"PE header: {name}", bool(characteristics & bit), f"0x{characteristics:04x}")
    check("relocations present (the randomised base needs them)",
          pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size > 0)
    check("no link time in the PE header", pe.FILE_HEADER.TimeDateStamp == 0,
          str(pe.FILE_HEADER.TimeDateStamp))

    dlls = sorted(entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    foreign = [dll for dll in dlls if dll not in SYSTEM_DLLS]
    check("imports Windows' own DLLs only", bool(dlls) and not foreign,
          ", ".join(foreign) or ", ".join(dlls))

    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    check("version resource present", fixed is not None)
    if fixed is None:
        return
    for field in ("File", "Product"):
        ms = getattr(fixed, f"{field}VersionMS")
        ls = getattr(fixed, f"{field}VersionLS")
        check(f"{field.lower()} version {dotted}",
              (ms, ls) == ((major << 16) | minor, (patch << 16) | build),
              f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}")
    tables = {}
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                tables[table.LangID.decode().lower()] = {
                    key.decode(): value.decode() for key, value in table.entries.items()}
    for block in BLOCKS:
        entries = tables.get(block, {})
        missing = [name for name in TEXTS if not entries.get(name)]
        check(f"version texts of block {block}", not missing,
              "missing " + ", ".join(missing) if missing else entries.get("FileDescription", ""))
        check(f"file and product version texts of block {block}",
              entries.get("FileVersion") == dotted and entries.get("ProductVersion") == dotted)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(sys.argv[1], sys.argv[2])
    sys.exit(1 if failures else 0)
