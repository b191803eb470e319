#!/usr/bin/env python3
"""Keeps the administrator's guide honest about the texts the programs write: the log lines
(ERROR: ..., INFO: ...), the debug texts and the setup commands' failure texts.

1. Every such text the guide quotes can be made by the code: each quote is cut at its
   placeholders (NAME, PATH, KEY, REASON, SETTER, TYPE, N, M and "...", the parts the code
   fills in), and each remaining piece must be a run of whole string literals of the system's
   sources, of numbers, and of Windows paths (the parts the code fills in, shown filled in).
   A quote is a `code span`, a "double-quoted text" or a line of an indented code block that
   starts with "ERROR: " or "INFO: ", or whose first word is the first word of a text of the
   code (2.), so that a text of the code changed anywhere but at its start is caught here.
2. Every text of the code appears in the guide: each string literal of the system's sources
   that is readable text (a blank and three letters at least) is part of some quote, except
   the literals of the files and the texts listed in EXCEPTIONS, each with its reason.

Usage: check-guide.py ADMIN.md SOURCE_ROOT
       check-guide.py --self-test SOURCE_ROOT
Prints every problem found; exits 1 when there is any.
"""

import os
import re
import sys

SYSTEM_FOLDERS = ["support", "pwrlib", "policy", "service", "logontool"]

# Files whose texts are not log lines or debug texts, and are held to their docs elsewhere.
EXCEPTED_FILES = {
    "policy/StatusReport.cpp": "the report of Hollin /Status, its words held by StatusTest",
    "policy/PassEvents.cpp": "the events' insertion strings, held by event_messages",
    "policy/LogonPass.cpp": "the program's name in the events",
}

# Texts of the code that are neither log lines nor debug texts.
EXCEPTIONS = {
    "OpenKey failed": "RegKey's failure texts: recorded in the key, never written anywhere",
    "CreateKey Failed": "RegKey's failure texts",
    "SetValue (str) failed": "RegKey's failure texts",
    "SetValue (dw) failed": "RegKey's failure texts",
    "GetStrValue failed": "RegKey's failure texts",
    "GetDwordValue failed": "RegKey's failure texts",
    "CloseKey failed": "RegKey's failure texts",
    "Control Panel\\PowerCfg\\PowerPolicies\\": "a registry path",
    "the policy enforces eight time-outs": "a message of the compiler's checks",
    "no row of the setting table holds this time-out": "a message of the compiler's checks",
    "PwrMgmt::PwrMgmt() failed. Unable to Get System Power Capabilities":
        "recorded in the power library; only the exerciser shows it",
    "System is not capable of Power Suspend in Sleep State S3.":
        "the machine standby setter's refusal, which only the exerciser calls",
    "PwrScheme::SetMachAcStandbyTimeOut(): ": "the machine standby setter, only the exerciser's",
}

