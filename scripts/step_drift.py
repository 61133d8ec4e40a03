#!/usr/bin/env python3
"""Where the machine ends compared with where the displays say, from a dry run's reports.

Reads the JSON lines of `quorvane-plan --json` (standard input, or the file given), adds up the
signed step counts every report sends, and compares each axis with pulses per mm x the final
shown position, rounded toward zero: the step position the machine must be at. Every figure
is worked out in exact decimals, never in floating point.

    build/tools/quorvane-plan --json FILE.nc | python3 scripts/step_drift.py
    python3 scripts/step_drift.py --pulses 3200 --inverse Z run.jsonl

The same check reads a record of what a board received (`quorvane-virtual --record`, one
report per line) with --record and the display texts given by --final X Y Z.

Exit status: 0 when every axis ends exactly where its display says, 1 when one does not,
2 on a usage error.
"""

import argparse
import json
import sys
from decimal import Decimal, InvalidOperation


def leading_decimal(text):
    """The leading number of a settings text, as the program reads it (0 when none)."""
    text = text.lstrip(" \t")
    end = 0
    seen_digit = False
    if end < len(text) and text[end] in "+-":
        end += 1
    while end < len(text) and text[end].isdigit():
        end += 1
        seen_digit = True
    if end < len(text) and text[end] == ".":
        end += 1
        while end < len(text) and text[end].isdigit():
            end += 1
            seen_digit = True
    if not seen_digit:
        return Decimal(0)
    mantissa_end = end
    if end < len(text) and text[end] in "eE":
        e = end + 1
        if e < len(text) and text[e] in "+-":
            e += 1
        if e < len(text) and text[e].isdigit():
            while e < len(text) and text[e].isdigit():
                e += 1
            end = e
    try:
        return Decimal(text[:end])
    except InvalidOperation:
        return Decimal(text[:mantissa_end])


def signed_counts(report, inverse):
    """The steps of one report (bytes 0..11) per axis, with the sign of the way it moves."""
    flags = report[1]
    counts = [
        (report[2] << 16) | (report[3] << 8) | report[4],
        (report[5] << 16) | (report[6] << 8) | report[7],
        (report[8] << 8) | report[9],
    ]
    signed = []
    for axis in range(3):
        bit = (flags >> axis) & 1
        if inverse[axis]:
            bit ^= 1
        # X and Y move positive with the bit set, Z with it clear.
        positive = bit == 1 if axis < 2 else bit == 0
        signed.append(counts[axis] if positive else -counts[axis])
    return signed


def step_position(pulses, shown):
    """Pulses per mm x the shown position, rounded toward zero."""
    product = pulses * Decimal(shown)
    return int(product)  # int() of a Decimal rounds toward zero


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("file", nargs="?", help="JSON lines (default: standard input)")
    parser.add_argument("--pulses", default="533.33", help='pulses per mm text (default "533.33")')
    parser.add_argument("--inverse", default="", help="inverted axes, e.g. XZ")
    parser.add_argument("--record", action="store_true",
                        help="the input is a board's record: one report per line")
    parser.add_argument("--final", nargs=3, metavar=("X", "Y", "Z"),
                        help="the final display texts (with --record)")
    args = parser.parse_args()
    if args.record and not args.final:
        parser.error("--record needs --final X Y Z")

    pulses = abs(leading_decimal(args.pulses))
    inverse = [axis in args.inverse.upper() for axis in "XYZ"]
    sums = [0, 0, 0]
    final = args.final or ["0000.000"] * 3
    reports = 0
    largest = [0, 0, 0]  # the largest drift after any row, per axis
    source = open(args.file, encoding="utf-8") if args.file else sys.stdin
    with source:
        for line in source:
            line = line.strip()
            if not line:
                continue
            item = json.loads(line)
            if args.record:
                rows = [item]
            elif "reports" in item:
                rows = item["reports"]
                final = item["position"]
            else:
                continue
            for report in rows:
                reports += 1
                for axis, count in enumerate(signed_counts(report, inverse)):
                    sums[axis] += count
            if not args.record:
                for axis in range(3):
                    drift = sums[axis] - step_position(pulses, final[axis])
                    if abs(drift) > abs(largest[axis]):
                        largest[axis] = drift

    worst = 0
    print(f"{reports} reports at {args.pulses} pulses per mm")
    for axis, name in enumerate("XYZ"):
        expected = step_position(pulses, final[axis])
        drift = sums[axis] - expected
        worst = max(worst, abs(drift))
        mm = Decimal(drift) / pulses if pulses else Decimal(0)
        line = (f"{name}: display {final[axis]}, sent {sums[axis]} steps, "
                f"display x pulses {expected}: drift {drift} steps ({mm:.4f} mm)")
        if not args.record:
            most = Decimal(largest[axis]) / pulses if pulses else Decimal(0)
            line += f", largest after any row {largest[axis]} steps ({most:.4f} mm)"
            worst = max(worst, abs(largest[axis]))
        print(line)
    return 0 if worst == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
