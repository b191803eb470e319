#!/usr/bin/env python3
"""Keeps the Group Policy template honest: packaging/admx/Dorvane.admx with its English
texts en-US/Dorvane.adml.

1. Structure that Group Policy tools need: root elements with revision and schemaVersion,
   one target namespace and no dependency on other templates, the ADML revision against
   the ADMX's minRequiredRevision, known elements and attributes in schema order, unique
   names and ids, every $(string.X) and $(presentation.X) resolving, a control of the
   matching kind for every element and the other way round, explicit decimal ranges that
   hold their defaults, numbers stored as REG_DWORD, well-formed enabled/disabled values.
2. The registry the code reads (policy/RegistrySchema.h, and the setting table of
   pwrlib/SettingTable.h for the time-outs and their backup values, as the program
   LIST-SETTINGS prints it): every key path and value name the template writes is one the
   update pass reads, in the key it reads it from and with the type it reads; every policy
   value is written, and no backup value; the marker, the version and the scheme name are the
   ones the pass accepts; the time-outs offer exactly the range the pass enforces.

Usage: check-template.py TEMPLATE.admx TEMPLATE.adml RegistrySchema.h LIST-SETTINGS
Prints every problem found and a summary; exits 1 when there is any.
"""

import re
import subprocess
import sys

from lxml import etree

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
VERSION = re.compile(r"[0-9]{1,4}\.[0-9]{1,5}")
NAME = re.compile(r"\w+")
REFERENCE = re.compile(r"\$\((string|presentation)\.([^)]*)\)")

# The elements and attributes this template may use, from the published ADMX schema. For
# elements whose children must come in order, the order; "*" marks children that may repeat.
ATTRIBUTES = {
    "policyDefinitions": {"revision", "schemaVersion"},
    "policyDefinitionResources": {"revision", "schemaVersion"},
    "target": {"prefix", "namespace"},
    "using": {"prefix", "namespace"},
    "resources": {"minRequiredRevision", "fallbackCulture"},
    "definition": {"name", "displayName"},
    "category": {"name", "displayName", "explainText"},
    "parentCategory": {"ref"},
    "supportedOn": {"ref"},
    "policy": {"name", "class", "displayName", "explainText", "presentation", "key",
               "valueName"},
    "item": {"key", "valueName"},
    "enabledList": {"defaultKey"},
    "disabledList": {"defaultKey"},
    "decimal": {"id", "valueName", "key", "required", "minValue", "maxValue", "storeAsText",
                "soft", "value"},
    "text": {"id", "valueName", "key", "required", "maxLength", "expandable", "soft"},
    "string": {"id"},
    "presentation": {"id"},
    "decimalTextBox": {"refId", "defaultValue", "spin", "spinStep"},
    "textBox": {"refId"},
}
CHILD_ORDER = {
    "policyDefinitions": ["policyNamespaces", "annotation*", "resources", "supportedOn",
                          "categories", "policies"],
    "policy": ["annotation*", "parentCategory", "seeAlso*", "keywords", "supportedOn",
               "enabledValue", "disabledValue", "enabledList", "disabledList", "elements"],
    "category": ["annotation*", "parentCategory", "seeAlso*", "keywords"],
    "policyDefinitionResources": ["displayName", "description", "annotation*", "resources"],
    "textBox": ["label", "defaultValue"],
}
KNOWN_ELEMENTS = set(ATTRIBUTES) | {
    "policyNamespaces", "supportedOn", "definitions", "categories", "policies", "annotation",
    "seeAlso", "keywords", "enabledValue", "disabledValue", "value", "delete", "longDecimal",
    "elements", "displayName", "description", "stringTable", "presentationTable", "label",
    "defaultValue"}
BOOLEAN_ATTRIBUTES = {"required", "soft", "storeAsText", "expandable", "spin"}
VALUE_KINDS = {"delete", "decimal", "longDecimal", "string"}
# Element kinds and the controls that present them.
CONTROLS = {"decimal": {"decimalTextBox"}, "text": {"textBox", "comboBox"},
            "boolean": {"checkBox"}, "enum": {"dropdownList"}}

# Where each value of RegistrySchema.h lives and how the update pass reads it: "dword",
# "string" (REG_SZ) or "path" (REG_EXPAND_SZ: the pass expands %VARIABLES%).
ROOT_VALUES = {"kControl": "string", "kMajorVersion": "dword", "kSettingsScheme": "string"}
OPTIONS_VALUES = {"kLog": "dword", "kLogLevel": "dword", "kLogFile": "path",
                  "kSecurityBypass": "dword", "kForceStandby": "dword"}
