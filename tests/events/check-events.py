#!/usr/bin/env python3
"""Keeps the events in step: the message file compiled into Hollin.exe (HollinEvents.mc), the
identifiers the code reports (support/PMEvents.h) and the event table of docs/ADMIN.md.

1. Every message of the message file is an event of the header and the other way round: the
   same identifier (the severity's two top bits and the message number), a severity that
   matches the event's type, and exactly the insertion strings %1 to %n of the header's count,
   each used. Texts are one line (a line end would go into the text as it is) and end in %0.
2. kAll of the header lists every event once.
3. Each event has one row in the table of docs/ADMIN.md: its event ID (the low 16 bits), its
   type, its text as the message file has it (without the closing %0) and a description of
   each of its insertion strings.

Usage: check-events.py HollinEvents.mc PMEvents.h ADMIN.md
Prints every problem found; exits 1 when there is any.
"""

import re
import sys

SEVERITY_BITS = {"Success": 0, "Informational": 1, "Warning": 2, "Error": 3}
TYPE_OF_SEVERITY = {
    "Informational": "EVENTLOG_INFORMATION_TYPE",
    "Warning": "EVENTLOG_WARNING_TYPE",
    "Error": "EVENTLOG_ERROR_TYPE",
}
TYPE_WORD = {
    "EVENTLOG_INFORMATION_TYPE": "information",
    "EVENTLOG_WARNING_TYPE": "warning",
    "EVENTLOG_ERROR_TYPE": "error",
}
INSERTION = re.compile(r"%([1-9][0-9]?)")


def read_messages(path, problems):
    """The messages of a .mc file: {full identifier: (symbolic name, severity, text lines)}."""
    messages = {}
    header = {}
    lines = open(path, encoding="utf-8").read().splitlines()
    i = 0
    while i < len(lines):
        line = lines[i].strip()
        i += 1
        if not line or line.startswith(";"):
            continue
        key, _, value = line.partition("=")
        key = key.strip()
        value = value.strip()
        if key == "Language":
            text = []
            while i < len(lines) and lines[i] != ".":
                text.append(lines[i])
                i += 1
            i += 1
            number = header.get("MessageId")
            severity = header.get("Severity", "Success")
            if number is None or severity not in SEVERITY_BITS:
                problems.append(f"{path}: a message without MessageId or with severity {severity}")
                continue
            identifier = (SEVERITY_BITS[severity] << 30) | int(number, 0)
            if identifier in messages:
                problems.append(f"{path}: message {int(number, 0)} defined twice")
            messages[identifier] = (header.get("SymbolicName", "?"), severity, text)
            header = {}
        elif key in ("MessageId", "Severity", "SymbolicName", "Facility"):
            header[key] = value
    return messages


def read_events(path, problems):
    """The events of PMEvents.h: {name: (identifier, type, strings)} and the names of kAll."""
    source = open(path, encoding="utf-8").read()
    events = {}
    for name, identifier, kind, strings in re.findall(
        r"inline constexpr PMEvent (k\w+)\{0x([0-9A-Fa-f]+), (EVENTLOG_\w+), (\d+)\};", source
    ):
        events[name] = (int(identifier, 16), kind, int(strings))
    listed = re.search(r"kAll\[\] = \{([^}]*)\}", source)
    names = re.findall(r"k\w+", listed.group(1)) if listed else []
    if not events:
        problems.append(f"{path}: no events found")
    return events, names


def read_table(path):
    """Rows of the event table: {event ID: (type word, row text)}."""
    rows = {}
    for line in open(path, encoding="utf-8"):
        match = re.match(r"\|\s*(\d{4})\s*\|\s*(information|warning|error)\s*\|(.*)\|\s*$", line)
        if match:
            rows.setdefault(int(match.group(1)), []).append((match.group(2), match.group(3)))
    return rows


def main(argv):
    if len(argv) != 4:
        print(__doc__)
        return 2
    mc_path, header_path, admin_path = argv[1:]
    problems = []
    messages = read_messages(mc_path, problems)
    events, listed = read_events(header_path, problems)
    rows = read_table(admin_path)

    by_identifier = {identifier: name for name, (identifier, _, _) in events.items()}
    if len(by_identifier) != len(events):
        problems.append(f"{header_path}: two events share an identifier")
    for identifier in sorted(set(messages) - set(by_identifier)):
        problems.append(f"{mc_path}: message {identifier:#010x} is no event of {header_path}")

    for name, (identifier, kind, strings) in sorted(events.items(), key=lambda e: e[1][0]):
        where = f"{name} ({identifier & 0xFFFF})"
        if identifier not in messages:
            problems.append(f"{where}: no message {identifier:#010x} in {mc_path}")
        else:
            symbol, severity, text = messages[identifier]
            if TYPE_OF_SEVERITY.get(severity) != kind:
                problems.append(f"{where}: severity {severity} in {mc_path}, type {kind} in code")
            if len(text) != 1:
                problems.append(f"{where}: its text is {len(text)} lines, not one")
            joined = " ".join(text)
            if not joined.endswith("%0"):
                problems.append(f"{where}: its text does not end in %0")
            used = sorted({int(n) for n in INSERTION.findall(joined)})
            if used != list(range(1, strings + 1)):
                problems.append(
                    f"{where}: the text uses insertion strings {used}, the code gives {strings}"
                )
        if listed.count(name) != 1:
            problems.append(f"{where}: listed {listed.count(name)} times in kAll")
        table = rows.get(identifier & 0xFFFF, [])
        if len(table) != 1:
            problems.append(f"{where}: {len(table)} rows in the event table of {admin_path}")
        else:
            word, row = table[0]
            if word != TYPE_WORD[kind]:
                problems.append(f"{where}: {word} in {admin_path}, {TYPE_WORD[kind]} in code")
            cells = [cell.strip() for cell in row.split("|")]
            if identifier in messages:
                text = " ".join(messages[identifier][2])
                if text.endswith("%0"):
                    text = text[:-2]
                if cells[0] != text:
                    problems.append(f"{where}: the text in {admin_path} differs from {mc_path}")
            described = sorted({int(n) for n in INSERTION.findall("|".join(cells[1:]))})
            if described != list(range(1, strings + 1)):
                problems.append(
                    f"{where}: {admin_path} describes insertion strings {described}, "
                    f"the code gives {strings}"
                )
    for shown in sorted(set(rows) - {i & 0xFFFF for i in by_identifier}):
        problems.append(f"{admin_path}: the event table lists {shown}, which is no event")
    for name in sorted(set(listed) - set(events)):
        problems.append(f"{header_path}: kAll lists {name}, which is no event")

    for problem in problems:
        print(problem)
    print(f"{len(events)} events, {len(messages)} messages, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
