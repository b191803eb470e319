#!/usr/bin/env python3
"""Checks the two XML files an administrator imports to watch a fleet, and that
docs/ADMIN.md shows each of them as it is.

- packaging/eventlog/Dorvane-subscription.xml (for "wecutil cs"): well-formed; a Subscription
  in the subscription namespace with the elements a source-initiated subscription needs; its
  query, itself XML, a QueryList that selects from the Application log the source's warnings
  and errors (levels 3 and 2) and nothing else.
- packaging/eventlog/Dorvane-view.xml (Event Viewer's Import Custom View): well-formed; a
  ViewerConfig whose QueryList selects every event of the source from the Application log.
- docs/ADMIN.md holds each file's text, whole, in a code block.

Usage: check-fleet-xml.py SUBSCRIPTION.xml VIEW.xml ADMIN.md SOURCE
Prints every problem found; exits 1 when there is any.
"""

import re
import sys

from lxml import etree

SUBSCRIPTION_NS = "http://schemas.microsoft.com/2006/03/windows/events/subscription"
SUBSCRIPTION_ELEMENTS = [
    "SubscriptionId",
    "SubscriptionType",
    "Description",
    "Enabled",
    "Uri",
    "ConfigurationMode",
    "Query",
    "ReadExistingEvents",
    "TransportName",
    "ContentFormat",
    "Locale",
    "LogFile",
    "AllowedSourceNonDomainComputers",
    "AllowedSourceDomainComputers",
]


def parse(path, problems):
    try:
        return etree.parse(path)
    except (OSError, etree.XMLSyntaxError) as error:
        problems.append(f"{path}: {error}")
        return None


def check_query_list(where, query_list, source, levels, problems):
    """One Query of the Application log, selecting the source's events of `levels` (None: all)."""
    if query_list is None or query_list.tag != "QueryList":
        problems.append(f"{where}: no QueryList")
        return
    queries = query_list.findall("Query")
    if len(queries) != 1 or queries[0].get("Path") != "Application":
        problems.append(f"{where}: not one Query of the Application log")
        return
    selects = queries[0].findall("Select")
    if len(selects) != 1 or selects[0].get("Path") != "Application":
        problems.append(f"{where}: not one Select of the Application log")
        return
    xpath = " ".join(selects[0].text.split())
    if f"Provider[@Name='{source}']" not in xpath:
        problems.append(f"{where}: the query does not select the source {source}: {xpath}")
    found = sorted(int(n) for n in re.findall(r"Level=(\d)", xpath))
    if found != sorted(levels or []):
        problems.append(f"{where}: the query selects levels {found}, not {levels}: {xpath}")


def check_subscription(path, source, problems):
    tree = parse(path, problems)
    if tree is None:
        return
    root = tree.getroot()
    if root.tag != f"{{{SUBSCRIPTION_NS}}}Subscription":
        problems.append(f"{path}: the root is {root.tag}, not a Subscription")
        return
    children = [etree.QName(child).localname for child in root if isinstance(child.tag, str)]
    for name in SUBSCRIPTION_ELEMENTS:
        if children.count(name) != 1:
            problems.append(f"{path}: {children.count(name)} {name} elements")
    values = {etree.QName(c).localname: (c.text or "").strip() for c in root if isinstance(c.tag, str)}
    expected = {
        "SubscriptionType": "SourceInitiated",
        "Enabled": "true",
        "Uri": "http://schemas.microsoft.com/wbem/wsman/1/windows/EventLog",
        "LogFile": "ForwardedEvents",
    }
    for name, value in expected.items():
        if values.get(name) != value:
            problems.append(f"{path}: {name} is {values.get(name)!r}, not {value!r}")
    query = root.find(f"{{{SUBSCRIPTION_NS}}}Query")
    try:
        query_list = etree.fromstring((query.text or "").strip()) if query is not None else None
    except etree.XMLSyntaxError as error:
        problems.append(f"{path}: the query is no XML: {error}")
        return
    check_query_list(f"{path} (query)", query_list, source, [2, 3], problems)


def check_view(path, source, problems):
    tree = parse(path, problems)
    if tree is None:
        return
    root = tree.getroot()
    if root.tag != "ViewerConfig":
        problems.append(f"{path}: the root is {root.tag}, not ViewerConfig")
        return
    node = root.find("QueryConfig/QueryNode")
    if node is None or not (node.findtext("Name") or "").strip():
        problems.append(f"{path}: no QueryConfig/QueryNode with a Name")
        return
    check_query_list(path, node.find("QueryList"), source, None, problems)


def check_shown(path, admin, problems):
    text = open(path, encoding="utf-8").read().strip()
    blocks = re.findall(r"```xml\n(.*?)```", admin, re.S)
    if not any(block.strip() == text for block in blocks):
        problems.append(f"docs/ADMIN.md shows no code block with the whole of {path}")


def main(argv):
    if len(argv) != 5:
        print(__doc__)
        return 2
    subscription, view, admin_path, source = argv[1:]
    problems = []
    check_subscription(subscription, source, problems)
    check_view(view, source, problems)
    admin = open(admin_path, encoding="utf-8").read()
    check_shown(subscription, admin, problems)
    check_shown(view, admin, problems)
    for problem in problems:
        print(problem)
    print(f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