PLACEHOLDER = re.compile(r"\b(?:NAME|PATH|KEY|REASON|SETTER|TYPE|N|M)\b|\.\.\.|\u2026")
# Parts the code fills in, shown filled in: a number, a Windows path.
FILLED_IN = [re.compile(r"[0-9]+"), re.compile(r"(?:[A-Za-z]:\\|\\\\)[^ ]*")]
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", "\\": "\\", '"': '"', "'": "'", "?": "?"}


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            c = text[i + 1]
            if c == "x":
                m = re.match(r"[0-9A-Fa-f]+", text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append(ESCAPES.get(c, c))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def without_comments(source):
    """The source with its comments blanked, string literals kept (a // inside one stays)."""
    out, i, n = [], 0, len(source)
    while i < n:
        if source.startswith("//", i):
            while i < n and source[i] != "\n":
                i += 1
        elif source.startswith("/*", i):
            end = source.find("*/", i + 2)
            i = n if end < 0 else end + 2
        elif source[i] == '"':
            m = LITERAL.match(source, i)
            if m is None:
                out.append(source[i])
                i += 1
            else:
                out.append(m.group(0))
                i = m.end()
        elif source[i] == "'":
            m = re.compile(r"'(?:[^'\\\n]|\\.)*'").match(source, i)
            end = m.end() if m else i + 1
            out.append(source[i:end])
            i = end
        else:
            out.append(source[i])
            i += 1
    return "".join(out)


def source_literals(text):
    """The string literals of C++ source text, adjacent ones joined as the compiler joins them;
    #include lines left out."""
    text = "\n".join(l for l in without_comments(text).splitlines()
                     if not l.lstrip().startswith("#include"))
    literals, joined, last_end = [], None, None
    for m in LITERAL.finditer(text):
        value = unescape(m.group(1))
        if joined is not None and text[last_end:m.start()].strip() == "":
            joined += value
            literals[-1] = joined
        else:
            joined = value
            literals.append(value)
        last_end = m.end()
    return literals


def code_literals(root):
    """{file relative to root: [literals]} of the system's sources."""
    found = {}
    for folder in SYSTEM_FOLDERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if name.endswith((".cpp", ".h")):
                    path = os.path.join(dirpath, name)
                    relative = os.path.relpath(path, root).replace(os.sep, "/")
                    found[relative] = source_literals(open(path, encoding="utf-8").read())
    return found


def is_text(literal):
    return " " in literal and sum(c.isalpha() for c in literal) >= 3


def code_texts(literals_by_file):
    """The readable texts of the code that are log lines, debug texts or parts of them."""
    texts = set()
    for path, literals in literals_by_file.items():
        if path in EXCEPTED_FILES:
            continue
        texts.update(l for l in literals if is_text(l) and l not in EXCEPTIONS)
    return texts


def guide_spans(guide):
    """Every `code span`, "double-quoted text" and indented code line of the guide."""
    spans = []
    in_fence = False
    for line in guide.splitlines():
        if line.startswith("```"):
            in_fence = not in_fence
            continue
        if in_fence:
            continue
        if line.startswith("    ") and not line.lstrip().startswith(("-", "|")):
            spans.append(line[4:])  # a trailing blank is part of some texts
            continue
        spans.extend(re.findall(r"`([^`]+)`", line))
        spans.extend(re.findall(r'"([^"`]+)"', re.sub(r"`[^`]*`", "", line)))
    return spans


def first_word(text):
    words = text.split()
    return words[0] if words else ""


def quotes(spans, texts):
    """The spans that quote a text of the system."""
    leads = {first_word(t) for t in texts if t and not t[0].isspace()}
    chosen = []
    for span in spans:
        if span.startswith(("ERROR: ", "INFO: ")) or (
                len(span.split()) >= 2 and first_word(span) in leads):
            chosen.append(span)
    return chosen


def can_build(piece, literals, after_placeholder=False, before_placeholder=False):
    """Whether piece is a run of whole literals, numbers and paths. Next to a placeholder, which
    may stand for the rest of a literal, the piece may begin with a literal's end or end with a
    literal's beginning."""
    reachable = [False] * (len(piece) + 1)
    reachable[0] = True
    if after_placeholder:
        for literal in literals:
            for k in range(1, len(literal)):
                if piece.startswith(literal[k:]):
                    reachable[len(literal) - k] = True
    for i in range(len(piece)):
        if not reachable[i]:
            continue
        for literal in literals:
            if piece.startswith(literal, i):
                reachable[i + len(literal)] = True
            elif before_placeholder and literal.startswith(piece[i:]):
                reachable[len(piece)] = True
        for pattern in FILLED_IN:
            m = pattern.match(piece, i)
            if m and m.end() > i:
                for end in range(i + 1, m.end() + 1):
                    reachable[end] = True
    return reachable[len(piece)]


def check(guide, literals_by_file):
    problems = []
    pieces = set()
    for literals in literals_by_file.values():
        # A single letter or digit would make any word; a single mark joins texts, as " (" does.
        pieces.update(l for l in literals if l and (len(l) > 1 or not l.isalnum()))
    pieces = sorted(pieces, key=len, reverse=True)
    texts = code_texts(literals_by_file)
    spans = guide_spans(guide)

    for quote in quotes(spans, texts):
        parts = PLACEHOLDER.split(quote)
        for i, piece in enumerate(parts):
            if piece and not can_build(piece, pieces, i > 0, i < len(parts) - 1):
                problems.append("the guide quotes a text the code never writes: %r (no text of "
                                "the code makes %r)" % (quote, piece))
                break
    for text in sorted(texts):
        if not any(text in span for span in spans):
            problems.append("a text of the code is missing from the guide: %r" % text)
    return problems


def self_test(root):
    """The check catches a quote the code cannot make and a text the guide leaves out."""
    literals = {"policy/Pass.cpp": ["ERROR: ", "Major version too high", "Policy value ",
                                    " is not a REG_DWORD; ignored", "Reached end of PM Update"]}
    honest = ("Lines: `ERROR: Major version too high`, `ERROR: Policy value NAME is not a "
              "REG_DWORD; ignored`; the debug text `Reached end of PM Update`.\n")
    failures = []
    if check(honest, literals):
        failures.append("an honest guide was refused: %s" % check(honest, literals))
    cases = [
        ("a changed word", honest.replace("too high", "is too high"), "is too high"),
        ("a changed debug text", honest.replace("Reached end", "Reached the end"),
         "Reached the end"),
        ("a quote in a code block", honest + "\n    ERROR: Major version too low\n", "too low"),
        ("a text left out", honest.replace("`ERROR: Major version too high`, ", ""),
         "'Major version too high'"),
    ]
    for what, guide, named in cases:
        found = check(guide, literals)
        if not any(named in problem for problem in found):
            failures.append("%s was not caught: %s" % (what, found))
    # The real sources: a quote with a word changed is caught there too.
    real = code_literals(root)
    wrong = "`ERROR: Commiting of Power Scheme() Succeeded`"
    if not any("Succeeded" in p for p in check(wrong, real)):
        failures.append("a misspelt quote of the real code was not caught")
    return failures


def main(argv):
    if len(argv) == 3 and argv[1] == "--self-test":
        problems = self_test(argv[2])
    elif len(argv) == 3:
        problems = check(open(argv[1], encoding="utf-8").read(), code_literals(argv[2]))
    else:
        print(__doc__)
        return 2
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
