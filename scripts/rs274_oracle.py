#!/usr/bin/env python3
"""The G-code reader against LinuxCNC's standalone interpreter rs274, move by move.

    python3 scripts/rs274_oracle.py [--seed N] [--cases N] [FILE...]

Every program (seeded random programs written here, and each FILE given) goes through both:

  * `rs274 -g COPY </dev/null`, COPY being the program with N words naming each line's file
    line, after a first line "G0 G98": the reader starts with G0 as the motion mode (an axis
    word before any motion code is a rapid) and with G98 (a cycle retracts to the clear height),
    where rs274 refuses such a line and retracts to R. --no-preamble leaves the line out.
    rs274 prints positions in program coordinates in the units last announced; they are turned
    into millimetres of the load frame here (the G92 offsets added, inches converted). A feed is
    converted with the units in force when rs274 prints it, and then kept: a later G20 or G21
    does not change it, as the machine controller behind rs274 keeps it.
  * `quorvane-plan --json --config CFG FILE` for each pulses per mm of --pulses; the path its
    reports trace is rebuilt from the signed step counts, from 0.

The moves are compared in order: rs274's STRAIGHT_TRAVERSE, STRAIGHT_FEED and ARC_FEED with
the dry run's rows (a drilling cycle is several rows of its line, and several STRAIGHT_* of
rs274). For each pair: the same kind (G0, G1, G2, G3), the same file line, the same feed in
mm/min (not for rapids: G0 runs at the Travelling speed), the end point within one step plus
0.001 mm on each axis, and for an arc every vertex the reports reach within --arc-tolerance plus
0.001 mm of rs274's arc (a spiral when its radii differ; one step per axis allowed as well),
and so must the middle of every chord between them.
rs274 prints 4 decimals: half a unit of the last decimal (0.00127 mm in inches) is allowed on
top. rs274 also prints moves that go nowhere (G1 F100 alone, the rapid to a hole the drill
stands over); one of those with no row of its own is passed over and counted, as is a row of
the dry run that goes nowhere.

An F on the line that switches G20/G21 is taken by rs274 in the units before the switch (F runs
before G20 and G21 in a line) and by the reader in the units the line is written in; such a feed
is counted apart, not as a mismatch. A G4 dwell must be skipped on its line by the dry run.

Exit status: 0 when nothing differs, 1 on a mismatch, 2 on a usage error.
"""

import argparse
import json
import math
import os
import random
import re
import subprocess
import sys
import tempfile

MM_PER_INCH = 25.4
PRINT_HALF = 5e-5  # half a unit of the 4th decimal rs274 prints
PECK_RETURN_MM = 0.254  # 0.010 in, in either units
DEFAULT_PLAN = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build",
                            "tools", "quorvane-plan")


# -- rs274 ---------------------------------------------------------------------------------------

CALL = re.compile(r"^\s*\d+ N(\S*)\s+(\w+)\((.*)\)\s*$")
N_WORD = re.compile(r"^(\s*/?\s*)[nN]\s*\d+")


def numbered_copy(text, preamble):
    """The program with N<file line> on each line that holds a block, for rs274's output to
    name the line of each call; the preamble after a leading % line (or first)."""
    out = []
    lines = text.split("\n")
    preamble_done = not preamble
    for number, line in enumerate(lines, start=1):
        body = line.strip()
        if not preamble_done and body and not body.startswith("%"):
            out.append(preamble)
            preamble_done = True
        if not body or body.startswith("%"):
            out.append(line)
            continue
        m = N_WORD.match(line)
        if m:
            out.append(m.group(1) + "N%d" % number + line[m.end():])
        elif body.startswith("/"):
            at = line.index("/")
            out.append(line[: at + 1] + "N%d " % number + line[at + 1:])
        else:
            out.append("N%d " % number + line)
    return "\n".join(out)


class Rs274Move:
    def __init__(self, kind, line, start, end, feed, alt_feed, slack):
        self.kind = kind  # "G00", "G01", "G02", "G03"
        self.line = line  # file line, or None
        self.start = start
        self.end = end
        self.feed = feed  # mm/min as rs274 means it
        self.alt_feed = alt_feed  # the line's own units, when F shares its line with G20/G21
        self.slack = slack  # what rs274's 4 decimals may hide, mm per axis
        self.arc = None

    def zero(self):
        return self.arc is None and all(
            abs(a - b) <= 2 * self.slack + 1e-9 for a, b in zip(self.start, self.end))

    def describe(self):
        text = "%s line %s to (%s)" % (self.kind, self.line,
                                       ", ".join("%.4f" % v for v in self.end))
        if self.kind != "G00":
            text += " F%.4f" % self.feed
        return text


# A plane's (u, v) and the axis across it, as indices of X, Y, Z; the order ARC_FEED prints.
PLANE_AXES = {"XY": (0, 1, 2), "XZ": (2, 0, 1), "YZ": (1, 2, 0)}


def feeds_on_units_lines(text):
    """{file line: F} for the lines that hold an F word and G20 or G21."""
    found = {}
    for number, line in enumerate(text.split("\n"), start=1):
        body = re.sub(r"\s+", "", re.sub(r"\([^)]*\)", "", line).split(";")[0]).upper()
        if re.search(r"G0*2[01](?![\d.])", body):
            m = re.search(r"F([-+]?(?:\d+\.?\d*|\.\d+))", body)
            if m:
                found[number] = float(m.group(1))
    return found


