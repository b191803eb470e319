#!/usr/bin/env python3
"""Writes tests/fixtures/default-schemes.reg: Windows XP's six default power schemes in the
Windows 2000/XP registry layout, with scheme 0 active.

    tools/make-default-schemes.py [OUTPUT]      write OUTPUT (default: the fixture)
    tools/make-default-schemes.py --check FILE  exit 1 unless FILE is what would be written

The names and the monitor, standby and disk time-outs are those of Windows XP. The other
members of the records are not published; the values chosen here are plausible for a desktop
of that time and are the same for every scheme unless noted:

  user half (USER_POWER_POLICY, 80 bytes)
    Revision 1
    IdleAc/IdleDc         Action Sleep (2) with Flags QUERY_ALLOWED|UI_ALLOWED (3) when that
                          side's standby time-out is nonzero, else Action None (0), Flags 0;
                          EventCode 0
    IdleSensitivity       90/90 (percent)
    ThrottlePolicy AC/DC  AC None (0) for the desk and always-on schemes (0 and 3), else
                          Adaptive (3); DC Adaptive, Degrade (2) for Max Battery, None for
                          Always On
    MaxSleep AC/DC        S3 (PowerSystemSleeping3, 4)
    Reserved              0, 0
    OptimizeForPower      0 on mains, 1 on battery
    FanThrottleTolerance  100/80, ForcedThrottle 100/100
  machine half (MACHINE_POWER_POLICY, 64 bytes)
    Revision 1
    MinSleep, ReducedLatencySleep AC/DC   S1 (PowerSystemSleeping1, 2)
    DozeTimeout, DozeS4Timeout AC/DC      0 (hibernation off)
    MinThrottle AC/DC     0/0, pad 0
    OverThrottled AC/DC   Action None, Flags 0, EventCode 0

The text is "Windows Registry Editor Version 5.00" as regedit exports it, in ASCII with CR LF
line ends: binary values as hex: with lowercase bytes separated by commas, a line broken
after the comma that brings it to 77 columns or more, continued with "\\" and two spaces.
"""
import struct
import sys
from pathlib import Path

from reg_fixture import quoted, write_or_check

FIXTURE = Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "default-schemes.reg"

USER_KEY = r"HKEY_CURRENT_USER\Control Panel\PowerCfg"
MACHINE_KEY = (r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion"
               r"\Controls Folder\PowerCfg")

ACTION_NONE, ACTION_SLEEP = 0, 2
QUERY_ALLOWED, UI_ALLOWED = 0x1, 0x2
SLEEPING1, SLEEPING3 = 2, 4
THROTTLE_NONE, THROTTLE_DEGRADE, THROTTLE_ADAPTIVE = 0, 2, 3

# index, name, description, (monitor, standby, disk) each (AC, DC) in seconds
SCHEMES = [
    (0, "Home/Office Desk", "For a computer that stays on mains power at home or in the office.",
     (1200, 300), (0, 300), (0, 600)),
    (1, "Portable/Laptop", "For a portable computer that often runs on its battery.",
     (900, 300), (1200, 300), (1800, 300)),
    (2, "Presentation", "Keeps the monitor on for as long as a presentation runs.",
     (0, 0), (0, 900), (0, 300)),
    (3, "Always On", "Never lets the computer sleep; for servers and long jobs.",
     (1200, 900), (0, 0), (0, 1800)),
    (4, "Minimal Power Management", "Saves little power and keeps the computer responsive.",
     (900, 300), (0, 300), (0, 900)),
    (5, "Max Battery", "Makes the battery last as long as possible.",
     (900, 60), (1200, 120), (0, 180)),
]


def idle_action(timeout):
    if timeout:
        return struct.pack("<III", ACTION_SLEEP, QUERY_ALLOWED | UI_ALLOWED, 0)
    return struct.pack("<III", ACTION_NONE, 0, 0)


def user_policy(index, monitor, standby, disk):
    throttle_ac = THROTTLE_NONE if index in (0, 3) else THROTTLE_ADAPTIVE
    throttle_dc = {3: THROTTLE_NONE, 5: THROTTLE_DEGRADE}.get(index, THROTTLE_ADAPTIVE)
    data = (struct.pack("<I", 1)
            + idle_action(standby[0]) + idle_action(standby[1])
            + struct.pack("<II", *standby)
            + struct.pack("<BBBB", 90, 90, throttle_ac, throttle_dc)
            + struct.pack("<II", SLEEPING3, SLEEPING3)
            + struct.pack("<II", 0, 0)
            + struct.pack("<II", *monitor)
            + struct.pack("<II", *disk)
            + struct.pack("<BBBBBB", 0, 1, 100, 80, 100, 100)
            + bytes(2))
    assert len(data) == 80
    return data


def machine_policy():
    data = (struct.pack("<I", 1)
            + struct.pack("<IIII", SLEEPING1, SLEEPING1, SLEEPING1, SLEEPING1)
            + struct.pack("<IIII", 0, 0, 0, 0)
            + struct.pack("<BB", 0, 0) + bytes(2)
            + struct.pack("<III", ACTION_NONE, 0, 0) * 2)
    assert len(data) == 64
    return data


def hex_value(name, data):
    line = quoted(name) + "=hex:"
    lines = []
    for i, byte in enumerate(data):
        line += "%02x" % byte
        if i + 1 == len(data):
            break
        line += ","
        if len(line) >= 77:
            lines.append(line + "\\")
            line = "  "
    lines.append(line)
    return lines


def render():
    out = ["Windows Registry Editor Version 5.00", ""]
    out += ["[%s]" % USER_KEY, '"CurrentPowerPolicy"="0"', ""]
    out += ["[%s\\PowerPolicies]" % USER_KEY, ""]
    for index, name, description, monitor, standby, disk in SCHEMES:
        out.append("[%s\\PowerPolicies\\%d]" % (USER_KEY, index))
        out.append("%s=%s" % (quoted("Name"), quoted(name)))
        out.append("%s=%s" % (quoted("Description"), quoted(description)))
        out += hex_value("Policies", user_policy(index, monitor, standby, disk))
        out.append("")
    out += ["[%s]" % MACHINE_KEY, ""]
    out += ["[%s\\PowerPolicies]" % MACHINE_KEY, ""]
    for index, *_ in SCHEMES:
        out.append("[%s\\PowerPolicies\\%d]" % (MACHINE_KEY, index))
        out += hex_value("Policies", machine_policy())
        out.append("")
    return "\r\n".join(out) + "\r\n"


if __name__ == "__main__":
    sys.exit(write_or_check(sys.argv, render(), FIXTURE, __doc__))
