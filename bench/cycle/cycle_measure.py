"""The measuring half of the cycle bench: starts stand-ins, loggers and
reference loops, samples /proc, runs strace, and returns plain numbers (a
dict that goes to JSON as it is). The report is made from those numbers
alone, by cycle_report.

Safety: every process started here is stopped by its own pid (SIGTERM, then
SIGKILL after 5 s) and reaped; every wait has a deadline; every logger runs
with "-f" (no single-instance guard); everything is written below the work
directory.
"""

import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

import cycle_parse as cp

POLL_S = 0.02          # how often a wait looks again
READY_S = 10           # the stand-in's ready line
STOP_S = 5             # SIGTERM to SIGKILL
REF_REPLY_S = 5        # a reference loop's pass count after SIGUSR1
BUILD_S = 1800         # a configure or build step of the static logger
BENCHMARK_S = 600      # the Google Benchmark run


class BenchError(Exception):
    """A measurement that cannot go on: the message says why."""


def wait_for(predicate, seconds, what):
    """Looks at `predicate` every 20 ms until it is true; BenchError naming
    `what` after `seconds`. The predicate may raise BenchError itself."""
    end = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() >= end:
            raise BenchError(f"{what}: not within {seconds:.0f} s")
        time.sleep(POLL_S)


def run_step(args, log, seconds, what):
    """Runs a program to its end, its output into `log`; BenchError when it
    fails or takes longer than `seconds` (it is then killed by its pid)."""
    with open(log, "wb") as out:
        try:
            r = subprocess.run([str(a) for a in args], stdin=subprocess.DEVNULL, stdout=out,
                               stderr=subprocess.STDOUT, timeout=seconds)
        except subprocess.TimeoutExpired:
            raise BenchError(f"{what}: not done within {seconds} s; see {log}") from None
    if r.returncode != 0:
        raise BenchError(f"{what} failed; see {log}")


def read_text(path):
    try:
        return Path(path).read_text(errors="replace")
    except OSError:
        return ""


def tail(path, lines=15):
    return "\n".join(read_text(path).splitlines()[-lines:])


# --- /proc -------------------------------------------------------------------


def cpu_of(pid):
    """(utime + stime in clock ticks, ns on a CPU from schedstat) of a process."""
    stat = read_text(f"/proc/{pid}/stat")
    fields = stat[stat.rfind(")") + 2:].split()
    schedstat = read_text(f"/proc/{pid}/schedstat").split()
    if len(fields) < 13 or not schedstat:
        raise BenchError(f"process {pid} is gone")
    return int(fields[11]) + int(fields[12]), int(schedstat[0])


def wakeups_of(pid):
    """Context switches of a process so far, voluntary and not: each is a
    wake-up (a sleep that ended, or a preemption)."""
    total = None
    for line in read_text(f"/proc/{pid}/status").splitlines():
        if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
            total = (total or 0) + int(line.split()[1])
    return total


def status_kib(pid, key):
    for line in read_text(f"/proc/{pid}/status").splitlines():
        if line.startswith(key + ":"):
            return int(line.split()[1])
    return None