def run_rs274(program_text, preamble):
    """rs274's moves in the load frame (mm), its DWELL lines, and its error (None when none)."""
    units_line_feeds = feeds_on_units_lines(program_text)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "p.ngc")
        with open(path, "w", encoding="latin-1") as f:
            f.write(numbered_copy(program_text, preamble))
        # rs274 keeps its tool table in $HOME/.tool.mmap, truncated at every start: a HOME of
        # its own keeps runs side by side from pulling the file from under each other (SIGBUS).
        env = dict(os.environ, HOME=folder)
        done = subprocess.run(["rs274", "-g", path], stdin=subprocess.DEVNULL, env=env,
                              capture_output=True, text=True, timeout=120, cwd=folder)
    scale = 1.0
    offset = [0.0, 0.0, 0.0]
    offset_slack = 0.0
    feed = 0.0
    alt_feed = None
    plane = "XY"
    at = [0.0, 0.0, 0.0]
    at_slack = 0.0  # what the print of the last end point may hide
    moves = []
    dwells = []
    for raw in done.stdout.splitlines():
        m = CALL.match(raw)
        if not m:
            continue
        n, name, args = m.group(1), m.group(2), m.group(3)
        line = int(n) if n.isdigit() else None
        if name == "USE_LENGTH_UNITS":
            new = MM_PER_INCH if "INCHES" in args else 1.0
            if line in units_line_feeds and new != scale:
                alt_feed = units_line_feeds[line] * new
            scale = new
            continue
        if name == "SELECT_PLANE":
            plane = args.replace("CANON_PLANE_", "").strip()
            continue
        if name not in ("SET_FEED_RATE", "SET_G92_OFFSET", "DWELL", "STRAIGHT_TRAVERSE",
                        "STRAIGHT_FEED", "ARC_FEED"):
            continue
        values = [float(v) for v in args.split(",")]
        if name == "SET_FEED_RATE":
            if values[0] != 0:
                feed, alt_feed = values[0] * scale, None
            continue
        if name == "SET_G92_OFFSET":
            offset = [v * scale for v in values[:3]]
            offset_slack = PRINT_HALF * scale if any(values[:3]) else 0.0
            continue
        if name == "DWELL":
            dwells.append((line, values[0]))
            continue
        slack = max(PRINT_HALF * scale + offset_slack, at_slack)
        if name in ("STRAIGHT_TRAVERSE", "STRAIGHT_FEED"):
            end = [values[i] * scale + offset[i] for i in range(3)]
            kind = "G00" if name == "STRAIGHT_TRAVERSE" else "G01"
            moves.append(Rs274Move(kind, line, at, end, feed, alt_feed, slack))
            at, at_slack = end, PRINT_HALF * scale + offset_slack
        elif name == "ARC_FEED":
            u, v, w = PLANE_AXES[plane]
            end = [0.0, 0.0, 0.0]
            end[u] = values[0] * scale + offset[u]
            end[v] = values[1] * scale + offset[v]
            end[w] = values[5] * scale + offset[w]
            centre = (values[2] * scale + offset[u], values[3] * scale + offset[v])
            turns = int(values[4])
            move = Rs274Move("G03" if turns > 0 else "G02", line, at, end, feed, alt_feed, slack)
            move.arc = ArcPath(plane, at, end, centre, turns, slack)
            moves.append(move)
            at, at_slack = end, PRINT_HALF * scale + offset_slack
    moves, summed = drop_summed_pecks(moves)
    error = None
    if done.returncode != 0:
        text = [l for l in done.stderr.splitlines() if l.strip() and l.strip() != "executing"]
        error = text[0] if text else "exit status %d" % done.returncode
        block = text[1] if len(text) > 1 else ""
        m = re.match(r"\s*/?\s*N(\d+)", block)
        error = (int(m.group(1)) if m else None, error + (" [" + block + "]" if block else ""))
    return moves, dwells, error, summed


def drop_summed_pecks(moves):
    """rs274 sums Q (depth -= Q), so where Q divides the depth a peck lands a rounding short of
    the bottom and one more peck of nothing follows: the feed, its return and the feed to the
    bottom again (the two feeds print the same depth). The moves without those, and how many
    were dropped."""
    kept = []
    dropped = 0
    i = 0
    while i < len(moves):
        move = moves[i]
        kept.append(move)
        i += 1
        if move.kind != "G01":
            continue
        j = i
        while j < len(moves) and moves[j].kind == "G00" and moves[j].line == move.line and \
                moves[j].end[:2] == move.end[:2]:
            j += 1
        close = 2 * move.slack + 1e-9
        # The return of a peck: G73 backs off 0.254 mm, G83 goes to R and back to 0.254 mm above.
        if 1 <= j - i <= 2 and j < len(moves) and moves[j].kind == "G01" \
                and moves[j].line == move.line and moves[j].end[:2] == move.end[:2] \
                and abs(moves[j - 1].end[2] - move.end[2] - PECK_RETURN_MM) <= close \
                and abs(moves[j].end[2] - move.end[2]) <= 1e-6:
            dropped += 1
            for later in moves[j + 1:j + 2]:
                later.start = move.end
            i = j + 1
    return kept, dropped


