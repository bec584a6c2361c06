#!/usr/bin/python3
"""Polls Sylvac duplex gauges and appends date;time;value per reading to a CSV file.

What a technician would write instead of the station; station_cpu_bench runs it
as the reference. Same line and waits as the station uses for the type: 4800
baud 7E2, RTS off, DTR on; "?\\r", 200 ms closing wait, 200 ms read time-out,
200 ms settle after each round.
Usage: pyserial_poller.py OUT.csv PORT [PORT ...]
"""
import sys
import termios
import time

import serial

out_path, ports = sys.argv[1], sys.argv[2:]
gauges = []
for p in ports:
    g = serial.Serial(None, 4800, bytesize=7, parity="E", stopbits=2, timeout=0.2)
    g.port, g.rts, g.dtr = p, False, True  # applied by open(), which tolerates a pty
    try:
        g.open()
    except termios.error:  # a pseudo-terminal keeps 8N1 and refuses 7E2
        g.bytesize, g.parity, g.stopbits = 8, "N", 1
        g.open()
    gauges.append(g)
with open(out_path, "a", encoding="ascii") as out:
    while True:
        for g in gauges:
            g.reset_input_buffer()
            g.write(b"?\r")
            time.sleep(0.2)  # closing wait
        for g in gauges:
            line = g.read_until(b"\r", 20)
            if line.endswith(b"\r"):
                now = time.localtime()
                out.write(time.strftime("%d.%m.%Y;%H:%M:%S", now) + ";" + f"{float(line):.3f}\n")
        out.flush()
        time.sleep(0.2)  # settle
