#!/usr/bin/python3
"""Service faults and card cycles in the PC/SC lab, with
`vardel-lecteurs-cli --watch --json --check pcsc` following the service.

Every event the lab makes is expected on the CLI's output; the events seen
are matched against them, and what is missing (lost) or comes although
nothing made it (extra) fails the scenario. Scenarios:

  restarts N   pcscd killed (SIGKILL) and started again N times, alternately
               with the same readers and with two readers more or less (a
               vpcd entry brings two): the service's loss said once and
               every reader reported removed, then the service back and the
               readers found again, then a card put in afterwards reported. Time to recover: from the start command returning
               to the last reader-found line.
  freeze S     pcscd stopped (SIGSTOP) for S seconds, then SIGCONT: no reader
               or card event meanwhile, then a card put in reported.
  sigint       SIGINT to the CLI while pcscd is stopped: gone at the end of
               its 2 s grace (0.25 s allowed to write its line and end) with
               status 3, naming on stderr the call that did not answer.
  cards N      N card insert/remove cycles on two readers, without waiting
               for the CLI in between: every insertion and removal reported,
               in order.

Prints one line per scenario on stdout: "RESULT " and a JSON object with
scenario, iterations, made, seen, lost, extra, times (milliseconds) and
result ("pass" or "FAIL") with the reasons. Exits 1 when one failed.

usage: lab-scenarios.py --cli PATH [--scripts DIR] SCENARIO [ARG] ...
The lab is VARDEL_LAB_DIR / VARDEL_LAB_PORT (the scripts' defaults
otherwise); it is brought up with 2 readers and left running.
"""

import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import threading
import time

DEFAULT_ATR = "3B 95 13 81 01 80 73 FF 01 00 0B"
# How long an expected event may take before it counts as lost (a guard,
# far above the watcher's cycle and its one-second reconnection).
EVENT_GUARD = 10.0
# Quiet time after the last expected event, for extra events to show.
SETTLE = 0.5
# SIGINT with a frozen service: the CLI gives its stop 2 s, then names the
# calls that did not answer and ends; it must be gone by then, give or take
# the time to write that line and end a process (measured here with a
# blocking wait, from the signal sent to the process reaped).
STOP_GRACE = 2.0
STOP_SLACK = 0.25


def note(text):
    print(text, file=sys.stderr, flush=True)


