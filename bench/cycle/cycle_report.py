"""The report half of the cycle bench: derived figures, the Markdown report
and the sanity checks, all from the numbers cycle_measure stored (so a report
can be made again from a stored JSON file).
"""

import cycle_parse as cp

# A cycle period this far from the ideal is plainly wrong, not noise: the
# logger measures 1.000-1.002 on an idle machine and at most about 1.02 under
# a load of 6 on two CPUs; a logger that does not sleep gives about 0.67, a
# plain "1 ms from now" sleep 1.06-1.14, a 2 ms pass 1.33.
MIN_RATIO = 0.95
MAX_RATIO = 1.10
IDLE_PASS_CALLS = 2   # one read answering EAGAIN, one sleeping call (at most)
# An idle logger that wakes this often per second does not sleep until due:
# the 1 ms loop wakes about 1000 times, the sleeping loop 2 to 5.
MAX_IDLE_WAKEUPS = 100
TARGET_RATIO = 1.02
TARGET_CPU = 1.10
TARGET_STATIC_HWM_KIB = 1024
# Goals of the loop that sleeps until due (shown, not failed on).
TARGET_IDLE_WAKEUPS = 5      # per second, empty bus, averaged over whole cycles
TARGET_IDLE_CPU_PCT = 0.05   # % of a core, empty bus
TARGET_BUSY_WAKEUPS = 40     # per second with 60 sensors

# --- derived figures ----------------------------------------------------------


def cpu_figures(samples, passes, clk_tck):
    """Figures of one process over its two CPU samples: wall s, passes, % of a
    CPU per second (stat and schedstat), µs per pass; None without two samples."""
    if len(samples) < 2:
        return None
    a, b = samples[0], samples[-1]
    wall = (b["wall_ns"] - a["wall_ns"]) / 1e9
    run_ns = b["run_ns"] - a["run_ns"]
    return {"wall": wall, "passes": passes,
            "cpu_pct": 100 * (b["ticks"] - a["ticks"]) / clk_tck / wall if wall > 0 else None,
            "sched_pct": 100 * run_ns / 1e9 / wall if wall > 0 else None,
            "us_per_pass": run_ns / 1000 / passes if passes else None,
            "pass_ms": wall * 1000 / passes if passes else None}


def wakeups_per_s(samples):
    """Context switches per second between the first and the last sample
    (whole cycles for a logger); None without two samples that have them."""
    if len(samples) < 2 or samples[0].get("wakeups") is None \
            or samples[-1].get("wakeups") is None:
        return None
    wall = (samples[-1]["wall_ns"] - samples[0]["wall_ns"]) / 1e9
    return (samples[-1]["wakeups"] - samples[0]["wakeups"]) / wall if wall > 0 else None


def syscalls_per_s(run, name):
    r = run.get("rates", {}).get(name)
    if not r or r["calls"] is None or not r["wall"]:
        return None
    return r["calls"] / r["wall"]


def logger_cpu(lg, n, clk_tck):
    s = lg["samples"]
    if len(s) < 2:
        return None
    return cpu_figures(s, (s[-1]["searches"] - s[0]["searches"]) * cp.exact_passes(n), clk_tck)


def ref_cpu(ref, clk_tck):
    s = ref["samples"]
    if len(s) < 2:
        return None
    return cpu_figures(s, s[-1]["passes"] - s[0]["passes"], clk_tck)


def period_figures(lg, n):
    """Period statistics of one logger and their ratios to the ideal."""
    st = cp.period_stats(lg["cycles"])
    if st is None:
        return None
    exact, search = cp.exact_passes(n), cp.search_passes(n)
    return {**st,
            "ratio": st["mean"] / cp.ideal_period(n),
            "nominal_ratio": st["mean"] / (1 + cp.nominal_passes(n) / 1000),
            "pass_ms": 1000 * (st["mean"] - 1) / exact,
            "search_ratio": st["search"] / (1 + search / 1000),
            "poll_ratio": st["poll"] * 1000 / (exact - search) if n > 0 else None,
            "spacing_ms": cp.poll_spacing_ms(lg["cycles"]),
            "spacing_median_ms": cp.percentile(cp.poll_gaps_ms(lg["cycles"]), 50),
            "spacing_p95_ms": cp.percentile(cp.poll_gaps_ms(lg["cycles"]), 95)}


