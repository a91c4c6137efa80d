#!/usr/bin/python3
"""PC/SC client side of the lab scripts: waits until the lab's service shows
a given state, through pyscard's low-level API.

    lab-wait.py [--timeout S] [--pid PID]... readers [NAME...]
        until the service lists exactly NAME... in that order (none: the
        service answers and has no reader)
    lab-wait.py [--timeout S] [--pid PID]... present NAME
        until reader NAME holds a card; prints its ATR ("3B 02 14 50")
    lab-wait.py [--timeout S] [--pid PID]... empty NAME
        until reader NAME is empty
    lab-wait.py atr NAME
        prints the ATR of the card in NAME now; exit status 3 when empty
    lab-wait.py ports-free PORT...
        fails when a TCP port is already listened on

The service is the one PCSCLITE_CSOCK_NAME points to. Each --pid names a
process that must stay alive meanwhile (the service, a card): when it ends
the wait fails at once instead of running into the timeout. Exit status: 0
done, 1 not reached in time (the reason on stderr), 2 bad usage, 3 empty.
"""

import argparse
import errno
import os
import socket
import sys
import time

from smartcard import scard

POLL_S = 0.05
EMPTY = 3


def fail(message):
    print(f"lab-wait: {message}", file=sys.stderr)
    sys.exit(1)


def describe(hresult):
    code = hresult & 0xFFFFFFFF
    return f"0x{code:08X} ({scard.SCardGetErrorMessage(hresult).strip()})"


def format_atr(atr):
    return " ".join(f"{byte:02X}" for byte in atr)


def pid_alive(pid):
    try:
        with open(f"/proc/{pid}/stat", encoding="ascii", errors="replace") as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return False
    return state not in ("Z", "X")


class Client:
    """One context, established again whenever the service drops it (a
    context never recovers from a service restart)."""

    def __init__(self):
        self.context = None

    def get(self):
        if self.context is None:
            hresult, context = scard.SCardEstablishContext(scard.SCARD_SCOPE_USER)
            if hresult != scard.SCARD_S_SUCCESS:
                return None, hresult
            self.context = context
        return self.context, scard.SCARD_S_SUCCESS

    def drop(self):
        if self.context is not None:
            scard.SCardReleaseContext(self.context)
            self.context = None


def list_readers(client):
    """Returns (readers or None, last status)."""
    context, hresult = client.get()
    if context is None:
        return None, hresult
    hresult, readers = scard.SCardListReaders(context, [])
    if hresult == scard.SCARD_E_NO_READERS_AVAILABLE:
        return [], hresult
    if hresult != scard.SCARD_S_SUCCESS:
        client.drop()
        return None, hresult
    return list(readers), hresult


def reader_state(client, name):
    """Returns ((event state, atr) or None, last status)."""
    context, hresult = client.get()
    if context is None:
        return None, hresult
    hresult, states = scard.SCardGetStatusChange(
        context, 0, [(name, scard.SCARD_STATE_UNAWARE)])
    if hresult not in (scard.SCARD_S_SUCCESS, scard.SCARD_E_TIMEOUT):
        client.drop()
        return None, hresult
    _, event_state, atr = states[0]
    return (event_state, bytes(atr)), hresult


def wait(args, reached, what):
    """Polls reached() -> (done, result, status) until done or the deadline."""
    client = Client()
    deadline = time.monotonic() + args.timeout
    status = "no answer yet"
    try:
        while True:
            for pid in args.pid:
                if not pid_alive(pid):
                    fail(f"process {pid} ended while waiting for {what}")
            done, result, status = reached(client)
            if done:
                return result
            if time.monotonic() >= deadline:
                fail(f"no {what} after {args.timeout:g} s (last: {status})")
            time.sleep(POLL_S)
    finally:
        client.drop()


def wait_readers(args):
    expected = args.names

    def reached(client):
        readers, hresult = list_readers(client)
        if readers is None:
            return False, None, describe(hresult)
        return readers == expected, readers, f"readers {readers}"

    what = f"reader list {expected}" if expected else "service with no reader"
    wait(args, reached, what)


def wait_card(args, want_present):
    def reached(client):
        state, hresult = reader_state(client, args.name)
        if state is None:
            return False, None, describe(hresult)
        event_state, atr = state
        if event_state & scard.SCARD_STATE_UNKNOWN:
            return False, None, f"no reader named '{args.name}'"
        present = bool(event_state & scard.SCARD_STATE_PRESENT)
        # The service reads the ATR while it powers the card up: a present
        # card counts once its ATR (or its muteness) is known.
        settled = not present or atr or event_state & scard.SCARD_STATE_MUTE
        done = bool(settled) and present == want_present
        return done, state, f"event state 0x{event_state:X}"

    what = f"card in '{args.name}'" if want_present else f"empty '{args.name}'"
    event_state, atr = wait(args, reached, what)
    if want_present:
        if event_state & scard.SCARD_STATE_MUTE:
            print(f"lab-wait: the card in '{args.name}' is mute", file=sys.stderr)
        print(format_atr(atr))


def show_atr(args):
    client = Client()
    try:
        state, hresult = reader_state(client, args.name)
    finally:
        client.drop()
    if state is None:
        fail(f"cannot read '{args.name}': {describe(hresult)}")
    event_state, atr = state
    if event_state & scard.SCARD_STATE_UNKNOWN:
        fail(f"no reader named '{args.name}'")
    if not event_state & scard.SCARD_STATE_PRESENT:
        sys.exit(EMPTY)
    print(format_atr(atr))


def ports_free(args):
    for port in args.ports:
        probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # With SO_REUSEADDR only a listening socket makes the bind fail, not
        # connections of a previous service lingering in TIME_WAIT.
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("", port))
        except OSError as error:
            if error.errno == errno.EADDRINUSE:
                fail(f"TCP port {port} is already in use")
            fail(f"cannot check TCP port {port}: {error}")
        finally:
            probe.close()


def main():
    parser = argparse.ArgumentParser(
        description="Waits until the lab's PC/SC service shows a given state.")
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("--pid", type=int, action="append", default=[])
    commands = parser.add_subparsers(dest="command", required=True)
    readers = commands.add_parser("readers")
    readers.add_argument("names", nargs="*")
    for name in ("present", "empty", "atr"):
        commands.add_parser(name).add_argument("name")
    ports = commands.add_parser("ports-free")
    ports.add_argument("ports", type=int, nargs="+")
    args = parser.parse_args()
    if args.timeout < 0:
        parser.error("--timeout must not be negative")
    if "PCSCLITE_CSOCK_NAME" not in os.environ and args.command != "ports-free":
        print("lab-wait: PCSCLITE_CSOCK_NAME is not set: using the system service",
              file=sys.stderr)

    if args.command == "readers":
        wait_readers(args)
    elif args.command == "present":
        wait_card(args, True)
    elif args.command == "empty":
        wait_card(args, False)
    elif args.command == "atr":
        show_atr(args)
    else:
        ports_free(args)


if __name__ == "__main__":
    main()