# Constants that are no policy value: key paths, accepted texts, and the backup key that
# only the pass writes.
NOT_POLICY_VALUES = {"kPolicyRoot", "kLocalRoot", "kOptionsSubKey", "kVerified",
                     "kAcceptedScheme", "kBackupKey"}
# The layout version this template writes (the pass accepts 1 and 2).
MAJOR_VERSION = 2


class Problems:
    def __init__(self):
        self.found = []

    def expect(self, condition, what):
        if not condition:
            self.found.append(what)
        return condition


def local(element):
    return etree.QName(element).localname if isinstance(element.tag, str) else None


def children(element, name=None):
    return [child for child in element if local(child) and (name is None or local(child) == name)]


def child(element, name):
    found = children(element, name)
    return found[0] if found else None


def read_schema(path):
    with open(path, encoding="utf-8") as header:
        text = header.read()
    texts = {name: re.sub(r"\\(.)", r"\1", value) for name, value in re.findall(
        r'constexpr\s+const\s+char\*\s+(k\w+)\s*=\s*"((?:[^"\\]|\\.)*)"', text)}
    numbers = {name: int(value) for name, value in re.findall(
        r"constexpr\s+unsigned\s+(k\w+)\s*=\s*(\d+)", text)}
    return texts, numbers


def read_settings(program):
    """The setting table: the time-outs' policy value names, and their backup value names."""
    text = subprocess.run([program], check=True, capture_output=True, text=True).stdout
    timeouts, backups = [], set()
    for line in text.splitlines():
        policy, current, copy = line.split("\t")
        timeouts.append(policy)
        backups.update(name for name in (current, copy) if name != "-")
    return timeouts, backups


def check_known_structure(root, problems):
    """Known elements and attributes, children in schema order, boolean attribute values."""
    for element in root.iter():
        name = local(element)
        if name is None:
            continue
        where = "line %d: <%s>" % (element.sourceline, name)
        if not problems.expect(etree.QName(element).namespace == NS,
                               "%s is outside the policy definitions namespace" % where):
            continue
        problems.expect(name in KNOWN_ELEMENTS, "%s is not an element of the template schema"
                        % where)
        for attribute, value in element.attrib.items():
            if attribute.startswith("{"):
                continue
            problems.expect(attribute in ATTRIBUTES.get(name, set()),
                            "%s has an unknown attribute %s" % (where, attribute))
            if attribute in BOOLEAN_ATTRIBUTES:
                problems.expect(value in ("true", "false", "1", "0"),
                                "%s: %s=%r is not a boolean" % (where, attribute, value))
        order = CHILD_ORDER.get(name)
        if order:
            slots = [slot.rstrip("*") for slot in order]
            positions = []
            for item in children(element):
                tag = local(item)
                problems.expect(tag in slots, "%s may not contain <%s>" % (where, tag))
                if tag in slots:
                    positions.append(slots.index(tag))
            problems.expect(positions == sorted(positions),
                            "%s: children out of schema order (%s)"
                            % (where, ", ".join(local(item) for item in children(element))))
            for slot in order:
                if not slot.endswith("*"):
                    problems.expect(len(children(element, slot)) <= 1,
                                    "%s holds <%s> more than once" % (where, slot))


def check_roots(admx, adml, problems):
    problems.expect(local(admx) == "policyDefinitions", "the ADMX root is policyDefinitions")
    problems.expect(local(adml) == "policyDefinitionResources",
                    "the ADML root is policyDefinitionResources")
    for root, which in ((admx, "ADMX"), (adml, "ADML")):
        for attribute in ("revision", "schemaVersion"):
            problems.expect(VERSION.fullmatch(root.get(attribute, "")),
                            "the %s's %s is major.minor, found %r"
                            % (which, attribute, root.get(attribute)))

    namespaces = child(admx, "policyNamespaces")
    targets = children(namespaces, "target") if namespaces is not None else []
    problems.expect(len(targets) == 1, "the ADMX has exactly one target namespace")
    # Our own supportedOn and categories: a template that needs another (Windows.admx) is
    # refused by management systems that do not have it.
    problems.expect(not (namespaces is not None and children(namespaces, "using")),
                    "the ADMX uses no other template's namespace")

    resources = child(admx, "resources")
    required = resources.get("minRequiredRevision", "") if resources is not None else ""
    revision = adml.get("revision", "")
    if problems.expect(VERSION.fullmatch(required), "the ADMX names minRequiredRevision"):
        if VERSION.fullmatch(revision):
            need_major, need_minor = (int(part) for part in required.split("."))
            major, minor = (int(part) for part in revision.split("."))
            problems.expect(major == need_major and minor >= need_minor,
                            "the ADML revision %s meets the ADMX's minRequiredRevision %s"
                            % (revision, required))

    for part in ("displayName", "description", "resources"):
        problems.expect(child(adml, part) is not None, "the ADML has a <%s>" % part)