def pinned_figures(p):
    """µs per pass of the four pinned processes and the CPU of one answer."""
    def searches(key):
        s = p[key]["samples"]
        return s[-1]["searches"] - s[0]["searches"]

    def passes(key):
        s = p[key]["samples"]
        return s[-1]["passes"] - s[0]["passes"]

    counted = {"idle": searches("idle") * cp.exact_passes(0),
               "busy": searches("busy") * cp.exact_passes(p["n"]),
               "own": passes("own"), "dev": passes("dev")}
    us = {}
    for key, n_passes in counted.items():
        s = p[key]["samples"]
        us[key] = (s[-1]["run_ns"] - s[0]["run_ns"]) / 1000 / n_passes if n_passes else None
    answers = searches("busy") * p["n"]
    answer_us = None
    if answers and None not in (us["busy"], us["idle"]):
        answer_us = (us["busy"] - us["idle"]) * counted["busy"] / answers
    return {"passes": counted, "us": us, "answers": answers, "answer_us": answer_us}


# --- checks -------------------------------------------------------------------


def problems(results):
    """What is plainly wrong in a run: a logger that died, a run without a
    whole cycle, a cycle period far from the ideal, an idle pass that makes
    more than two system calls, an idle logger that wakes as if it ticked
    every pass. Empty when all is well."""
    found = []
    for run in results.get("runs", []):
        n = run["n"]
        for name, lg in run["loggers"].items():
            if not lg.get("alive", False):
                found.append(f"N={n} {name}: the logger was not running at the end")
            if name == "compare":
                continue
            pf = period_figures(lg, n)
            if pf is None:
                found.append(f"N={n} {name}: no whole cycle measured")
            elif not MIN_RATIO <= pf["ratio"] <= MAX_RATIO:
                found.append(f"N={n} {name}: cycle period {pf['mean']:.4f} s is "
                             f"{pf['ratio']:.4f} times the ideal {cp.ideal_period(n):.3f} s "
                             f"(expected {MIN_RATIO:.2f}-{MAX_RATIO:.2f})")
            w = wakeups_per_s(lg["samples"])
            if n == 0 and w is not None and w > MAX_IDLE_WAKEUPS:
                found.append(f"N=0 {name}: {w:.0f} wake-ups per second on an empty bus "
                             f"(more than {MAX_IDLE_WAKEUPS})")
        sc = run.get("syscalls")
        if sc and "passes" in sc:
            idle = cp.commonest_pass(sc["passes"]["histogram"])
            if idle is not None and idle > IDLE_PASS_CALLS:
                found.append(f"N={n}: the commonest pass makes {idle} system calls, "
                             f"more than {IDLE_PASS_CALLS}")
    return found


# --- Markdown -------------------------------------------------------------------


def fmt(value, pattern=".4f", none="—"):
    return none if value is None else format(value, pattern)


def verdict(ok):
    return "met" if ok else "**missed**"


def table(header, align, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join(align) + "|"]
    out += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return out


def strace_table(rows):
    return table(["% time", "seconds", "usecs/call", "calls", "errors", "syscall"],
                 ["---:"] * 5 + ["---"],
                 [[f"{r['percent']:.2f}", f"{r['seconds']:.6f}", r["usecs"], r["calls"],
                   r["errors"] or "", r["syscall"]] for r in rows])


