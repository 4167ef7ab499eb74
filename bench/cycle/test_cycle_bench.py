#!/usr/bin/env python3
"""Checks of the cycle bench driver on recorded and made-up samples: the
command-log and strace readers, the figures and checks of the report, and the
process and wait helpers that keep the bench safe. Run: python3 -B this file."""

import json
import signal
import sys
import time
import unittest
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))

import cycle_bench  # noqa: E402
import cycle_measure  # noqa: E402
import cycle_parse as cp  # noqa: E402
import cycle_report  # noqa: E402


def command_log(searches, polls_per_cycle=0, period=1.503, spacing=0.102, start=1000.0):
    """A command log of `searches` cycles: "$?", its polls, evenly spaced."""
    lines = []
    for i in range(searches):
        t = start + i * period
        lines.append(f"{t:.6f} $?")
        first = t + 1 + 0.501
        for k in range(polls_per_cycle):
            lines.append(f"{first + k * spacing:.6f} ${polls_per_cycle - 1 - k}")
    return "\n".join(lines) + "\n"


def logger(n, searches=4, period=None, alive=True):
    period = period or cp.ideal_period(n)
    cycles = cp.read_cycles(command_log(searches, n, period))
    return {"binary": "/x/kelvinlog", "cycles": cycles, "alive": alive,
            "samples": [{"wall_ns": 0, "ticks": 0, "run_ns": 0, "searches": 2, "wakeups": 10},
                        {"wall_ns": int(2 * period * 1e9), "ticks": 3, "run_ns": 40_000_000,
                         "searches": searches, "wakeups": 16}],
            "vm_hwm_kib": 1600, "vm_rss_kib": 1590, "fds": 4}


def ref(passes=3000):
    return {"samples": [{"wall_ns": 0, "ticks": 0, "run_ns": 0, "passes": 10},
                        {"wall_ns": 3_000_000_000, "ticks": 7, "run_ns": 60_000_000,
                         "passes": 10 + passes}]}


def results(**changes):
    """The numbers of a healthy quick run; `changes` replace whole parts."""
    r = {
        "meta": {"date": "2025-01-01 00:00 UTC", "command": "bench/cycle/cycle_bench.py --quick",
                 "cpus": 2, "cpu_model": "CPU", "kernel": "6", "clocksource": "tsc",
                 "timer_slack_ns": "50000", "clk_tck": 100, "load_before": "0 0 0",
                 "load_after": "0 0 0", "compiler": "c++", "flags": "-O2", "build": "/b",
                 "build_type": "RelWithDebInfo", "static_build": None,
                 "outdir": {"path": "/b/w", "fs": "ext4"}},
        "settings": {"quick": True, "pin_cpu": 0, "probe_n": 0, "benchmark": False},
        "runs": [
            {"n": 0, "loggers": {"normal": logger(0)}, "refs": {"grid": ref(), "plain": ref(2700)},
             "rates": {"normal": {"calls": 600, "wall": 1.5}},
             "syscalls": {"seconds": 2, "wall": 2.01, "searches": 1, "trace_seconds": 2,
                          "logger": cp.parse_strace_summary(STRACE_C),
                          "grid": cp.parse_strace_summary(STRACE_C),
                          "plain": cp.parse_strace_summary(STRACE_C),
                          "passes": {"passes": 600, "calls": 1209,
                                     "histogram": {2: 599, 11: 1}}}},
            {"n": 3, "loggers": {"normal": logger(3)}, "refs": {"grid": ref(), "plain": ref()}},
        ],
        "pinned": None, "probe": None, "benchmark": None,
        "sizes": {"normal": {"path": "/b/kelvinlog", "bytes": 390000, "stripped": 27000}},
    }
    r.update(changes)
    return r


STRACE_C = """\
% time     seconds  usecs/call     calls    errors syscall
------ ----------- ----------- --------- --------- ----------------
 62.94    0.040284          20      1982           clock_nanosleep
 37.06    0.023716          11      1981      1981 read
------ ----------- ----------- --------- --------- ----------------
100.00    0.064000          16      3963      1981 total
"""


class PassArithmetic(unittest.TestCase):
    def test_ideal_periods_of_the_recorded_runs(self):
        # N: exact passes, passes to the first poll, ideal period
        for n, exact, search, ideal in ((0, 503, 503, 1.503), (1, 605, 502, 1.605),
                                        (3, 811, 504, 1.811), (20, 2562, 521, 3.562),
                                        (60, 6682, 561, 7.682)):
            with self.subTest(n=n):
                self.assertEqual(cp.exact_passes(n), exact)
                self.assertEqual(cp.search_passes(n), search)
                self.assertAlmostEqual(cp.ideal_period(n), ideal)


