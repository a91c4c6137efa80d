#!/usr/bin/python3
"""PC/SC client side of the lab scripts: waits until the lab's service shows
a given state, through pcsc-lite's own library (ctypes): reader names are
bytes there, and a reader the lab names in Latin-1 (not UTF-8) is found and
waited for like any other.

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

NAMEs are taken byte for byte as given. The service is the one
PCSCLITE_CSOCK_NAME points to. Each --pid names a process that must stay
alive meanwhile (the service, a card): when it ends the wait fails at once
instead of running into the timeout. Exit status: 0 done, 1 not reached in
time (the reason on stderr), 2 bad usage, 3 empty.
"""

import argparse
import ctypes
import errno
import os
import socket
import sys
import time

POLL_S = 0.05
EMPTY = 3


class scard:
    """pcsc-lite's client library and the few values the lab needs
    (DWORD and LONG are C longs in pcsc-lite)."""

    SCARD_S_SUCCESS = 0
    SCARD_E_TIMEOUT = 0x8010000A
    SCARD_E_NO_READERS_AVAILABLE = 0x8010002E
    SCARD_SCOPE_USER = 0
    SCARD_STATE_UNAWARE = 0x0000
    SCARD_STATE_UNKNOWN = 0x0004
    SCARD_STATE_PRESENT = 0x0020
    SCARD_STATE_MUTE = 0x0200
    MAX_ATR_SIZE = 33

    class ReaderState(ctypes.Structure):
        _fields_ = [("szReader", ctypes.c_char_p), ("pvUserData", ctypes.c_void_p),
                    ("dwCurrentState", ctypes.c_ulong), ("dwEventState", ctypes.c_ulong),
                    ("cbAtr", ctypes.c_ulong), ("rgbAtr", ctypes.c_ubyte * 33)]

    lib = ctypes.CDLL("libpcsclite.so.1")
    lib.SCardEstablishContext.argtypes = [ctypes.c_ulong, ctypes.c_void_p, ctypes.c_void_p,
                                          ctypes.POINTER(ctypes.c_long)]
    lib.SCardReleaseContext.argtypes = [ctypes.c_long]
    lib.SCardListReaders.argtypes = [ctypes.c_long, ctypes.c_char_p, ctypes.c_char_p,
                                     ctypes.POINTER(ctypes.c_ulong)]
    lib.SCardGetStatusChange.argtypes = [ctypes.c_long, ctypes.c_ulong, ctypes.POINTER(ReaderState),
                                         ctypes.c_ulong]
    lib.pcsc_stringify_error.argtypes = [ctypes.c_long]
    lib.pcsc_stringify_error.restype = ctypes.c_char_p
    for function in (lib.SCardEstablishContext, lib.SCardReleaseContext, lib.SCardListReaders,
                     lib.SCardGetStatusChange):
        function.restype = ctypes.c_long

    @staticmethod
    def code(result):
        return result & 0xFFFFFFFF


def describe(code):
    text = scard.lib.pcsc_stringify_error(ctypes.c_long(code).value).decode("utf-8", "replace")
    return f"0x{code:08X} ({text.strip()})"


def shown(name):
    return name.decode("utf-8", "backslashreplace")


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
            context = ctypes.c_long(0)
            code = scard.code(scard.lib.SCardEstablishContext(scard.SCARD_SCOPE_USER, None, None,
                                                              ctypes.byref(context)))
            if code != scard.SCARD_S_SUCCESS:
                return None, code
            self.context = context.value
        return self.context, scard.SCARD_S_SUCCESS

    def drop(self):
        if self.context is not None:
            scard.lib.SCardReleaseContext(self.context)
            self.context = None


def list_readers(client):
    """Returns (reader names as bytes, or None; last status)."""
    context, code = client.get()
    if context is None:
        return None, code
    size = ctypes.c_ulong(0)
    code = scard.code(scard.lib.SCardListReaders(context, None, None, ctypes.byref(size)))
    if code == scard.SCARD_S_SUCCESS:
        buffer = ctypes.create_string_buffer(size.value)
        code = scard.code(scard.lib.SCardListReaders(context, None, buffer, ctypes.byref(size)))
    if code == scard.SCARD_E_NO_READERS_AVAILABLE:
        return [], code
    if code != scard.SCARD_S_SUCCESS:
        client.drop()
        return None, code
    return [name for name in buffer.raw[:size.value].split(b"\0") if name], code


def reader_state(client, name):
    """Returns ((event state, atr) or None, last status)."""
    context, code = client.get()
    if context is None:
        return None, code
    state = scard.ReaderState(szReader=name, dwCurrentState=scard.SCARD_STATE_UNAWARE)
    code = scard.code(scard.lib.SCardGetStatusChange(context, 0, ctypes.byref(state), 1))
    if code not in (scard.SCARD_S_SUCCESS, scard.SCARD_E_TIMEOUT):
        client.drop()
        return None, code
    atr = bytes(state.rgbAtr[:min(state.cbAtr, scard.MAX_ATR_SIZE)])
    return (state.dwEventState, atr), code


def fail(message):
    print(f"lab-wait: {message}", file=sys.stderr)
    sys.exit(1)


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
    expected = [os.fsencode(name) for name in args.names]

    def reached(client):
        readers, code = list_readers(client)
        if readers is None:
            return False, None, describe(code)
        return readers == expected, readers, f"readers {[shown(r) for r in readers]}"

    what = f"reader list {args.names}" if expected else "service with no reader"
    wait(args, reached, what)


def wait_card(args, want_present):
    name = os.fsencode(args.name)

    def reached(client):
        state, code = reader_state(client, name)
        if state is None:
            return False, None, describe(code)
        event_state, atr = state
        if event_state & scard.SCARD_STATE_UNKNOWN:
            return False, None, f"no reader named '{shown(name)}'"
        present = bool(event_state & scard.SCARD_STATE_PRESENT)
        # The service reads the ATR while it powers the card up: a present
        # card counts once its ATR (or its muteness) is known.
        settled = not present or atr or event_state & scard.SCARD_STATE_MUTE
        done = bool(settled) and present == want_present
        return done, state, f"event state 0x{event_state:X}"

    what = f"card in '{shown(name)}'" if want_present else f"empty '{shown(name)}'"
    event_state, atr = wait(args, reached, what)
    if want_present:
        if event_state & scard.SCARD_STATE_MUTE:
            print(f"lab-wait: the card in '{shown(name)}' is mute", file=sys.stderr)
        print(format_atr(atr))


def show_atr(args):
    name = os.fsencode(args.name)
    client = Client()
    try:
        state, code = reader_state(client, name)
    finally:
        client.drop()
    if state is None:
        fail(f"cannot read '{shown(name)}': {describe(code)}")
    event_state, atr = state
    if event_state & scard.SCARD_STATE_UNKNOWN:
        fail(f"no reader named '{shown(name)}'")
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
