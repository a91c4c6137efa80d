#!/usr/bin/python3
"""Benchmarks of vardel-lecteurs side by side with pcsc_scan (pcsc-tools), on
the PC/SC lab (scripts/lab-up): each measurement runs several times against
our programs and against the peer, in alternation, and is reported as median,
p95, min and max with our/peer ratio. Run through scripts/bench, which builds
the programs and sets up the lab's directory and port.

    bench.py --build DIR --out FILE [--only 1,2,...] [--merge] [--quick] [counts...]

Measurements:
  1 card event latency: --watch --json and pcsc_scan watching the same lab, a
    vicc card inserted and removed N times; for each event the time from the
    lab command (card-in / card-out) to each tool's line, and our extra delay
    over pcsc_scan's for the same event;
  2 one run: wall time of --check pcsc, --check direct and the default (three
    checks) against pcsc_scan -r, two readers, alternated;
  3 idle cost: 30 s of --watch with four readers, one holding a card: the
    watcher's CPU and pcscd's CPU, against pcsc_scan watching, nobody
    watching, and vardel-bare-cycle (the service calls of our cycle alone;
    and, for reference, the same calls with a minimal thread hand-over);
  4 memory: peak RSS of the one-run CLI (from 2), of --watch after 30 s
    (from 3), of the window once mapped (from 5);
  5 start-up: time from starting vardel-lecteurs under Xvfb to its window
    being mapped (vardel-map-wait);
  6 the event queue under Google Benchmark (vardel-event-queue-bench);
  7 many readers: one run of the service check (--check pcsc, with and
    without --details) over the tests' fake smart-card library serving 16,
    1 000 and 10 000 readers (vardel-readers-run): the time per reader must
    not grow with their number.

Each measurement records the load average before and after it; one taken
while the machine was busy (1-minute load above HIGH_LOAD per CPU, other
people's builds) is flagged in the notes: rerun it alone with --only N
--merge, which keeps the other measurements of the results file.

Times are taken with the monotonic clock as lines arrive: our CLI flushes
every line; pcsc_scan runs under stdbuf -oL, so that it writes each line as
it prints it into the pipe. CPU is read from /proc: the run time of every
thread of the process (schedstat, nanoseconds), between two samples.
"""

import argparse
import json
import math
import os
import random
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.realpath(__file__))
ROOT = os.path.dirname(HERE)
SCRIPTS = os.path.join(ROOT, "scripts")
ANSI = re.compile(r"\x1b\[[0-9;]*[A-Za-z]")


def note(text):
    print(f"bench: {text}", file=sys.stderr, flush=True)


class BenchError(Exception):
    pass


# ---- figures ----------------------------------------------------------------

def summary(samples):
    """median, p95 (nearest rank), min, max of a list of numbers."""
    values = sorted(v for v in samples if v is not None)
    if not values:
        return {"n": 0, "median": None, "p95": None, "min": None, "max": None}
    rank = max(1, math.ceil(0.95 * len(values)))
    return {
        "n": len(values),
        "median": statistics.median(values),
        "p95": values[rank - 1],
        "min": values[0],
        "max": values[-1],
    }


def ratio(ours, peer):
    if ours is None or peer is None or peer == 0:
        return None
    return ours / peer


# ---- the lab ------------------------------------------------------------------