def section_header(m, st):
    quick = " (quick mode: a short check, not the full measurement)" if st.get("quick") else ""
    static = (f"; static build: `{m['static_build']}` (MinSizeRel, -static)"
              if m.get("static_build") else "; no static build")
    return ["# kelvinlog cycle bench", "",
            f"Produced by `{m['command']}` on {m['date']}{quick}. How each figure is measured: "
            "bench/cycle/README.md.", "",
            f"- Machine: {m['cpus']} CPU(s), {m['cpu_model']}, kernel {m['kernel']}",
            f"- Clock source: {m['clocksource']}, timer slack of the bench: "
            f"{m['timer_slack_ns']} ns",
            f"- Load average (1/5/15 min) before: {m['load_before']}, after: "
            f"{m.get('load_after', '?')}",
            f"- Compiler and flags (logger and reference loop, one build tree): "
            f"`{m['compiler']} {m['flags']}`",
            f"- Logger build: `{m['build']}` ({m['build_type']}){static}",
            f"- Output directory of the loggers: {m['outdir']['path']} ({m['outdir']['fs']})",
            "- Bus: N family 28 sensors from a generated scenario file (no S0 line), empty "
            "kelvinlog-config.txt; stand-in without fault options", ""]


def section_period(runs, st, clk):
    out = ["## Cycle period", "",
           "Time between consecutive \"$?\" in the stand-in's command log, the first interval "
           "dropped. Ideal = 1 s + exact passes × 1 ms (503, or 502 + 103 × N); nominal = 1 s + "
           "(501 + 101 × N) ms. Search phase: \"$?\" to the first poll (1 s + 501 + N passes); "
           "poll phase: the rest (102 × N + 1 passes). Mean pass = (period − 1 s) / exact "
           "passes.", ""]
    rows = []
    target_ok = True
    for run in runs:
        n = run["n"]
        for name, lg in run["loggers"].items():
            pf = period_figures(lg, n)
            if pf is None:
                rows.append([n, name, 0] + ["—"] * 9)
                target_ok = target_ok and name == "compare"
                continue
            rows.append([n, name, pf["cycles"], f"{pf['mean']:.4f}",
                         f"{pf['min']:.4f}-{pf['max']:.4f}", f"{cp.ideal_period(n):.3f}",
                         f"{pf['ratio']:.4f}", f"{pf['search_ratio']:.4f}", fmt(pf["poll_ratio"]),
                         f"{pf['nominal_ratio']:.4f}", f"{pf['pass_ms']:.4f}",
                         fmt(pf["spacing_ms"], ".3f")])
            if name != "compare" and pf["ratio"] > TARGET_RATIO:
                target_ok = False
    out += table(["N", "build", "cycles", "mean period s", "min-max s", "ideal s", "ratio",
                  "search phase ratio", "poll phase ratio", "nominal ratio", "mean pass ms",
                  "poll spacing ms (ideal 102)"],
                 ["---:", "---"] + ["---:"] * 10, rows)
    out += ["", f"Target: every ratio ≤ {TARGET_RATIO} (normal and static build) — "
            f"{verdict(target_ok)}."]
    if st.get("compare_logger"):
        out += [f"\"compare\" is `{st['compare_logger']}`, run side by side with the others."]
    out += ["", "Reference loops of the same run (pass = wall time / passes counted): \"grid\" "
            "sleeps with the logger's own tick, \"plain\" with nanosleep(1 ms), which is what a "
            "logger sleeping \"1 ms from now\" would get.", ""]
    rows = []
    for run in runs:
        n = run["n"]
        grid, plain = ref_cpu(run["refs"]["grid"], clk), ref_cpu(run["refs"]["plain"], clk)
        pf = period_figures(run["loggers"]["normal"], n)
        plain_ratio = None
        if plain and plain["pass_ms"] is not None:
            plain_ratio = (1 + cp.exact_passes(n) * plain["pass_ms"] / 1000) / cp.ideal_period(n)
        rows.append([n, fmt(grid and grid["pass_ms"]), fmt(plain and plain["pass_ms"]),
                     fmt(pf and pf["pass_ms"]), fmt(plain_ratio)])
    return out + table(["N", "ref grid pass ms", "ref plain pass ms", "logger pass ms",
                        "ratio with plain sleeps (1 s + passes × plain pass)"],
                       ["---:"] * 5, rows)