def resource_tables(adml, problems):
    """The ADML's strings by id and presentations by id; ids unique and legal."""
    tables = {}
    resources = child(adml, "resources")
    for kind, table_name, entry_name in (("string", "stringTable", "string"),
                                         ("presentation", "presentationTable", "presentation")):
        table = child(resources, table_name) if resources is not None else None
        problems.expect(table is not None, "the ADML has a <%s>" % table_name)
        entries = {}
        for entry in children(table, entry_name) if table is not None else []:
            entry_id = entry.get("id", "")
            problems.expect(NAME.fullmatch(entry_id), "%s id %r is a legal name"
                            % (kind, entry_id))
            problems.expect(entry_id not in entries, "%s id %s is unique" % (kind, entry_id))
            entries[entry_id] = entry
        tables[kind] = entries
    return tables


def check_references(admx, tables, problems):
    """Every $(string.X) and $(presentation.X) of the ADMX resolves in the ADML."""
    for element in admx.iter():
        if local(element) is None:
            continue
        for attribute, value in element.attrib.items():
            for kind, name in REFERENCE.findall(value):
                problems.expect(name in tables[kind], "line %d: %s=\"%s\" has no %s in the ADML"
                                % (element.sourceline, attribute, value, kind))
    for attribute, kinds in (("displayName", "string"), ("explainText", "string"),
                             ("presentation", "presentation")):
        for element in admx.iter("{%s}*" % NS):
            value = element.get(attribute)
            if value is not None:
                problems.expect(REFERENCE.fullmatch(value) and value.startswith("$(" + kinds),
                                "line %d: %s is a $(%s.X) reference, found %r"
                                % (element.sourceline, attribute, kinds, value))


def check_definitions(admx, problems):
    """Categories, supportedOn definitions and policies: names unique, references resolve."""
    categories = [c.get("name", "") for c in admx.iter("{%s}category" % NS)]
    definitions = [d.get("name", "") for d in admx.iter("{%s}definition" % NS)]
    policies = [p.get("name", "") for p in admx.iter("{%s}policy" % NS)]
    for kind, names in (("category", categories), ("supportedOn definition", definitions),
                        ("policy", policies)):
        for name in names:
            problems.expect(NAME.fullmatch(name), "%s name %r is a legal name" % (kind, name))
        problems.expect(len(set(names)) == len(names), "%s names are unique" % kind)
    for reference in admx.iter("{%s}parentCategory" % NS):
        problems.expect(reference.get("ref") in categories,
                        "line %d: parent category %r is defined here"
                        % (reference.sourceline, reference.get("ref")))
    for policy in admx.iter("{%s}policy" % NS):
        supported = child(policy, "supportedOn")
        problems.expect(supported is not None and supported.get("ref") in definitions,
                        "policy %s names a supportedOn definition of this template"
                        % policy.get("name"))


def check_value(value, where, problems):
    """An enabledValue, disabledValue or list item value: exactly one kind of value."""
    kinds = children(value)
    if not problems.expect(len(kinds) == 1 and local(kinds[0]) in VALUE_KINDS,
                           "%s holds exactly one of %s" % (where, ", ".join(sorted(VALUE_KINDS)))):
        return None
    kind = kinds[0]
    if local(kind) == "string":
        problems.expect(len(kind.text or "") <= 255, "%s: a string of at most 255 characters"
                        % where)
    if local(kind) in ("decimal", "longDecimal"):
        problems.expect((kind.get("value") or "").isdigit(), "%s: an unsigned number" % where)
    return kind


