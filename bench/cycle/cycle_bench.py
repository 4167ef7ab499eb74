#!/usr/bin/env python3
"""Cycle bench of the logger: cycle period against the stand-in, CPU beside a
bare reference loop (per second, per pass, pinned), system calls per idle
pass, answer latency, peak memory and binary size of the normal and the
static build, data-line handling time. See bench/cycle/README.md.

    bench/cycle/cycle_bench.py [options] [build-dir]
    bench/cycle/cycle_bench.py --quick [build-dir]
    bench/cycle/cycle_bench.py --report-from results.json [--report FILE]

Measures into a JSON file, then writes the Markdown report from it. Exit
status: 0; 1 when the measurement failed or found something plainly wrong
(see the report's "Checks"); 2 on a bad command line or a tree not built.
"""

import sys

sys.dont_write_bytecode = True  # nothing is written into the source tree

import argparse  # noqa: E402
import json  # noqa: E402
import shlex  # noqa: E402
import signal  # noqa: E402
from dataclasses import asdict, dataclass, field  # noqa: E402
from pathlib import Path  # noqa: E402

import cycle_measure  # noqa: E402
import cycle_report  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]


@dataclass
class Settings:
    root: Path                      # source tree
    build: Path                     # built tree: kelvinlog, adapter-sim, bench/ref_loop
    work: Path                      # scratch files, static build, strace output
    command: str                    # the command line, for the report
    quick: bool = False
    counts: list = field(default_factory=lambda: [0, 3, 20, 60])  # device counts measured
    searches: int = 6               # bus searches per count (intervals after the first averaged)
    strace_seconds: float = 5       # strace -c window
    pass_trace_seconds: float = 3   # strace -f -ttt window, split pass by pass
    static: bool = True             # also build and measure the static logger
    compare_logger: str = None      # another logger binary run beside the others
    outdir_on: str = None           # put the loggers' output directories there
    pin_n: int = 60                 # sensors of the pinned polling logger (0: skip)
    pin_searches: int = 5
    pin_cpu: int = 0
    probe_n: int = 20               # sensors of the answer-latency probe (0: skip)
    probe_searches: int = 5
    benchmark: bool = True          # run bench/kelvinlog-bench when built

    def as_dict(self):
        d = asdict(self)
        return {k: str(v) if isinstance(v, Path) else v for k, v in d.items()}


def parse_args(argv):
    ap = argparse.ArgumentParser(
        prog="cycle_bench.py", description="Cycle bench of the logger against the stand-in.")
    ap.add_argument("build", nargs="?", default="build",
                    help="built tree with kelvinlog, adapter-sim and bench/ref_loop "
                         "(-DKELVINLOG_BENCH=ON); default: build")
    ap.add_argument("--quick", action="store_true",
                    help="a check for CI, well under a minute: N = 0 and 3, 4 searches each, "
                         "short strace windows, no static build, no pinned run, no probe, "
                         "no micro-benchmark")
    ap.add_argument("--json", help="measured numbers (default <build>/bench-cycle/results.json, "
                                   "quick: quick-results.json)")
    ap.add_argument("--report", help="Markdown report (default <build>/bench-cycle/report.md, "
                                     "quick: quick-report.md)")
    ap.add_argument("--report-from", metavar="JSON",
                    help="measure nothing: make the report (and the checks) from stored numbers")
    ap.add_argument("--counts", help="device counts measured, e.g. '0 3 20 60'")
    ap.add_argument("--searches", type=int, help="bus searches per count, at least 3 (default 6)")
    ap.add_argument("--strace-seconds", type=float, help="length of the strace -c window (5)")
    ap.add_argument("--no-static", action="store_true", help="skip the static build")
    ap.add_argument("--compare-logger", metavar="BIN",
                    help="another logger binary run side by side (say, the one before a change)")
    ap.add_argument("--outdir-on", metavar="DIR",
                    help="put every logger's output directory there (say, /dev/shm)")
    ap.add_argument("--pin-n", type=int, help="sensors of the pinned comparison, 0 skips it (60)")
    ap.add_argument("--pin-searches", type=int, help="searches of the pinned comparison (5)")
    ap.add_argument("--pin-cpu", type=int, help="CPU of the pinned comparison (0)")
    ap.add_argument("--probe-n", type=int, help="sensors of the latency probe, 0 skips it (20)")
    ap.add_argument("--probe-searches", type=int, help="searches of the latency probe (5)")
    ap.add_argument("--no-benchmark", action="store_true", help="skip bench/kelvinlog-bench")
    return ap.parse_args(argv)