def section_wakeups(runs, clk):
    out = ["", "## Wake-ups, system calls, CPU", "",
           "Wake-ups: the rise of voluntary_ctxt_switches + nonvoluntary_ctxt_switches "
           "(/proc/<pid>/status) per second, over the same whole cycles as the CPU figures "
           "(schedstat, % of one core). System calls: `strace -c -f -p` on every logger at once "
           "over whole cycle periods, after the other samples (strace makes wake-ups of its own). "
           "Poll spacing from the stand-in's command log.", ""]
    rows = []
    goals = {}
    for run in runs:
        n = run["n"]
        for name, lg in run["loggers"].items():
            c = logger_cpu(lg, n, clk)
            pf = period_figures(lg, n)
            w = wakeups_per_s(lg["samples"])
            cpu = c and c["sched_pct"]
            rows.append([n, name, fmt(w, ".1f"), fmt(syscalls_per_s(run, name), ".0f"),
                         fmt(cpu, ".3f"), fmt(pf and pf["ratio"]),
                         fmt(pf and pf["spacing_median_ms"], ".1f"),
                         fmt(pf and pf["spacing_p95_ms"], ".1f")])
            if name == "normal" and n == 0:
                goals["idle wake-ups"] = (w is not None and w <= TARGET_IDLE_WAKEUPS,
                                          f"≤ {TARGET_IDLE_WAKEUPS}/s at N = 0")
                goals["idle CPU"] = (cpu is not None and cpu <= TARGET_IDLE_CPU_PCT,
                                     f"≤ {TARGET_IDLE_CPU_PCT} % at N = 0")
            if name == "normal" and n == 60:
                goals["busy wake-ups"] = (w is not None and w <= TARGET_BUSY_WAKEUPS,
                                          f"≤ {TARGET_BUSY_WAKEUPS}/s at N = 60")
        for ref in ("grid", "plain"):
            rc = ref_cpu(run["refs"][ref], clk)
            rows.append([n, f"ref {ref}", fmt(wakeups_per_s(run["refs"][ref]["samples"]), ".1f"),
                         "—", fmt(rc and rc["sched_pct"], ".3f"), "—", "—", "—"])
    out += table(["N", "process", "wake-ups/s", "system calls/s", "CPU % (schedstat)",
                  "cycle ratio", "poll spacing median ms", "p95 ms"],
                 ["---:", "---"] + ["---:"] * 6, rows)
    if goals:
        out += [""] + [f"Goal {text}: {verdict(ok)}." for ok, text in goals.values()]
    return out


def section_cpu(runs, clk):
    out = ["", "## CPU time", "",
           f"From the second to the last search of each run: utime+stime (/proc/<pid>/stat, "
           f"1/{clk} s) and schedstat run time per second of wall time, and run time per pass "
           "(logger: whole cycles × exact passes; reference loops: their own count). Unpinned, "
           "so two processes scatter by some 10 % per pass; the target is judged pinned, below.",
           ""]
    rows = []
    for run in runs:
        n = run["n"]
        procs = [(f"logger {name}", logger_cpu(lg, n, clk)) for name, lg in run["loggers"].items()]
        procs += [(f"ref {k}", ref_cpu(run["refs"][k], clk)) for k in ("grid", "plain")]
        for name, c in procs:
            if c is None:
                rows.append([n, name] + ["—"] * 5)
                continue
            rows.append([n, name, f"{c['wall']:.1f}", c["passes"], fmt(c["cpu_pct"], ".2f"),
                         fmt(c["sched_pct"], ".3f"), fmt(c["us_per_pass"], ".2f")])
    out += table(["N", "process", "wall s", "passes", "%/s (stat)", "%/s (schedstat)",
                  "µs/pass (schedstat)"], ["---:", "---"] + ["---:"] * 5, rows)
    rows = []
    for run in runs:
        n = run["n"]
        grid = ref_cpu(run["refs"]["grid"], clk)
        g = grid and grid["us_per_pass"]
        us = {}
        for name in ("normal", "static"):
            c = logger_cpu(run["loggers"][name], n, clk) if name in run["loggers"] else None
            us[name] = c and c["us_per_pass"]
        rows.append([n, fmt(us["normal"], ".2f"), fmt(g, ".2f"),
                     fmt(us["normal"] / g if us["normal"] and g else None, ".3f"),
                     fmt(us["static"] / g if us["static"] and g else None, ".3f")])
    return out + [""] + table(["N", "logger µs/pass", "ref grid µs/pass", "logger / ref grid",
                               "static / ref grid"], ["---:"] * 5, rows)