def registry_writes(policy, problems):
    """What a policy writes: (key, value name, kind, the defining XML element) for each."""
    name = policy.get("name")
    key = policy.get("key", "")
    writes = []
    for state in ("enabledValue", "disabledValue"):
        value = child(policy, state)
        if value is None:
            continue
        where = "policy %s <%s>" % (name, state)
        if problems.expect(policy.get("valueName"), "%s needs the policy's valueName" % where):
            kind = check_value(value, where, problems)
            if kind is not None:
                writes.append((key, policy.get("valueName"), local(kind), kind))
    for state in ("enabledList", "disabledList"):
        items = child(policy, state)
        for item in children(items, "item") if items is not None else []:
            where = "policy %s <%s> item %s" % (name, state, item.get("valueName"))
            value = child(item, "value")
            kind = check_value(value, where, problems) if value is not None else None
            problems.expect(value is not None, "%s has a <value>" % where)
            if kind is not None:
                writes.append((item.get("key") or items.get("defaultKey") or key,
                               item.get("valueName"), local(kind), kind))
    elements = child(policy, "elements")
    for element in children(elements) if elements is not None else []:
        kind = local(element)
        if kind == "decimal" and element.get("storeAsText") in ("true", "1"):
            kind = "decimal stored as text"
        if kind == "text" and element.get("expandable") in ("true", "1"):
            kind = "expandable text"
        writes.append((element.get("key") or key, element.get("valueName"), kind, element))
    return writes


def check_policy(policy, tables, problems):
    name = policy.get("name")
    for attribute in ("name", "class", "displayName", "key"):
        problems.expect(policy.get(attribute), "policy %s has %s" % (name, attribute))
    problems.expect(policy.get("class") == "Machine",
                    "policy %s is a computer (Machine) policy" % name)
    key = policy.get("key", "")
    problems.expect(not re.match(r"(?i)(HKLM|HKCU|HKEY_)", key) and not key.startswith("\\")
                    and not key.endswith("\\"),
                    "policy %s: key %r has no hive and no leading or trailing backslash"
                    % (name, key))

    elements = child(policy, "elements")
    element_list = children(elements) if elements is not None else []
    ids = [element.get("id") for element in element_list]
    problems.expect(len(set(ids)) == len(ids), "policy %s: element ids are unique" % name)
    if not element_list:
        return
    reference = REFERENCE.fullmatch(policy.get("presentation", ""))
    presentation = tables["presentation"].get(reference.group(2)) if reference else None
    if not problems.expect(presentation is not None,
                           "policy %s has elements and needs a presentation" % name):
        return
    controls = {control.get("refId"): control for control in children(presentation)
                if control.get("refId") is not None}
    for control_id in controls:
        problems.expect(control_id in ids, "policy %s: control %s presents no element"
                        % (name, control_id))
    for element in element_list:
        kind, element_id = local(element), element.get("id")
        control = controls.get(element_id)
        if not problems.expect(control is not None and local(control) in CONTROLS.get(kind, ()),
                               "policy %s: %s element %s has a %s" % (
                                   name, kind, element_id,
                                   " or ".join(sorted(CONTROLS.get(kind, {"control"}))))):
            continue
        if kind == "decimal":
            check_decimal(name, element, control, problems)
        if kind == "text":
            check_text(name, element, control, problems)


def check_decimal(policy, element, control, problems):
    where = "policy %s: decimal %s" % (policy, element.get("id"))
    # Without them the range is 0 to 9999, which is not what anyone means here.
    explicit = problems.expect(element.get("minValue") is not None
                               and element.get("maxValue") is not None,
                               "%s states minValue and maxValue" % where)
    low, high = element.get("minValue", "0"), element.get("maxValue", "9999")
    if not problems.expect(low.isdigit() and high.isdigit() and int(low) <= int(high),
                           "%s: unsigned minValue %s up to maxValue %s" % (where, low, high)):
        return
    default = control.get("defaultValue", "1")
    problems.expect(explicit and default.isdigit() and int(low) <= int(default) <= int(high),
                    "%s: the default %s lies in %s to %s" % (where, default, low, high))


def check_text(policy, element, control, problems):
    where = "policy %s: text %s" % (policy, element.get("id"))
    problems.expect(child(control, "label") is not None, "%s: its textBox has a label" % where)
    limit = element.get("maxLength", "1023")
    default = child(control, "defaultValue")
    problems.expect(limit.isdigit() and (default is None or len(default.text or "") <= int(limit)),
                    "%s: the default fits maxLength %s" % (where, limit))


