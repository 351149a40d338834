#!/usr/bin/env python3
"""What a sample costs the whole machine: runs bench/program_bench (the real dialog, driven
through the Win32 API) on a virtual X display of its own, on Linux and under Wine, and reads the
CPU and memory of the program's process, its threads, the X server and the wineserver from /proc
at the driver's marker lines, and counts the Linux build's system calls in a run of its own under
strace. Prints one Markdown table, the two builds side by side.

    whole_program.py --linux build/linux/bench/program_bench \
                     --windows build/windows/bench/program_bench.exe

The Windows driver runs under the Wine that matches its image: a 32-bit one (the shipped build)
under 32-bit Wine, an x86-64 one under 64-bit Wine, each in the wineprefix of its build folder.
The Windows column's title says which.
"""
import argparse
import collections
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TICK = os.sysconf("SC_CLK_TCK")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def proc_cpu(pid):
    """User + system seconds of a process, its ended threads included."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK
    except OSError:
        return 0.0


def thread_cpu(pid):
    """{tid: (name, seconds)} for the live threads of a process, from their scheduler run time."""
    out = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return out
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                ns = int(f.read().split()[0])
            out[int(tid)] = (name, ns / 1e9)
        except (OSError, ValueError, IndexError):
            pass
    return out


def switches(pid):
    """Voluntary context switches (sleeps) of every live thread of a process."""
    total = 0
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return 0
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches:"):
                        total += int(line.split()[1])
        except (OSError, ValueError):
            pass
    return total


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def descendants(pid):
    """The pid and every live process below it."""
    children = {}
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(ppid, []).append(int(d))
        except (OSError, ValueError):
            pass
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(children.get(p, []))
    return out


class Snap:
    def __init__(self, run, samples):
        self.wall = time.monotonic()
        self.samples = samples
        self.proc = sum(proc_cpu(p) for p in run.program_pids())
        self.threads = thread_cpu(run.pid) if run.linux else {}
        self.xserver = proc_cpu(run.bench.xvfb.pid)
        self.wineserver = proc_cpu(run.bench.wineserver) if run.bench.wineserver else 0.0
        self.rss = sum(rss_kib(p) for p in run.program_pids())
        self.switches = sum(switches(p) for p in run.program_pids())


class Run:
    """One run of the driver; snapshots at its "mark" lines."""

    def __init__(self, bench, linux, args, prefix=()):
        self.bench, self.linux = bench, linux
        cmd = list(prefix) + ([bench.linux_exe] if linux else [bench.wine_loader, bench.windows_exe])
        env = bench.linux_env if linux else bench.wine_env
        self.start = time.monotonic()
        self.p = subprocess.Popen(cmd + [str(a) for a in args], env=env, stdout=subprocess.PIPE,
                                  stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
        self.pid = self.p.pid
        self.marks, self.paced, self.lines = {}, [], []
        self.minimized = None
        self.pids = None

    def program_pids(self):
        if self.linux:
            return [self.pid]
        if self.pids is None:
            # The Windows program: the loader's process; Wine's own services are not counted.
            self.pids = [p for p in descendants(self.pid) if p != self.bench.wineserver]
        return self.pids

    def finish(self, timeout=900):
        for line in self.p.stdout:
            line = line.split()
            if len(line) >= 3 and line[0] == "mark":
                self.marks[line[1]] = Snap(self, int(line[2]))
                if line[1] == "done":
                    break
            elif len(line) == 3 and line[0] == "paced":
                self.paced.append((int(line[1]), line[2]))
            elif len(line) == 2 and line[0] == "minimized":
                self.minimized = line[1] == "yes"
        try:
            self.p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.p.kill()
            self.p.wait()
        return self

    def between(self, a="begin", b="end"):
        return self.marks[a], self.marks[b]


def pe_bits(path):
    """32 or 64: the word size of a Windows image, from its PE header's machine field."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a Windows image")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    bits = {0x14C: 32, 0x8664: 64}.get(machine)
    if bits is None:
        sys.exit(f"{path}: machine 0x{machine:x} is neither i386 nor x86-64")
    return bits