def section_pinned(p, st):
    out = ["", f"### Pinned to CPU {p['cpu'] if p else st.get('pin_cpu', 0)}", ""]
    if not p:
        return out + ["Not measured (quick mode, no taskset, or --pin-n 0)."]
    pf = pinned_figures(p)
    out += [f"All four at the same time on CPU {p['cpu']} (`taskset`), each over whole cycles of "
            "its own. CPU of one answer = (polling − idle logger) µs/pass × its passes / its "
            "answers.", ""]
    base = pf["us"]["dev"]
    rows = []
    for key, name in (("dev", "bare grid loop, stand-in's terminal"),
                      ("own", "bare grid loop, own terminal"), ("idle", "logger, empty bus"),
                      ("busy", f"logger, {p['n']} sensors")):
        us = pf["us"][key]
        rows.append([name, pf["passes"][key], fmt(us, ".2f"),
                     fmt(us / base if us and base else None, ".3f")])
    out += table(["process", "passes", "µs/pass (schedstat)",
                  "/ bare loop on a stand-in's terminal"], ["---", "---:", "---:", "---:"], rows)
    ok = {k: bool(base) and pf["us"][k] is not None and pf["us"][k] / base <= TARGET_CPU
          for k in ("idle", "busy")}
    return out + ["", "CPU of one answer (poll written, data line read, echoed, raw and value "
                  f"file rewritten): **{fmt(pf['answer_us'], '.0f')} µs**, over {pf['answers']} "
                  "answers.", "",
                  "Target: logger CPU within 10 % of the bare loop (on a stand-in's terminal) — "
                  f"idle logger: {verdict(ok['idle'])}; logger polling {p['n']} sensors: "
                  f"{verdict(ok['busy'])}."]


def section_syscalls(runs):
    out = ["", "## System calls per idle pass (empty bus)", ""]
    sc = next((r["syscalls"] for r in runs if r.get("syscalls")), None)
    if not sc:
        return out + ["Not measured: no N = 0 run."]
    if "logger" not in sc:
        return out + [f"Not measured: strace failed ({sc.get('error', '?')})."]
    wall_ms = round(sc["wall"] * 1000)
    rows = []
    for name, key, sleeps in (("logger", "logger", ("clock_nanosleep", "ppoll")),
                              ("ref grid", "grid", ("clock_nanosleep",)),
                              ("ref plain", "plain", ("clock_nanosleep", "nanosleep"))):
        t = sc[key]
        total = cp.calls_of(t, "total")
        slept = sum(cp.calls_of(t, s) for s in sleeps)
        rows.append([name, total, slept, cp.calls_of(t, "read"),
                     fmt(total / slept if slept else None, ".3f"),
                     fmt(total / wall_ms if wall_ms else None, ".3f")])
    out += [f"`strace -c -f -p <pid>` for {sc['seconds']:g} s ({sc['wall']:.2f} s wall, "
            f"{sc['searches']} bus searches in it) on the N = 0 logger and both reference loops "
            "at once; each pass that runs ends in one sleeping call (the 1 s pause counts as one "
            "more; the logger sleeps over the passes it knows to be empty in one ppoll).", ""]
    out += table(["process", "total calls", "sleeping calls", "read calls",
                  "calls / sleeping call", "calls / elapsed ms"], ["---"] + ["---:"] * 5, rows)
    sp = sc["passes"]
    hist = " ".join(f"{k}:{v}" for k, v in sorted((int(k), v) for k, v in
                                                    sp["histogram"].items()))
    idle = cp.commonest_pass(sp["histogram"])
    out += ["", f"Pass by pass (`strace -f -ttt -p <pid>` for {sc['trace_seconds']:g} s, split at "
            f"each sleeping call, ppoll or TIMER_ABSTIME clock_nanosleep): {sp['passes']} passes "
            f"run, {sp['calls']} calls; calls per pass → passes: `{hist}`. Idle pass: **{idle}** "
            "system calls (a read answering EAGAIN and the sleep; clock_gettime goes through the "
            "vDSO). The longer "
            "passes are search passes (configuration load, \"$?\" write and echo, the pause).",
            "", f"Target: at most {IDLE_PASS_CALLS} system calls per idle pass — "
            f"{verdict(idle is not None and idle <= IDLE_PASS_CALLS)}.", ""]
    for title, key in (("Logger", "logger"), ("Reference loop (grid)", "grid"),
                       ("Reference loop (plain)", "plain")):
        out += [f"{title}, `strace -c` table:", ""] + strace_table(sc[key]) + [""]
    return out[:-1]


