#!/usr/bin/env python3
"""Compares a driver log with its expected form; prints a diff and exits 1 when they differ.

    compare_log.py EXPECTED ACTUAL

Expected lines match exactly, except a line that starts with "~ ", whose rest is a regular
expression the whole actual line must match (for texts the component words its own way).
"""

import difflib
import re
import sys


def matches(expected, actual):
    if expected.startswith("~ "):
        return re.fullmatch(expected[2:], actual) is not None
    return expected == actual


def main(expected_path, actual_path):
    with open(expected_path, encoding="utf-8") as f:
        expected = f.read().splitlines()
    try:
        with open(actual_path, encoding="utf-8") as f:
            actual = f.read().splitlines()
    except FileNotFoundError:
        actual = []
    if len(expected) == len(actual) and all(map(matches, expected, actual)):
        return 0
    # Matched lines show as equal, so the diff points at the real differences.
    shown = [a if i < len(actual) and matches(e, a) else e
             for i, (e, a) in enumerate(zip(expected, actual + [""] * len(expected)))]
    sys.stdout.writelines(difflib.unified_diff(
        [line + "\n" for line in shown], [line + "\n" for line in actual],
        "expected", "actual"))
    return 1


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: compare_log.py EXPECTED ACTUAL")
    sys.exit(main(sys.argv[1], sys.argv[2]))