def windows_title(bits):
    if bits == 32:
        return "Windows build (32-bit, as shipped) under 32-bit Wine"
    return "Windows build (x86-64) under 64-bit Wine"


class Bench:
    def __init__(self, opts):
        self.opts = opts
        self.linux_exe = opts.linux
        self.windows_exe = opts.windows
        self.windows_bits = pe_bits(opts.windows) if opts.windows else None
        self.wine_loader = "/usr/lib/wine/wine64" if self.windows_bits == 64 else "/usr/lib/wine/wine"
        self.xvfb = None
        self.wm = None
        self.wineserver = None
        self.wine_started = False

    def start_display(self):
        for n in range(90, 200):
            if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(
                    f"/tmp/.X11-unix/X{n}"):
                break
        self.display = f":{n}"
        self.xvfb = subprocess.Popen(
            ["Xvfb", self.display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                break
            time.sleep(0.05)
        base = dict(os.environ, DISPLAY=self.display)
        base.pop("WAYLAND_DISPLAY", None)
        # A window manager, as every desktop has: it places and decorates the windows, and it
        # is what minimizes one.
        if shutil.which("openbox"):
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=base,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        drive = os.path.join(ROOT, "build", "bench", "drive_c")
        os.makedirs(os.path.join(drive, "data"), exist_ok=True)
        self.linux_drive = drive
        self.linux_env = dict(base, QT_QPA_PLATFORM="xcb", MEASURE_DRIVE_C=drive)
        if not self.windows_exe:
            return
        # The prefix of the driver's build folder (build/<preset>/bench/program_bench.exe), the
        # one that make test uses with that build.
        build_dir = os.path.dirname(os.path.dirname(os.path.abspath(self.windows_exe)))
        prefix = os.path.join(build_dir, "wineprefix")
        bits = self.windows_bits
        self.wine_drive = os.path.join(prefix, "drive_c")
        self.wine_env = dict(base, WINEPREFIX=prefix, WINEARCH=f"win{bits}", WINEDEBUG="-all",
                             LC_ALL="ja_JP.UTF-8", WINE_BITS=str(bits))

    def start_wine(self):
        # A persistent server left by an interrupted run would keep --init waiting for its end.
        subprocess.run(["wineserver", "-k"], env=self.wine_env, stderr=subprocess.DEVNULL)
        self.wine_started = True
        subprocess.run([os.path.join(ROOT, "cmake", "wine-run.sh"), "--init"], env=self.wine_env,
                       check=True)
        # One persistent wineserver for every run, so its CPU is read from one known process.
        subprocess.run(["wineserver", "-p"], env=self.wine_env, check=True)
        prefix = self.wine_env["WINEPREFIX"].encode()
        for _ in range(50):
            for d in os.listdir("/proc"):
                if not d.isdigit():
                    continue
                try:
                    with open(f"/proc/{d}/comm") as f:
                        if not f.read().startswith("wineserver"):
                            continue
                    with open(f"/proc/{d}/environ", "rb") as f:
                        if b"WINEPREFIX=" + prefix + b"\0" in f.read() + b"\0":
                            self.wineserver = int(d)
                except OSError:
                    pass
            if self.wineserver:
                return
            time.sleep(0.1)

    def stop(self):
        if self.wine_started:
            subprocess.run(["wineserver", "-k"], env=self.wine_env)
        if self.wm:
            self.wm.terminate()
            self.wm.wait()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()

    def run(self, linux, *args, prefix=()):
        return Run(self, linux, args, prefix).finish()


def per_sample_ms(a, b, attr):
    n = b.samples - a.samples
    return (getattr(b, attr) - getattr(a, attr)) * 1e3 / n if n > 0 else float("nan")


def cpu_figures(bench, linux, seconds, minimized=False):
    r = bench.run(linux, "cpu", 10, seconds, 2, *(["minimized"] if minimized else []))
    if minimized and not r.minimized:
        return None
    a, b = r.between()
    out = {"proc": per_sample_ms(a, b, "proc"), "x": per_sample_ms(a, b, "xserver"),
           "wineserver": per_sample_ms(a, b, "wineserver"), "n": b.samples - a.samples,
           "sleeps": per_sample_ms(a, b, "switches") / 1e3}
    if linux:
        n = b.samples - a.samples
        dialog = x = worker = other = 0.0
        for tid, (name, secs) in b.threads.items():
            d = secs - a.threads.get(tid, (name, 0.0))[1]
            if tid == r.pid:
                dialog += d
            elif name.startswith("QXcb"):
                x += d
            else:
                other += d
        # The worker is the busiest of the program's other threads.
        busiest = max(((secs - a.threads.get(t, (nm, 0.0))[1], t)
                       for t, (nm, secs) in b.threads.items()
                       if t != r.pid and not nm.startswith("QXcb")), default=(0.0, 0))
        worker = busiest[0]
        other -= worker
        out["threads"] = tuple(v * 1e3 / n for v in (dialog, x, worker, other))
    return out


# A line of strace -f: "PID name(" where a call begins; a call that another thread interrupted
# resumes on a line of its own ("<... name resumed>"), which is not counted again.
CALL = re.compile(r"^\d+\s+([a-z_0-9]+)\(")
MARK = re.compile(r'write\(1, "mark (begin|end) ')


def syscall_figures(bench, seconds):
    """System calls per sample by call, recording at 10 ms, from a run of its own under
    strace -f (tracing slows every call, so the CPU figures come from the untraced run)."""
    if not shutil.which("strace"):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        trace = os.path.join(tmp, "trace")
        r = bench.run(True, "cpu", 10, seconds, 2, prefix=("strace", "-f", "-qq", "-o", trace))
        counts, inside = collections.Counter(), False
        with open(trace, errors="replace") as f:
            for line in f:
                mark = MARK.search(line)
                if mark:
                    inside = mark.group(1) == "begin"
                    if not inside:
                        break
                    continue
                call = CALL.match(line) if inside else None
                if call:
                    counts[call.group(1)] += 1
    a, b = r.between()
    n = b.samples - a.samples
    if n <= 0:
        return None
    return {"n": n, "total": sum(counts.values()) / n,
            "calls": [(name, c / n) for name, c in counts.most_common()]}


def flat_figures(bench, linux, samples, mode):
    r = bench.run(linux, "flat", samples, mode)
    a, b = r.between()
    n = b.samples - a.samples
    return {"rate": n / (b.wall - a.wall), "proc": per_sample_ms(a, b, "proc"),
            "x": per_sample_ms(a, b, "xserver"), "wineserver": per_sample_ms(a, b, "wineserver"),
            "rss": (b.rss - a.rss) / 1024.0, "n": n}


def read_times(path):
    times = []
    with open(path, encoding="latin-1") as f:
        next(f, None)
        for line in f:
            parts = line.split("\t")
            if len(parts) >= 2:
                times.append(float(parts[1]))
    return times


# A stamp later than this is counted late: over ten times the floor's median deviation here.
LATE_MS = 0.25


def interval_figures(times, period):
    """The intervals between stamps against the period: how far they stray, how many ticks were
    lost, and the shape of their distribution (the most frequent intervals, to 0.1 ms)."""
    gaps = [(times[i + 1] - times[i]) * 1e3 for i in range(len(times) - 1)]
    # The first two hold the start of an acquisition (its first tick, the data file's creation):
    # they are shown apart, and the statistics are of the steady run after them.
    steady = gaps[2:] or gaps
    if not steady:
        return None
    dev = sorted(abs(g - period) for g in steady)
    lost = sum(max(0, round(g / period) - 1) for g in gaps)
    # A stamp taken late makes one interval long and the next short (the timer keeps its phase):
    # the long ones count the late stamps, whatever delayed them.
    late = sum(1 for g in steady if g - period > LATE_MS)
    shape = collections.Counter(f"{g:.1f}" for g in steady).most_common(4)
    return {"mean": statistics.fmean(steady), "median": statistics.median(dev),
            "p99": dev[min(len(dev) - 1, int(0.99 * len(dev)))], "max": max(steady),
            "lost": lost, "late": late * 1000.0 / len(steady), "first": gaps[:2],
            "n": len(steady),
            "shape": [(g, c / len(steady)) for g, c in shape]}


class Competitor:
    """One core kept busy while it is open, or nothing."""

    def __init__(self, busy):
        self.busy, self.p = busy, None

    def __enter__(self):
        if self.busy:
            self.p = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        return self

    def __exit__(self, *exc):
        if self.p:
            self.p.kill()
            self.p.wait()


def pace_figures(bench, linux, plan, busy, minimized=False):
    with Competitor(busy):
        r = bench.run(linux, "pace", *(["minimized"] if minimized else []),
                      *[f"{p}:{n}" for p, n in plan])
    drive = bench.linux_drive if linux else bench.wine_drive
    out = {}
    if minimized and not r.minimized:
        return {"refused": True}
    for period, name in r.paced:
        f = interval_figures(read_times(os.path.join(drive, "data", name + ".dat")), period)
        if f:
            out[period] = f
    return out


def floor_figures(bench, plan, busy):
    """The same statistics for the machine's floor (bench/pace_floor), under the same load."""
    out = {}
    with Competitor(busy):
        for period, n in plan:
            r = subprocess.run([bench.floor_exe, str(period), str(n)], stdout=subprocess.PIPE,
                               text=True, check=True)
            f = interval_figures([float(t) for t in r.stdout.split()], period)
            if f:
                out[period] = f
    return out


def startup_figures(bench, linux, runs):
    times = []
    for _ in range(runs):
        r = Run(bench, linux, ["startup"])
        start = r.start
        r.finish()
        if "painted" in r.marks:
            times.append(r.marks["painted"].wall - start)
    return statistics.median(times) if times else float("nan"), times


def fmt(v, unit="", digits=3):
    if v is None or v != v:
        return "n/a"
    return f"{v:.{digits}f}{unit}"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--linux", required=True)
    ap.add_argument("--windows")
    ap.add_argument("--seconds", type=int, default=20, help="CPU run at 10 ms (default 20)")
    ap.add_argument("--syscall-seconds", type=int, default=10,
                    help="run at 10 ms under strace, Linux (default 10)")
    ap.add_argument("--flat", type=int, default=100000, help="flat-out samples, Linux")
    ap.add_argument("--flat-wine", type=int, default=5000, help="flat-out samples, Wine")
    ap.add_argument("--memory", type=int, default=1000000, help="memory-growth samples, Linux")
    ap.add_argument("--memory-wine", type=int, default=10000, help="memory-growth samples, Wine")
    ap.add_argument("--pace-scale", type=float, default=1.0, help="scales the pacing runs")
    ap.add_argument("--floor", help="the floor's program (default: pace_floor beside --linux)")
    ap.add_argument("--only", choices=("all", "cpu", "pace"), default="all",
                    help="cpu or pace: only those rows, for a quick look (default all)")
    opts = ap.parse_args()
    bench = Bench(opts)
    if bench.windows_bits == 32 and subprocess.run(
            [os.path.join(ROOT, "cmake", "wine-run.sh"), "--can-run-32"]).returncode != 0:
        sys.exit("32-bit Wine cannot run here (scripts/machine.sh note run says why), so not "
                 f"{opts.windows}: give the x86-64 build's driver "
                 "(build/windows-x64/bench/program_bench.exe) instead.")
    bench.floor_exe = opts.floor or os.path.join(os.path.dirname(opts.linux), "pace_floor")

    # Enough intervals at every period for the p99 to be a percentile: with 600, it is the
    # seventh largest deviation, where a single late stamp (one long interval and one short)
    # makes the two largest.
    plan = [(p, max(20, int(n * opts.pace_scale)))
            for p, n in ((10, 1000), (20, 600), (50, 600), (100, 600))]
    builds = [("Linux build", True)]
    if opts.windows:
        builds.append((windows_title(bench.windows_bits), False))
    results = {FLOOR: {}}
    try:
        bench.start_display()
        if opts.windows:
            bench.start_wine()
        for title, linux in builds:
            res = results[title] = {}
            if opts.only in ("all", "cpu"):
                print(f"# {title}: CPU at 10 ms for {opts.seconds} s", file=sys.stderr)
                res["cpu"] = cpu_figures(bench, linux, opts.seconds)
                res["cpu_min"] = cpu_figures(bench, linux, opts.seconds, minimized=True)
                if linux:
                    print(f"# {title}: system calls at 10 ms for {opts.syscall_seconds} s, "
                          "under strace", file=sys.stderr)
                    res["syscalls"] = syscall_figures(bench, opts.syscall_seconds)
            if opts.only == "cpu":
                continue
            if opts.only == "all":
                flat = opts.flat if linux else opts.flat_wine
                memory = opts.memory if linux else opts.memory_wine
                print(f"# {title}: flat out, {memory} displayed, {flat} recorded",
                      file=sys.stderr)
                res["flat1"] = flat_figures(bench, linux, memory, 1)
                res["flat2"] = flat_figures(bench, linux, flat, 2)
            print(f"# {title}: pacing, idle (shown, minimized) and one core busy, each after "
                  "the floor under the same load", file=sys.stderr)
            # The machine's own noise comes and goes over minutes: each pacing run is compared
            # with the floor measured just before it.
            for key, busy, minimized in PACINGS:
                res["floor_" + key] = floor_figures(bench, plan, busy)
                res[key] = pace_figures(bench, linux, plan, busy, minimized)
            if opts.only == "all":
                print(f"# {title}: start-up", file=sys.stderr)
                res["startup"] = startup_figures(bench, linux, 5)
        if opts.only != "cpu":
            # The floor's column: the floor measured next to the first build's runs.
            for key, _, _ in PACINGS:
                results[FLOOR][key] = results[builds[0][0]]["floor_" + key]
    finally:
        bench.stop()
    print_table(results, builds, opts, plan)


FLOOR = ("floor: a timerfd and a second thread woken by an eventfd (bench/pace_floor), "
         "measured just before the Linux build's run")
# The pacing runs: the key of their figures, whether one core is kept busy, and whether the
# dialog is minimized.
PACINGS = (("pace", False, False), ("pace_min", False, True), ("pace_busy", True, False))


def print_table(results, builds, opts, plan):
    cols = [t for t, _ in builds] + [FLOOR]
    rows = []

    # A figure of each build; the floor's column is empty but for the pacing rows. A figure that
    # was not measured (--only) leaves its row out.
    def row(name, f, floor=None):
        try:
            vals = [f(results[c], linux) for c, linux in builds]
            vals.append(floor(results[FLOOR]) if floor else "")
        except KeyError:
            return
        rows.append((name, vals))

    row(f"CPU per sample, recording at 10 ms for {opts.seconds} s: the program's process"
        " (+ wineserver)",
        lambda r, lx: fmt(r["cpu"]["proc"], " ms") if lx else
        f'{fmt(r["cpu"]["proc"] + r["cpu"]["wineserver"], " ms")} '
        f'({fmt(r["cpu"]["proc"], "")} + {fmt(r["cpu"]["wineserver"], "")})')
    row("  the same with the dialog minimized",
        lambda r, lx: "not minimized: no window manager did it" if r["cpu_min"] is None else
        fmt(r["cpu_min"]["proc"], " ms") if lx else
        f'{fmt(r["cpu_min"]["proc"] + r["cpu_min"]["wineserver"], " ms")} '
        f'({fmt(r["cpu_min"]["proc"], "")} + {fmt(r["cpu_min"]["wineserver"], "")})')
    row("  by thread: dialog / toolkit X / worker / other",
        lambda r, lx: " / ".join(fmt(v, "", 3) for v in r["cpu"]["threads"]) + " ms"
        if lx else "")
    row("  X server's CPU per sample", lambda r, lx: fmt(r["cpu"]["x"], " ms"))
    row("  times the program's threads slept and were woken, per sample",
        lambda r, lx: fmt(r["cpu"]["sleeps"], "", 1))
    row(f"  system calls per sample, recording at 10 ms for {opts.syscall_seconds} s under"
        " strace -f (a run of its own)",
        lambda r, lx: "n/a" if not lx or not r["syscalls"] else
        f'{r["syscalls"]["total"]:.1f} (n={r["syscalls"]["n"]})')
    row("  by call",
        lambda r, lx: "" if not lx or not r["syscalls"] else
        ", ".join(f"{name} {v:.2f}" for name, v in r["syscalls"]["calls"] if v >= 0.05))
    for key, what in (("flat1", "displaying"), ("flat2", "recording")):
        row(f"flat out, {what}: samples per second",
            lambda r, lx, k=key: f'{r[k]["rate"]:.0f} (n={r[k]["n"]})')
        row(f"flat out, {what}: CPU per sample, process (+ wineserver) / X server",
            lambda r, lx, k=key: f'{fmt(r[k]["proc"] + r[k]["wineserver"], "")} / '
            f'{fmt(r[k]["x"], " ms")}')
    row("flat out: data-file append, recording minus displaying, per sample",
        lambda r, lx: fmt(r["flat2"]["proc"] + r["flat2"]["wineserver"]
                          - r["flat1"]["proc"] - r["flat1"]["wineserver"], " ms"))

    def pacing(f, floor=None):
        if f is None:
            return "n/a"
        if f == "refused":
            return "not minimized: no window manager did it"
        text = (f'{f["mean"]:.3f} / {f["median"]:.3f} / {f["p99"]:.3f} / {f["max"]:.1f} ms / '
                f'{f["lost"]} / {f["late"]:.1f} / ' + ", ".join(f"{g:.1f}" for g in f["first"])
                + f' ms (n={f["n"]})')
        if floor:
            text += (f' (median ×{ratio(f["median"], floor["median"])}, '
                     f'p99 ×{ratio(f["p99"], floor["p99"])} the floor\'s just before: '
                     f'{floor["median"]:.3f} / {floor["p99"]:.3f} ms, {floor["late"]:.1f} late)')
        return text

    def shape(f):
        return "n/a" if f is None else ", ".join(f"{g} ({share:.0%})" for g, share in f["shape"])

    for key, what in (("pace", "idle, dialog shown"), ("pace_min", "idle, dialog minimized"),
                      ("pace_busy", "one core busy, dialog shown")):
        for period, _ in plan:
            row(f"pacing {period} ms, {what}: mean / median / p99 \\|interval - period\\| / "
                f"longest / lost / late stamps (over {LATE_MS} ms) per 1000 / first two",
                lambda r, lx, k=key, p=period: pacing(
                    "refused" if r[k].get("refused") else r[k].get(p), r["floor_" + k].get(p)),
                lambda r, k=key, p=period: pacing(r[k].get(p)))
            row("  most frequent intervals (ms, share)",
                lambda r, lx, k=key, p=period: shape(r[k].get(p)),
                lambda r, k=key, p=period: shape(r[k].get(p)))
    row("start-up to the plot's first paint, median of 5",
        lambda r, lx: f'{fmt(r["startup"][0], " s")} ('
        + ", ".join(f"{t:.2f}" for t in r["startup"][1]) + ")")
    row("resident memory growth while displaying flat out",
        lambda r, lx: f'{fmt(r["flat1"]["rss"], " MiB", 2)} over {r["flat1"]["n"]} samples')

    print("| figure | " + " | ".join(cols) + " |")
    print("|---|" + "---|" * len(cols))
    for name, vals in rows:
        print(f"| {name} | " + " | ".join(vals) + " |")


def ratio(a, b):
    if not b:
        return "n/a"
    return f"{a / b:.2f}" if a < b else f"{a / b:.1f}"


if __name__ == "__main__":
    main()
