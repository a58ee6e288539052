#!/usr/bin/env python3
"""Writes docs/performance.md: the benchmarks of bench/ (Google Benchmark, JSON) and live runs
of kestrel32 against digitizer-sim, each figure with the command that gives it and its ratio
to a reference. Called by scripts/perf-report after the build; standard library only.

Live runs read /proc: CPU time (utime + stime of /proc/PID/stat) over a fixed span, resident
memory (VmRSS of /proc/PID/status), and the lines KESTREL32_RUN_REPORT makes the program
write (the time of its first paint, the blocks it received)."""

import argparse
import datetime
import json
import os
import platform
import re
import shlex
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BLOCK_PERIOD = 1.0  # seconds: the digitizer sends one frame per second
LINE_BYTES_PER_SECOND = 11520  # 115200 bit/s, 10 bits per byte
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
TABS = {"Channels": 0, "Temperatures": 4, "FFT": 5}
HIGHEST = " (the highest aggregate rate)"
LOWER = "lower"
HIGHER = "higher"


class Report:
    """The figures and the commands that gave them, in order."""

    def __init__(self):
        self.rows = []  # (figure, measured, reference, ratio, better, command number)
        self.commands = []  # (text, note)
        self.sections = []  # (title, markdown)

    def command(self, text, note=""):
        self.commands.append((text, note))
        return len(self.commands)

    def row(self, figure, measured, reference, ratio, command, better=LOWER):
        """`better` says which way the ratio is better: LOWER (a time or a memory against what
        it must fit in or beat) or HIGHER (a throughput, or how many times faster the program's
        way is than the one it is compared with)."""
        self.rows.append((figure, measured, reference, ratio, better, command))


def shown(argv):
    return " ".join(shlex.quote(a) for a in argv)


def fmt_time(seconds):
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.2f} ms"
    return f"{seconds * 1e6:.1f} µs"


def fmt_ratio(value):
    if value >= 100:
        return f"{value:,.0f}"
    if value >= 10:
        return f"{value:.1f}"
    if value >= 0.1:
        return f"{value:.2f}"
    return f"{value:.2g}"


# --- Benchmarks ---------------------------------------------------------------------------


class Benchmarks:
    def __init__(self, build, work, quick):
        self.build = build
        self.work = work
        self.quick = quick

    def run(self, program, filter_regex, repetitions=3, min_time=0.5):
        """Runs one benchmark program; returns ({name: entry}, the command as shown)."""
        if self.quick:
            repetitions, min_time = 1, min(min_time, 0.1)
        path = os.path.join(self.build, "bench", program)
        out = os.path.join(self.work, program + ".json")
        argv = [path, f"--benchmark_filter={filter_regex}", f"--benchmark_min_time={min_time}"]
        if repetitions > 1:
            argv += [f"--benchmark_repetitions={repetitions}", "--benchmark_report_aggregates_only=true"]
        argv += ["--benchmark_format=json", f"--benchmark_out={out}"]
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        print(f"perf-report: {shown(argv[:-2])}", file=sys.stderr, flush=True)
        log = os.path.join(self.work, program + ".log")
        with open(log, "w") as errors:
            done = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=errors)
        if done.returncode != 0:
            with open(log) as errors:
                sys.stderr.write(errors.read()[-4000:])
            raise SystemExit(f"perf-report: {program} failed ({done.returncode})")
        with open(out) as f:
            data = json.load(f)
        results = {}
        for entry in data["benchmarks"]:
            if entry.get("error_occurred"):
                raise SystemExit(f"perf-report: {entry['name']}: {entry.get('error_message')}")
            # One entry per benchmark: the median of the repetitions, or the single run.
            if entry.get("run_type") == "aggregate":
                if entry.get("aggregate_name") != "median":
                    continue
                name = entry["run_name"]
            else:
                name = entry["name"]
            results[name] = entry
        self.context = data["context"]
        display = [os.path.relpath(path)] + argv[1:-2]
        return results, shown(display)


def seconds_of(entry, key="cpu_time"):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry["time_unit"]]
    return entry[key] * scale


# --- Live runs ----------------------------------------------------------------------------