class CommandLog(unittest.TestCase):
    LOG = "\n".join([
        "999.000000 $L-",
        "999.100000 $3",                     # before the first search: not a cycle
        "1000.000000 $?",
        "1001.501000 $2",
        "1001.602000 $2;11",                 # poll with a suffix
        "1001.603000 ",                      # lone line feed
        "1001.700000 $1",
        "1001.701000 $5;1;05;42",            # configuration write
        "1001.702000 \\x80\\x01garbage",
        "1001.800000 $0 [+12 bytes dropped]",
        "garbage without a stamp",
        "1002.000000 $res",
        "1002.100000 $??",
        "1002.200000 x $?",
        "1003.000000 $?",
        "1004.501000 $0",
    ]) + "\n"

    def test_cycles_hold_only_plain_polls_after_their_search(self):
        cycles = cp.read_cycles(self.LOG)
        self.assertEqual([c["search"] for c in cycles], [1000.0, 1003.0])
        self.assertEqual(cycles[0]["polls"], [1001.501, 1001.7])
        self.assertEqual(cycles[1]["polls"], [1004.501])

    def test_only_bus_searches_are_counted(self):
        self.assertEqual(cp.count_searches(self.LOG), 2)
        self.assertEqual(cp.count_searches(""), 0)


class Periods(unittest.TestCase):
    def test_period_table(self):
        # name, log, expected stats (None: no interval left)
        cases = [
            ("two_searches_leave_nothing", command_log(2), None),
            ("first_interval_dropped",
             "1.0 $?\n11.0 $?\n12.5 $?\n14.1 $?\n",
             {"cycles": 2, "mean": 1.55, "min": 1.5, "max": 1.6, "search": 1.55, "poll": 0.0}),
            ("search_and_poll_phases",
             "0.0 $?\n2.0 $?\n3.5 $1\n3.6 $0\n4.0 $?\n5.5 $1\n5.6 $0\n6.0 $?\n",
             {"cycles": 2, "mean": 2.0, "min": 2.0, "max": 2.0, "search": 1.5, "poll": 0.5}),
        ]
        for name, log, expected in cases:
            with self.subTest(name):
                got = cp.period_stats(cp.read_cycles(log))
                if expected is None:
                    self.assertIsNone(got)
                    continue
                for key, value in expected.items():
                    self.assertAlmostEqual(got[key], value, places=9, msg=key)

    def test_poll_spacing_never_spans_a_search(self):
        log = "0.0 $?\n1.5 $2\n1.6 $1\n1.7 $0\n2.0 $?\n3.5 $2\n3.7 $1\n"
        self.assertAlmostEqual(cp.poll_spacing_ms(cp.read_cycles(log)), 1000 * 0.4 / 3)
        self.assertIsNone(cp.poll_spacing_ms(cp.read_cycles(command_log(4))))
        gaps = cp.poll_gaps_ms(cp.read_cycles(log))
        self.assertEqual([round(g) for g in gaps], [100, 100, 200])
        self.assertEqual((round(cp.percentile(gaps, 50)), round(cp.percentile(gaps, 95))),
                         (100, 200))
        self.assertIsNone(cp.percentile([], 50))