class Lab:
    """The lab scripts, with the lab directory and port scripts/bench set."""

    def __init__(self):
        self.dir = os.environ.get("VARDEL_LAB_DIR", "/tmp/vardel-lab")

    def _run(self, *args):
        result = subprocess.run([os.path.join(SCRIPTS, args[0]), *args[1:]], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, check=False)
        if result.returncode != 0:
            raise BenchError(f"{' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def up(self, readers):
        out = self._run("lab-up", str(readers))
        match = re.search(r"PCSCLITE_CSOCK_NAME=(\S+)", out)
        if not match:
            raise BenchError(f"lab-up printed no socket: {out!r}")
        os.environ["PCSCLITE_CSOCK_NAME"] = match.group(1)

    def card_in(self, k):
        self._run("card-in", str(k))

    def card_out(self, k):
        self._run("card-out", str(k))

    def down(self):
        subprocess.run([os.path.join(SCRIPTS, "lab-down")], check=False)

    def pcscd_pid(self):
        with open(os.path.join(self.dir, "pcscd.pid"), encoding="ascii") as f:
            return int(re.sub(r"\D", "", f.read()))


# ---- processes ----------------------------------------------------------------

class LineReader:
    """A program whose output lines are time-stamped as they arrive."""

    def __init__(self, argv, env=None):
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=env)
        self.lines = []  # (monotonic time, text)
        self.changed = threading.Condition()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            stamp = time.monotonic()
            text = ANSI.sub("", raw.decode("utf-8", "replace")).replace("\r", "").rstrip("\n")
            with self.changed:
                self.lines.append((stamp, text))
                self.changed.notify_all()
        with self.changed:
            self.changed.notify_all()

    def mark(self):
        with self.changed:
            return len(self.lines)

    def wait_for(self, match, start, timeout):
        """The first line from index start on for which match(i, text) is true:
        (time, index), or None when none came in time."""
        deadline = time.monotonic() + timeout
        with self.changed:
            i = start
            while True:
                while i < len(self.lines):
                    if match(i, self.lines[i][1]):
                        return self.lines[i][0], i
                    i += 1
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    return None
                self.changed.wait(left)

    def stop(self):
        stop_process(self.proc)
        self.thread.join(timeout=5)


