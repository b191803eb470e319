"""What the fixture generators share: the quoting of a .reg file, and writing the fixture or
checking that it is current."""
import sys
from pathlib import Path


def quoted(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write_or_check(argv, text, fixture, usage):
    """[OUTPUT] writes text to OUTPUT (default: fixture); --check FILE answers 1 unless FILE
    holds it already. The exit status."""
    data = text.encode("ascii")
    if len(argv) == 3 and argv[1] == "--check":
        if Path(argv[2]).read_bytes() != data:
            print("%s is out of date: run %s" % (argv[2], argv[0]), file=sys.stderr)
            return 1
        return 0
    if len(argv) > 2:
        print(usage, file=sys.stderr)
        return 2
    Path(argv[1] if len(argv) == 2 else fixture).write_bytes(data)
    return 0
