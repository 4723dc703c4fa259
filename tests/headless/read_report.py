#!/usr/bin/env python3
"""Reads a report's folder as a script would: report.json with the json module, summary.csv with
the csv module. Prints one line per figure, "id<TAB>value<TAB>verdict" (value and verdict empty
when absent), or with --steps one per step, "name<TAB>done|failed<TAB>note", or with --header the card's
"rate_hz<TAB>sample_format<TAB>format"; exits 1 naming any
figure on which the two files disagree."""
import csv
import json
import math
import sys


def main():
    folder = sys.argv[-1]
    with open(f"{folder}/report.json", encoding="utf-8") as f:
        report = json.load(f)
    if sys.argv[1] == "--header":
        print(f"{report['rate_hz']}\t{report['sample_format']}\t{report['format']}")
        return 0
    if sys.argv[1] == "--steps":
        for step in report["steps"]:
            state = "failed" if step["failed"] else "done"
            print(f"{step['name']}\t{state}\t{step['note']}")
        return 0
    with open(f"{folder}/summary.csv", encoding="utf-8", newline="") as f:
        rows = {row["id"]: row for row in csv.DictReader(f)}
    faults = []
    for figure in report["figures"]:
        ident, value = figure["id"], figure["value"]
        row = rows.pop(ident, None)
        if row is None:
            faults.append(f"{ident}: not in summary.csv")
            continue
        if (value is None) != (row["value"] == "") or (
            value is not None and not math.isclose(value, float(row["value"]), rel_tol=1e-5)
        ):
            faults.append(f"{ident}: {value} in report.json, {row['value']!r} in summary.csv")
        verdict = "" if "pass" not in figure else ("pass" if figure["pass"] else "fail")
        if verdict != row["verdict"]:
            faults.append(f"{ident}: verdict {verdict!r} against {row['verdict']!r}")
        print(f"{ident}\t{'' if value is None else repr(value)}\t{verdict}")
    faults += [f"{ident}: only in summary.csv" for ident in rows]
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
