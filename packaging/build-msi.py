#!/usr/bin/env python3
"""Builds the Windows Installer package of Hollin and Dorvane_Tool and checks what it holds.

Usage: build-msi.py --version MAJOR.MINOR.BUILD --hollin Hollin.exe
                    --logon-tool Dorvane_Tool.exe --constants HollinConstants.h
                    --output Dorvane.msi [--wxs Dorvane.wxs]

1. wixl builds the package from Dorvane.wxs at the given product version (-a x64). wixl
   only warns about what it does not understand and still exits 0, so any output of wixl
   fails the build.
2. msibuild fixes what wixl cannot express: the Run value and the event source's message
   file become REG_EXPAND_SZ (what "Hollin /Install" writes), a row removes the event
   source's whole key on uninstall, each program's File row gets the file version read from
   its version record (so a copy already in the system folder is replaced by version, not by
   date), and the upgrade row also takes a package of the same version, so a rebuild
   replaces an installed build instead of being installed beside it.
3. The tables are read back and compared with the service program's own constants and
   with the rules below; any difference fails the build and leaves no package behind.

The programs may come from any build: a package at another version (for upgrade tests)
is built from the same programs with another --version. Needs wixl and msitools.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

WXS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Dorvane.wxs")

# Service and registry numbers as "Hollin /Install" passes them to CreateServiceA.
SERVICE_WIN32_OWN_PROCESS = 0x10
SERVICE_AUTO_START = 2
SERVICE_ERROR_IGNORE = 0
# ServiceControl events: start at install, stop at install and uninstall, delete at
# uninstall (msidbServiceControlEvent*).
SERVICE_EVENTS = 0x01 | 0x02 | 0x20 | 0x80
MSI_COMPONENT_64BIT = 0x100
MSI_UPGRADE_MIGRATE_FEATURES = 0x1
MSI_UPGRADE_ONLY_DETECT = 0x2
MSI_UPGRADE_VERSION_MAX_INCLUSIVE = 0x200
HKEY_LOCAL_MACHINE_ROOT = 2
# A Registry row with this name and no value removes its key, with everything in it, when
# its component is uninstalled.
REMOVE_KEY_ON_UNINSTALL = "-"

# The Application log's event source that the service and the logon tool report under
# (PMEventSource), its message table in the service program; under HKEY_LOCAL_MACHINE.
EVENT_SOURCE_KEY = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\PMevents"
# Error, warning and information events.
EVENT_TYPES_SUPPORTED = 7


# What the package must agree with in HollinConstants.h.
NEEDED_CONSTANTS = ("kServiceName", "kServiceDisplayName", "kServiceProgramFile",
                    "kLogonToolFile", "kRunKeyPath", "kRunValueName")


class BuildError(Exception):
    pass


def product_version(text):
    """The version as Windows Installer compares it: three numbers, 255.255.65535 at most."""
    match = re.fullmatch(r"(\d{1,3})\.(\d{1,3})\.(\d{1,5})", text)
    if not match or int(match[1]) > 255 or int(match[2]) > 255 or int(match[3]) > 65535:
        raise BuildError("product version %r is not MAJOR.MINOR.BUILD within 255.255.65535"
                         % text)
    return "%d.%d.%d" % tuple(int(part) for part in match.groups())


def file_version(path):
    """The file version of a program's version record, as "a.b.c.d"."""
    with open(path, "rb") as program:
        data = program.read()
    record = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), record) if record >= 0 else -1
    if fixed < 0:
        raise BuildError("%s has no version record" % path)
    most, least = struct.unpack_from("<II", data, fixed + 8)
    return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def hollin_constants(path):
    """The text constants of HollinConstants.h, by name, with C escapes resolved."""
    with open(path, encoding="utf-8") as header:
        text = header.read()
    found = re.findall(r'constexpr\s+const\s+char\*\s+(k\w+)\s*=\s*"((?:[^"\\]|\\.)*)"', text)
    constants = {name: re.sub(r"\\(.)", r"\1", value) for name, value in found}
    missing = [name for name in NEEDED_CONSTANTS if name not in constants]
    if missing:
        raise BuildError("%s does not define %s" % (path, ", ".join(missing)))
    return constants


def run(command, cwd=None, quiet=False):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    output = (result.stdout + result.stderr).strip()
    if result.returncode != 0 or (quiet and output):
        what = "failed (exit status %d)" % result.returncode if result.returncode else "warned"
        raise BuildError("%s %s%s" % (os.path.basename(command[0]), what,
                                      ":\n" + output if output else ""))
    return result.stdout


def msi_query(msi, query):
    run(["msibuild", msi, "-q", query])