def reader_name(k):
    return "Lab Reader %d 00 %02X" % (k // 2, k % 2)


class Lab:
    def __init__(self, scripts):
        self.scripts = scripts

    def run(self, *command):
        """Runs a lab script; returns the time it returned (monotonic)."""
        return self.timed(*command)[1]

    def timed(self, *command):
        """Runs a lab script; returns the times it started and returned."""
        started = time.monotonic()
        done = subprocess.run([os.path.join(self.scripts, command[0]), *map(str, command[1:])],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            raise RuntimeError("%s failed (%d):\n%s" % (" ".join(map(str, command)), done.returncode, done.stdout))
        return started, time.monotonic()


class Cli:
    """The CLI following the service; its output lines with their arrival time."""

    def __init__(self, program):
        self.proc = subprocess.Popen([program, "--watch", "--json", "--check", "pcsc"],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.cond = threading.Condition()
        self.document = None
        self.events = []  # (arrival, event dict)
        self.bad_lines = []
        self.err = []
        self.closed = False
        threading.Thread(target=self._read_out, daemon=True).start()
        threading.Thread(target=self._read_err, daemon=True).start()

    def _read_out(self):
        for raw in self.proc.stdout:
            now = time.monotonic()
            line = raw.decode("utf-8", "replace").rstrip("\n")
            with self.cond:
                try:
                    value = json.loads(line)
                except ValueError:
                    self.bad_lines.append(line)
                else:
                    if self.document is None and "checks" in value:
                        self.document = value
                    else:
                        self.events.append((now, value))
                self.cond.notify_all()
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def _read_err(self):
        for raw in self.proc.stderr:
            with self.cond:
                self.err.append(raw.decode("utf-8", "replace").rstrip("\n"))

    def mark(self):
        with self.cond:
            return len(self.events)

    def expect(self, start, wanted, guard=EVENT_GUARD, settle=SETTLE):
        """Waits for the events `wanted` (list of (event, reader, atr or None))
        among those arrived from index `start`, in any order. Returns
        (arrival times of the matched, in `wanted` order, None when lost;
        extra events; index after the window)."""
        deadline = time.monotonic() + guard
        times = [None] * len(wanted)
        used = set()
        with self.cond:
            while True:
                for i, (arrival, event) in enumerate(self.events[start:], start):
                    if i in used:
                        continue
                    for w, (kind, reader, atr) in enumerate(wanted):
                        if times[w] is None and event.get("event") == kind and event.get("reader") == reader \
                                and (atr is None or event.get("atr") == atr):
                            times[w] = arrival
                            used.add(i)
                            break
                if all(t is not None for t in times) or self.closed:
                    break
                left = deadline - time.monotonic()
                if left <= 0:
                    break
                self.cond.wait(left)
        time.sleep(settle)
        with self.cond:
            end = len(self.events)
            extra = [e for i, (_, e) in enumerate(self.events[start:end], start) if i not in used]
        return times, extra, end

    def stop(self, guard=10.0):
        """SIGINT; returns (status, seconds until gone); status None when
        the CLI was still there after `guard` seconds (then killed)."""
        # A blocking wait: Popen.wait with a time-out polls, and would add
        # up to 50 ms to the time measured.
        timer = threading.Timer(guard, self.proc.kill)
        sent = time.monotonic()
        self.proc.send_signal(signal.SIGINT)
        timer.start()
        status = self.proc.wait()
        took = time.monotonic() - sent
        timer.cancel()
        return (None if took >= guard else status), took

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def describe(events):
    return ["%s %s%s" % (e.get("event"), e.get("reader"), " " + e["atr"] if "atr" in e else "") for e in events]


class Scenario:
    def __init__(self, name, iterations):
        self.name = name
        self.iterations = iterations
        self.made = 0
        self.seen = 0
        self.extra = []
        self.times = {}
        self.reasons = []
        self.detail = ""

    def count(self, wanted, times, what):
        self.made += len(wanted)
        self.seen += sum(t is not None for t in times)
        for (kind, reader, atr), t in zip(wanted, times):
            if t is None:
                self.reasons.append("%s: lost %s %s%s" % (what, kind, reader, " " + atr if atr else ""))

    def time(self, key, seconds):
        self.times.setdefault(key, []).append(round(seconds * 1000))

    def result(self):
        if self.extra:
            self.reasons.append("extra events: " + "; ".join(self.extra[:10]))
        summary = {
            "scenario": self.name, "iterations": self.iterations, "made": self.made, "seen": self.seen,
            "lost": self.made - self.seen, "extra": len(self.extra),
            "times": {k: {"median": statistics.median(v), "max": max(v), "n": len(v)} for k, v in self.times.items()},
            "result": "FAIL" if self.reasons else "pass", "reasons": self.reasons, "detail": self.detail,
        }
        print("RESULT " + json.dumps(summary, ensure_ascii=False), flush=True)
        return not self.reasons


def start_cli(args, lab, readers):
    """Brings the lab to `readers` readers without card and starts the CLI;
    waits for its first listing and first poll."""
    lab.run("lab-up", readers)
    cli = Cli(args.cli)
    wanted = [("reader-found", reader_name(k), None) for k in range(readers)]
    wanted += [("card-removed", reader_name(k), None) for k in range(readers)]
    times, extra, mark = cli.expect(0, wanted)
    if None in times or extra:
        cli.kill()
        raise RuntimeError("the CLI did not start as expected: events %s, stderr %s"
                           % (describe(e for _, e in cli.events), cli.err))
    return cli, mark


def finish_cli(cli, scenario):
    status, _ = cli.stop()
    if status != 0:
        scenario.reasons.append("the CLI ended with status %s on SIGINT (0 expected); stderr: %s"
                                % (status, " | ".join(cli.err[-5:])))
    if cli.bad_lines:
        scenario.reasons.append("lines that are not JSON: %s" % cli.bad_lines[:3])


def restarts(args, lab, count):
    scenario = Scenario("pcscd killed and restarted", count)
    readers = 2
    cli, mark = start_cli(args, lab, readers)
    try:
        for i in range(1, count + 1):
            # Odd iterations: the same readers; even ones: two more, two less.
            after = readers if i % 2 == 1 else (readers + 2 if readers == 2 else readers - 2)
            killed, _ = lab.timed("lab-service", "kill")
            # The service's loss is said once, with every reader it takes away.
            wanted = [("service-lost", None, None)]
            wanted += [("reader-removed", reader_name(k), None) for k in range(readers)]
            times, extra, mark = cli.expect(mark, wanted, settle=0)
            scenario.count(wanted, times, "restart %d, kill" % i)
            scenario.extra += describe(extra)
            if None not in times:
                scenario.time("kill started to readers removed", max(times) - killed)

            started = lab.run("lab-service", "start") if after == readers else lab.run("lab-up", after)
            back = [("service-back", None, None)]
            found = [("reader-found", reader_name(k), None) for k in range(after)]
            empty = [("card-removed", reader_name(k), None) for k in range(after)]
            times, extra, mark = cli.expect(mark, back + found + empty, settle=0)
            scenario.count(back + found + empty, times, "restart %d, start" % i)
            scenario.extra += describe(extra)
            if None not in times[1:1 + after]:
                scenario.time("recovery (start to readers found)", max(times[1:1 + after]) - started)
            readers = after

            k = i % readers
            atr = "3B 02 14 %02X" % i
            inserted, _ = lab.timed("card-in", k, atr)
            wanted = [("card-inserted", reader_name(k), atr)]
            times, extra, mark = cli.expect(mark, wanted)
            scenario.count(wanted, times, "restart %d, card in" % i)
            scenario.extra += describe(extra)
            if times[0] is not None:
                scenario.time("card-in started to card reported", times[0] - inserted)
            note("restart %d/%d: %d readers, %d/%d events seen" % (i, count, readers, scenario.seen, scenario.made))
    finally:
        finish_cli(cli, scenario)
    return scenario.result()


def freeze(args, lab, seconds):
    scenario = Scenario("pcscd frozen %g s, then thawed" % seconds, 1)
    cli, mark = start_cli(args, lab, 2)
    try:
        lab.run("lab-service", "freeze")
        try:
            time.sleep(seconds)
        finally:
            lab.run("lab-service", "thaw")
        # Nothing happened to the readers: nothing is to be reported.
        _, extra, mark = cli.expect(mark, [], guard=0, settle=1.0)
        scenario.extra += describe(extra)
        inserted, _ = lab.timed("card-in", 1)
        wanted = [("card-inserted", reader_name(1), DEFAULT_ATR)]
        times, extra, mark = cli.expect(mark, wanted)
        scenario.count(wanted, times, "card in after the thaw")
        scenario.extra += describe(extra)
        if times[0] is not None:
            scenario.time("card-in started to card reported", times[0] - inserted)
        lab.run("card-out", 1)
        wanted = [("card-removed", reader_name(1), None)]
        times, extra, mark = cli.expect(mark, wanted)
        scenario.count(wanted, times, "card out")
        scenario.extra += describe(extra)
    finally:
        finish_cli(cli, scenario)
    return scenario.result()


def sigint(args, lab):
    scenario = Scenario("SIGINT while pcscd is frozen", 1)
    cli, _ = start_cli(args, lab, 2)
    try:
        lab.run("lab-service", "freeze")
        # The watcher lists every 100 ms: it is inside a call by now.
        time.sleep(0.5)
        status, took = cli.stop()
        scenario.time("SIGINT to exit", took)
        if status is None:
            scenario.reasons.append("still running %g s after SIGINT" % took)
        elif status != 3:
            scenario.reasons.append("exit status %d, 3 expected" % status)
        if took > STOP_GRACE + STOP_SLACK:
            scenario.reasons.append("gone %.3f s after SIGINT, more than %g s + %g s"
                                    % (took, STOP_GRACE, STOP_SLACK))
        named = [line for line in cli.err if "SCard" in line]
        if not named:
            scenario.reasons.append("no service call named on stderr: %s" % cli.err)
        else:
            scenario.detail = named[-1]
            note("stderr: " + named[-1])
    finally:
        cli.kill()
        lab.run("lab-service", "thaw")
    return scenario.result()


def cards(args, lab, count):
    scenario = Scenario("card insert/remove cycles", count)
    cli, mark = start_cli(args, lab, 2)
    made = []  # (command return time, wanted event)
    try:
        for i in range(count):
            k = i % 2
            atr = "3B 02 14 %02X" % (i % 256)
            made.append((lab.timed("card-in", k, atr)[0], ("card-inserted", reader_name(k), atr)))
            made.append((lab.timed("card-out", k)[0], ("card-removed", reader_name(k), None)))
            if (i + 1) % 50 == 0:
                note("cards: %d/%d cycles" % (i + 1, count))
        times, extra, mark = cli.expect(mark, [w for _, w in made])
        scenario.count([w for _, w in made], times, "cycles")
        scenario.extra += describe(extra)
        # Each reader's events must come in the order they were made.
        for k in range(2):
            mine = [t for (_, w), t in zip(made, times) if w[1] == reader_name(k) and t is not None]
            if mine != sorted(mine):
                scenario.reasons.append("the events of %s came out of order" % reader_name(k))
        for (done, wanted), t in zip(made, times):
            if t is not None:
                scenario.time("%s: lab command started to reported" % wanted[0], t - done)
    finally:
        finish_cli(cli, scenario)
    return scenario.result()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cli", required=True, help="the vardel-lecteurs-cli to run")
    parser.add_argument("--scripts", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts"))
    parser.add_argument("scenarios", nargs="+", help="restarts N | freeze S | sigint | cards N")
    args = parser.parse_args()

    lab = Lab(os.path.abspath(args.scripts))
    lab_dir = os.environ.get("VARDEL_LAB_DIR", "/tmp/vardel-lab")
    os.environ["PCSCLITE_CSOCK_NAME"] = os.path.join(lab_dir, "run/pcscd.comm")
    ok = True
    words = list(args.scenarios)
    while words:
        what = words.pop(0)
        number = None
        if what in ("restarts", "freeze", "cards"):
            if not words:
                parser.error("%s needs a number" % what)
            number = float(words.pop(0)) if what == "freeze" else int(words.pop(0))
        try:
            if what == "restarts":
                ok &= restarts(args, lab, number)
            elif what == "freeze":
                ok &= freeze(args, lab, number)
            elif what == "sigint":
                ok &= sigint(args, lab)
            elif what == "cards":
                ok &= cards(args, lab, number)
            else:
                parser.error("unknown scenario %r" % what)
        except RuntimeError as error:
            print("RESULT " + json.dumps({"scenario": what, "result": "FAIL", "reasons": [str(error)]},
                                         ensure_ascii=False), flush=True)
            ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
