#!/usr/bin/env python3
"""Plant single-line faults in src/ or bridge/ one at a time and see whether the tests catch them.

Reads a list of mutations (see tests/mutations/round1.txt for the format), and
for each one: finds the line by its fragment anywhere under the tree its file
names (src/, or bridge/ for a file given as "bridge/..."; so a moved file is
still found), replaces the fragment, rebuilds, runs the tests, and puts the
file back byte for byte, also on Ctrl-C or an error. A fault that does not
build counts as "no-compile", never as caught; a hang counts as caught only
when a test ran into its ctest timeout. A fault in the logger is built with
every target and met by every test; one in the bridge is built with the
bridge's programs and tests only and met by the bridge's unit tests, then its
whole-process tests.

    scripts/mutation-round.py --build-dir build-mut --list tests/mutations/round1.txt
    scripts/mutation-round.py --build-dir build-mut --list ... --only M03,M17
    scripts/mutation-round.py --list ... --check     # only locate every fragment
"""

import argparse
import fnmatch
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KEYS = ("id", "what", "file", "from", "to")
# Tests of the real binaries: run after the fast unit tests, which catch most faults.
SLOW_LABELS = "e2e|contrib|packaging|soak"
# Per tree: what is built (None: everything) and the test stages, fast first:
# ctest label arguments, or ["run", <test program in the build directory>].
TREES = {
    "src": (None, (["-LE", SLOW_LABELS], ["-L", SLOW_LABELS])),
    "bridge": (["kelvinlog", "adapter-sim", "kelvinlog-bridge", "test_bridge", "test_bridge_e2e"],
               (["run", "tests/test_bridge"], ["-L", "^bridge-e2e$"])),
}


def tree_of(entry):
    """The tree a mutation's file names: bridge/ when it says so, else src/."""
    return "bridge" if entry["file"].startswith("bridge/") else "src"
# Whole ctest run of one stage; beyond it the run counts as stalled, not caught.
STAGE_LIMIT_S = 1200
# One test program run whole (its tests have no timeouts of their own).
PROGRAM_LIMIT_S = 300


def parse_list(path):
    """Entries are blocks of "key: value" lines separated by blank lines; '#' starts a comment line."""
    entries, cur = [], {}
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if line.startswith("#"):
                continue
            if not line.strip():
                if cur:
                    entries.append(cur)
                    cur = {}
                continue
            key, sep, value = line.partition(":")
            if not sep or key not in KEYS:
                sys.exit(f"{path}:{n}: expected one of {', '.join(KEYS)} followed by ':'")
            if key in cur:
                sys.exit(f"{path}:{n}: '{key}' given twice in one entry")
            value = value[1:] if value.startswith(" ") else value
            cur[key] = value.replace("<NL>", "\n")  # pins a line by its neighbour
    if cur:
        entries.append(cur)
    for e in entries:
        missing = [k for k in KEYS if k not in e]
        if missing:
            sys.exit(f"{path}: entry {e.get('id', '?')} lacks {', '.join(missing)}")
        if e["from"] == e["to"]:
            sys.exit(f"{path}: entry {e['id']} changes nothing")
    ids = [e["id"] for e in entries]
    if len(ids) != len(set(ids)):
        sys.exit(f"{path}: duplicate ids")
    return entries


def source_files(tree):
    for top, _, names in os.walk(os.path.join(ROOT, tree)):
        for name in sorted(names):
            yield os.path.relpath(os.path.join(top, name), ROOT)


def locate(entry):
    """Returns the one file that holds the fragment once, searching the named
    file or glob first and then the whole of its tree; an error text otherwise."""
    tree = tree_of(entry)
    files = list(source_files(tree))
    glob = entry["file"]
    named = [f for f in files if fnmatch.fnmatch(f, glob) or fnmatch.fnmatch(f, "src/" + glob)]
    for pool in (named, files):
        hits = []
        for f in pool:
            with open(os.path.join(ROOT, f), encoding="utf-8") as fh:
                count = fh.read().count(entry["from"])
            hits += [f] * count
        if len(hits) == 1:
            return hits[0], None
        if len(hits) > 1:
            return None, f"fragment found {len(hits)} times ({', '.join(sorted(set(hits)))})"
    return None, f"fragment not found under {tree}/"


FAIL_RE = re.compile(r"Test\s+#\d+: (\S+) [ .]*(\*\*\*)?(.*?)\s+[\d.]+ sec")


GTEST_FAIL_RE = re.compile(r"^\[  FAILED  \] (\S+)", re.M)


def output_within(proc, limit_s, log):
    """The output of `proc`, started in a session of its own, logged; None when it
    ran past `limit_s` and its group was killed."""
    try:
        out, _ = proc.communicate(timeout=limit_s)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)  # the group of the process started by the caller
        out, _ = proc.communicate()
        log.write(out)
        return None
    log.write(out)
    return out


def run_program(build_dir, program, log):
    """Runs one test program whole; returns (passed, first failing test, timed out)."""
    proc = subprocess.Popen([os.path.join(build_dir, program)], cwd=build_dir, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, start_new_session=True)
    out = output_within(proc, PROGRAM_LIMIT_S, log)
    if out is None:
        return False, "(stage stalled)", None
    if proc.returncode == 0:
        return True, None, False
    m = GTEST_FAIL_RE.search(out)
    return False, m.group(1) if m else f"({program} exit {proc.returncode})", False