def table(msi, name):
    """The rows of one table as dictionaries by column name ([] when the table is absent)."""
    lines = run(["msiinfo", "export", msi, name]).replace("\r", "").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def build(wxs, version, hollin, logon_tool, output_dir):
    """Runs wixl over copies of the two programs; Source paths in the .wxs are relative."""
    stage = os.path.join(output_dir, "stage")
    os.makedirs(stage)
    shutil.copyfile(hollin, os.path.join(stage, "Hollin.exe"))
    shutil.copyfile(logon_tool, os.path.join(stage, "Dorvane_Tool.exe"))
    msi = os.path.join(output_dir, "package.msi")
    run(["wixl", "-a", "x64", "-D", "ProductVersion=" + version, "-o", msi,
         os.path.abspath(wxs)], cwd=stage, quiet=True)
    return msi


def fix_up(msi, versions):
    """What wixl cannot write: see the module's description."""
    files = table(msi, "File")
    for row in files:
        msi_query(msi, "UPDATE File SET Version='%s' WHERE File='%s'"
                  % (versions[row["FileName"]], row["File"]))
        # A versioned file is compared by version; a hash row would be wrong for it.
        msi_query(msi, "DELETE FROM MsiFileHash WHERE File_='%s'" % row["File"])
    registry = table(msi, "Registry")
    for row in registry:
        if row["Value"].startswith("[#"):
            msi_query(msi, "UPDATE Registry SET Value='#%%%s' WHERE Registry='%s'"
                      % (row["Value"], row["Registry"]))
    # The event source's key goes with the component that writes its values, whatever else
    # it holds by then.
    for component in sorted({row["Component_"] for row in registry
                             if row["Key"] == EVENT_SOURCE_KEY}):
        msi_query(msi, "INSERT INTO Registry (Registry, Root, `Key`, Name, Component_) "
                  "VALUES ('EventSourceKey', %d, '%s', '%s', '%s')"
                  % (HKEY_LOCAL_MACHINE_ROOT, EVENT_SOURCE_KEY, REMOVE_KEY_ON_UNINSTALL,
                     component))
    for row in table(msi, "Upgrade"):
        attributes = int(row["Attributes"])
        if not attributes & MSI_UPGRADE_ONLY_DETECT and row["VersionMax"]:
            # Attributes is part of the key: the row is replaced, not updated.
            msi_query(msi, "DELETE FROM Upgrade WHERE ActionProperty='%s'"
                      % row["ActionProperty"])
            msi_query(msi, "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, "
                      "ActionProperty) VALUES ('%s', '%s', %d, '%s')"
                      % (row["UpgradeCode"], row["VersionMax"],
                         attributes | MSI_UPGRADE_VERSION_MAX_INCLUSIVE, row["ActionProperty"]))


