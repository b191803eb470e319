#!/usr/bin/env python3
"""Checks that a Windows program imports nothing from powrprof.dll and no function that
Windows XP lacks.

The power-scheme library loads powrprof.dll with LoadLibrary and reaches every function it uses
through GetProcAddress, and the log finds GetFinalPathNameByHandleA and
SetFileInformationByHandle the same way: a program that imports one of them is refused by the
loader of a Windows that lacks it (the current power functions and the newer file functions on
Windows XP, the legacy power functions on a Windows that no longer exports them, any power
function without powrprof.dll), and Wine 8 aborts at the first call of a power function its
powrprof.dll lacks.

Usage: check-imports.py OBJDUMP PROGRAM.exe...
Prints one line per program; exits 1 when any imports from powrprof.dll, or one of those
functions from anywhere.
"""

import subprocess
import sys

POWER_FUNCTIONS = {
    "PowerGetActiveScheme", "PowerReadACValueIndex", "PowerReadDCValueIndex",
    "PowerWriteACValueIndex", "PowerWriteDCValueIndex", "PowerSetActiveScheme",
    "PowerSettingAccessCheck", "PowerReadACValue", "PowerReadDCValue",
    "GetPwrCapabilities", "GetActivePwrScheme", "IsPwrHibernateAllowed",
    "CanUserWritePwrScheme", "ReadPwrScheme", "WritePwrScheme", "SetActivePwrScheme",
    "EnumPwrSchemes",
}
# kernel32.dll, since Windows Vista
NOT_ON_XP = {"GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW",
             "SetFileInformationByHandle"}


def imports(objdump, program):
    """The program's import tables, by objdump -p: {DLL name in lower case: set of names}."""
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                          text=True).stdout
    tables = {}
    names = None
    for line in text.splitlines():
        stripped = line.strip()
        if stripped.startswith("DLL Name:"):
            names = tables.setdefault(stripped[len("DLL Name:"):].strip().lower(), set())
            continue
        if names is not None and stripped.startswith("vma:"):
            continue
        fields = line.split()
        if names is not None and len(fields) == 3:
            names.add(fields[2])
        elif names is not None and not fields:
            names = None
    return tables


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    objdump, programs = argv[1], argv[2:]
    failed = False
    for program in programs:
        tables = imports(objdump, program)
        every = set().union(*tables.values()) if tables else set()
        forbidden = sorted(tables.get("powrprof.dll", set())
                           | (every & (POWER_FUNCTIONS | NOT_ON_XP)))
        if not every:
            print("FAIL: %s: no imports found" % program)
            failed = True
        elif "powrprof.dll" in tables or forbidden:
            print("FAIL: %s imports %s" % (program, ", ".join(forbidden) or "from powrprof.dll"))
            failed = True
        else:
            print("ok: %s imports nothing from powrprof.dll and no function Windows XP lacks "
                  "(%d imports from %s)" % (program, len(every), ", ".join(sorted(tables))))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