def section_probe(probe, st):
    pn = probe["n"] if probe else st.get("probe_n", 0)
    out = ["", "## Answer latency and work per answer, seen by the logger"
           + (f" (N = {pn})" if pn else ""), ""]
    a = probe and probe.get("analysis")
    lat = a and cp.latency_summary(a["latencies_ms"])
    if not lat:
        why = probe.get("error") if probe else None
        return out + ["Not measured (quick mode, strace without --seccomp-bpf, --probe-n 0, or "
                      "the probe run did not complete" + (f": {why}" if why else "") + ")."]
    mean, p50, p99, mx, count = lat
    out += ["A logger under `strace --seccomp-bpf -f -ttt -T -e trace=write,openat,close,"
            "newfstatat,fstat,lseek,ftruncate` (never stopped on a pass's read or sleep), "
            f"{a['cycles']} complete cycles after the first. Latency = the logger's poll write to "
            "its echo of the data line read; below 1 ms the answer is taken on the pass after the "
            "poll, as the ideal period assumes. Calls per answer: everything traced, divided by "
            "the data answers; their time is strace's -T, tracing overhead included.", ""]
    return out + table(["answers", "latency mean ms", "median ms", "p99 ms", "max ms",
                        "logger-side period s (ratio)", "logger-side poll spacing ms",
                        "traced calls per answer", "their µs per answer (strace -T)"],
                       ["---:"] * 9,
                       [[count, f"{mean:.3f}", f"{p50:.3f}", f"{p99:.3f}", f"{mx:.3f}",
                         f"{a['period']:.4f} ({a['period'] / cp.ideal_period(pn):.4f})",
                         fmt(a["spacing_ms"], ".3f"), f"{a['calls_per_answer']:.1f}",
                         f"{a['us_per_answer']:.1f}"]])