class ArcPath:
    """rs274's arc: from the start round the centre (G3 counter-clockwise as seen from the
    positive end of the axis across the plane), the radius and the third axis changing in
    proportion to the angle, `turns` full turns for |turns| > 1."""

    def __init__(self, plane, start, end, centre, turns, slack):
        self.axes = PLANE_AXES[plane]
        u, v, _ = self.axes
        self.start, self.end, self.centre = start, end, centre
        self.slack = slack
        self.r0 = math.hypot(start[u] - centre[0], start[v] - centre[1])
        self.r1 = math.hypot(end[u] - centre[0], end[v] - centre[1])
        self.a0 = math.atan2(start[v] - centre[1], start[u] - centre[0])
        a1 = math.atan2(end[v] - centre[1], end[u] - centre[0])
        same = math.hypot(end[u] - start[u], end[v] - start[v]) <= 2 * slack + 1e-9
        if turns > 0:
            size = 2 * math.pi if same else (a1 - self.a0) % (2 * math.pi)
            self.sweep = size + 2 * math.pi * (turns - 1)
        else:
            size = 2 * math.pi if same else (self.a0 - a1) % (2 * math.pi)
            self.sweep = -(size + 2 * math.pi * (-turns - 1))

    def point(self, t):
        u, v, w = self.axes
        angle = self.a0 + self.sweep * t
        radius = self.r0 + (self.r1 - self.r0) * t
        p = [0.0, 0.0, 0.0]
        p[u] = self.centre[0] + radius * math.cos(angle)
        p[v] = self.centre[1] + radius * math.sin(angle)
        p[w] = self.start[w] + (self.end[w] - self.start[w]) * t
        return p

    def distance(self, p, step):
        """How far p lies from the arc once each axis is allowed one step."""
        u, v, _ = self.axes
        angle = math.atan2(p[v] - self.centre[1], p[u] - self.centre[0])
        candidates = [0.0, 1.0]
        if self.sweep != 0:
            k_low = math.floor((self.a0 - angle) / (2 * math.pi)) - 1
            turns_spanned = int(abs(self.sweep) / (2 * math.pi)) + 3
            for k in range(k_low - turns_spanned, k_low + turns_spanned + 2):
                t = (angle + 2 * math.pi * k - self.a0) / self.sweep
                if -1e-9 <= t <= 1 + 1e-9:
                    candidates.append(min(1.0, max(0.0, t)))
        return min(self._distance_at(p, t, step) for t in candidates)

    def _distance_at(self, p, t, step):
        q = self.point(t)
        return math.sqrt(sum(max(0.0, abs(a - b) - step) ** 2 for a, b in zip(p, q)))

    def nearest(self, p, step, allowed):
        """distance(), and where it exceeds `allowed` the nearest point found by searching
        about each candidate: on a steep helix a point a hair off in the plane lies at another
        angle than the arc point closest to it."""
        d = self.distance(p, step)
        if d <= allowed or self.sweep == 0:
            return d
        u, v, _ = self.axes
        radius = max(self.r0, self.r1, 1e-3)
        width = min(1.0, 0.05 / (radius * abs(self.sweep)) + 0.01)
        angle = math.atan2(p[v] - self.centre[1], p[u] - self.centre[0])
        centres = [0.0, 1.0]
        for k in range(-int(abs(self.sweep) / (2 * math.pi)) - 3,
                       int(abs(self.sweep) / (2 * math.pi)) + 4):
            t = (angle + 2 * math.pi * k - self.a0) / self.sweep
            if -width <= t <= 1 + width:
                centres.append(t)
        # With coarse steps the allowance of a step per axis reaches far along the arc: search
        # all of it too, finely enough that no step-wide stretch falls between two samples.
        w = self.axes[2]
        length = (radius + 1.0) * abs(self.sweep) + abs(self.end[w] - self.start[w])
        samples = min(20000, max(200, int(8 * length / max(step, 1e-3))))
        best = min((i / samples for i in range(samples + 1)),
                   key=lambda t: self._distance_at(p, t, step))
        centres.append(best)
        for t0 in centres:
            low, high = max(0.0, t0 - width), min(1.0, t0 + width)
            for _ in range(4):
                ts = [low + (high - low) * i / 40 for i in range(41)]
                best_t = min(ts, key=lambda t: self._distance_at(p, t, step))
                span = (high - low) / 20
                low, high = max(0.0, best_t - span), min(1.0, best_t + span)
            d = min(d, self._distance_at(p, best_t, step))
        return d


# -- the dry run ---------------------------------------------------------------------------------

SETTINGS = ["{folder}", "0", "0", "0", "0", "0", "0", "0000.000", "0000.000", "0000.000",
            "{travel}", "{cut}", "800", "20", "{pulses}", "57150", "0"]


def settings_file(folder, pulses, travel, cut):
    path = os.path.join(folder, "quorvane-%s.cfg" % pulses)
    lines = [s.format(folder=folder, travel=travel, cut=cut, pulses=pulses) for s in SETTINGS]
    with open(path, "w", encoding="latin-1") as f:
        f.write("\r\n".join(lines) + "\r\n")
    return path