def check_schema(admx, schema_texts, schema_numbers, settings, problems):
    """The template writes the registry the code reads, all of it and nothing else."""
    def value_name(constant):
        return schema_texts.get(constant)

    timeouts, backup_names = settings
    problems.expect(timeouts, "the setting table lists time-outs")
    classified = set(ROOT_VALUES) | set(OPTIONS_VALUES) | NOT_POLICY_VALUES
    for constant, text in schema_texts.items():
        problems.expect(constant in classified,
                        "RegistrySchema.h has %s (%r), which this check does not place in a "
                        "key: add it here and to the template" % (constant, text))
    missing = [c for c in classified | {"kEnforcedBelow"}
               if c not in schema_texts and c not in schema_numbers]
    if not problems.expect(not missing, "RegistrySchema.h defines %s" % ", ".join(sorted(missing))):
        return 0

    root = schema_texts["kPolicyRoot"]
    expected = {root: {value_name(c): kind for c, kind in ROOT_VALUES.items()},
                root + schema_texts["kOptionsSubKey"]:
                    {value_name(c): kind for c, kind in OPTIONS_VALUES.items()},
                root + "\\" + schema_texts["kAcceptedScheme"]:
                    {name: "timeout" for name in timeouts}}
    written = set()
    writes = 0
    for policy in admx.iter("{%s}policy" % NS):
        for key, name, kind, element in registry_writes(policy, problems):
            writes += 1
            where = "policy %s writes %s\\%s" % (policy.get("name"), key, name)
            if not problems.expect(key in expected,
                                   "%s: the key is none of the group-policy branch that the "
                                   "update pass reads (%s)"
                                   % (where, ", ".join(sorted(expected)))):
                continue
            problems.expect(name not in backup_names,
                            "%s: a backup value is written by the pass, never by policy" % where)
            wanted = expected[key].get(name)
            if not problems.expect(wanted is not None,
                                   "%s: no such value in that key of the schema" % where):
                continue
            if kind == "delete":
                continue
            written.add((key, name))
            check_kind(where, wanted, kind, element, schema_texts, schema_numbers, name,
                       problems)
    for key, values in expected.items():
        for name in values:
            problems.expect((key, name) in written,
                            "no policy writes %s\\%s, a value of the schema" % (key, name))
    for policy in admx.iter("{%s}policy" % NS):
        if policy.get("valueName") == value_name("kControl"):
            disabled = child(policy, "disabledValue")
            problems.expect(disabled is not None and child(disabled, "delete") is not None,
                            "disabling policy %s removes the %s marker"
                            % (policy.get("name"), value_name("kControl")))
    return writes


def check_kind(where, wanted, kind, element, texts, numbers, name, problems):
    """A written value has the type the pass reads and a value the pass accepts."""
    if wanted == "string":
        if problems.expect(kind == "string", "%s: a REG_SZ string, found %s" % (where, kind)):
            accepted = {texts["kControl"]: texts["kVerified"],
                        texts["kSettingsScheme"]: texts["kAcceptedScheme"]}.get(name)
            problems.expect(accepted is None or element.text == accepted,
                            "%s: the text is %r, found %r" % (where, accepted, element.text))
    elif wanted == "path":
        problems.expect(kind == "expandable text",
                        "%s: an expandable text (REG_EXPAND_SZ), found %s" % (where, kind))
    elif problems.expect(kind == "decimal", "%s: a REG_DWORD number, found %s" % (where, kind)):
        if name == texts["kMajorVersion"]:
            problems.expect(element.get("value") == str(MAJOR_VERSION),
                            "%s: layout version %d" % (where, MAJOR_VERSION))
        if wanted == "timeout":
            top = numbers["kEnforcedBelow"] - 1
            problems.expect((element.get("minValue"), element.get("maxValue")) == ("0", str(top)),
                            "%s: minutes 0 to %d, the range the pass enforces" % (where, top))


def main(argv):
    if len(argv) != 5:
        print(__doc__.strip().splitlines()[-3], file=sys.stderr)
        return 2
    problems = Problems()
    try:
        admx = etree.parse(argv[1]).getroot()
        adml = etree.parse(argv[2]).getroot()
        schema_texts, schema_numbers = read_schema(argv[3])
        settings = read_settings(argv[4])
    except (OSError, subprocess.CalledProcessError, ValueError, etree.XMLSyntaxError) as error:
        print("FAIL: %s" % error)
        return 1
    check_known_structure(admx, problems)
    check_known_structure(adml, problems)
    check_roots(admx, adml, problems)
    tables = resource_tables(adml, problems)
    check_references(admx, tables, problems)
    check_definitions(admx, problems)
    policies = list(admx.iter("{%s}policy" % NS))
    for policy in policies:
        check_policy(policy, tables, problems)
    writes = check_schema(admx, schema_texts, schema_numbers, settings, problems)
    for problem in problems.found:
        print("FAIL: %s" % problem)
    print("%d policies, %d registry values, %d strings, %d presentations: %d problems"
          % (len(policies), writes, len(tables["string"]), len(tables["presentation"]),
             len(problems.found)))
    return 1 if problems.found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
