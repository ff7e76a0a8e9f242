#!/usr/bin/env python3
"""Time and memory of the runs that must stay cheap whatever the header claims: ten samples at
2^31 - 1 Hz, where a frame would be minutes of audio. No frame fits, so nothing frame-sized may be
built: each run must take well under 5 s and at most 256 MB.

Usage: bench/tiny_file_limits.py PATH/orvalix   (exit status 1 when a limit is exceeded)"""

import os
import resource
import struct
import subprocess
import sys
import tempfile
import time

SECONDS, MEGABYTES = 5.0, 256


def main():
    binary = os.path.abspath(sys.argv[1])
    samples = struct.pack("<10h", *range(10))
    rate = 0x7FFFFFFF
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(samples), b"WAVE", b"fmt ", 16, 1,
                         1, rate, ((rate * 16) & 0xFFFFFFFF) >> 3, 2, 16, b"data", len(samples))
    exceeded = False
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "in.wav"), "wb") as fh:
            fh.write(header + samples)
        for options in ([], ["-L100", "-S100", "-W4"], ["-L100", "-U"]):
            started = time.monotonic()
            proc = subprocess.Popen([binary, "-Q0", "-O", "in", "out"] + options, cwd=folder,
                                    stdout=subprocess.DEVNULL)
            _, status, usage = os.wait4(proc.pid, 0)
            seconds, megabytes = time.monotonic() - started, usage.ru_maxrss / 1024
            ok = status == 0 and seconds < SECONDS and megabytes < MEGABYTES
            exceeded |= not ok
            print("%-22s %6.2f s %7.1f MB  %s" % (" ".join(options) or "defaults", seconds, megabytes,
                                                  "ok" if ok else "OVER THE LIMIT"))
    return 1 if exceeded else 0


if __name__ == "__main__":
    sys.exit(main())