def signed_counts(report):
    flags = report[1]
    counts = [(report[2] << 16) | (report[3] << 8) | report[4],
              (report[5] << 16) | (report[6] << 8) | report[7],
              (report[8] << 8) | report[9]]
    signed = []
    for axis in range(3):
        bit = (flags >> axis) & 1
        positive = bit == 1 if axis < 2 else bit == 0  # Z moves up with its bit clear
        signed.append(counts[axis] if positive else -counts[axis])
    return signed


class PlanRow:
    def __init__(self, item, steps, pulses):
        self.line = item["line"]
        self.kind = item["cells"][0].strip()
        m = re.search(r"F\s*(-?[\d.]+)", item["cells"][4])
        self.feed = float(m.group(1)) if m else None
        self.start = [s / pulses for s in steps]
        self.vertices = []
        for report in item["reports"]:
            for axis, count in enumerate(signed_counts(report)):
                steps[axis] += count
            self.vertices.append([s / pulses for s in steps])
        self.end = [s / pulses for s in steps]

    def zero(self):
        return all(vertex == self.start for vertex in self.vertices)

    def describe(self):
        return "%s line %d to (%s) F%s" % (self.kind, self.line,
                                             ", ".join("%.4f" % v for v in self.end),
                                             "%.3f" % self.feed if self.feed is not None else "-")


def run_plan(plan, config, path, arc_tolerance, pulses):
    done = subprocess.run([plan, "--json", "--config", config, "--arc-tolerance",
                           str(arc_tolerance), path], capture_output=True, text=True,
                          encoding="latin-1", timeout=300)
    rows, skipped, error = [], {}, None
    steps = [0, 0, 0]
    dialect = None
    for raw in done.stdout.splitlines():
        item = json.loads(raw)
        if "dialect" in item:
            dialect = item["dialect"]
        elif "error" in item:
            error = (item.get("line"), item["error"])
        elif "skipped" in item:
            skipped[item["line"]] = item["skipped"]
        elif "cells" in item:
            rows.append(PlanRow(item, steps, float(pulses)))
    if done.returncode == 2:
        raise RuntimeError("%s: %s" % (plan, done.stderr.strip()))
    return rows, skipped, error, dialect


# -- the comparison ------------------------------------------------------------------------------

class Tally:
    def __init__(self):
        self.passed_zero_rs274 = 0
        self.passed_zero_rows = 0
        self.units_line_feeds = 0
        self.summed_pecks = 0
        self.refused_both = 0


def compare_pair(move, row, step, arc_tolerance, tally):
    """None when they agree, else why not."""
    if move.kind != row.kind:
        return "kind %s, dry run %s" % (move.kind, row.kind)
    if move.line is not None and move.line != row.line:
        return "file line %s, dry run %d" % (move.line, row.line)
    if move.kind != "G00":
        allowed = 0.0005 + move.slack + 1e-9 * move.feed
        if row.feed is None or abs(row.feed - move.feed) > allowed:
            if (move.alt_feed is not None and row.feed is not None
                    and abs(row.feed - move.alt_feed) <= allowed + 1e-9 * move.alt_feed):
                tally.units_line_feeds += 1
            else:
                return "feed %.4f mm/min, dry run %s" % (move.feed, row.feed)
    worst = max(abs(a - b) for a, b in zip(move.end, row.end))
    if worst > step + 0.001 + move.slack + 1e-9:
        return "end point off by %.4f mm" % worst
    if move.arc is not None:
        allowed = arc_tolerance + 0.001 + 4 * move.slack + 1e-9
        before = row.start
        for k, vertex in enumerate(row.vertices):
            # The vertex, and the middle of the chord to it: where a chord strays the most.
            middle = [(a + b) / 2 for a, b in zip(before, vertex)]
            for what, point in (("vertex", vertex), ("chord middle before vertex", middle)):
                d = move.arc.nearest(point, step, allowed)
                if d > allowed:
                    return "arc %s %d of %d (%s) lies %.4f mm from the arc" % (
                        what, k + 1, len(row.vertices), ", ".join("%.4f" % c for c in point), d)
            before = vertex
    return None


def compare(moves, rows, step, arc_tolerance, tally):
    """The first difference as (rs274 move, dry-run row, why), or None."""
    i = j = 0
    while i < len(moves) and j < len(rows):
        why = compare_pair(moves[i], rows[j], step, arc_tolerance, tally)
        if why is None:
            i += 1
            j += 1
        elif moves[i].zero():
            tally.passed_zero_rs274 += 1
            i += 1
        elif rows[j].zero():
            tally.passed_zero_rows += 1
            j += 1
        else:
            return moves[i], rows[j], why
    for move in moves[i:]:
        if not move.zero():
            return move, None, "rs274 moves on, the dry run has no more rows"
        tally.passed_zero_rs274 += 1
    for row in rows[j:]:
        if not row.zero():
            return None, row, "the dry run moves on, rs274 has no more moves"
        tally.passed_zero_rows += 1
    return None


def check_dwells(dwells, rows, skipped):
    """A G4 dwell is skipped on its line; a G82 dwell belongs to the cycle's rows."""
    cycle_lines = {row.line for row in rows}
    for line, seconds in dwells:
        if line is None or line in cycle_lines:
            continue
        if "G4" not in skipped.get(line, ""):
            return "DWELL(%.4f) of line %d is not a skipped G4 in the dry run" % (seconds, line)
    return None


# -- random programs -----------------------------------------------------------------------------