class Strace(unittest.TestCase):
    def test_summary_rows_and_totals(self):
        rows = cp.parse_strace_summary(STRACE_C)
        self.assertEqual([r["syscall"] for r in rows], ["clock_nanosleep", "read", "total"])
        self.assertEqual(cp.calls_of(rows, "read"), 1981)
        self.assertEqual(rows[1]["errors"], 1981)
        self.assertEqual(rows[0]["errors"], 0)
        self.assertEqual(cp.calls_of(rows, "total"), 3963)
        self.assertEqual(cp.calls_of(rows, "nanosleep"), 0)
        self.assertEqual(cp.parse_strace_summary("strace: attach: ptrace(PTRACE_SEIZE, 7): "
                                                 "Operation not permitted\n"), [])

    def test_passes_split_at_the_absolute_sleep(self):
        sleep = 'clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, {tv_sec=5, tv_nsec=0}, NULL) = 0'
        read = 'read(3, 0x7ffd, 255) = -1 EAGAIN (Resource temporarily unavailable)'
        trace = "\n".join([
            f"7 1.000 {read}",                        # before the first sleep: not counted
            f"7 1.001 {sleep}",
            f"7 1.002 {read}",
            f"7 1.003 {sleep}",
            f"7 1.004 {read}",
            f"7 1.005 {sleep}",
            f"7 1.006 {read}",
            "7 1.007 openat(AT_FDCWD, \"kelvinlog-config.txt\", O_RDONLY) = 4",
            "7 1.008 write(3, \"$?\\n\", 3) = 3",
            "7 1.009 clock_nanosleep(CLOCK_REALTIME, 0, {tv_sec=1, tv_nsec=0}, <unfinished ...>",
            "7 1.010 --- SIGUSR1 {si_signo=SIGUSR1} ---",
            "7 2.009 <... clock_nanosleep resumed>0x7ffd) = 0",
            f"[pid 7] 2.010 {sleep}",
            f"7 2.011 {read}",
            "7 2.012 ppoll([{fd=3, events=POLLIN}], 1, {tv_sec=0, tv_nsec=500000000}, NULL, 0) = 0",
            f"7 2.513 {read}",
            "7 2.514 ppoll([{fd=3, events=POLLIN}], 1, {tv_sec=0, tv_nsec=1000000}, NULL, 0) = 0",
            "7 2.515 +++ killed by SIGTERM +++",
        ])
        got = cp.split_passes(trace)
        self.assertEqual(got, {"passes": 5, "calls": 12, "histogram": {2: 4, 4: 1}})
        self.assertEqual(cp.commonest_pass(got["histogram"]), 2)
        self.assertEqual(cp.commonest_pass({"2": 5, "11": 1}), 2)  # keys after JSON
        self.assertIsNone(cp.commonest_pass({}))


class Probe(unittest.TestCase):
    @staticmethod
    def trace(cycles=3, latency=0.0005):
        lines, t = [], 100.0

        def add(call):
            lines.append(f"26806 {t:.6f} {call} <0.000010>")

        for _ in range(cycles):
            add('write(1, "o$?\\n", 4) = 4')
            add('write(3, "$?\\n", 3) = 3')
            t += 1.0
            for k in (1, 0):
                add(f'write(1, "i{k};o;28B1000000000000\\n", 22) = 22')  # search answers
            t += 0.5
            for k in (1, 0):
                add(f'write(3, "${k}\\n", 3) = 3')
                t += latency
                add(f'write(1, "i{k};o;41 01 4B 46 7F FF 0C 10 1C "..., 38) = 38')
                add('openat(AT_FDCWD, "out/x.txt", O_WRONLY|O_CREAT|O_TRUNC, 0666) = 4')
                t += 0.1
        return "\n".join(lines) + "\n"

    def test_latency_and_work_from_the_second_search_on(self):
        a = cp.probe_analysis(self.trace(cycles=4))
        # Cycles 2, 3 and the one the trace ends in, two polls each; periods
        # of the whole cycles 2 and 3.
        self.assertEqual(a["answers"], 6)
        self.assertEqual(len(a["latencies_ms"]), 6)
        for v in a["latencies_ms"]:
            self.assertAlmostEqual(v, 0.5, places=3)
        self.assertEqual(a["cycles"], 2)
        self.assertAlmostEqual(a["period"], 1.5 + 2 * 0.1005, places=5)
        self.assertAlmostEqual(a["spacing_ms"], 100.5, places=3)
        # Per cycle: 2 search answer echoes, 2 polls, 2 echoes, 2 file calls;
        # and the echo of the next "$?" (its serial write is not counted).
        self.assertAlmostEqual(a["calls_per_answer"], (3 * 8 + 2) / 6)
        self.assertAlmostEqual(a["us_per_answer"], (3 * 8 + 2) * 10 / 6)

    def test_too_short_a_trace_gives_nothing(self):
        self.assertIsNone(cp.probe_analysis(self.trace(cycles=2)))
        self.assertIsNone(cp.probe_analysis(""))

    def test_latency_summary(self):
        self.assertIsNone(cp.latency_summary([]))
        self.assertEqual(cp.latency_summary([3.0]), (3.0, 3.0, 3.0, 3.0, 1))
        values = [float(v) for v in range(100, 0, -1)]   # 1 .. 100, unsorted
        mean, p50, p99, mx, n = cp.latency_summary(values)
        self.assertEqual((mean, p50, p99, mx, n), (50.5, 50.0, 99.0, 100.0, 100))