def section_memory(runs, sizes, m):
    out = ["", "## Memory and size", "",
           "VmHWM / VmRSS (/proc/<pid>/status) and open descriptors (/proc/<pid>/fd) at the end "
           "of each run.", ""]
    rows = []
    hwm_ok = True
    for run in runs:
        n, s = run["loggers"]["normal"], run["loggers"].get("static")
        rows.append([run["n"], n["vm_hwm_kib"], n["vm_rss_kib"],
                     s["vm_hwm_kib"] if s else "—", s["vm_rss_kib"] if s else "—",
                     f"{n['fds']} / {s['fds'] if s else '—'}"])
        if s and (s["vm_hwm_kib"] is None or s["vm_hwm_kib"] >= TARGET_STATIC_HWM_KIB):
            hwm_ok = False
    out += table(["N", "normal VmHWM KiB", "normal VmRSS KiB", "static VmHWM KiB",
                  "static VmRSS KiB", "fds normal / static"], ["---:"] * 6, rows)
    has_static = any("static" in r["loggers"] for r in runs)
    out += ["", "Target: static build peak RSS < 1 MiB — "
            + (f"{verdict(hwm_ok)}." if has_static else "not measured (no static build)."), ""]
    rows = [[name, f"{sizes[key]['bytes']:,}", fmt(sizes[key]["stripped"], ",")]
            for key, name in (("normal", f"normal ({m['build_type']}, dynamic)"),
                              ("static", "static (MinSizeRel)")) if key in sizes]
    return out + table(["binary", "size bytes", "stripped bytes"], ["---", "---:", "---:"], rows)


def bench_time(row, key):
    """A Google Benchmark figure: a time in its unit, or "cv" as a percentage."""
    if row[key] is None:
        return "—"
    if row["aggregate"] == "cv":
        return f"{100 * row[key]:.2f} %"
    return f"{row[key]:.0f} {row['time_unit']}"


def section_benchmark(bench, st):
    out = ["", "## Handling of one data line (Google Benchmark)", ""]
    if bench and bench["rows"]:
        return out + [f"`{bench['binary']} --benchmark_filter=DataLine --benchmark_repetitions=3 "
                      "--benchmark_report_aggregates_only=true`:", ""] + table(
            ["benchmark", "aggregate", "CPU time", "real time"], ["---", "---", "---:", "---:"],
            [[r["name"], r["aggregate"], bench_time(r, "cpu_time"), bench_time(r, "real_time")]
             for r in bench["rows"]])
    if st.get("benchmark"):
        return out + ["Skipped: `bench/kelvinlog-bench` not built (configure with "
                      "-DKELVINLOG_BENCH=ON)."]
    return out + ["Skipped (quick mode or --no-benchmark)."]


def section_checks(results):
    found = problems(results)
    return ["", "## Checks", "",
            f"Plainly wrong would be: a logger that dies, a cycle ratio outside {MIN_RATIO:.2f}–"
            f"{MAX_RATIO:.2f}, an idle pass that makes more than {IDLE_PASS_CALLS} system "
            f"calls, an idle logger that wakes more than {MAX_IDLE_WAKEUPS} times a second.", ""] + ([f"- {p}" for p in found] if found else ["None found."])


def render(results):
    """The Markdown report of a run's numbers."""
    m, st = results["meta"], results["settings"]
    runs = results.get("runs", [])
    out = section_header(m, st)
    out += section_period(runs, st, m["clk_tck"])
    out += section_wakeups(runs, m["clk_tck"])
    out += section_cpu(runs, m["clk_tck"])
    out += section_pinned(results.get("pinned"), st)
    out += section_syscalls(runs)
    out += section_probe(results.get("probe"), st)
    out += section_memory(runs, results.get("sizes", {}), m)
    out += section_benchmark(results.get("benchmark"), st)
    out += section_checks(results)
    return "\n".join(out) + "\n"


def summary(results):
    """A few lines for the terminal: the ratios, the idle pass, the problems."""
    lines = []
    for run in results.get("runs", []):
        for name, lg in run["loggers"].items():
            pf = period_figures(lg, run["n"])
            lines.append(f"N={run['n']} {name}: " + (
                f"{pf['cycles']} cycles, period {pf['mean']:.4f} s, ratio {pf['ratio']:.4f}"
                if pf else "no whole cycle"))
        sc = run.get("syscalls")
        if sc and "passes" in sc:
            lines.append(f"N={run['n']}: idle pass {cp.commonest_pass(sc['passes']['histogram'])} "
                         f"system calls ({sc['passes']['passes']} passes traced)")
        elif sc:
            lines.append(f"N={run['n']}: system calls not measured: {sc.get('error', '?')}")
    return lines
