"""Pass arithmetic of the logger's main loop, and the readers of what the cycle
bench collects: the stand-in's command log, strace's tables and traces, the
Google Benchmark output. Pure functions of text and numbers, no processes.
"""

import json
import re

# --- passes of one cycle, read off the main loop ---------------------------


def exact_passes(n):
    """Passes of one cycle with n devices: the load pass, one pass per search
    answer, 500 quiet passes plus the pass that ends the search, and per device
    a poll pass, the answer pass one pass later and 101 passes to the next poll;
    with no device the first poll step starts the next load."""
    return 503 if n == 0 else 502 + 103 * n


def search_passes(n):
    """Passes from "$?" to the first poll: the load pass, one per answer, 500 more."""
    return exact_passes(0) if n == 0 else 501 + n


def nominal_passes(n):
    """The round count 501 + 101 x N, shown for comparison only."""
    return 501 + 101 * n


def ideal_period(n):
    """Seconds of one cycle: the 1 s pause after the search plus 1 ms per pass."""
    return 1 + exact_passes(n) / 1000


# --- the stand-in's command log --------------------------------------------

_POLL = re.compile(r"\$[0-9]+")


def log_command(line):
    """(time, command) of one command-log line "<epoch s>.<us> <command>", or
    None for a line that is not one."""
    stamp, sep, command = line.rstrip("\n").partition(" ")
    if not sep:
        return None
    try:
        return float(stamp), command
    except ValueError:
        return None


def count_searches(text):
    """Number of "$?" commands in a command log."""
    return sum(1 for line in text.splitlines() if (c := log_command(line)) and c[1] == "$?")


def read_cycles(text):
    """The cycles of a command log: one {"search": t, "polls": [t, ...]} per
    "$?", with the times of the plain polls ("$<n>") that follow it. Polls
    with a suffix, empty lines, resets and anything before the first search
    are left out."""
    cycles = []
    for line in text.splitlines():
        c = log_command(line)
        if c is None:
            continue
        t, command = c
        if command == "$?":
            cycles.append({"search": t, "polls": []})
        elif cycles and _POLL.fullmatch(command):
            cycles[-1]["polls"].append(t)
    return cycles


def period_stats(cycles):
    """Cycle period over the intervals between searches, the first interval
    dropped: {"cycles", "mean", "min", "max", "search", "poll"} in seconds,
    where "search" is the mean time from "$?" to the first poll and "poll"
    from there to the next "$?" (a cycle without polls is all search phase).
    None when no interval is left."""
    intervals = []
    search = poll = 0.0
    for prev, cur in zip(cycles[1:], cycles[2:]):
        d = cur["search"] - prev["search"]
        intervals.append(d)
        if prev["polls"]:
            first = prev["polls"][0]
            search += first - prev["search"]
            poll += cur["search"] - first
        else:
            search += d
    if not intervals:
        return None
    c = len(intervals)
    return {"cycles": c, "mean": sum(intervals) / c, "min": min(intervals),
            "max": max(intervals), "search": search / c, "poll": poll / c}


def poll_gaps_ms(cycles):
    """Times between consecutive polls of one cycle, in ms, sorted."""
    return sorted(1000 * (b - a) for c in cycles for a, b in zip(c["polls"], c["polls"][1:]))


def poll_spacing_ms(cycles):
    """Mean time between consecutive polls of one cycle, in ms; None without any."""
    gaps = poll_gaps_ms(cycles)
    return sum(gaps) / len(gaps) if gaps else None


