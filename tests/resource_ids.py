#!/usr/bin/env python3
"""The program's command, message and timer ids as src/resources/resource.h defines them, so
that the tests post what the program takes instead of copies of it.
    tests/resource_ids.py NAME...    prints the values, on one line, in the order asked"""
import os
import re
import sys

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources", "resource.h")
NUMBER = r"\s*(0x[0-9A-Fa-f]+|\d+)\s*"


def read(path=HEADER):
    """{name: value} of every #define whose value is a number or a sum of two, in parentheses or not."""
    with open(path, encoding="utf-8") as f:
        defines = re.findall(r"^#define\s+(\w+)\s+([^/\n]*)", f.read(), re.M)
    sums = ((name, re.fullmatch(r"\(?%s(?:\+%s)?\)?" % (NUMBER, NUMBER), value.strip())) for name, value in defines)
    return {name: sum(int(n, 0) for n in m.groups() if n) for name, m in sums if m}


if __name__ == "__main__":
    ids = read()
    print(*(ids[name] for name in sys.argv[1:]))
