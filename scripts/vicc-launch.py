#!/usr/bin/python3
"""Runs one virtual ISO 7816 card (Debian's vsmartcard vicc) for a lab reader.

    vicc-launch.py PORT [ATR-HEX]

The card is in the reader while this process runs: it connects to the vpcd
reader listening on 127.0.0.1:PORT and answers its APDUs; ending the process
takes the card out. ATR-HEX ("3B 02 14 50", blanks allowed) replaces the
card's own ATR. Exit status: 0 when the reader closed the connection, 1 when
the reader could not be reached, 2 on bad arguments.

Debian 12 ships vicc's module outside sys.path and built against "Crypto"
while it packages PyCryptodome as "Cryptodome": both are bridged here.
"""

import logging
import os
import sys

VSMARTCARD_PATH = "/usr/lib/python3/site-packages/virtualsmartcard"
MAX_ATR_SIZE = 33


def usage(message):
    print(f"vicc-launch: {message}\nusage: vicc-launch.py PORT [ATR-HEX]", file=sys.stderr)
    sys.exit(2)


def parse_args(argv):
    if len(argv) not in (2, 3):
        usage("wrong number of arguments")
    if not argv[1].isdigit() or not 1 <= int(argv[1]) <= 65535:
        usage(f"bad port '{argv[1]}'")
    port = int(argv[1])
    atr = None
    if len(argv) == 3:
        digits = "".join(argv[2].split())
        try:
            atr = bytes.fromhex(digits)
        except ValueError:
            usage(f"bad ATR '{argv[2]}': expected hexadecimal bytes")
        if not 1 <= len(atr) <= MAX_ATR_SIZE:
            usage(f"bad ATR '{argv[2]}': 1 to {MAX_ATR_SIZE} bytes expected")
    return port, atr


def main():
    # A card runs for as long as a test needs it: it keeps no descriptor of
    # whoever launched it (a lock, a pipe somebody reads to its end), and no
    # terminal session whose hang-up would take it out.
    os.closerange(3, os.sysconf("SC_OPEN_MAX"))
    try:
        os.setsid()
    except OSError:
        pass

    port, atr = parse_args(sys.argv)

    sys.path.insert(0, VSMARTCARD_PATH)
    import Cryptodome
    sys.modules.setdefault("Crypto", Cryptodome)
    from virtualsmartcard.VirtualSmartcard import VirtualICC

    try:
        vicc = VirtualICC(None, "iso7816", "127.0.0.1", port,
                          logginglevel=logging.WARNING)
    except SystemExit:
        # vicc exits with status 0 when the reader cannot be reached.
        print(f"vicc-launch: no reader listening on 127.0.0.1:{port}", file=sys.stderr)
        sys.exit(1)
    if atr is not None:
        vicc.os.atr = atr
    try:
        vicc.run()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