class Process:
    """A child whose standard error is gathered in the background."""

    def __init__(self, argv, env, stdout=subprocess.DEVNULL):
        self.argv = argv
        self.proc = subprocess.Popen(argv, env=env, stdout=stdout, stderr=subprocess.PIPE, text=True)
        self.errors = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.proc.stderr:
            with self.lock:
                self.errors.append(line.rstrip("\n"))

    def wait_for(self, pattern, timeout):
        deadline = time.monotonic() + timeout
        regex = re.compile(pattern)
        while time.monotonic() < deadline:
            with self.lock:
                for line in self.errors:
                    m = regex.search(line)
                    if m:
                        return m
            if self.proc.poll() is not None:
                break
            time.sleep(0.01)
        return None

    def stop(self, timeout=15):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.reader.join(5)
        return self.proc.returncode

    def cpu_seconds(self):
        """CPU time of every thread: the run time of /proc/PID/task/*/schedstat (nanoseconds),
        and utime + stime of /proc/PID/stat (clock ticks, threads that ended included)."""
        exact = 0
        task_dir = f"/proc/{self.proc.pid}/task"
        for task in os.listdir(task_dir):
            try:
                with open(f"{task_dir}/{task}/schedstat") as f:
                    exact += int(f.read().split()[0])
            except OSError:
                pass  # the thread has just ended
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = (int(fields[11]) + int(fields[12])) / CLOCK_TICKS
        return exact / 1e9, ticks

    def resident_mb(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024 / 1e6
        return float("nan")


PAINT = r"first paint at ([0-9.]+) s monotonic, ([0-9.]+) s CPU"
BLOCKS = r"(\d+) blocks received"


class Live:
    def __init__(self, build, work, quick):
        self.kestrel = os.path.join(build, "src", "app", "kestrel32")
        self.sim = os.path.join(build, "sim", "digitizer-sim")
        self.bare = os.path.join(build, "bench", "bare_window")
        self.work = work
        self.quick = quick
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", KESTREL32_RUN_REPORT="1")

    def settings(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def startup(self, program, args, runs):
        """Wall and CPU seconds from the start of the process to its first paint; the
        resident memory a second after it."""
        walls, cpus, rss = [], [], []
        for _ in range(runs):
            start = time.monotonic()
            p = Process([program] + args, self.env)
            m = p.wait_for(PAINT, 30)
            if not m:
                p.stop()
                raise SystemExit(f"perf-report: no first paint from {shown(p.argv)}:\n" + "\n".join(p.errors))
            walls.append(float(m.group(1)) - start)
            cpus.append(float(m.group(2)))
            time.sleep(1)
            rss.append(p.resident_mb())
            p.stop()
        return statistics.median(walls), statistics.median(cpus), statistics.median(rss)

    def monitor(self, channels, rate, width, settings_text, warmup, span):
        """kestrel32 against digitizer-sim at 115200 bit/s: CPU seconds per wall second of
        each over `span` seconds after `warmup`, the program's resident memory at the end, and
        the blocks it received."""
        link = os.path.join(self.work, f"digitizer-{channels}x{rate}")
        sim_argv = [self.sim, "--channels", str(channels), "--rate", str(rate), "--bytes", str(width),
                    "--baud", "115200", "--mde", "--gps", "reports", "--link", link]
        sim = Process(sim_argv, os.environ, stdout=subprocess.PIPE)
        sim.proc.stdout.readline()  # the device path: the link is in place
        ini = self.settings(f"monitor-{channels}x{rate}-{len(settings_text)}.ini", settings_text)
        app_argv = [self.kestrel, link, "--settings", ini]
        app = Process(app_argv, self.env)
        if not app.wait_for(PAINT, 30):
            app.stop()
            sim.stop()
            raise SystemExit("perf-report: kestrel32 did not paint:\n" + "\n".join(app.errors))
        time.sleep(warmup)
        t0, (a0, k0), (s0, _) = time.monotonic(), app.cpu_seconds(), sim.cpu_seconds()
        time.sleep(span)
        t1, (a1, k1), (s1, _) = time.monotonic(), app.cpu_seconds(), sim.cpu_seconds()
        rss = app.resident_mb()
        run_seconds = t1 - t0 + warmup
        code = app.stop()
        sim.stop()
        m = app.wait_for(BLOCKS, 1)
        if code != 0 or not m:
            raise SystemExit(f"perf-report: kestrel32 ended with {code}:\n" + "\n".join(app.errors))
        return {
            "app_cpu": (a1 - a0) / (t1 - t0),
            "app_cpu_ticks": (k1 - k0) / (t1 - t0),
            "sim_cpu": (s1 - s0) / (t1 - t0),
            "rss": rss,
            "blocks": int(m.group(1)),
            "seconds": run_seconds,
            "app_argv": app_argv,
            "sim_argv": sim_argv,
            "ini": settings_text,
        }

    def idle(self, seconds):
        """kestrel32 on a device that does not exist: resident memory after `seconds`."""
        ini = self.settings("idle.ini", "")
        argv = [self.kestrel, os.path.join(self.work, "no-such-device"), "--settings", ini]
        p = Process(argv, self.env)
        if not p.wait_for(PAINT, 30):
            p.stop()
            raise SystemExit("perf-report: kestrel32 did not paint:\n" + "\n".join(p.errors))
        time.sleep(seconds)
        rss = p.resident_mb()
        p.stop()
        return rss, argv


# --- The report ---------------------------------------------------------------------------

RATIOS = (
    "The ratio is the measured figure over the reference; the Better column says which way is "
    "better. Lower is better for a time against the block period (below 1 it fits in the second "
    "before the next block comes; 0.01 leaves 99% of the second free), for a CPU load against one "
    "core (1 would be a whole core busy), for memory against the bare samples or a bare Qt window "
    "(1 would be nothing beyond them), for start-up against a bare Qt window, and for the FFT "
    "against FFTW (1 would be as fast as FFTW). Higher is better for a throughput against the "
    "line rate (how many times faster than the fastest line delivers; above 1 decoding keeps up), "
    "for Steim-1 against libmseed (how many times faster than libmseed the program encodes), and "
    "for the rows that draw every segment or every dot: those are what the program avoids, and "
    "the ratio is how many times faster its own redraw is.")

TERMS = """- **Block**: what the digitizer sends once a second, one frame with a header and up to six channels' samples; the **block period** is that second, the time each block's work must fit in.
- **Aggregate rate**: the sample rate summed over the channels of a frame; at most 3000 samples per second (6 x 500).
- **Main-thread time**: the CPU time of the window's main thread, which decodes nothing (the reader thread does) but updates the model and draws the pages; **every page active** means every page's drawing runs, whichever tab is visible; the **visible tab** is the one repainted.
- **History**: the samples kept per channel for the Channels page (up to 86,400 s), with **min/max summaries** per pixel column, from which a redraw **by columns** draws one vertical line per column instead of every segment; the Temperatures page likewise draws each place in its band once (**by places**) instead of every reading.
- **FFT**, **8192-point spectrum**: the amplitude spectrum of a channel's newest 8192 samples (window, transform, conversion to dB); **FFTW** is a widely used FFT library, the yardstick for the program's own transform.
- **Steim-1**: the compression of miniSEED data records (differences packed into 8, 16 or 32 bits); **libmseed** is the reference miniSEED library, **msr_pack** its record packer, its **bare frame encoder** the Steim-1 step alone.
- **File period**: in the recording build (`-DFILES_FEATURE=ON`) the window writes one SEED file per channel and period (1 to 60 minutes), whole, when the period ends; it is written on the recorder's worker thread, so the window does not wait for it.
- **Resident memory** (RSS, `VmRSS` of /proc/PID/status, `statm`): the memory of the process held in RAM. **MB** is 10^6 bytes, **MiB** 2^20 bytes.
- **Bare Qt window**: `bench/bare_window`, an empty Qt window, the least any Qt program costs in start-up time and memory.
- **First paint**: the moment the window is first drawn, which `KESTREL32_RUN_REPORT=1` makes the program report; **offscreen** is Qt's platform without a display, used for every measured run.
- **CPU s/s**: CPU seconds used per second of wall time (0.01 is 1% of one core); taken from `/proc/PID/task/*/schedstat` (nanoseconds per thread) and, to the **clock tick** (1/100 s), from **utime + stime** of /proc/PID/stat.
- **Median of three runs**: each benchmark is repeated three times and the middle value kept; **RelWithDebInfo** is CMake's optimised build with debug information (-O2 -g).
- **Soak**: hours of the simulator's time through the window at high speed (`scripts/soak`) under **AddressSanitizer**, which checks every memory access; its **shadow memory** and **quarantine** (freed blocks held back to catch late uses) count in the resident memory. The **planted tag**: the soak's line faults plant the frame tag "MOD" into samples, which then read back as that tag; they are counted, not taken for lost samples.
- **FFT rings**: the newest samples of each channel kept for its spectrum (up to 8192).
- In the commands, **DEV** is the simulator's device (the link it makes), **K.ini** the settings file written for the run, **NEW.ini** and **DIR/EMPTY.ini** new empty settings files, **DIR** the run's temporary directory."""


def machine_facts():
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
    dirty = subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"], capture_output=True,
                           text=True).stdout.strip()
    return {
        "cpus": os.cpu_count(),
        "model": model,
        "kernel": platform.release(),
        "commit": commit + (" with changes not yet committed" if dirty else ""),
    }


def soak_section(csv, summary, plot):
    """The soak's memory over time: plotted from the samples a passing scripts/soak left in
    docs/, with its summary."""
    if not os.path.exists(csv):
        return (f"No passing soak has left its samples (`{os.path.relpath(csv)}`): run `scripts/soak`, "
                "then this script again.")
    subprocess.run(["scripts/plot-soak-memory", csv, plot], check=True)
    with open(csv) as f:
        rows = [line.strip().split(",") for line in f if line.strip() and line[0].isdigit()]
    minutes = [float(r[0]) for r in rows]
    rss = [int(r[2]) / 1024 for r in rows]
    held = [int(r[3]) / 1024 for r in rows]
    heap = [int(r[5]) / 1024 for r in rows]
    lines = [f"![Resident memory during the soak, one sample a minute]({os.path.relpath(plot, 'docs')})\n"]
    if os.path.exists(summary):
        with open(summary) as f:
            run, *results = [line.rstrip("\n") for line in f]
        lines.append(f"The run: `{run}` (an AddressSanitizer build with recording; the leak check "
                     "runs at its end). What it reported:\n")
        lines += ["    " + line for line in results]
        lines.append("")
    lines.append(f"Resident memory from `{os.path.relpath(csv)}` ({len(rows)} samples over "
                 f"{minutes[-1]:.0f} minutes of the unit's time): {rss[0]:.0f} MiB at the start, "
                 f"{max(rss):.0f} MiB at most, {rss[-1]:.0f} MiB at the end (the sanitizer's shadow "
                 f"memory and its quarantine of freed blocks are part of it). Allocated and not "
                 f"freed: {heap[1]:.1f} MiB after the first minute, {max(heap):.1f} MiB at most, "
                 f"{heap[-1]:.1f} MiB at the end; of it the histories and recording lists held "
                 f"{held[-1]:.1f} MiB at the end.")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--out", default="docs/performance.md")
    parser.add_argument("--soak-csv", default="docs/soak-memory.csv")
    parser.add_argument("--soak-summary", default="docs/soak-summary.txt")
    parser.add_argument("--soak-plot", default="docs/soak-memory.png")
    parser.add_argument("--quick", action="store_true",
                        help="short spans and single repetitions, to try the script (figures not fit to keep)")
    args = parser.parse_args()

    started = time.monotonic()
    load_before = os.getloadavg()
    work = tempfile.mkdtemp(prefix="perf-report.")
    bench = Benchmarks(args.build, work, args.quick)
    live = Live(args.build, work, args.quick)
    report = Report()
    span = 10 if args.quick else 30
    warmup = 3 if args.quick else 5
    notes = []
    fft_detail = ""

    try:
        # 1. One block with every page active.
        r, cmd = bench.run("pages_block_bench", "BM_BlockWithEveryPage/(100|500)/")
        n = report.command(cmd, "one block: the model's work, every page's drawing, six spectra of "
                           "8192 points, the visible page repainted; main thread CPU time")
        for rate in (500, 100):
            worst = max(((seconds_of(r[f"BM_BlockWithEveryPage/{rate}/{tab}"]), name)
                         for name, tab in TABS.items()), key=lambda x: x[0])
            report.row(f"Per-block main-thread time, 6 x {rate} samples/s{HIGHEST if rate == 500 else ''}, "
                       f"every page active, six "
                       f"8192-point spectra (worst visible tab: {worst[1]})",
                       fmt_time(worst[0]), "block period 1 s", fmt_ratio(worst[0] / BLOCK_PERIOD), n)
        per_tab = ", ".join(f"{name} {fmt_time(seconds_of(r[f'BM_BlockWithEveryPage/500/{tab}']))}"
                            for name, tab in TABS.items())

        # 2. Full redraws.
        r, cmd = bench.run("channels_draw_bench", "BM_(FullRedraw|FullRedrawEverySegment|ZoomClick)/500/86400",
                           repetitions=1, min_time=1)
        n = report.command(cmd, "six 800-pixel bands of 86,400 s at 500 samples/s (6 x 43.2 million "
                           "samples); by pixel column, and for comparison segment by segment")
        redraw = seconds_of(r["BM_FullRedraw/500/86400"])
        every = seconds_of(r["BM_FullRedrawEverySegment/500/86400"])
        zoom = seconds_of(r["BM_ZoomClick/500/86400"])
        report.row("Full redraw of the longest channel histories (6 x 86,400 s at 500 samples/s)",
                   fmt_time(redraw), "block period 1 s", fmt_ratio(redraw / BLOCK_PERIOD), n)
        report.row("... the same redraw drawing every segment", fmt_time(every), "the redraw by columns",
                   fmt_ratio(every / redraw), n, HIGHER)
        report.row("A zoom click on the Channels page with those histories (layout, texts, six bands "
                   "redrawn)", fmt_time(zoom), "block period 1 s", fmt_ratio(zoom / BLOCK_PERIOD), n)

        r, cmd = bench.run("temperatures_draw_bench", "BM_Redraw")
        n = report.command(cmd, "six 800 x 80 bands with 100 stored hours (6 x 360,001 readings)")
        for kind, label in (("Drift", "drifting offsets"), ("Scatter", "readings strewn over the band")):
            t = seconds_of(r[f"BM_Redraw{kind}"])
            t_every = seconds_of(r[f"BM_Redraw{kind}EveryDot"])
            report.row(f"Full redraw of the longest temperature histories (100 h, {label})", fmt_time(t),
                       "block period 1 s", fmt_ratio(t / BLOCK_PERIOD), n)
            report.row(f"... the same redraw dot by dot ({label})", fmt_time(t_every),
                       "the redraw by places", fmt_ratio(t_every / t), n, HIGHER)

        # 3. Decoding.
        r, cmd = bench.run("decode_bench", "BM_Receive/6/500/")
        n = report.command(cmd, "the receiver on a stream of 16 frames in 2048-byte reads: framing, "
                           "echo checks, decoding; bytes per CPU second")
        for key, label in (("6/500/0/3", "6 x 500 24-bit samples (the largest frames, 9,000-byte payload)"),
                           ("6/500/1/3", "the same with a command awaiting its echo")):
            rate = r[f"BM_Receive/{key}"]["bytes_per_second"]  # per CPU second
            report.row(f"Decoding throughput, {label}", f"{rate / 1e6:.1f} MB/s",
                       "line rate 11,520 B/s", fmt_ratio(rate / LINE_BYTES_PER_SECOND), n, HIGHER)

        # 4. Steim-1 against libmseed.
        r, cmd = bench.run("seedfile_bench", "BM_Steim1(Ours/[01]/4|Libmseed/[01]|LibmseedFramesOnly/[01])$")
        n = report.command(cmd, "2^20 samples into 4096-byte Steim-1 records; libmseed's msr_pack "
                           "(records with headers) and its bare frame encoder")
        records = []
        for signal_arg, label in (("0", "sine with noise"), ("1", "full-scale noise")):
            ours = seconds_of(r[f"BM_Steim1Ours/{signal_arg}/4"])
            pack = seconds_of(r[f"BM_Steim1Libmseed/{signal_arg}"])
            frames = seconds_of(r[f"BM_Steim1LibmseedFramesOnly/{signal_arg}"])
            count = 1 << 20
            records.append(f"{label}: {r[f'BM_Steim1Ours/{signal_arg}/4']['samples_per_record']:.1f} samples "
                           f"per record, libmseed {r[f'BM_Steim1Libmseed/{signal_arg}']['samples_per_record']:.1f}")
            report.row(f"Steim-1 encoding, {label}", f"{count / ours / 1e6:.1f} M samples/s",
                       f"libmseed msr_pack {count / pack / 1e6:.1f} M samples/s", fmt_ratio(pack / ours), n,
                       HIGHER)
            report.row(f"... against libmseed's bare frame encoder, {label}", f"{count / ours / 1e6:.1f} M samples/s",
                       f"{count / frames / 1e6:.1f} M samples/s", fmt_ratio(frames / ours), n, HIGHER)

        # 4b. The recording build's heaviest write: the largest file period, written whole.
        r, cmd = bench.run("seedfile_bench", "BM_WriteLargestFilePeriod")
        n = report.command(cmd, "a file period of 60 minutes at 3000 samples per second (10.8 million "
                           "samples) from its recording list into one file of 4096-byte Steim-1 "
                           "records on the temporary directory; wall time, the write included")
        for signal_arg, label in (("0", "sine with noise"), ("1", "full-scale noise")):
            entry = r[f"BM_WriteLargestFilePeriod/{signal_arg}/real_time"]
            t = seconds_of(entry, "real_time")
            report.row(f"The recording build's heaviest write: a whole file period, 60 minutes at "
                       f"3000 samples/s, the highest aggregate rate ({label}, {entry['MB']:.1f} MB of "
                       f"records), wall time", fmt_time(t), "block period 1 s", fmt_ratio(t / BLOCK_PERIOD), n)

        # 5. The FFT against FFTW.
        r, cmd = bench.run("fft_bench", "BM_(Fft|Fftw|RecomputeSixSpectra)$")
        n = report.command(cmd, "8192 points, complex, forward; FFTW planned with FFTW_MEASURE")
        ours = seconds_of(r["BM_Fft"])
        if "BM_Fftw" in r:
            fftw = seconds_of(r["BM_Fftw"])
            report.row("FFT of 8192 points", fmt_time(ours), f"FFTW {fmt_time(fftw)}", fmt_ratio(ours / fftw), n)
            fft_detail = (f"The two transforms agree to {r['BM_Fftw']['max_difference']:.1e} (largest "
                          "difference of any output, ours against FFTW's divided by the points).")
        else:
            notes.append("FFTW was not found when the benchmarks were built (libfftw3-dev): no comparison.")
        six = seconds_of(r["BM_RecomputeSixSpectra"])
        report.row("Six 8192-point spectra (window, transform, dB)", fmt_time(six), "block period 1 s",
                   fmt_ratio(six / BLOCK_PERIOD), n)

        # 6. Resident memory at the largest settings.
        r, cmd = bench.run("memory_bench", "BM_ResidentAtLargestSettings", repetitions=1)
        n = report.command(cmd, "the window offscreen with 86,400 s shown, 100 stored hours and 8192 "
                           "points, filled with 360,001 blocks of 6 x 500 samples; /proc/self/statm")
        m = r["BM_ResidentAtLargestSettings/iterations:1"]
        report.row("Resident memory at the largest settings, histories full (86,400 s of 6 x 500 "
                   "samples/s, 100 h of temperatures, 8192 points)", f"{m['rss_full_MB']:,.0f} MB",
                   f"the bare samples {m['samples_MB']:,.0f} MB",
                   fmt_ratio(m["rss_full_MB"] / m["samples_MB"]), n)
        report.row("... the growth from the same window with nothing stored", 
                   f"{m['rss_full_MB'] - m['rss_idle_MB']:,.0f} MB", f"the bare samples {m['samples_MB']:,.0f} MB",
                   fmt_ratio((m["rss_full_MB"] - m["rss_idle_MB"]) / m["samples_MB"]), n)
        memory_detail = (f"The model's own count of what it holds: {m['held_MB']:,.0f} MB (histories with "
                         f"their min/max summaries, {m['temperature_readings']:,.0f} temperature readings, "
                         f"the FFT rings); the window with these settings before any block: "
                         f"{m['rss_idle_MB']:,.0f} MB.")

        # 7. Start-up to the first drawn window.
        runs = 2 if args.quick else 5
        k_wall, k_cpu, k_rss = live.startup(live.kestrel, ["--simulate", "--settings",
                                                           live.settings("startup.ini", "")], runs)
        b_wall, b_cpu, b_rss = live.startup(live.bare, [], runs)
        n = report.command(
            f"QT_QPA_PLATFORM=offscreen KESTREL32_RUN_REPORT=1 {os.path.relpath(live.kestrel)} --simulate "
            f"--settings NEW.ini  # and {os.path.relpath(live.bare)}",
            f"median of {runs} starts each: from the start of the process to the line 'first paint at' "
            "(the monotonic clock) and the process's CPU time by then")
        report.row("Start-up to the first drawn window, wall time", fmt_time(k_wall),
                   f"a bare Qt window {fmt_time(b_wall)}", fmt_ratio(k_wall / b_wall), n)
        report.row("Start-up to the first drawn window, CPU time", fmt_time(k_cpu),
                   f"a bare Qt window {fmt_time(b_cpu)}", fmt_ratio(k_cpu / b_cpu), n)

        # 8. Resident memory idle.
        idle_rss, idle_argv = live.idle(3)
        n = report.command(f"QT_QPA_PLATFORM=offscreen {os.path.relpath(idle_argv[0])} DIR/no-such-device "
                           "--settings DIR/EMPTY.ini",
                           "default settings, no digitizer (the device does not open): VmRSS 3 s after the "
                           "first paint")
        report.row("Resident memory idle (default settings, no digitizer)", f"{idle_rss:.0f} MB",
                   f"a bare Qt window {b_rss:.0f} MB", fmt_ratio(idle_rss / b_rss), n)

        # 9. Whole-program CPU while monitoring.
        default = "[Comms]\nBaud=115200\n"
        largest = default + "[Data]\nStoredSeconds=86400\n[Temperatures]\nStoredHours=100\n[FFT]\nPoints=8192\n"
        monitoring = []
        for channels, rate, width, text, label in ((6, 100, 3, default, "default settings"),
                                                   (6, 500, 3, default, "default settings"),
                                                   (6, 500, 3, largest, "largest settings")):
            result = live.monitor(channels, rate, width, text, warmup, span)
            expected = int(result["seconds"])
            if result["blocks"] < expected - 2:
                raise SystemExit(f"perf-report: kestrel32 received {result['blocks']} blocks in "
                                 f"{result['seconds']:.0f} s at {channels} x {rate}")
            sim_cmd = shown([os.path.relpath(result["sim_argv"][0])] + result["sim_argv"][1:-1] + ["DEV"])
            app_cmd = shown([os.path.relpath(result["app_argv"][0]), "DEV", "--settings", "K.ini"])
            ini = result["ini"].replace("\n", " ").strip()
            n = report.command(f"{sim_cmd} &  QT_QPA_PLATFORM=offscreen {app_cmd}",
                               f"K.ini: `{ini}`; the Channels tab visible; CPU time of all threads "
                               f"(/proc/PID/task/*/schedstat) over {span} s after {warmup} s "
                               f"({result['app_cpu_ticks']:.4f} CPU s/s by utime + stime of /proc/PID/stat, "
                               f"to the clock tick), VmRSS at the end; {result['blocks']} blocks "
                               f"received in {result['seconds']:.0f} s")
            report.row(f"Whole-program CPU monitoring 6 x {rate} samples/s ({label})",
                       f"{result['app_cpu']:.4f} CPU s/s", "one core (1 CPU s/s)", fmt_ratio(result["app_cpu"]), n)
            monitoring.append((channels, rate, label, result, n))
        for channels, rate, label, result, n in monitoring:
            report.row(f"Resident memory monitoring 6 x {rate} samples/s ({label}, after "
                       f"{result['seconds']:.0f} s)", f"{result['rss']:.0f} MB",
                       f"a bare Qt window {b_rss:.0f} MB", fmt_ratio(result["rss"] / b_rss), n)
        sim_cpu = ", ".join(f"6 x {rate}: {result['sim_cpu']:.3f}" for _, rate, _, result, _ in monitoring)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    load_after = os.getloadavg()
    elapsed = time.monotonic() - started
    facts = machine_facts()
    ctx = bench.context
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")

    out = []
    out.append("# Performance\n")
    out.append(f"Written by `scripts/perf-report` on {now} from commit {facts['commit']}, in "
               f"{elapsed / 60:.1f} minutes{' (--quick: spans shortened, single runs)' if args.quick else ''}. "
               f"Every figure comes from the command numbered beside it (below the table); the "
               f"benchmarks are Google Benchmark programs in `bench/`, built in `build/` with the project's "
               f"build type (RelWithDebInfo: -O2); the timing library is Debian's libbenchmark, which calls "
               f"itself a {ctx.get('library_build_type', '?')} build.\n")
    out.append(f"The machine: {facts['cpus']} CPUs ({facts['model']}), Linux {facts['kernel']}, shared with other "
               f"work: load average {load_before[0]:.1f} when the script started and {load_after[0]:.1f} when it "
               f"ended. Times are CPU times where a CPU time exists (the benchmarks' `cpu_time`, the "
               f"thread's own; /proc for the live runs), which a loaded machine disturbs less than wall "
               f"time; benchmarks are the median of three runs unless said otherwise. Wall times (start-up) "
               f"are the most exposed to the load.\n")
    out.append("The highest aggregate rate is 3000 samples per second: a frame's rate summed over its "
               "channels is at most 3000 (a frame with more fails to decode), so six channels reach "
               "6 x 500 samples per second, a 9,000-byte payload of 24-bit samples each second, which "
               "the fastest line (115200 bit/s, 11,520 bytes a second) carries.\n")
    out.append("| Figure | Measured | Reference | Ratio | Better | Command |")
    out.append("|---|---:|---|---:|:-:|:-:|")
    for figure, measured, reference, ratio, better, command in report.rows:
        out.append(f"| {figure} | {measured} | {reference} | {ratio} | {better} | [{command}](#c{command}) |")
    out.append("")
    out.append(RATIOS + "\n")
    out.append(f"Per visible tab at 6 x 500: {per_tab}. Steim-1 records filled alike: "
               f"{'; '.join(records)}. {fft_detail} {memory_detail} The simulator's own CPU while "
               f"sending (not part of the figures): {sim_cpu} CPU s/s.\n")
    for note in notes:
        out.append(note + "\n")
    out.append("## Terms\n")
    out.append(TERMS + "\n")
    out.append("## Commands\n")
    for i, (text, note) in enumerate(report.commands, 1):
        out.append(f'<a id="c{i}"></a>{i}. {note}\n')
        out.append("   ```sh")
        out.append(f"   {text}")
        out.append("   ```\n")
    out.append("## Soak: resident memory over time\n")
    out.append(soak_section(args.soak_csv, args.soak_summary, args.soak_plot) + "\n")
    out.append("## Regenerating\n")
    out.append("`scripts/perf-report` (it runs `scripts/setup`, builds `build/` with the benchmarks, "
               "then this script). `KESTREL32_RUN_REPORT=1` makes kestrel32 write the time of its first "
               "paint and, at exit, the number of blocks it received to standard error; the live runs "
               "read those lines.\n")

    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "w") as f:
        f.write("\n".join(out))
    print(f"perf-report: wrote {args.out} in {elapsed:.0f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
