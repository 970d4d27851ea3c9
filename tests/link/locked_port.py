#!/usr/bin/env python3
"""Holds a serial line that nobody else can open: a new pseudo-terminal whose slave end stays
locked (it is never unlocked), so every open of it fails with EIO, root or not. Prints the slave
path on the first line and holds the master until it is stopped."""
import fcntl
import os
import signal
import struct
import sys

TIOCGPTN = 0x80045430  # the pty number of a /dev/ptmx master

master = os.open("/dev/ptmx", os.O_RDWR | os.O_NOCTTY)
number = struct.unpack("I", fcntl.ioctl(master, TIOCGPTN, b"\0" * 4))[0]
print(f"/dev/pts/{number}", flush=True)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
while True:
    signal.pause()