class Checks(unittest.TestCase):
    def test_problem_table(self):
        def run(n, **loggers):
            return {"n": n, "loggers": loggers, "refs": {"grid": ref(), "plain": ref()}}

        ideal0 = cp.ideal_period(0)
        idle3 = {"seconds": 2, "wall": 2, "searches": 1, "trace_seconds": 2, "logger": [],
                 "grid": [], "plain": [], "passes": {"passes": 9, "calls": 27,
                                                     "histogram": {3: 9}}}
        # name, runs, words expected in the problems (empty: none)
        cases = [
            ("healthy", results()["runs"], []),
            ("logger_died", [run(0, normal=logger(0, alive=False))], ["not running"]),
            ("no_whole_cycle", [run(3, normal=logger(3, searches=2))], ["no whole cycle"]),
            ("pause_missing", [run(0, normal=logger(0, period=0.503))], ["0.3347"]),
            ("passes_too_short", [run(0, normal=logger(0, period=0.94 * ideal0))], ["0.9400"]),
            ("passes_slightly_long", [run(0, normal=logger(0, period=1.09 * ideal0))], []),
            ("passes_far_too_long", [run(0, normal=logger(0, period=1.11 * ideal0))], ["1.1100"]),
            ("static_build_too", [run(3, normal=logger(3), static=logger(3, period=3.0))],
             ["static"]),
            ("compare_logger_is_not_judged",
             [run(0, normal=logger(0), compare=logger(0, period=3.0))], []),
            ("idle_pass_of_three_calls", [{**run(0, normal=logger(0)), "syscalls": idle3}],
             ["3 system calls"]),
            ("idle_logger_wakes_every_pass",
             [run(0, normal={**logger(0), "samples": [
                 {**logger(0)["samples"][0], "wakeups": 0},
                 {**logger(0)["samples"][1], "wakeups": 3000}]})], ["998 wake-ups"]),
            ("strace_not_permitted",
             [{**run(0, normal=logger(0)), "syscalls": {"error": "not permitted"}}], []),
        ]
        for name, runs, words in cases:
            with self.subTest(name):
                found = cycle_report.problems(results(runs=runs))
                self.assertEqual(len(found), len(words), found)
                for w, p in zip(words, found):
                    self.assertIn(w, p)


class Report(unittest.TestCase):
    def full_results(self):
        r = results()
        r["settings"] = {"quick": False, "pin_cpu": 0, "probe_n": 2, "benchmark": True,
                         "compare_logger": "/x/old"}
        r["meta"]["static_build"] = "/b/bench-cycle/static"
        for run in r["runs"]:
            run["loggers"]["static"] = {**logger(run["n"]), "vm_hwm_kib": 940}
            run["loggers"]["compare"] = logger(run["n"])
        pin = {"samples": [{"wall_ns": 0, "ticks": 0, "run_ns": 0, "searches": 2, "passes": 0},
                           {"wall_ns": 9, "ticks": 1, "run_ns": 50_000_000, "searches": 5,
                            "passes": 2000}]}
        r["pinned"] = {"cpu": 0, "n": 3, "idle": pin, "busy": pin, "own": pin, "dev": pin}
        r["probe"] = {"n": 2, "analysis": cp.probe_analysis(Probe.trace(4))}
        r["benchmark"] = {"binary": "/b/bench/kelvinlog-bench", "rows": cp.parse_benchmark_json(
            json.dumps({"benchmarks": [
                {"run_name": "BM_DataLineTemperature", "run_type": "aggregate",
                 "aggregate_name": "mean", "cpu_time": 14409.2, "real_time": 14427.0,
                 "time_unit": "ns"},
                {"run_name": "BM_DataLineTemperature", "run_type": "aggregate",
                 "aggregate_name": "cv", "cpu_time": 0.0123, "real_time": 0.02,
                 "time_unit": "ns"},
                {"name": "BM_DataLineTemperature", "run_type": "iteration"}]}))}
        r["sizes"]["static"] = {"path": "/s", "bytes": 941472, "stripped": 846632}
        return r

    def test_reports_of_a_quick_and_a_full_run(self):
        quick = ["| 0 | normal | 2 | 1.5030 | 1.5030-1.5030 | 1.503 | 1.0000 |", "`2:599 11:1`",
                 "| 0 | normal | 2.0 | 400 | 1.331 | 1.0000 | — | — |",
                 "| 3 | normal | 1.7 | — | 1.104 | 1.0000 | 102.0 | 102.0 |",
                 "Goal ≤ 5/s at N = 0: met", "Goal ≤ 0.05 % at N = 0: **missed**",
                 "Idle pass: **2**", "None found.", "Not measured (quick mode"]
        full = ["| 3 | static | 2 |", "\"compare\" is `/x/old`", "| 6 | 0.500 | 0.500 |",
                "| BM_DataLineTemperature | mean | 14409 ns |",
                "| BM_DataLineTemperature | cv | 1.23 % | 2.00 % |",
                "| static (MinSizeRel) | 941,472 | 846,632 |",
                "static build peak RSS < 1 MiB — met"]
        for name, r, expect in (("quick", results(), quick), ("full", self.full_results(), full)):
            with self.subTest(name):
                text = cycle_report.render(r)
                for e in expect:
                    self.assertIn(e, text)
                # Stored numbers make the same report.
                self.assertEqual(cycle_report.render(json.loads(json.dumps(r))), text)

    def test_problems_are_listed_in_the_report(self):
        r = results(runs=[{"n": 0, "loggers": {"normal": logger(0, alive=False)},
                           "refs": {"grid": ref(), "plain": ref()}}])
        self.assertIn("- N=0 normal: the logger was not running at the end",
                      cycle_report.render(r))


