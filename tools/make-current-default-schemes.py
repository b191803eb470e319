#!/usr/bin/env python3
"""Writes tests/fixtures/current-default-schemes.reg: the three power plans of a fresh
Windows 10 installation in the registry layout of the current power-scheme interface (Windows
Vista and later), with Balanced active.

    tools/make-current-default-schemes.py [OUTPUT]      write OUTPUT (default: the fixture)
    tools/make-current-default-schemes.py --check FILE  exit 1 unless FILE is what would be written

A fresh installation keeps a plan's values as the defaults of each setting
(PowerSettings\\<subgroup>\\<setting>\\DefaultPowerSchemeValues\\<plan>) and nothing under the
plan's own key but its name; a value the plan sets itself, after a change, goes under
User\\PowerSchemes\\<plan>\\<subgroup>\\<setting>. Only the four settings the system enforces
are written, each with its AC and DC value in seconds (0: never):

  plan              display off   sleep         hibernate      disk off
  Balanced          600 / 300     1800 / 900    10800 / 10800  1200 / 600
  High performance  900 / 600        0 / 3600       0 / 10800  1200 / 600
  Power saver       300 / 120      900 / 600    10800 / 10800  1200 / 300

These are the values commonly reported for a fresh Windows 10 laptop; they were not copied
from a real machine. The GUIDs are the published ones.

The text is "Windows Registry Editor Version 5.00" as regedit exports it, in ASCII with CR LF
line ends.
"""
import sys
from pathlib import Path

from reg_fixture import quoted, write_or_check

FIXTURE = (Path(__file__).resolve().parent.parent / "tests" / "fixtures"
           / "current-default-schemes.reg")

POWER_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Power"
SETTINGS_KEY = POWER_KEY + r"\PowerSettings"
SCHEMES_KEY = POWER_KEY + r"\User\PowerSchemes"

# subgroup GUID, its name, [(setting GUID, setting name)]
SUBGROUPS = [
    ("7516b95f-f776-4464-8c53-06167f40cc99", "Display",
     [("3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e", "Turn off display after")]),
    ("238c9fa8-0aad-41ed-83f4-97be242c8f20", "Sleep",
     [("29f6c1db-86da-48c5-9fdb-f2b67b1f44da", "Sleep after"),
      ("9d7815a6-7ee4-497e-8888-515a05f02364", "Hibernate after")]),
    ("0012ee47-9041-4b5d-9b77-535fba8b1442", "Hard disk",
     [("6738e2c4-e8a5-4a42-b16a-e040e769756e", "Turn off hard disk after")]),
]

BALANCED = "381b4222-f694-41f0-9685-ff5bb260df2e"
HIGH_PERFORMANCE = "8c5e7fda-e8bf-4a96-9a85-a6e23a8c635c"
POWER_SAVER = "a1841308-3541-4fab-bc81-f71556f20b4a"

# plan GUID, name, description, {setting GUID: (AC, DC)}
PLANS = [
    (BALANCED, "Balanced",
     "Automatically balances performance with energy consumption on capable hardware.",
     {"3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e": (600, 300),
      "29f6c1db-86da-48c5-9fdb-f2b67b1f44da": (1800, 900),
      "9d7815a6-7ee4-497e-8888-515a05f02364": (10800, 10800),
      "6738e2c4-e8a5-4a42-b16a-e040e769756e": (1200, 600)}),
    (HIGH_PERFORMANCE, "High performance",
     "Favors performance, but may use more energy.",
     {"3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e": (900, 600),
      "29f6c1db-86da-48c5-9fdb-f2b67b1f44da": (0, 3600),
      "9d7815a6-7ee4-497e-8888-515a05f02364": (0, 10800),
      "6738e2c4-e8a5-4a42-b16a-e040e769756e": (1200, 600)}),
    (POWER_SAVER, "Power saver",
     "Saves energy by reducing your computer's performance where possible.",
     {"3c0bc021-c8a8-4e07-a973-6b14cbcb2b7e": (300, 120),
      "29f6c1db-86da-48c5-9fdb-f2b67b1f44da": (900, 600),
      "9d7815a6-7ee4-497e-8888-515a05f02364": (10800, 10800),
      "6738e2c4-e8a5-4a42-b16a-e040e769756e": (1200, 300)}),
]


def dword(name, value):
    return "%s=dword:%08x" % (quoted(name), value)


def render():
    out = ["Windows Registry Editor Version 5.00", ""]
    for subgroup, subgroup_name, settings in SUBGROUPS:
        out += ["[%s\\%s]" % (SETTINGS_KEY, subgroup),
                "%s=%s" % (quoted("FriendlyName"), quoted(subgroup_name)), ""]
        for setting, setting_name in settings:
            key = "%s\\%s\\%s" % (SETTINGS_KEY, subgroup, setting)
            out += ["[%s]" % key, "%s=%s" % (quoted("FriendlyName"), quoted(setting_name)), ""]
            out += ["[%s\\DefaultPowerSchemeValues]" % key, ""]
            for plan, _, _, values in PLANS:
                ac, dc = values[setting]
                out += ["[%s\\DefaultPowerSchemeValues\\%s]" % (key, plan),
                        dword("ACSettingIndex", ac), dword("DCSettingIndex", dc), ""]
    out += ["[%s]" % SCHEMES_KEY, "%s=%s" % (quoted("ActivePowerScheme"), quoted(BALANCED)), ""]
    for plan, name, description, _ in PLANS:
        out += ["[%s\\%s]" % (SCHEMES_KEY, plan),
                "%s=%s" % (quoted("FriendlyName"), quoted(name)),
                "%s=%s" % (quoted("Description"), quoted(description)), ""]
    return "\r\n".join(out) + "\r\n"


if __name__ == "__main__":
    sys.exit(write_or_check(sys.argv, render(), FIXTURE, __doc__))