def run_stage(build_dir, jobs, label_args, log):
    """Runs one ctest stage; returns (passed, first failing test, timed out)."""
    if label_args[0] == "run":
        return run_program(build_dir, label_args[1], log)
    cmd = ["ctest", "--test-dir", build_dir, "-j", str(jobs), "--stop-on-failure", "--output-on-failure",
           "--timeout", "120"] + label_args
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            start_new_session=True)
    out = output_within(proc, STAGE_LIMIT_S, log)
    if out is None:
        return False, "(stage stalled)", None
    for m in FAIL_RE.finditer(out):
        status = m.group(3)
        if "Passed" in status or "Skipped" in status or "Not Run" in status:
            continue
        return False, m.group(1), "Timeout" in status
    if proc.returncode != 0:
        if "No tests were found" in out:
            return True, None, False
        return False, f"(ctest exit {proc.returncode})", False
    return True, None, False


def build(build_dir, jobs, log, targets=None):
    cmd = ["cmake", "--build", build_dir, "-j", str(jobs)]
    if targets:
        cmd += ["--target"] + targets
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    log.write(r.stdout)
    return r.returncode == 0


def try_mutation(entry, path, args, log):
    full = os.path.join(ROOT, path)
    with open(full, "rb") as f:
        original = f.read()
    text = original.decode("utf-8")
    mutated = text.replace(entry["from"], entry["to"], 1)
    try:
        with open(full, "w", encoding="utf-8", newline="") as f:
            f.write(mutated)
        log.write(f"\n===== {entry['id']} {path}: {entry['what']}\n")
        log.flush()
        targets, stages = TREES[tree_of(entry)]
        if not build(args.build_dir, args.jobs, log, targets):
            return "no-compile", ""
        for labels in stages:
            ok, failing, timed_out = run_stage(args.build_dir, args.jobs, labels, log)
            if not ok:
                if timed_out is None:
                    return "stalled", failing
                return "caught", failing + (" (timeout)" if timed_out else "")
        return "survived", ""
    finally:
        with open(full, "wb") as f:
            f.write(original)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build-dir", default="build-mut", help="configured build directory")
    ap.add_argument("--list", required=True, help="file of mutations")
    ap.add_argument("--only", default="", help="comma-separated ids to run (default: all)")
    ap.add_argument("--jobs", type=int, default=2, help="build and ctest parallelism")
    ap.add_argument("--out", default="", help="also write the table (Markdown) to this file")
    ap.add_argument("--check", action="store_true", help="only locate every fragment")
    args = ap.parse_args()
    args.build_dir = os.path.abspath(args.build_dir)

    entries = parse_list(args.list)
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {e["id"] for e in entries}
        if unknown:
            sys.exit(f"unknown ids: {', '.join(sorted(unknown))}")
        entries = [e for e in entries if e["id"] in wanted]

    located, bad = [], 0
    for e in entries:
        path, error = locate(e)
        if error:
            print(f"{e['id']}: {error}: {e['from']!r}", file=sys.stderr)
            bad += 1
        located.append((e, path))
    if bad:
        sys.exit(f"{bad} fragment(s) refused")
    if args.check:
        for e, path in located:
            print(f"{e['id']:6} {path}")
        return

    # A SIGTERM unwinds like Ctrl-C, so the finally clause restores the file.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    rows = []
    log_path = os.path.join(args.build_dir, "mutation-round.log")
    # Only what the round's trees need (everything as soon as src/ is among them).
    trees = {tree_of(e) for e, _ in located}
    targets = None if "src" in trees else TREES["bridge"][0]
    with open(log_path, "w", encoding="utf-8") as log:
        if not build(args.build_dir, args.jobs, log, targets):
            sys.exit(f"the unmutated tree does not build, see {log_path}")
        try:
            for e, path in located:
                start = time.monotonic()
                result, failing = try_mutation(e, path, args, log)
                seconds = time.monotonic() - start
                rows.append((e["id"], path, result, failing, seconds, e["what"]))
                print(f"{e['id']:6} {result:10} {seconds:6.0f}s {path}  {failing}", flush=True)
        except KeyboardInterrupt:
            print("interrupted; files restored", file=sys.stderr)
        finally:
            build(args.build_dir, args.jobs, log, targets)  # leave the build matching the tree

    diff = subprocess.run(["git", "-C", ROOT, "diff", "--stat", "--", "src", "bridge"],
                          stdout=subprocess.PIPE, text=True).stdout
    table = ["| id | file | result | first failing test | s | fault |",
             "|---|---|---|---|---|---|"]
    table += [f"| {r[0]} | {r[1]} | {r[2]} | {r[3]} | {r[4]:.0f} | {r[5]} |" for r in rows]
    counted = [r for r in rows if r[2] in ("caught", "survived")]
    caught = sum(1 for r in counted if r[2] == "caught")
    summary = (f"caught {caught} of {len(counted)} that built"
               + (f" ({100.0 * caught / len(counted):.0f} %)" if counted else "")
               + f"; no-compile {sum(1 for r in rows if r[2] == 'no-compile')}"
               + f"; stalled {sum(1 for r in rows if r[2] == 'stalled')}"
               + f"; {sum(r[4] for r in rows) / 60:.1f} min")
    report = "\n".join(table + ["", summary, ""])
    print("\n" + report)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(report)
    if diff.strip():
        sys.exit("src/ or bridge/ differs from the last commit after the round:\n" + diff)


if __name__ == "__main__":
    main()