def fd_count(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return None


def children_of(pid):
    return [int(p) for p in read_text(f"/proc/{pid}/task/{pid}/children").split()]


# --- processes -----------------------------------------------------------------


class Processes:
    """Every process this bench starts; each is stopped by its own pid."""

    def __init__(self):
        self.running = []

    def start(self, args, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        proc = subprocess.Popen([str(a) for a in args], **kwargs)
        self.running.append(proc)
        return proc

    def stop(self, proc):
        """SIGTERM to the process's own pid, SIGKILL after 5 s, then reaped.
        Popen does not signal a process it has already reaped."""
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout=STOP_S)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(timeout=STOP_S)
        if proc.stdout is not None:
            proc.stdout.close()
        if proc in self.running:
            self.running.remove(proc)

    def stop_all(self):
        for proc in reversed(list(self.running)):
            self.stop(proc)


class Logger:
    """A logger with its own stand-in, in its own directory."""

    def __init__(self, name, n, binary, directory, proc, sim):
        self.name = name            # normal, static, compare, pinned idle, pinned, probe
        self.n = n                  # devices on its bus
        self.binary = binary
        self.dir = directory
        self.proc = proc
        self.sim = sim
        self.log = directory / "commands.log"
        self.samples = []           # CPU samples taken just after searches

    def searches(self):
        return cp.count_searches(read_text(self.log))

    def check_alive(self):
        for what, proc, out in (("logger", self.proc, "logger.out"),
                                ("stand-in", self.sim, "sim.out")):
            if proc.poll() is not None:
                how = (f"was killed by signal {-proc.returncode}" if proc.returncode < 0
                       else f"exited with status {proc.returncode}")
                raise BenchError(f"N={self.n} {self.name}: the {what} {how}; its last output:\n"
                                 f"{tail(self.dir / out)}")


class RefLoop:
    """A bare reference loop; SIGUSR1 makes it print its pass count."""

    def __init__(self, name, proc):
        self.name = name
        self.proc = proc
        self.samples = []
        self._buf = b""

    def passes(self):
        self.proc.send_signal(signal.SIGUSR1)
        end = time.monotonic() + REF_REPLY_S
        fd = self.proc.stdout.fileno()
        while b"\n" not in self._buf:
            left = end - time.monotonic()
            if left <= 0 or self.proc.poll() is not None:
                raise BenchError(f"reference loop {self.name}: no pass count")
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 256)
                if not chunk:
                    raise BenchError(f"reference loop {self.name}: output closed")
                self._buf += chunk
        line, self._buf = self._buf.split(b"\n", 1)
        return int(line.split()[1])


def make_scenario(n, path):
    """N family 28 sensors answering at once, no S0 line."""
    lines = [f"# cycle bench: {n} family 28 sensors answering at once"]
    for i in range(n):
        lines.append(f"device 28B1{i:012X} temp28 {20 + i // 16}.{i % 16 * 625:04d}")
    Path(path).write_text("\n".join(lines) + "\n")


# --- the bench ---------------------------------------------------------------