COMMENTS = ["(rough pass)", "(T1 D6 flat)", "( finish )", "(side 2: X+)", ";next op",
            "; spot drill", "(0.5 mm stock)"]


class Writer:
    """A random program. It follows where each line takes the machine (mm, load frame), the
    units, distance modes and offsets, so that every line it adds is one both interpreters run."""

    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        self.pos = [0.0, 0.0, 0.0]
        self.inches = False
        self.incremental = False
        self.absolute_centres = False
        self.offset = [0.0, 0.0, 0.0]
        self.saved = [0.0, 0.0, 0.0]
        self.plane = 17
        self.motion = None  # the modal motion code, None after G80 or at the start
        self.feed_given = False

    # -- text ----
    @property
    def scale(self):
        return MM_PER_INCH if self.inches else 1.0

    def decimals(self):
        return 4 if self.inches else self.rng.choice([3, 3, 4])

    def number(self, value, decimals):
        text = "%.*f" % (decimals, value)
        if float(text) == 0:
            text = "%.*f" % (decimals, 0.0)
        r = self.rng.random()
        if r < 0.4 and "." in text:
            text = text.rstrip("0")
            if text.endswith(".") and self.rng.random() < 0.5:
                text = text[:-1]
        if self.rng.random() < 0.2 and re.match(r"^-?0\.\d", text):
            text = text.replace("0.", ".", 1)
        if self.rng.random() < 0.05 and not text.startswith("-"):
            text = "+" + text
        return text

    def code(self, letter, value):
        whole, tenth = divmod(value, 10)
        text = "%d" % whole
        r = self.rng.random()
        if whole < 10 and r < 0.3:
            text = "0" + text
        elif whole < 10 and r < 0.35:
            text = "00" + text
        if tenth:
            text += ".%d" % tenth
        return self.letter(letter) + text

    def letter(self, letter):
        return letter.lower() if self.rng.random() < 0.15 else letter

    def word(self, letter, value, decimals):
        text = self.number(value, decimals)
        between = " " if self.rng.random() < 0.05 else ""
        return self.letter(letter) + between + text

    def emit(self, words):
        rng = self.rng
        joiner = "" if rng.random() < 0.2 else " "
        parts = list(words)
        if parts and rng.random() < 0.08:
            parts.insert(rng.randrange(len(parts) + 1), rng.choice(COMMENTS[:4]))
        text = joiner.join(parts)
        if rng.random() < 0.05:
            text += " " + rng.choice(COMMENTS[4:])
        if rng.random() < 0.03:
            text = "/" + text
        self.lines.append(text)

    # -- positions ----
    def axis_word(self, axis, target):
        """The word that takes `axis` to `target` (mm, load frame) and where it really goes."""
        d = self.decimals()
        if self.incremental:
            value = round((target - self.pos[axis]) / self.scale, d)
            return value, d, self.pos[axis] + value * self.scale
        value = round((target - self.offset[axis]) / self.scale, d)
        return value, d, value * self.scale + self.offset[axis]

    def random_target(self, axis):
        rng = self.rng
        here = self.pos[axis]
        if rng.random() < 0.5:
            return here + rng.uniform(-20, 20)
        return rng.uniform(-60, 60) if axis < 2 else rng.uniform(-20, 25)

    def motion_words(self, code, axes, extra=()):
        words = []
        if self.motion != code or self.rng.random() < 0.7:
            words.append(self.code("G", code * 10))
        self.motion = code
        words.extend(extra)
        target = list(self.pos)
        for axis in axes:
            value, d, real = self.axis_word(axis, self.random_target(axis))
            words.append(self.word("XYZ"[axis], value, d))
            target[axis] = real
        return words, target

    def feed_word(self, force=False):
        if force or not self.feed_given or self.rng.random() < 0.25:
            self.feed_given = True
            per_minute = self.rng.choice([60, 100, 250, 400, 800, 1200, 1500])
            per_minute *= self.rng.choice([1, 1, 0.5, 1.37])
            value = round(per_minute / self.scale, 1 if self.inches else 0)
            return [self.word("F", max(value, 1), 1 if self.inches else 0)]
        return []

    # -- blocks ----
    def straight(self):
        rng = self.rng
        code = rng.choice([0, 1, 1])
        axes = [a for a in range(3) if rng.random() < 0.5] or [rng.randrange(3)]
        # A G0 may set the feed of the moves after it; it runs at the Travelling speed itself.
        extra = self.feed_word() if code == 1 or rng.random() < 0.1 else []
        words, target = self.motion_words(code, axes, extra)
        self.emit(words)
        self.pos = target

    def arc(self):
        state = (self.plane, self.absolute_centres, self.feed_given, self.motion)
        if not self._arc():
            # Not written: the modes stay as they were.
            self.plane, self.absolute_centres, self.feed_given, self.motion = state

    def _arc(self):
        rng = self.rng
        words = []
        if rng.random() < 0.3:
            self.plane = rng.choice([17, 18, 19])
            words.append(self.code("G", self.plane * 10))
        if rng.random() < 0.15:
            self.absolute_centres = not self.absolute_centres
            words.append(self.code("G", 901 if self.absolute_centres else 911))
        u, v, w = {17: (0, 1, 2), 18: (2, 0, 1), 19: (1, 2, 0)}[self.plane]
        clockwise = rng.random() < 0.5
        by_radius = rng.random() < 0.35
        radius = rng.uniform(0.5, 25)
        start = self.pos
        start_angle = rng.uniform(-math.pi, math.pi)
        # A centre toward the middle of the table keeps the parts near the load position.
        if abs(start[u]) + abs(start[v]) > 60:
            start_angle = math.atan2(start[v], start[u]) + rng.uniform(-0.5, 0.5)
        cu = start[u] - radius * math.cos(start_angle)
        cv = start[v] - radius * math.sin(start_angle)
        full = not by_radius and rng.random() < 0.2
        if by_radius:
            size = rng.choice([rng.uniform(0.15, 2.9), rng.uniform(3.4, 6.1)])
        else:
            size = rng.uniform(0.1, 2 * math.pi - 0.1)
        end_angle = start_angle + (-size if clockwise else size)
        end_radius = radius + (rng.uniform(-0.002, 0.002) if not by_radius and rng.random() < 0.3
                               else 0.0)
        end = list(start)
        if not full:
            end[u] = cu + end_radius * math.cos(end_angle)
            end[v] = cv + end_radius * math.sin(end_angle)
        helix = rng.random() < 0.3
        if helix:
            end[w] = start[w] + rng.uniform(-5, 5)
        words.append(self.code("G", 20 if clockwise else 30))
        self.motion = 2 if clockwise else 3
        real = list(start)
        for axis in (u, v, w):
            moved = axis == w and helix or axis != w and not full
            if moved or (axis != w and rng.random() < 0.15):
                value, d, real[axis] = self.axis_word(axis, end[axis] if moved else start[axis])
                words.append(self.word("XYZ"[axis], value, d))
        if by_radius:
            value = round(radius / self.scale, self.decimals())
            words.append(self.word("R", -value if size > math.pi else value, 4))
        else:
            letters = {0: "I", 1: "J", 2: "K"}
            for axis, centre in ((u, cu), (v, cv)):
                if self.absolute_centres:
                    value = round((centre - self.offset[axis]) / self.scale, 4)
                else:
                    value = round((centre - start[axis]) / self.scale, 4)
                if value != 0 or self.absolute_centres or rng.random() < 0.5:
                    words.append(self.word(letters[axis], value, 4))
        if rng.random() < 0.15:
            words.append(self.letter("P") + str(rng.choice([1, 2, 3])))
        words.extend(self.feed_word(force=not self.feed_given))
        # Words rounded to their decimals can leave the end off the circle: keep the arcs both
        # interpreters accept (the reader allows 0.005 mm between the radii).
        if by_radius:
            chord = math.hypot(real[u] - start[u], real[v] - start[v])
            if chord >= 2 * radius - 0.01 or chord < 0.05:
                return False
        else:
            centre = self._centre_of(words, u, v, start)
            r0 = math.hypot(start[u] - centre[0], start[v] - centre[1])
            r1 = math.hypot(real[u] - centre[0], real[v] - centre[1])
            if abs(r1 - r0) > 0.0045 or r0 < 0.01:
                return False
            chord = math.hypot(real[u] - start[u], real[v] - start[v])
            if 1e-9 < chord < 0.05:
                return False  # a sliver either interpreter might take for a full circle
        self.emit(words)
        self.pos = real
        return True

    def _centre_of(self, words, u, v, start):
        found = {}
        for word in words:
            m = re.match(r"([IJKijk])\s*([-+.\d]+)$", word)
            if m:
                found["IJK".index(m.group(1).upper())] = float(m.group(2))
        centre = []
        for axis in (u, v):
            value = found.get(axis, 0.0) * self.scale
            centre.append(value + self.offset[axis] if self.absolute_centres
                          else start[axis] + value)
        return centre

    def units(self):
        self.inches = not self.inches
        words = [self.code("G", 200 if self.inches else 210)]
        if self.rng.random() < 0.4:
            moved, target = self.motion_words(self.rng.choice([0, 1]), [self.rng.randrange(3)])
            if self.motion == 1:
                moved.extend(self.feed_word(force=not self.feed_given or self.rng.random() < 0.15))
            words.extend(moved)
            self.emit(words)
            self.pos = target
        else:
            self.emit(words)

    def centre_mode(self):
        self.absolute_centres = self.rng.random() < 0.5
        self.emit([self.code("G", 901 if self.absolute_centres else 911)])

    def distance(self):
        self.incremental = not self.incremental
        self.emit([self.code("G", 910 if self.incremental else 900)])

    def offsets(self):
        rng = self.rng
        kind = rng.choice(["G92", "G92", "G92.1", "G92.2", "G92.3"])
        if kind == "G92":
            words = [self.letter("G") + "92"]
            for axis in range(3):
                if rng.random() < 0.6 or axis == 2 and len(words) == 1:
                    value = round(rng.uniform(-30, 30) / self.scale, self.decimals())
                    words.append(self.word("XYZ"[axis], value, 4))
                    self.offset[axis] = self.pos[axis] - value * self.scale
                    self.saved[axis] = self.offset[axis]
            self.emit(words)
            return
        if kind == "G92.1":
            self.offset = [0.0, 0.0, 0.0]
            self.saved = [0.0, 0.0, 0.0]
        elif kind == "G92.2":
            self.offset = [0.0, 0.0, 0.0]
        else:
            self.offset = list(self.saved)
        self.emit([kind])

    def dwell(self):
        self.emit([self.code("G", 40), self.word("P", self.rng.choice([0, 0.5, 1.25]), 2)])

    def cycles(self):
        """A series of drilling blocks in one distance mode, then G80 and a rapid to a known
        place (the series' last Z is left to the interpreters)."""
        rng = self.rng
        series_z = self.pos[2]
        code = None
        raw = {}
        for block in range(rng.choice([1, 1, 2, 3])):
            words = []
            if self.plane != 17:
                self.plane = 17
                words.append("G17")
            new_code = rng.choice([73, 81, 82, 83]) if code is None or rng.random() < 0.3 else code
            same = new_code == code
            code = new_code
            retract = rng.choice(["G98", "G99", None]) if block == 0 else rng.choice(
                ["G98", "G99", None, None])
            if retract:
                words.append(retract)
            words.append(self.code("G", code * 10))
            # rs274 wants an axis word in every cycle block.
            given = [axis for axis in (0, 1) if rng.random() < 0.8] or [rng.randrange(2)]
            for axis in given:
                if self.incremental:
                    value = round(rng.uniform(-8, 8) / self.scale, self.decimals())
                else:
                    value = round((rng.uniform(-40, 40) - self.offset[axis]) / self.scale,
                                  self.decimals())
                words.append(self.word("XY"[axis], value, 4))
            # R and Z as rs274 keeps them: the words themselves, read again in each block.
            new_r = not same or "R" not in raw or rng.random() < 0.3
            new_z = not same or "Z" not in raw or rng.random() < 0.3
            if self.incremental:
                r = round(rng.uniform(-6, 6) / self.scale, 3) if new_r else raw["R"]
                z = round(-rng.choice([0, rng.uniform(0.5, 8)]) / self.scale, 3) if new_z \
                    else raw["Z"]
            else:
                base = series_z - self.offset[2]
                r = round((base + rng.uniform(-6, 6)) / self.scale, 3) if new_r else raw["R"]
                if new_z:
                    z = round(r - rng.choice([0, rng.uniform(0.5, 8)]) / self.scale, 3)
                else:
                    z = raw["Z"]
                    if z > r:
                        r = raw["R"] = z + round(rng.uniform(0, 3) / self.scale, 3)
                        new_r = True
            if new_r:
                words.append(self.word("R", r, 3))
                raw["R"] = r
            if new_z:
                words.append(self.word("Z", z, 3))
                raw["Z"] = z
            if code in (73, 83) and (not same or "Q" not in raw or rng.random() < 0.3):
                q = rng.choice([0.1, 0.254, 0.3, 0.5, 1, 2.5, rng.uniform(0.2, 3)])
                raw["Q"] = round(q / self.scale, 4)
                words.append(self.word("Q", raw["Q"], 4))
            if code == 82 and (not same or "P" not in raw or rng.random() < 0.3):
                raw["P"] = rng.choice([0, 0.2, 0.5])
                words.append(self.word("P", raw["P"], 1))
            if rng.random() < 0.3:
                words.append(self.letter("L") + str(rng.choice([1, 2, 3])))
            words.extend(self.feed_word(force=not self.feed_given))
            if not same:
                for letter in ("Q", "P"):
                    if letter not in "".join(words).upper():
                        raw.pop(letter, None)
            self.emit(words)
            self.motion = code
        end = []
        if rng.random() < 0.7:
            self.emit([self.code("G", 800)])
        words = []
        if self.incremental:
            words.append("G90")
        words.append(self.code("G", 0))
        for axis in range(3):
            value = round((rng.uniform(-30, 30) + (20 if axis == 2 else 0) - self.offset[axis])
                          / self.scale, self.decimals())
            words.append(self.word("XYZ"[axis], value, 4))
            end.append(value * self.scale + self.offset[axis])
        self.emit(words)
        self.motion = 0
        if self.incremental:
            self.emit(["G91"])
        self.pos = end

    def program(self):
        rng = self.rng
        if rng.random() < 0.1:
            self.lines.append("%")
        if rng.random() < 0.5:
            self.lines.append(rng.choice(["(program from a random writer)", "; header", ""]))
        first = ["G21" if rng.random() < 0.5 else "G20", "G90", "G17"]
        self.inches = first[0] == "G20"
        if rng.random() < 0.5:
            first.append("G94")
        self.emit(rng.sample(first, len(first)))
        self.motion = None
        # The first move gives its motion code: rs274 refuses axis words without one.
        words, target = self.motion_words(0, [0, 1, 2])
        self.emit(words)
        self.pos = target
        makers = [(self.straight, 8), (self.arc, 7), (self.units, 1), (self.distance, 2),
                  (self.offsets, 1.5), (self.dwell, 0.5), (self.cycles, 2),
                  (lambda: self.emit([rng.choice(COMMENTS)]), 0.5),
                  (self.centre_mode, 0.5)]
        for _ in range(rng.randint(8, 30)):
            rng.choices([m for m, _ in makers], [w for _, w in makers])[0]()
        self.emit(["M2"] if rng.random() < 0.8 else ["m02"])
        if self.lines[0] == "%":
            self.lines.append("%")
        return "\n".join(self.lines) + "\n"