def settings_of(a, argv):
    build = Path(a.build)
    if not build.is_absolute():
        build = ROOT / build if not (Path.cwd() / build).exists() else Path.cwd() / build
    build = build.resolve()
    s = Settings(root=ROOT, build=build, work=build / "bench-cycle",
                 command=" ".join(shlex.quote(x) for x in ["bench/cycle/cycle_bench.py", *argv]))
    if a.quick:
        s.quick = True
        s.counts, s.searches = [0, 3], 4
        s.strace_seconds, s.pass_trace_seconds = 2, 2
        s.static, s.pin_n, s.probe_n, s.benchmark = False, 0, 0, False
    if a.counts is not None:
        s.counts = [int(x) for x in a.counts.replace(",", " ").split()]
    for name in ("searches", "strace_seconds", "pin_n", "pin_searches", "pin_cpu", "probe_n",
                 "probe_searches"):
        if getattr(a, name) is not None:
            setattr(s, name, getattr(a, name))
    if a.no_static:
        s.static = False
    if a.no_benchmark:
        s.benchmark = False
    # The loggers run in directories of their own: absolute paths only.
    s.compare_logger = str(Path(a.compare_logger).resolve()) if a.compare_logger else None
    s.outdir_on = str(Path(a.outdir_on).resolve()) if a.outdir_on else None
    if s.searches < 3 or s.pin_searches < 3 or s.probe_searches < 1:
        raise ValueError("--searches and --pin-searches need at least 3 "
                         "(the first interval is dropped), --probe-searches at least 1")
    if any(n < 0 or n > 200 for n in s.counts) or not 0 <= s.pin_n <= 200 \
            or not 0 <= s.probe_n <= 200:
        raise ValueError("device counts go from 0 to 200")
    return s


def write_report(results, report_path):
    report_path.parent.mkdir(parents=True, exist_ok=True)
    report_path.write_text(cycle_report.render(results))
    for line in cycle_report.summary(results):
        print(f"cycle_bench: {line}")
    found = cycle_report.problems(results)
    for p in found:
        print(f"cycle_bench: FAIL: {p}")
    print(f"cycle_bench: report written to {report_path}")
    return 1 if found else 0


def on_term(signum, frame):
    raise SystemExit(130)  # the measuring code stops its processes on the way out


def main(argv):
    a = parse_args(argv)
    if a.report_from:
        results = json.loads(Path(a.report_from).read_text())
        report = Path(a.report) if a.report else Path(a.report_from).with_suffix(".md")
        return write_report(results, report.resolve())
    try:
        s = settings_of(a, argv)
    except ValueError as e:
        print(f"cycle_bench: {e}", file=sys.stderr)
        return 2
    prefix = "quick-" if s.quick else ""
    json_path = Path(a.json).resolve() if a.json else s.work / f"{prefix}results.json"
    report = Path(a.report).resolve() if a.report else s.work / f"{prefix}report.md"
    signal.signal(signal.SIGTERM, on_term)
    bench = cycle_measure.Bench(s)
    try:
        bench.check_tree()
    except cycle_measure.BenchError as e:
        print(f"cycle_bench: {e}", file=sys.stderr)
        return 2
    try:
        results = bench.run()
    except (cycle_measure.BenchError, OSError) as e:
        print(f"cycle_bench: FAIL: {e}", file=sys.stderr)
        return 1
    json_path.parent.mkdir(parents=True, exist_ok=True)
    json_path.write_text(json.dumps(results, indent=1) + "\n")
    print(f"cycle_bench: numbers written to {json_path}")
    return write_report(results, report)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