def stop_process(proc, grace=5):
    """Ends a process this benchmark started, by its PID: SIGTERM, SIGKILL later."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return proc.returncode


def timed_run(argv):
    """Wall time (ms) and exit status of one run, output discarded."""
    path = shutil.which(argv[0])
    actions = [(os.POSIX_SPAWN_OPEN, 0, "/dev/null", os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0)]
    start = time.perf_counter()
    pid = os.posix_spawn(path, argv, os.environ, file_actions=actions)
    _, status = os.waitpid(pid, 0)
    wall = (time.perf_counter() - start) * 1e3
    return wall, os.waitstatus_to_exitcode(status)


def peak_run(peak_rss, argv):
    """Peak RSS (KB) and exit status of one run, through vardel-peak-rss (the
    rusage of a child counts the memory of the process that started it)."""
    out = subprocess.run([peak_rss, *argv], capture_output=True, text=True, check=False).stdout.split()
    if len(out) != 4 or out[0] != "peak_kb":
        raise BenchError(f"vardel-peak-rss gave no figure for {' '.join(argv)}")
    return int(out[1]), int(out[3])


def thread_times(pid):
    """Run time (ns) of each thread of pid, from schedstat."""
    times = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return times
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat", encoding="ascii") as f:
                times[tid] = int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass
    return times


def cpu_between(before, after):
    """ns of run time between two thread_times samples (threads born meanwhile count whole)."""
    return sum(ns - before.get(tid, 0) for tid, ns in after.items())


def memory_kb(pid):
    """VmHWM (peak) and VmRSS of pid, in KB."""
    found = {}
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                found[key] = int(value.split()[0])
    return found.get("VmHWM"), found.get("VmRSS")


# ---- 1: card event latency ----------------------------------------------------

def ours_event(kind, reader):
    wanted = {"in": "card-inserted", "out": "card-removed"}[kind]

    def match(_i, text):
        if not text.startswith("{\"time\""):
            return False
        try:
            event = json.loads(text)
        except ValueError:
            return False
        return event.get("event") == wanted and event.get("reader") == reader
    return match


def peer_event(reader_lines, kind, reader):
    wanted = {"in": "Card inserted", "out": "Card removed"}[kind]

    def match(i, text):
        # pcsc_scan prints " Reader N: NAME", then the event's lines.
        return ("Card state:" in text and wanted in text and reader_lines(i) == reader)
    return match


def measure_latency(lab, cli, events, reader_index=0):
    note(f"1: card event latency, {events} insertions and {events} removals")
    lab.up(2)
    lab.card_out(reader_index)
    reader = f"Lab Reader 0 00 0{reader_index}"
    ours = LineReader([cli, "--watch", "--json"])
    peer = LineReader(["stdbuf", "-oL", "pcsc_scan", "-n"])

    def peer_reader_at(i):
        with peer.changed:
            for j in range(i, -1, -1):
                match = re.match(r"\s*Reader \d+: (.*)$", peer.lines[j][1])
                if match:
                    return match.group(1).strip()
        return None

    samples = {"ours": [], "peer": [], "extra": [], "kind": [], "missed": {"ours": 0, "peer": 0}}
    try:
        # Both ready: each has reported the reader empty.
        if not ours.wait_for(ours_event("out", reader), 0, 15):
            raise BenchError("vardel-lecteurs-cli --watch --json did not report the empty reader")
        if not peer.wait_for(peer_event(peer_reader_at, "out", reader), 0, 15):
            raise BenchError("pcsc_scan did not report the empty reader")
        time.sleep(0.5)
        for n in range(2 * events):
            kind = "in" if n % 2 == 0 else "out"
            # Off any phase with the 100 ms cycle.
            time.sleep(random.uniform(0.15, 0.35))
            ours_mark, peer_mark = ours.mark(), peer.mark()
            start = time.monotonic()
            if kind == "in":
                lab.card_in(reader_index)
            else:
                lab.card_out(reader_index)
            got_ours = ours.wait_for(ours_event(kind, reader), ours_mark, 5)
            got_peer = peer.wait_for(peer_event(peer_reader_at, kind, reader), peer_mark, 5)
            t_ours = (got_ours[0] - start) * 1e3 if got_ours else None
            t_peer = (got_peer[0] - start) * 1e3 if got_peer else None
            if t_ours is None:
                samples["missed"]["ours"] += 1
            if t_peer is None:
                samples["missed"]["peer"] += 1
            samples["ours"].append(t_ours)
            samples["peer"].append(t_peer)
            samples["kind"].append(kind)
            samples["extra"].append(t_ours - t_peer if t_ours is not None and t_peer is not None else None)
    finally:
        ours.stop()
        peer.stop()
        lab.card_out(reader_index)

    result = {"samples_ms": samples}
    for who in ("ours", "peer", "extra"):
        result[who] = summary(samples[who])
        for kind in ("in", "out"):
            result[f"{who}_{kind}"] = summary(
                [v for v, k in zip(samples[who], samples["kind"]) if k == kind])
    result["ratio"] = ratio(result["ours"]["median"], result["peer"]["median"])
    return result


# ---- 2: one run -----------------------------------------------------------------

def measure_one_run(lab, cli, peak_rss, runs, rss_runs=5):
    note(f"2: one run, {runs} runs of each command, alternated")
    lab.up(2)
    commands = {
        "pcsc_scan -r": ["pcsc_scan", "-r"],
        "--check pcsc": [cli, "--check", "pcsc"],
        "--check direct": [cli, "--check", "direct"],
        "default (3 checks)": [cli],
    }
    names = list(commands)
    walls = {name: [] for name in names}
    rss = {name: [] for name in names}
    failures = []
    # One run of each first, not counted: caches warm for all alike.
    for name in names:
        timed_run(commands[name])
    for r in range(runs):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            wall, status = timed_run(commands[name])
            if status != 0:
                failures.append(f"{name}: exit status {status}")
            walls[name].append(wall)
    # Memory in runs of their own: the tracing that reads it is not timed.
    for r in range(rss_runs):
        for name in names:
            peak, status = peak_run(peak_rss, commands[name])
            if status != 0:
                failures.append(f"{name}: exit status {status}")
            rss[name].append(peak)
    result = {"failures": failures}
    for name in names:
        result[name] = {"wall_ms": summary(walls[name]), "samples_ms": walls[name],
                        "peak_rss_kb": summary(rss[name])}
        result[name]["ratio"] = ratio(result[name]["wall_ms"]["median"],
                                      result["pcsc_scan -r"]["wall_ms"]["median"])
    return result


# ---- 3 and 4: idle cost -----------------------------------------------------------

def measure_idle(lab, cli, bare, seconds, rounds, warmup=2.0):
    note(f"3: idle cost, {rounds} rounds of {seconds:g} s per configuration, four readers, one card")
    lab.up(4)
    for k in (1, 2, 3):
        lab.card_out(k)
    lab.card_in(0)
    pcscd = lab.pcscd_pid()
    configs = {
        "ours (--watch)": [cli, "--watch"],
        "bare C cycle": [bare],
        "bare C cycle + hand-over": [bare, "--handover"],
        "pcsc_scan": ["stdbuf", "-oL", "pcsc_scan", "-n"],
        "nobody": None,
    }
    names = list(configs)
    data = {name: {"cpu_pct": [], "pcscd_cpu_pct": [], "peak_rss_kb": []} for name in names}
    for r in range(rounds):
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            argv = configs[name]
            proc = None
            if argv:
                proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
            try:
                time.sleep(warmup)
                if proc and proc.poll() is not None:
                    raise BenchError(f"{name} ended on its own (status {proc.returncode})")
                start = time.monotonic()
                own0 = thread_times(proc.pid) if proc else {}
                svc0 = thread_times(pcscd)
                time.sleep(seconds)
                own1 = thread_times(proc.pid) if proc else {}
                svc1 = thread_times(pcscd)
                wall_ns = (time.monotonic() - start) * 1e9
                if proc:
                    data[name]["cpu_pct"].append(100 * cpu_between(own0, own1) / wall_ns)
                    data[name]["peak_rss_kb"].append(memory_kb(proc.pid)[0])
                data[name]["pcscd_cpu_pct"].append(100 * cpu_between(svc0, svc1) / wall_ns)
            finally:
                if proc:
                    status = stop_process(proc)
                    if name.startswith("ours") and status != 0:
                        note(f"--watch ended with status {status} after SIGTERM (expected 0)")
            note(f"   round {r + 1}: {name}: "
                 + (f"process {data[name]['cpu_pct'][-1]:.3f} %, " if argv else "")
                 + f"pcscd {data[name]['pcscd_cpu_pct'][-1]:.3f} %")
    lab.card_out(0)
    result = {}
    for name in names:
        result[name] = {key: summary(values) for key, values in data[name].items()}
        result[name]["samples"] = data[name]
    ours = result["ours (--watch)"]["cpu_pct"]["median"]
    result["ratio_to_bare"] = ratio(ours, result["bare C cycle"]["cpu_pct"]["median"])
    result["ratio_to_bare_handover"] = ratio(ours, result["bare C cycle + hand-over"]["cpu_pct"]["median"])
    result["paired_ratio_to_bare"] = summary(
        [ratio(o, b) for o, b in zip(data["ours (--watch)"]["cpu_pct"], data["bare C cycle"]["cpu_pct"])])
    result["handover_to_bare"] = ratio(result["bare C cycle + hand-over"]["cpu_pct"]["median"],
                                       result["bare C cycle"]["cpu_pct"]["median"])
    result["ratio_to_pcsc_scan"] = ratio(ours, result["pcsc_scan"]["cpu_pct"]["median"])
    return result


# ---- 5: window start-up -----------------------------------------------------------

class Xvfb:
    def __init__(self, guard=20):
        self.work = tempfile.mkdtemp(prefix="vardel-bench-x.")
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-dpi", "96",
             "-nolisten", "tcp"], pass_fds=(write_end,), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=open(os.path.join(self.work, "xvfb.log"), "w"))
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + guard
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.2)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise BenchError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        stop_process(self.proc)
        shutil.rmtree(self.work, ignore_errors=True)


def measure_window(lab, window, map_wait, runs, settle=1.0):
    note(f"5: window start-up under Xvfb, {runs} runs (and one not counted)")
    lab.up(2)
    xvfb = Xvfb()
    runtime = tempfile.mkdtemp(prefix="vardel-bench-runtime.")
    os.chmod(runtime, 0o700)
    env = dict(os.environ, DISPLAY=xvfb.display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime)
    mapped, peak = [], []
    try:
        for r in range(runs + 1):
            proc = subprocess.Popen([map_wait, "20", window], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
            line = proc.stdout.readline().split()
            if len(line) != 3 or line[0] != "mapped":
                proc.stdin.close()
                proc.wait()
                raise BenchError(f"the window was not mapped: {proc.stderr.read().strip()}")
            time.sleep(settle)
            hwm, _ = memory_kb(int(line[2]))
            proc.stdin.close()
            proc.wait(timeout=15)
            if r == 0:
                continue  # caches (fonts, libraries) warm for the runs counted
            mapped.append(float(line[1]))
            peak.append(hwm)
    finally:
        xvfb.stop()
        shutil.rmtree(runtime, ignore_errors=True)
    return {"mapped_ms": summary(mapped), "samples_ms": mapped, "peak_rss_kb": summary(peak)}


# ---- 6: event queue -----------------------------------------------------------------

def measure_queue(queue_bench, out_dir, min_time):
    note("6: event queue (Google Benchmark)")
    json_path = os.path.join(out_dir, "event-queue.json")
    subprocess.run([queue_bench, f"--benchmark_min_time={min_time}", f"--benchmark_out={json_path}",
                    "--benchmark_out_format=json"], check=True, stdout=subprocess.DEVNULL)
    with open(json_path, encoding="utf-8") as f:
        raw = json.load(f)
    rows = []
    for b in raw["benchmarks"]:
        match = re.search(r"burst:(\d+)/readers:(\d+)", b["name"])
        if not match:
            continue
        burst, readers = int(match.group(1)), int(match.group(2))
        unit = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        rows.append({"burst": burst, "readers": readers, "iterations": b["iterations"],
                     "ns_per_event": b["real_time"] * unit / burst,
                     "post_ns_per_event": b["post_ns"], "dispatch_ns_per_event": b["dispatch_ns"],
                     "delivered_share": b["delivered"]})
    return {"rows": rows, "context": raw.get("context", {}), "raw": json_path}


# ---- 7: many readers ------------------------------------------------------------------

READER_COUNTS = (16, 1000, 10000)


def measure_readers(readers_run, fake, quick):
    note("7: one run over the fake library with 16, 1000 and 10000 readers, with and without --details")
    runs = {16: 20, 1000: 10, 10000: 5} if not quick else {16: 3, 1000: 3, 10000: 2}
    result = {}
    for details in (False, True):
        mode = "details" if details else "plain"
        result[mode] = {}
        for count in READER_COUNTS:
            argv = [readers_run, fake, str(count), str(runs[count])] + (["--details"] if details else [])
            out = subprocess.run(argv, capture_output=True, text=True, check=False)
            words = out.stdout.split()
            if out.returncode != 0 or len(words) < 6 or words[0] != "readers":
                raise BenchError(f"vardel-readers-run {count}{' --details' if details else ''} failed: "
                                 f"{out.stderr.strip()}")
            samples = [float(w) for w in words[5:]]
            wall = summary(samples)
            result[mode][str(count)] = {"wall_ms": wall, "samples_ms": samples,
                                        "us_per_reader": 1000 * wall["median"] / count}
        result[mode]["ratio_10000_to_1000"] = ratio(result[mode]["10000"]["wall_ms"]["median"],
                                                    result[mode]["1000"]["wall_ms"]["median"])
    return result


# ---- report -----------------------------------------------------------------------------

def fmt(value, digits=1):
    if value is None:
        return "-"
    if isinstance(value, float):
        return f"{value:.{digits}f}"
    return str(value)


def table(results):
    rows = []  # measurement, what, unit, summary, ratio, digits

    if "latency" in results:
        lat = results["latency"]
        for who, label in (("ours", "vardel-lecteurs-cli --watch --json"), ("peer", "pcsc_scan -n")):
            for kind, what in (("in", "insertion"), ("out", "removal")):
                rows.append(("1 card event", f"{label}, {what}", "ms", lat[f"{who}_{kind}"], None, 1))
        rows.append(("1 card event", "vardel-lecteurs-cli, all events", "ms", lat["ours"], lat["ratio"], 1))
        rows.append(("1 card event", "pcsc_scan, all events", "ms", lat["peer"], None, 1))
        rows.append(("1 card event", "our extra delay over pcsc_scan", "ms", lat["extra"], None, 1))
    if "one_run" in results:
        one = results["one_run"]
        for name in ("pcsc_scan -r", "--check pcsc", "--check direct", "default (3 checks)"):
            label = name if name.startswith("pcsc_scan") else f"vardel-lecteurs-cli {name}"
            rows.append(("2 one run", label, "ms", one[name]["wall_ms"],
                         None if name.startswith("pcsc_scan") else one[name]["ratio"], 2))
    if "idle" in results:
        idle = results["idle"]
        for name in ("ours (--watch)", "bare C cycle", "bare C cycle + hand-over", "pcsc_scan"):
            r = {"ours (--watch)": idle["ratio_to_bare"],
                 "bare C cycle + hand-over": idle["handover_to_bare"]}.get(name)
            rows.append(("3 idle CPU", f"{name}: process", "% core", idle[name]["cpu_pct"], r, 3))
        for name in ("ours (--watch)", "bare C cycle", "bare C cycle + hand-over", "pcsc_scan", "nobody"):
            rows.append(("3 idle CPU", f"{name}: pcscd", "% core", idle[name]["pcscd_cpu_pct"], None, 3))
    if "one_run" in results or "idle" in results or "window" in results:
        def mb(s):
            return {k: (v / 1024 if isinstance(v, (int, float)) and k != "n" else v) for k, v in s.items()}
        if "one_run" in results:
            one = results["one_run"]
            peer = one["pcsc_scan -r"]["peak_rss_kb"]["median"]
            rows.append(("4 peak RSS", "pcsc_scan -r", "MB", mb(one["pcsc_scan -r"]["peak_rss_kb"]), None, 2))
            for name in ("--check pcsc", "--check direct", "default (3 checks)"):
                s = one[name]["peak_rss_kb"]
                rows.append(("4 peak RSS", f"vardel-lecteurs-cli {name}", "MB", mb(s),
                             ratio(s["median"], peer), 2))
        if "idle" in results:
            idle = results["idle"]
            peer = idle["pcsc_scan"]["peak_rss_kb"]["median"]
            for name in ("ours (--watch)", "bare C cycle", "bare C cycle + hand-over", "pcsc_scan"):
                s = idle[name]["peak_rss_kb"]
                rows.append(("4 peak RSS", f"{name} after 30 s", "MB", mb(s),
                             ratio(s["median"], peer) if name.startswith("ours") else None, 2))
        if "window" in results:
            rows.append(("4 peak RSS", "vardel-lecteurs (window open)", "MB",
                         mb(results["window"]["peak_rss_kb"]), None, 1))
    if "window" in results:
        rows.append(("5 start-up", "vardel-lecteurs: window mapped", "ms", results["window"]["mapped_ms"], None, 1))
    if "readers" in results:
        for mode, label in (("plain", "--check pcsc"), ("details", "--check pcsc --details")):
            for count in READER_COUNTS:
                r = results["readers"][mode][str(count)]
                ratio_shown = results["readers"][mode]["ratio_10000_to_1000"] if count == 10000 else None
                rows.append(("7 readers", f"{label}, {count} readers", "ms", r["wall_ms"], ratio_shown, 2))

    head = f"{'measurement':<13} {'what':<46} {'unit':<7} {'n':>3} {'median':>9} {'p95':>9} {'min':>9} {'max':>9} {'ratio':>7}"
    lines = [head, "-" * len(head)]
    for measurement, what, unit, s, r, digits in rows:
        lines.append(f"{measurement:<13} {what:<46} {unit:<7} {s['n']:>3} {fmt(s['median'], digits):>9} "
                     f"{fmt(s['p95'], digits):>9} {fmt(s['min'], digits):>9} {fmt(s['max'], digits):>9} "
                     f"{(fmt(r, 2) + 'x') if r is not None else '':>7}")
    notes = []
    if "one_run" in results:
        notes += results["one_run"]["failures"]
    if "latency" in results:
        for who, count in results["latency"]["samples_ms"]["missed"].items():
            if count:
                notes.append(f"card event: {count} events not printed by {who} within 5 s")
    if "idle" in results:
        paired = results["idle"]["paired_ratio_to_bare"]
        notes.append(f"idle CPU, --watch / bare C cycle measured in the same round: median {fmt(paired['median'], 2)}x, "
                     f"min {fmt(paired['min'], 2)}x, max {fmt(paired['max'], 2)}x over {paired['n']} rounds")
        notes.append(f"idle CPU, --watch / bare C cycle + hand-over (the two-thread floor), medians: "
                     f"{fmt(results['idle']['ratio_to_bare_handover'], 2)}x")
    if "readers" in results:
        for mode, label in (("plain", "--check pcsc"), ("details", "--check pcsc --details")):
            per = ", ".join(f"{count}: {results['readers'][mode][str(count)]['us_per_reader']:.2f} us"
                            for count in READER_COUNTS)
            notes.append(f"many readers, {label}, time per reader (median run): {per}; "
                         f"the ratio shown is 10000 readers / 1000 readers")
    notes += load_notes(results)
    if notes:
        lines += ["", "Notes:"] + [f"  {n}" for n in notes]
    if "queue" in results:
        lines.append("")
        lines.append("6 event queue: post a burst, then ProcessEvent until empty (ns per event)")
        lines.append(f"{'burst':>8} {'readers':>8} {'total':>10} {'post':>10} {'dispatch':>10} {'delivered':>10}")
        for row in results["queue"]["rows"]:
            lines.append(f"{row['burst']:>8} {row['readers']:>8} {row['ns_per_event']:>10.1f} "
                         f"{row['post_ns_per_event']:>10.1f} {row['dispatch_ns_per_event']:>10.1f} "
                         f"{100 * row['delivered_share']:>9.1f}%")
    return "\n".join(lines)


def targets(results):
    checks = []

    def add(name, figure, limit, unit):
        met = None if figure is None else figure <= limit
        checks.append({"target": name, "figure": figure, "limit": limit, "unit": unit, "met": met})

    if "latency" in results:
        add("card event extra delay over pcsc_scan, median", results["latency"]["extra"]["median"], 60, "ms")
        add("card event extra delay over pcsc_scan, p95", results["latency"]["extra"]["p95"], 120, "ms")
    if "one_run" in results:
        add("--check direct / pcsc_scan -r (median wall time)", results["one_run"]["--check direct"]["ratio"], 1.2, "x")
        add("--check pcsc / pcsc_scan -r (median wall time)", results["one_run"]["--check pcsc"]["ratio"], 1.5, "x")
        peaks = [results["one_run"][n]["peak_rss_kb"]["max"] for n in ("--check pcsc", "--check direct", "default (3 checks)")]
        add("CLI one-run peak RSS (largest run)", max(peaks) / 1024, 8, "MB")
    if "idle" in results:
        add("idle CPU of --watch / bare C cycle, four readers (median of rounds)",
            results["idle"]["ratio_to_bare"], 1.2, "x")
        hwm = results["idle"]["ours (--watch)"]["peak_rss_kb"]["max"]
        add("CLI --watch peak RSS after 30 s (largest run)", hwm / 1024 if hwm else None, 8, "MB")
    if "window" in results:
        add("window mapped, median", results["window"]["mapped_ms"]["median"], 300, "ms")
    if "readers" in results:
        add("one run, 10000 readers / 1000 readers (median wall time)",
            results["readers"]["plain"]["ratio_10000_to_1000"], 15, "x")
        add("one run with --details, 10000 readers / 1000 readers (median wall time)",
            results["readers"]["details"]["ratio_10000_to_1000"], 15, "x")
    return checks


def target_lines(checks):
    lines = ["", "Targets:"]
    for c in checks:
        state = {True: "met", False: "MISSED", None: "not measured"}[c["met"]]
        digits = 3 if c["unit"] == "x" else 1
        lines.append(f"  {state:<7} {c['target']}: {fmt(c['figure'], digits)} {c['unit']} (limit {c['limit']:g} {c['unit']})")
    return "\n".join(lines)


def machine():
    with open("/proc/loadavg", encoding="ascii") as f:
        load = f.read().split()[:3]
    return {"load_average": [float(x) for x in load], "cpus": os.cpu_count(),
            "time": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())}


# A 1-minute load average above this, per CPU, flags a measurement as taken
# on a busy machine.
HIGH_LOAD = 0.5

MEASUREMENTS = (("one_run", "2"), ("latency", "1"), ("idle", "3"), ("window", "5"), ("queue", "6"),
                ("readers", "7"))


def load_average():
    with open("/proc/loadavg", encoding="ascii") as f:
        return [float(x) for x in f.read().split()[:3]]


def measured(results, key, run):
    """Runs one measurement and stores it with the load average around it."""
    before = load_average()
    result = run()
    after = load_average()
    result["load_average"] = {"before": before, "after": after,
                              "busy": max(before[0], after[0]) > HIGH_LOAD * (os.cpu_count() or 1)}
    results[key] = result


def load_notes(results):
    notes = []
    for key, number in MEASUREMENTS:
        load = results.get(key, {}).get("load_average")
        if not load:
            continue
        text = f"load during {number} ({key}): {load['before'][0]:.2f} -> {load['after'][0]:.2f}"
        if load["busy"]:
            text += f"  BUSY: rerun with --only {number} --merge"
        notes.append(text)
    return notes


def peer_version():
    out = subprocess.run(["pcsc_scan", "-V"], capture_output=True, text=True, check=False)
    return (out.stdout + out.stderr).strip().splitlines()[0] if (out.stdout + out.stderr).strip() else None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the bench build tree (build/bench)")
    parser.add_argument("--out", required=True, help="where to write the results (JSON)")
    parser.add_argument("--only", default="1,2,3,5,6,7", help="measurements to run (4 comes with 2, 3, 5)")
    parser.add_argument("--merge", action="store_true",
                        help="keep the measurements of the results file that this run does not repeat")
    parser.add_argument("--quick", action="store_true", help="few runs, short idle: a smoke test")
    parser.add_argument("--events", type=int, default=30)
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--idle-seconds", type=float, default=30)
    parser.add_argument("--idle-rounds", type=int, default=3)
    parser.add_argument("--window-runs", type=int, default=10)
    args = parser.parse_args()
    if args.quick:
        args.events, args.runs, args.idle_seconds, args.idle_rounds, args.window_runs = 3, 5, 5, 1, 2
    only = {s.strip() for s in args.only.split(",") if s.strip()}

    build = os.path.realpath(args.build)
    cli = os.path.join(build, "vardel/src/cli/vardel-lecteurs-cli")
    window = os.path.join(build, "vardel/src/gui-qt/vardel-lecteurs")
    bare = os.path.join(build, "vardel-bare-cycle")
    map_wait = os.path.join(build, "vardel-map-wait")
    queue_bench = os.path.join(build, "vardel-event-queue-bench")
    peak_rss = os.path.join(build, "vardel-peak-rss")
    readers_run = os.path.join(build, "vardel-readers-run")
    fake = os.path.join(build, "fake/libfakepcsc.so")
    for path in (cli, window, bare, map_wait, queue_bench, peak_rss, readers_run):
        if not os.access(path, os.X_OK):
            raise BenchError(f"missing program {path}: build the bench tree first")

    # A stop asked for by a signal still tidies up (finally clauses).
    def interrupted(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")
    signal.signal(signal.SIGTERM, interrupted)

    lab = Lab()
    results = {"machine_before": machine(), "peer": peer_version(),
               "settings": {"events": args.events, "runs": args.runs, "idle_seconds": args.idle_seconds,
                            "idle_rounds": args.idle_rounds, "window_runs": args.window_runs,
                            "lab_dir": lab.dir, "lab_port": os.environ.get("VARDEL_LAB_PORT")}}
    if args.merge and os.path.exists(args.out):
        with open(args.out, encoding="utf-8") as f:
            earlier = json.load(f)
        for key, number in MEASUREMENTS:
            if number not in only and key in earlier:
                results[key] = earlier[key]
        results["merged_from"] = {"time": earlier.get("machine_before", {}).get("time"),
                                  "kept": [k for k, n in MEASUREMENTS if n not in only and k in earlier]}
    if "2" in only:
        measured(results, "one_run", lambda: measure_one_run(lab, cli, peak_rss, args.runs))
    if "1" in only:
        measured(results, "latency", lambda: measure_latency(lab, cli, args.events))
    if "3" in only:
        measured(results, "idle", lambda: measure_idle(lab, cli, bare, args.idle_seconds, args.idle_rounds))
    if "5" in only:
        measured(results, "window", lambda: measure_window(lab, window, map_wait, args.window_runs))
    if "6" in only:
        measured(results, "queue", lambda: measure_queue(
            queue_bench, os.path.dirname(os.path.realpath(args.out)), 0.05 if args.quick else 0.5))
    if "7" in only:
        measured(results, "readers", lambda: measure_readers(readers_run, fake, args.quick))
    results["machine_after"] = machine()
    results["targets"] = targets(results)
    text = table(results) + "\n" + target_lines(results["targets"])
    results["table"] = text
    os.makedirs(os.path.dirname(os.path.realpath(args.out)), exist_ok=True)
    with open(args.out, "w", encoding="utf-8") as f:
        json.dump(results, f, indent=1)
    print(text)
    print(f"\nload average before {results['machine_before']['load_average']}, "
          f"after {results['machine_after']['load_average']} ({results['machine_before']['cpus']} CPUs); "
          f"results in {args.out}")


if __name__ == "__main__":
    try:
        main()
    except BenchError as error:
        note(str(error))
        sys.exit(1)
