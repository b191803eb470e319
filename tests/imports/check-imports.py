#!/usr/bin/env python3
"""Checks that a Windows program imports no function that Windows XP lacks.

The power-scheme library reaches PowerGetActiveScheme and its companions, and the log
GetFinalPathNameByHandleA and SetFileInformationByHandle, through GetProcAddress only: a
program that imports them is refused by the loader of Windows XP, where they do not exist
(and one that imports a power function it lacks aborts under Wine 8 at its first call).

Usage: check-imports.py OBJDUMP PROGRAM.exe...
Prints one line per program; exits 1 when any imports one of those functions.
"""

import subprocess
import sys

NOT_ON_XP = {
    "PowerGetActiveScheme", "PowerReadACValueIndex", "PowerReadDCValueIndex",
    "PowerWriteACValueIndex", "PowerWriteDCValueIndex", "PowerSetActiveScheme",
    "PowerSettingAccessCheck", "PowerReadACValue", "PowerReadDCValue",
    # kernel32.dll, since Windows Vista
    "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW", "SetFileInformationByHandle",
}


def imported_names(objdump, program):
    """The names in the program's import tables, by objdump -p."""
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                          text=True).stdout
    names = set()
    in_table = False
    for line in text.splitlines():
        if line.strip().startswith("DLL Name:"):
            in_table = True
            continue
        if in_table and line.strip().startswith("vma:"):
            continue
        fields = line.split()
        if in_table and len(fields) == 3:
            names.add(fields[2])
        elif in_table and not fields:
            in_table = False
    return names


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    objdump, programs = argv[1], argv[2:]
    failed = False
    for program in programs:
        names = imported_names(objdump, program)
        missing = sorted(names & NOT_ON_XP)
        if not names:
            print("FAIL: %s: no imports found" % program)
            failed = True
        elif missing:
            print("FAIL: %s imports %s" % (program, ", ".join(missing)))
            failed = True
        else:
            print("ok: %s imports no function Windows XP lacks (%d imports)"
                  % (program, len(names)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