def check_package(msi, constants, version, versions):
    """Every way the package differs from what it must install; empty when it is right."""
    problems = []

    def expect(condition, what):
        if not condition:
            problems.append(what)

    service_file = constants["kServiceProgramFile"].lstrip("\\")
    tool_file = constants["kLogonToolFile"].lstrip("\\")
    files = {row["FileName"]: row for row in table(msi, "File")}
    components = {row["Component"]: row for row in table(msi, "Component")}
    expect(sorted(files) == sorted([service_file, tool_file]),
           "the package holds %s and %s, found %s" % (service_file, tool_file, sorted(files)))
    for name, row in files.items():
        component = components.get(row["Component_"], {})
        expect(component.get("Directory_") == "System64Folder",
               "%s goes into System64Folder" % name)
        expect(int(component.get("Attributes") or 0) & MSI_COMPONENT_64BIT,
               "the component of %s is 64-bit (Win64=\"yes\")" % name)
        expect(row["Version"] == versions.get(name),
               "%s carries file version %s, found %r" % (name, versions.get(name), row["Version"]))

    service_component = files.get(service_file, {}).get("Component_")
    services = table(msi, "ServiceInstall")
    expect(len(services) == 1, "one service is installed, found %d" % len(services))
    for row in services:
        expect(row["Name"] == constants["kServiceName"],
               "service name %r, found %r" % (constants["kServiceName"], row["Name"]))
        expect(row["DisplayName"] == constants["kServiceDisplayName"],
               "display name %r, found %r" % (constants["kServiceDisplayName"],
                                              row["DisplayName"]))
        expect((int(row["ServiceType"]), int(row["StartType"]), int(row["ErrorControl"]))
               == (SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE),
               "the service is its own process, starts automatically and ignores errors")
        expect(row["StartName"] in ("", "LocalSystem") and not row["Password"],
               "the service runs as the local system account")
        expect(not row["Arguments"], "the service is started without arguments")
        expect(row["Component_"] == service_component,
               "the service belongs to the component of %s" % service_file)
    controls = table(msi, "ServiceControl")
    expect([(row["Name"], int(row["Event"]), row["Wait"], row["Component_"]) for row in controls]
           == [(constants["kServiceName"], SERVICE_EVENTS, "1", service_component)],
           "the service is started at install, stopped (waiting) at install and uninstall "
           "and deleted at uninstall")

    tool_key = files.get(tool_file, {}).get("File")
    registry = table(msi, "Registry")
    runs = [row for row in registry if row["Name"] == constants["kRunValueName"]]
    expect(len(runs) == 1, "one Run value %s" % constants["kRunValueName"])
    for row in runs:
        expect(int(row["Root"]) == HKEY_LOCAL_MACHINE_ROOT
               and row["Key"] == constants["kRunKeyPath"],
               "the Run value lies in HKEY_LOCAL_MACHINE\\%s" % constants["kRunKeyPath"])
        expect(row["Value"] == "#%%[#%s]" % tool_key,
               "the Run value is the expandable path of %s, found %r" % (tool_file, row["Value"]))
        expect(row["Component_"] == files.get(tool_file, {}).get("Component_"),
               "the Run value belongs to the component of %s" % tool_file)

    # The event source: registered with the service program, its key removed with it.
    service_key = files.get(service_file, {}).get("File")
    source = sorted((row["Name"], row["Value"], int(row["Root"]), row["Component_"])
                    for row in registry if row["Key"] == EVENT_SOURCE_KEY)
    expect(source == sorted([
        (REMOVE_KEY_ON_UNINSTALL, "", HKEY_LOCAL_MACHINE_ROOT, service_component),
        ("EventMessageFile", "#%%[#%s]" % service_key, HKEY_LOCAL_MACHINE_ROOT,
         service_component),
        ("TypesSupported", "#%d" % EVENT_TYPES_SUPPORTED, HKEY_LOCAL_MACHINE_ROOT,
         service_component)]),
           "the event source HKEY_LOCAL_MACHINE\\%s: EventMessageFile the expandable path of "
           "%s, TypesSupported %d, the key removed with the component of %s; found %s"
           % (EVENT_SOURCE_KEY, service_file, EVENT_TYPES_SUPPORTED, service_file, source))

    # The service is registered by the tables alone: no custom action runs a program.
    actions = table(msi, "CustomAction")
    expect(not actions, "no custom actions, found %s" % [row["Action"] for row in actions])
    sequence = {row["Action"]: int(row["Sequence"]) for row in table(msi, "InstallExecuteSequence")}
    order = ["InstallValidate", "InstallInitialize", "RemoveExistingProducts", "StopServices",
             "DeleteServices", "RemoveRegistryValues", "RemoveFiles", "InstallFiles",
             "WriteRegistryValues", "InstallServices", "StartServices", "InstallFinalize"]
    present = [action for action in order if action in sequence]
    expect(present == order and sorted(present, key=sequence.get) == order,
           "the install sequence runs %s in this order" % ", ".join(order))
    # The old version's removal is part of the installation's transaction only when no step
    # that changes the machine comes before it.
    by_sequence = sorted(sequence, key=sequence.get)
    if "InstallInitialize" in by_sequence:
        after = by_sequence[by_sequence.index("InstallInitialize") + 1:][:1]
        expect(after == ["RemoveExistingProducts"],
               "RemoveExistingProducts comes right after InstallInitialize, found %s" % after)

    upgrades = table(msi, "Upgrade")
    older = [row for row in upgrades if not int(row["Attributes"]) & MSI_UPGRADE_ONLY_DETECT]
    newer = [row for row in upgrades if int(row["Attributes"]) & MSI_UPGRADE_ONLY_DETECT]
    expect(len(older) == 1 and older[0]["VersionMax"] == version and not older[0]["VersionMin"]
           and int(older[0]["Attributes"]) & MSI_UPGRADE_VERSION_MAX_INCLUSIVE,
           "an installed version up to %s is replaced" % version)
    expect(len(newer) == 1 and newer[0]["VersionMin"] == version and not newer[0]["VersionMax"],
           "a newer installed version is detected")
    conditions = [row["Condition"] for row in table(msi, "LaunchCondition")]
    expect(newer and "NOT %s" % newer[0]["ActionProperty"] in conditions,
           "a newer installed version refuses the install")
    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    expect(properties.get("ProductVersion") == version,
           "product version %s, found %r" % (version, properties.get("ProductVersion")))
    expect(properties.get("ALLUSERS") == "1", "the package installs for the machine")
    return problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--hollin", required=True)
    parser.add_argument("--logon-tool", required=True)
    parser.add_argument("--constants", required=True, help="service/HollinConstants.h")
    parser.add_argument("--output", required=True)
    parser.add_argument("--wxs", default=WXS)
    args = parser.parse_args(argv)
    try:
        version = product_version(args.version)
        versions = {"Hollin.exe": file_version(args.hollin),
                    "Dorvane_Tool.exe": file_version(args.logon_tool)}
        constants = hollin_constants(args.constants)
        with tempfile.TemporaryDirectory(prefix="dorvane-msi.") as work:
            msi = build(args.wxs, version, args.hollin, args.logon_tool, work)
            fix_up(msi, versions)
            problems = check_package(msi, constants, version, versions)
            if problems:
                raise BuildError("the package is wrong:\n  " + "\n  ".join(problems))
            shutil.move(msi, args.output)
    except (BuildError, OSError) as error:
        print("build-msi.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