class Bench:
    def __init__(self, settings):
        self.s = settings
        self.procs = Processes()
        self.outdirs = []   # output directories made under --outdir-on
        self.work = settings.work / "work"
        self.logger_bin = settings.build / "kelvinlog"
        self.sim_bin = settings.build / "adapter-sim"
        self.ref_bin = settings.build / "bench" / "ref_loop"

    # --- starting ---

    def make_outdir(self, directory):
        if self.s.outdir_on:
            o = tempfile.mkdtemp(prefix="kelvinlog-bench-", dir=self.s.outdir_on)
            self.outdirs.append(o)
            os.symlink(o, directory / "out")
        else:
            (directory / "out").mkdir(parents=True, exist_ok=True)

    def start_sim(self, directory):
        out = open(directory / "sim.out", "wb")
        sim = self.procs.start([self.sim_bin, "--link", directory / "tty", "--scenario",
                                directory / "bus.txt", "--log", directory / "commands.log"],
                               stdout=out, stderr=subprocess.STDOUT)
        out.close()

        def ready():
            if sim.poll() is not None:
                raise BenchError(f"stand-in in {directory} exited: "
                                 f"{read_text(directory / 'sim.out')}")
            return "adapter-sim: ready " in read_text(directory / "sim.out")

        wait_for(ready, READY_S, f"stand-in ready in {directory}")
        return sim

    def start_logger(self, name, n, binary, directory, cpu=None, wrap=()):
        """A stand-in with n sensors and a logger against it, both in
        `directory`; the logger pinned to `cpu` and run under `wrap` if given."""
        directory.mkdir(parents=True, exist_ok=True)
        make_scenario(n, directory / "bus.txt")
        self.make_outdir(directory)
        (directory / "kelvinlog-config.txt").write_text("")
        sim = self.start_sim(directory)
        pin = ["taskset", "-c", str(cpu)] if cpu is not None else []
        out = open(directory / "logger.out", "wb")
        # "-f": no single-instance guard, which would stop loggers by name.
        proc = self.procs.start([*wrap, *pin, binary, directory / "tty", "out/", "-f"],
                                cwd=directory, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        return Logger(name, n, binary, directory, proc, sim)

    def start_ref(self, name, mode, cpu=None, device=None):
        pin = ["taskset", "-c", str(cpu)] if cpu is not None else []
        dev = ["0", device] if device is not None else []
        proc = self.procs.start([*pin, self.ref_bin, mode, *dev], stdout=subprocess.PIPE)
        return RefLoop(name, proc)

    def stop(self, *items):
        for item in items:
            self.procs.stop(item.proc)
            if getattr(item, "sim", None) is not None:
                self.procs.stop(item.sim)

    # --- sampling ---

    def sample_at_search(self, lg, k, limit):
        """Waits for the next search of `lg` that is at least its k-th and
        samples its CPU at once, inside the 1 s pause that follows it."""
        target = max(lg.searches() + 1, k)

        def reached():
            lg.check_alive()
            return lg.searches() >= target

        wait_for(reached, limit, f"N={lg.n} {lg.name}: search {target}")
        wall = time.monotonic_ns()
        ticks, run_ns = cpu_of(lg.proc.pid)
        sample = {"wall_ns": wall, "ticks": ticks, "run_ns": run_ns, "searches": lg.searches(),
                  "wakeups": wakeups_of(lg.proc.pid)}
        lg.samples.append(sample)
        return sample

    @staticmethod
    def sample_ref(ref, wall):
        ticks, run_ns = cpu_of(ref.proc.pid)
        ref.samples.append({"wall_ns": wall, "ticks": ticks, "run_ns": run_ns,
                            "wakeups": wakeups_of(ref.proc.pid),
                            "passes": ref.passes()})

    @staticmethod
    def logger_result(lg):
        pid = lg.proc.pid
        return {"binary": str(lg.binary),
                "samples": lg.samples, "cycles": cp.read_cycles(read_text(lg.log)),
                "vm_hwm_kib": status_kib(pid, "VmHWM"), "vm_rss_kib": status_kib(pid, "VmRSS"),
                "fds": fd_count(pid), "alive": lg.proc.poll() is None}

    # --- strace ---

    def strace_window(self, pids_files, seconds):
        """`strace -c -f -p` on each (pid, file) at once for `seconds`, ended
        with SIGINT (strace then detaches and writes its table)."""
        tracers = []
        for pid, path in pids_files:
            err = open(str(path) + ".err", "wb")
            tracers.append(self.procs.start(["strace", "-c", "-f", "-p", pid, "-o", path],
                                            stdout=subprocess.DEVNULL, stderr=err))
            err.close()
        time.sleep(seconds)  # the measured window itself
        for t in tracers:
            self.interrupt(t)
        return [cp.parse_strace_summary(read_text(path)) for _, path in pids_files]

    def interrupt(self, tracer):
        if tracer.poll() is None:
            tracer.send_signal(signal.SIGINT)
            try:
                tracer.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        self.procs.stop(tracer)

    def measure_rates(self, loggers, n):
        """System calls per second of each logger: `strace -c` on all at once
        over whole cycle periods (a window of k periods sees every phase of
        the cycle once per period, wherever it starts)."""
        period = cp.ideal_period(n)
        window = max(1, round(self.s.strace_seconds / period)) * period
        files = [self.s.work / f"strace-rate-n{n}-{lg.name}.txt" for lg in loggers]
        t0 = time.monotonic()
        tables = self.strace_window([(lg.proc.pid, f) for lg, f in zip(loggers, files)], window)
        wall = time.monotonic() - t0
        return {lg.name: {"calls": cp.calls_of(rows, "total") if rows else None, "wall": wall}
                for lg, rows in zip(loggers, tables)}

    def measure_syscalls(self, lg, refs):
        s = self.s
        files = [self.s.work / "strace-logger.txt", self.s.work / "strace-ref-grid.txt",
                 self.s.work / "strace-ref-plain.txt"]
        before = lg.searches()
        t0 = time.monotonic()
        logger_rows, grid_rows, plain_rows = self.strace_window(
            [(lg.proc.pid, files[0]), (refs["grid"].proc.pid, files[1]),
             (refs["plain"].proc.pid, files[2])], s.strace_seconds)
        wall = time.monotonic() - t0
        searches = lg.searches() - before
        if not logger_rows:
            return {"error": read_text(str(files[0]) + ".err").strip() or "no strace table"}
        trace = self.s.work / "trace-logger.txt"
        err = open(str(trace) + ".err", "wb")
        tracer = self.procs.start(["strace", "-f", "-ttt", "-p", lg.proc.pid, "-o", trace],
                                  stdout=subprocess.DEVNULL, stderr=err)
        err.close()
        time.sleep(s.pass_trace_seconds)  # the traced window
        self.interrupt(tracer)
        return {"seconds": s.strace_seconds, "wall": wall, "searches": searches,
                "logger": logger_rows, "grid": grid_rows, "plain": plain_rows,
                "trace_seconds": s.pass_trace_seconds,
                "passes": cp.split_passes(read_text(trace))}

    # --- the runs ---

    def run_count(self, n, variants, strace):
        loggers = [self.start_logger(name, n, binary, self.work / f"n{n}-{name}")
                   for name, binary in variants]
        normal = loggers[0]
        refs = {"plain": self.start_ref("plain", "plain"), "grid": self.start_ref("grid", "grid")}
        limit = (self.s.searches + 1) * cp.ideal_period(n) * 2 + 20
        # CPU interval of each logger: from a search at or after its second to
        # one at or after its last; the reference loops are sampled together
        # with the normal logger and count their own passes.
        for k in (2, self.s.searches):
            for lg in loggers:
                sample = self.sample_at_search(lg, k, limit)
                if lg is normal:
                    for ref in refs.values():
                        self.sample_ref(ref, sample["wall_ns"])
        result = {"n": n, "loggers": {lg.name: self.logger_result(lg) for lg in loggers},
                  "refs": {name: {"samples": ref.samples} for name, ref in refs.items()}}
        result["rates"] = self.measure_rates(loggers, n)
        if strace:
            result["syscalls"] = self.measure_syscalls(normal, refs)
        for lg in loggers:
            lg.check_alive()
            result["loggers"][lg.name]["alive"] = True
        self.stop(*refs.values(), *loggers)
        return result

    def run_pinned(self):
        """The bare grid loop (on its own pseudo-terminal, and on the terminal
        of a stand-in never sent a command), a logger on an empty bus and one
        polling pin_n sensors, all pinned to one CPU at the same time."""
        s = self.s
        idle = self.start_logger("pinned idle", 0, self.logger_bin, self.work / "pinned-n0",
                                 cpu=s.pin_cpu)
        busy = self.start_logger("pinned", s.pin_n, self.logger_bin,
                                 self.work / f"pinned-n{s.pin_n}", cpu=s.pin_cpu)
        rd = self.work / "pinned-ref"
        rd.mkdir(parents=True, exist_ok=True)
        make_scenario(0, rd / "bus.txt")
        rsim = self.start_sim(rd)
        own = self.start_ref("pin-own", "grid", cpu=s.pin_cpu)
        dev = self.start_ref("pin-dev", "grid", cpu=s.pin_cpu, device=rd / "tty")
        limit = (s.pin_searches + 1) * cp.ideal_period(s.pin_n) * 2 + 20
        self.sample_at_search(idle, 2, limit)
        x0 = self.sample_at_search(busy, 2, limit)
        for ref in (own, dev):
            self.sample_ref(ref, x0["wall_ns"])
        x1 = self.sample_at_search(busy, s.pin_searches, limit)
        for ref in (own, dev):
            self.sample_ref(ref, x1["wall_ns"])
        self.sample_at_search(idle, 2, limit)
        result = {"cpu": s.pin_cpu, "n": s.pin_n,
                  "idle": {"samples": idle.samples}, "busy": {"samples": busy.samples},
                  "own": {"samples": own.samples}, "dev": {"samples": dev.samples}}
        self.stop(own, dev, idle, busy)
        self.procs.stop(rsim)
        return result

    def run_probe(self):
        """One more logger, started under strace with a seccomp filter that
        stops it only on writes and file calls (never on the read and the
        sleep of a pass)."""
        s = self.s
        directory = self.work / f"probe-n{s.probe_n}"
        wrap = ["strace", "--seccomp-bpf", "-f", "-ttt", "-T",
                "-e", "trace=write,openat,close,newfstatat,fstat,lseek,ftruncate",
                "-o", directory / "trace.txt"]
        lg = self.start_logger("probe", s.probe_n, self.logger_bin, directory, wrap=wrap)
        limit = (s.probe_searches + 2) * cp.ideal_period(s.probe_n) * 2 + 20

        def enough():
            lg.check_alive()
            return lg.searches() >= s.probe_searches + 1

        error = None
        try:
            wait_for(enough, limit, "probe run")
        except BenchError as e:
            error = str(e)
        # The logger is strace's child: stop it by its own pid, then strace ends.
        for child in children_of(lg.proc.pid):
            os.kill(child, signal.SIGTERM)
        try:
            lg.proc.wait(timeout=STOP_S)
        except subprocess.TimeoutExpired:
            pass
        self.stop(lg)
        if error:
            return {"n": s.probe_n, "error": error}
        return {"n": s.probe_n, "analysis": cp.probe_analysis(read_text(directory / "trace.txt"))}

    def strace_seccomp_works(self):
        try:
            r = subprocess.run(["strace", "--seccomp-bpf", "-f", "-e", "trace=write", "-o",
                                os.devnull, "true"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=10)
        except (OSError, subprocess.TimeoutExpired):
            return False
        return r.returncode == 0

    # --- builds, sizes, the micro-benchmark ---

    def static_build(self):
        s = self.s
        static = s.work / "static"
        gen = ["-G", "Ninja"] if (s.build / "build.ninja").exists() else []
        cfg = [*gen, f"-DCMAKE_CXX_COMPILER={cache_value(s.build, 'CMAKE_CXX_COMPILER')}",
               "-DKELVINLOG_STATIC=ON", "-DCMAKE_BUILD_TYPE=MinSizeRel",
               "-DKELVINLOG_TESTS=OFF", "-DKELVINLOG_WERROR=ON"]
        steps = ((["cmake", "-S", s.root, "-B", static, *cfg], "static-configure.log"),
                 (["cmake", "--build", static, "--target", "kelvinlog"], "static-build.log"))
        for args, log in steps:
            run_step(args, s.work / log, BUILD_S, "static build")
        return static / "kelvinlog"

    def sizes(self, binaries):
        out = {}
        for name, path in binaries.items():
            stripped = self.s.work / f"{path.name}-{name}.stripped"
            shutil.copyfile(path, stripped)
            ok = shutil.which("strip") is not None and subprocess.run(
                ["strip", str(stripped)], stdin=subprocess.DEVNULL, timeout=60).returncode == 0
            out[name] = {"path": str(path), "bytes": path.stat().st_size,
                         "stripped": stripped.stat().st_size if ok else None}
        return out

    def micro_benchmark(self):
        binary = self.s.build / "bench" / "kelvinlog-bench"
        if not binary.exists():
            return None
        out = self.s.work / "kelvinlog-bench.json"
        run_step([binary, "--benchmark_filter=DataLine", "--benchmark_repetitions=3",
                  "--benchmark_report_aggregates_only=true", f"--benchmark_out={out}",
                  "--benchmark_out_format=json"], self.s.work / "kelvinlog-bench.log",
                 BENCHMARK_S, "Google Benchmark run")
        return {"binary": str(binary), "rows": cp.parse_benchmark_json(read_text(out))}

    # --- everything ---

    def check_tree(self):
        """BenchError when a program the bench needs is missing."""
        for f in (self.logger_bin, self.sim_bin):
            if not os.access(f, os.X_OK):
                raise BenchError(f"{f} missing; build the tree first")
        if not os.access(self.ref_bin, os.X_OK):
            raise BenchError(f"{self.ref_bin} missing; configure the tree with "
                             "-DKELVINLOG_BENCH=ON and build it")
        if self.s.compare_logger and not os.access(self.s.compare_logger, os.X_OK):
            raise BenchError(f"{self.s.compare_logger} not executable")
        if shutil.which("strace") is None:
            raise BenchError("strace not installed")

    def run(self):
        """Measures everything the settings ask for; returns the numbers."""
        s = self.s
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        results = {"meta": machine_facts(s), "settings": s.as_dict()}
        try:
            static = self.static_build() if s.static else None
            variants = [("normal", self.logger_bin)]
            if static:
                variants.append(("static", static))
            if s.compare_logger:
                variants.append(("compare", Path(s.compare_logger)))
            runs = []
            for i, n in enumerate(s.counts):
                runs.append(self.run_count(n, variants, strace=(n == 0 and 0 not in s.counts[:i])))
            results["runs"] = runs
            pinned_ok = s.pin_n > 0 and shutil.which("taskset") is not None
            results["pinned"] = self.run_pinned() if pinned_ok else None
            probe_ok = s.probe_n > 0 and self.strace_seccomp_works()
            results["probe"] = self.run_probe() if probe_ok else None
            results["benchmark"] = self.micro_benchmark() if s.benchmark else None
            binaries = {"normal": self.logger_bin}
            if static:
                binaries["static"] = static
            results["sizes"] = self.sizes(binaries)
        finally:
            self.procs.stop_all()
            for o in self.outdirs:
                shutil.rmtree(o, ignore_errors=True)
        outdir = Path(s.outdir_on) if s.outdir_on else self.work
        results["meta"]["outdir"] = {"path": str(outdir), "fs": file_system_of(outdir)}
        results["meta"]["load_after"] = load_average()
        return results


# --- facts about the machine and the build -------------------------------------


def cache_value(build, key):
    for line in read_text(Path(build) / "CMakeCache.txt").splitlines():
        if line.startswith(key + ":"):
            return line.split("=", 1)[1]
    return ""


def logger_flags(build):
    """The flags ninja uses for the logger's clock source (the same as for the
    reference loop, built in the same tree)."""
    on = False
    for line in read_text(Path(build) / "build.ninja").splitlines():
        if re.match(r"build [^:]*/clock\.cpp\.o:", line):
            on = True
        elif on and line.startswith("build "):
            break
        elif on and line.strip().startswith("FLAGS = "):
            return line.strip()[len("FLAGS = "):]
    return ""


def load_average():
    return " ".join(read_text("/proc/loadavg").split()[:3])


def file_system_of(path):
    """"<type>, mounted <options>" of the file system holding `path`."""
    p = Path(path).resolve()
    while not os.path.ismount(p):
        p = p.parent
    found = "unknown"
    for line in read_text("/proc/mounts").splitlines():
        f = line.split()
        if len(f) >= 4 and f[1] == str(p):
            found = f"{f[2]}, mounted {f[3]}"  # the last mount there is the one seen
    return found


def machine_facts(s):
    model = ""
    for line in read_text("/proc/cpuinfo").splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return {
        "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
        "command": s.command,
        "cpus": os.cpu_count(),
        "cpu_model": model,
        "kernel": os.uname().release,
        "clocksource": read_text("/sys/devices/system/clocksource/clocksource0/"
                                 "current_clocksource").strip(),
        "timer_slack_ns": read_text("/proc/self/timerslack_ns").strip(),
        "clk_tck": os.sysconf("SC_CLK_TCK"),
        "load_before": load_average(),
        "compiler": cache_value(s.build, "CMAKE_CXX_COMPILER"),
        "flags": logger_flags(s.build),
        "build": str(s.build),
        "build_type": cache_value(s.build, "CMAKE_BUILD_TYPE"),
        "static_build": str(s.work / "static") if s.static else None,
    }
