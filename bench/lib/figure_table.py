#!/usr/bin/env python3
"""Reads benchmark output on standard input and prints every FIGURE line as one table.

A FIGURE line reads "FIGURE path | ours X | peer Y | ratio R | target T" (see figures.sh). The
verdict compares the ratio with the target, or the first number of "ours" when there is no ratio.
Exits 1 when a figure misses its target, so that `make bench` says so.
"""
import re
import sys

FIELDS = ("ours", "peer", "ratio", "target")


def parse(line):
    parts = [p.strip() for p in line[len("FIGURE "):].split("|")]
    row = {"path": parts[0]}
    for part in parts[1:]:
        key, _, value = part.partition(" ")
        if key in FIELDS:
            row[key] = value.strip() or "-"
    return row


def first_number(text):
    match = re.search(r"-?\d+(?:\.\d+)?", text or "")
    return float(match.group()) if match else None


def verdict(row):
    target = row.get("target", "-")
    match = re.match(r"\s*(<=|>=)\s*(-?\d+(?:\.\d+)?)", target)
    if not match:
        return ""
    measured = first_number(row.get("ratio")) if row.get("ratio", "-") != "-" else None
    if measured is None:
        measured = first_number(row.get("ours"))
    if measured is None:
        return "?"
    bound = float(match.group(2))
    return "met" if (measured <= bound if match.group(1) == "<=" else measured >= bound) else "MISSED"


def main():
    rows = [parse(line.rstrip("\n")) for line in sys.stdin if line.startswith("FIGURE ")]
    if not rows:
        print("no figures")
        return 0
    header = ("path", "ours", "peer", "ratio", "target", "")
    table = [header] + [(r["path"], r.get("ours", "-"), r.get("peer", "-"), r.get("ratio", "-"),
                         r.get("target", "-"), verdict(r)) for r in rows]
    widths = [max(len(row[i]) for row in table) for i in range(len(header))]
    for n, row in enumerate(table):
        print("| " + " | ".join(cell.ljust(widths[i]) for i, cell in enumerate(row)) + " |")
        if n == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return 1 if any(row[5] == "MISSED" for row in table[1:]) else 0


if __name__ == "__main__":
    sys.exit(main())