def percentile(values, q):
    """The q-th percentile (0-100) of sorted values, nearest rank; None when empty."""
    if not values:
        return None
    rank = max(1, -(-len(values) * q // 100))  # ceil(n * q / 100)
    return values[min(len(values), int(rank)) - 1]


# --- strace -c --------------------------------------------------------------


def parse_strace_summary(text):
    """Rows of a `strace -c` table as dicts (percent, seconds, usecs, calls,
    errors, syscall), the "total" row last. Empty when there is no table."""
    rows = []
    for line in text.splitlines():
        f = line.split()
        if len(f) < 5 or line.startswith("%") or set(line.strip()) <= set("- "):
            continue
        try:
            row = {"percent": float(f[0]), "seconds": float(f[1]), "usecs": int(f[2]),
                   "calls": int(f[3]), "errors": int(f[4]) if len(f) == 6 else 0,
                   "syscall": f[-1]}
        except ValueError:
            continue
        rows.append(row)
    return rows


def calls_of(rows, syscall):
    """Calls of one system call (or "total") in a parsed table; 0 when absent."""
    for row in rows:
        if row["syscall"] == syscall:
            return row["calls"]
    return 0


# --- strace -f -ttt: calls per pass ------------------------------------------

_SKIP = re.compile(r"resumed>|unfinished \.\.\.>|^[0-9]+ +[0-9.]+ +\+\+\+| --- SIG")
_PREFIXES = (re.compile(r"^\[?pid +[0-9]+\]? *"), re.compile(r"^[0-9]+ +"),
             re.compile(r"^[0-9]+\.[0-9]+ +"))
_NAME = re.compile(r"[a-z_0-9]+")


def split_passes(text):
    """Splits a `strace -f -ttt` trace of the logger pass by pass at its
    sleeping calls: the TIMER_ABSTIME clock_nanosleep of the 1 ms loop (each
    of its passes ends in exactly one), and the ppoll of the loop that sleeps
    until due (each pass it runs ends in one, followed by a clock_nanosleep
    to the grid point when input ended it). Returns {"passes", "calls",
    "histogram": {calls per pass: passes}}; the calls before the first sleep
    are not counted."""
    passes = total = calls = 0
    started = False
    histogram = {}
    for line in text.splitlines():
        if _SKIP.search(line):
            continue
        for p in _PREFIXES:
            line = p.sub("", line, count=1)
        name = line.split("(", 1)[0]
        if not _NAME.fullmatch(name):
            continue
        if name == "ppoll" or (name == "clock_nanosleep" and "TIMER_ABSTIME" in line):
            if started:
                histogram[calls + 1] = histogram.get(calls + 1, 0) + 1
                passes += 1
                total += calls + 1
            started = True
            calls = 0
        elif started:
            calls += 1
    return {"passes": passes, "calls": total, "histogram": histogram}


def commonest_pass(histogram):
    """Calls of the most frequent pass (the idle pass); None when empty."""
    counts = {int(k): v for k, v in histogram.items()}  # keys are text after JSON
    if not counts:
        return None
    return max(counts.items(), key=lambda kv: (kv[1], -kv[0]))[0]


# --- the answer-latency probe: strace --seccomp-bpf -f -ttt -T ---------------

_SEARCH_WRITE = re.compile(r'write\(([0-9]+), "\$\?\\n"')
_TRACED_CALL = re.compile(r"^[0-9]+ +[0-9.]+ [a-z_0-9]+\(")
_ECHO = re.compile(r'write\(1, "i[0-9]+;o;')
_IN_KERNEL = re.compile(r"<([0-9.]+)>\s*$")


def probe_analysis(text):
    """Reads the probe's trace (write and file calls of the logger, each line
    "<pid> <epoch s> call(...) = r <seconds>"). From the second search on:
    the latency of each answer (poll write to the echo of the data line read,
    ms), the period and the poll spacing as the logger wrote its commands,
    the traced calls per answer and their in-kernel µs per answer."""
    fd = None
    searches = 0
    poll_t = None          # time of the last poll write awaiting its answer
    cycle_start = None
    last_poll = None
    pending = False
    latencies = []
    periods = []
    spacings = []
    calls = answers = 0
    kernel_us = 0.0
    for line in text.splitlines():
        f = line.split(None, 2)
        if len(f) < 3:
            continue
        try:
            t = float(f[1])
        except ValueError:
            continue
        if fd is None:
            m = _SEARCH_WRITE.search(line)
            if m:
                fd = m.group(1)
        if fd is not None and f'write({fd}, "$?\\n"' in line:
            if searches >= 2:
                periods.append(t - cycle_start)
            searches += 1
            cycle_start = t
            last_poll = None
            poll_t = None
            continue
        is_poll = fd is not None and re.search(r"write\(" + fd + r', "\$[0-9]+\\n"', line)
        if is_poll:
            poll_t = t
            if searches >= 2:
                if last_poll is not None:
                    spacings.append(t - last_poll)
                last_poll = t
                pending = True
        if searches >= 2 and _ECHO.search(line):
            if poll_t is not None:
                latencies.append(1000 * (t - poll_t))
                poll_t = None
            if pending:
                answers += 1
                pending = False
        if searches >= 2 and _TRACED_CALL.match(line):
            calls += 1
            m = _IN_KERNEL.search(line)
            if m:
                kernel_us += 1e6 * float(m.group(1))
    if not periods or not answers:
        return None
    return {"latencies_ms": sorted(latencies), "cycles": len(periods),
            "period": sum(periods) / len(periods),
            "spacing_ms": 1000 * sum(spacings) / len(spacings) if spacings else None,
            "calls_per_answer": calls / answers, "us_per_answer": kernel_us / answers,
            "answers": answers}


def latency_summary(values):
    """(mean, median, p99, max, count) of sorted latencies; None when empty."""
    if not values:
        return None
    v = sorted(values)
    n = len(v)
    p50 = v[(n + 1) // 2 - 1]
    p99 = v[max(int(n * 0.99), 1) - 1]
    return sum(v) / n, p50, p99, v[-1], n


# --- Google Benchmark --------------------------------------------------------


def parse_benchmark_json(text):
    """The aggregate rows (mean, median, stddev, ...) of a Google Benchmark
    JSON report: name, aggregate, cpu_time, real_time, time_unit."""
    try:
        data = json.loads(text)
    except ValueError:
        return []
    rows = []
    for b in data.get("benchmarks", []):
        if b.get("run_type") != "aggregate":
            continue
        rows.append({"name": b.get("run_name", b.get("name", "")),
                     "aggregate": b.get("aggregate_name", ""),
                     "cpu_time": b.get("cpu_time"), "real_time": b.get("real_time"),
                     "time_unit": b.get("time_unit", "ns")})
    return rows