# -- main ----------------------------------------------------------------------------------------

def check_program(name, text, args, tally):
    """A list of (pulses, message) mismatches for one program."""
    found = []
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "program.nc")
        with open(path, "w", encoding="latin-1") as f:
            f.write(text)
        moves, dwells, rs_error, summed = run_rs274(text,
                                                    None if args.no_preamble else "G0 G98")
        tally.summed_pecks += summed
        for pulses in args.pulses:
            config = settings_file(folder, pulses, args.travel, args.cut)
            rows, skipped, plan_error, _ = run_plan(args.plan, config, path, args.arc_tolerance,
                                                    pulses)
            refused = plan_error is not None and not rows
            if rs_error or refused:
                if rs_error and refused:
                    tally.refused_both += 1
                    if rs_error[0] != plan_error[0]:
                        found.append((pulses, "both refuse, rs274 at line %s (%s), the reader at "
                                      "line %s (%s)" % (rs_error[0], rs_error[1], plan_error[0],
                                                        plan_error[1])))
                elif rs_error:
                    found.append((pulses, "rs274 refuses line %s: %s; the reader loads it" %
                                  rs_error))
                else:
                    found.append((pulses, "the reader refuses: %s; rs274 runs it" %
                                  plan_error[1]))
                break
            if plan_error is not None:
                found.append((pulses, "the dry run cannot plan row: %s" % plan_error[1]))
                continue
            step = 1.0 / float(pulses)
            differ = compare(moves, rows, step, args.arc_tolerance, tally)
            if differ:
                move, row, why = differ
                found.append((pulses, "%s\n    rs274:    %s\n    dry run:  %s" % (
                    why, move.describe() if move else "-", row.describe() if row else "-")))
                continue
            why = check_dwells(dwells, rows, skipped)
            if why:
                found.append((pulses, why))
    return found


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n", 2)[2],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        usage="python3 scripts/rs274_oracle.py [--seed N] [--cases N] [FILE...]")
    parser.add_argument("files", nargs="*", metavar="FILE")
    parser.add_argument("--seed", type=int, default=1, help="of the random programs (default 1)")
    parser.add_argument("--cases", type=int,
                        help="random programs (default 200, none when files are given)")
    parser.add_argument("--plan", default=DEFAULT_PLAN,
                        help="the dry-run program (default: build/tools/quorvane-plan of this "
                             "source tree)")
    parser.add_argument("--pulses", default="1000",
                        help="pulses per mm, comma separated (default 1000)")
    parser.add_argument("--arc-tolerance", type=float, default=0.002,
                        help="mm, given to the dry run and allowed to its arcs (default 0.002)")
    parser.add_argument("--travel", default="1000", help="Travelling speed of the settings")
    parser.add_argument("--cut", default="500", help="Cutting speed of the settings")
    parser.add_argument("--no-preamble", action="store_true",
                        help="give rs274 the program without the reader's initial G0 G98")
    parser.add_argument("--keep", metavar="DIR",
                        help="write every random program that differs into DIR")
    parser.add_argument("--verbose", action="store_true", help="print every program checked")
    args = parser.parse_args()
    args.pulses = [p.strip() for p in args.pulses.split(",") if p.strip()]
    if args.cases is None:
        args.cases = 0 if args.files else 200
    args.plan = os.path.abspath(args.plan)
    if not os.access(args.plan, os.X_OK):
        parser.error("no dry-run program at %s (give --plan)" % args.plan)

    tally = Tally()
    programs = []
    for name in args.files:
        with open(name, encoding="latin-1") as f:
            programs.append((name, f.read()))
    for case in range(args.cases):
        rng = random.Random("%d/%d" % (args.seed, case))
        programs.append(("random case %d (seed %d)" % (case, args.seed), Writer(rng).program()))
    mismatched = []
    for name, text in programs:
        found = check_program(name, text, args, tally)
        if args.verbose:
            print("== %s: %s" % (name, "differs" if found else "agrees"))
        if found:
            mismatched.append((name, text, found))
            if args.keep:
                os.makedirs(args.keep, exist_ok=True)
                safe = re.sub(r"[^\w.-]+", "_", name)
                with open(os.path.join(args.keep, safe + ".ngc"), "w", encoding="latin-1") as f:
                    f.write(text)

    for name, text, found in mismatched:
        print("MISMATCH %s" % name)
        for pulses, message in found:
            print("  at %s pulses per mm: %s" % (pulses, message))
        if not os.path.exists(name):
            for number, line in enumerate(text.splitlines(), start=1):
                print("  %4d  %s" % (number, line))
    print("programs %d (%d files, %d random, seed %d), pulses per mm %s, arc tolerance %g mm" % (
        len(programs), len(args.files), args.cases, args.seed, ", ".join(args.pulses),
        args.arc_tolerance))
    print("mismatches %d; refused by both %d; zero-length moves passed over: rs274 %d, dry run "
          "%d; rs274's pecks of nothing (summed Q) dropped %d; feeds on their G20/G21 line read "
          "in that line's units %d" % (
              len(mismatched), tally.refused_both, tally.passed_zero_rs274,
              tally.passed_zero_rows, tally.summed_pecks, tally.units_line_feeds))
    return 1 if mismatched else 0


if __name__ == "__main__":
    sys.exit(main())