class CommandLine(unittest.TestCase):
    def settings(self, *argv):
        return cycle_bench.settings_of(cycle_bench.parse_args(list(argv)), list(argv))

    def test_quick_mode_is_short(self):
        s = self.settings("--quick", "/tmp/b")
        self.assertEqual((s.counts, s.searches, s.static, s.pin_n, s.probe_n, s.benchmark),
                         ([0, 3], 4, False, 0, 0, False))
        self.assertEqual(s.work, Path("/tmp/b/bench-cycle"))

    def test_full_mode_and_bad_values(self):
        s = self.settings("--compare-logger", "rel/kelvinlog", "/tmp/b")
        self.assertEqual(s.counts, [0, 3, 20, 60])
        self.assertTrue(Path(s.compare_logger).is_absolute())
        for argv in (["--searches", "2"], ["--counts", "0 201"], ["--pin-n", "-1"]):
            with self.subTest(argv=argv), self.assertRaises(ValueError):
                self.settings(*argv)


class Safety(unittest.TestCase):
    def test_every_wait_ends_at_its_deadline(self):
        start = time.monotonic()
        with self.assertRaisesRegex(cycle_measure.BenchError, "never: not within"):
            cycle_measure.wait_for(lambda: False, 0.2, "never")
        self.assertLess(time.monotonic() - start, 2)

    def test_a_build_step_past_its_deadline_is_ended(self):
        log = Path("/tmp") / f"cycle-bench-test-{time.monotonic_ns()}.log"
        try:
            start = time.monotonic()
            with self.assertRaisesRegex(cycle_measure.BenchError, "not done within"):
                cycle_measure.run_step(["sleep", "30"], log, 0.2, "step")
            self.assertLess(time.monotonic() - start, 5)
            with self.assertRaisesRegex(cycle_measure.BenchError, "step failed"):
                cycle_measure.run_step(["false"], log, 5, "step")
        finally:
            log.unlink(missing_ok=True)

    def test_a_process_that_ignores_sigterm_is_killed_by_its_pid(self):
        procs = cycle_measure.Processes()
        saved = cycle_measure.STOP_S
        cycle_measure.STOP_S = 0.3
        try:
            polite = procs.start(["sleep", "30"])
            stubborn = procs.start(["sh", "-c", "trap '' TERM; exec sleep 30"])
            # Once the shell has exec'd, SIGTERM stays ignored in sleep.
            cycle_measure.wait_for(lambda: Path(f"/proc/{stubborn.pid}/comm").read_text()
                                   .strip() == "sleep", 5, "exec")
            procs.stop_all()
        finally:
            cycle_measure.STOP_S = saved
            for p in procs.running:  # only when stopping failed
                p.kill()
                p.wait()
        self.assertEqual(polite.returncode, -signal.SIGTERM)
        self.assertEqual(stubborn.returncode, -signal.SIGKILL)
        self.assertEqual(procs.running, [])

    def test_a_reaped_process_is_not_signalled_again(self):
        procs = cycle_measure.Processes()
        p = procs.start(["true"])
        p.wait(timeout=5)
        procs.stop(p)  # must not signal a pid that may be someone else's by now
        self.assertEqual(p.returncode, 0)
        self.assertEqual(procs.running, [])


if __name__ == "__main__":
    unittest.main(verbosity=1)
