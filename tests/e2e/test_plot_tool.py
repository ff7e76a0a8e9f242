"""orvalix-plot: feature files drawn as PNGs, with and without the waveform; its refusals."""

import os
import struct
import subprocess
import sys

from e2e import Checks, Folder, arguments, chunk, riff, run, wave_bytes

args, checks = arguments(), Checks()
tool = os.path.join(os.path.abspath(args.source), "scripts", "orvalix-plot")
interpreter = open(tool).readline()[2:].split()[0]
command = [tool] if os.access(interpreter, os.X_OK) else [sys.executable, tool]


def plot(*argv, env=None):
    p = subprocess.run(command + list(argv), cwd=f.path, capture_output=True, env=env, timeout=60)
    return p.returncode, p.stderr.decode("utf-8", "replace")


def png_size(name):
    data = f.read(name) if os.path.exists(os.path.join(f.path, name)) else b""
    return struct.unpack(">II", data[16:24]) if data[:8] == b"\x89PNG\r\n\x1a\n" else None


with Folder() as f:
    f.file("lib/matplotlib/__init__.py", b"raise ImportError('No module named matplotlib')\n")
    missing = plot("x.txt", "x.png", env=dict(os.environ, PYTHONPATH=f.path + "/lib"))
    checks.equal("matplotlib missing: status 2, the packages named, no picture",
                 (missing, png_size("x.png")), ((2, "orvalix-plot: the Python library matplotlib "
                  "is missing (No module named matplotlib).\nInstall it from the distribution: "
                  "apt-get install python3-matplotlib python3-numpy\n"), None))
    if plot("--help")[0] == 2:
        checks.cannot_run("matplotlib or numpy is not installed for %s (apt-get install "
                          "python3-matplotlib python3-numpy)" % command[0])

    f.file("in.wav", wave_bytes([int(3000 * ((i * 13) % 97 - 48) / 48) for i in range(4000)]))
    stereo = bytes(v for i in range(2000) for v in ((i * 7) % 256, (i * 3) % 256))
    f.file("stereo.wav", riff(chunk(b"fmt ", struct.pack("<HHIIHHH", 1, 2, 8000, 16000, 2, 8, 0))
                              + chunk(b"LIST", b"INFOisft\0", 9) + b"\0" + chunk(b"data", stereo)))
    for argv in (["in.wav", "f.txt"], ["in.wav", "c0.txt", "-C", "-S5"], ["stereo.wav", "s.txt"]):
        run(os.path.abspath(args.bin), argv + ["-Q0"], f.path)  # a failure shows as no picture
    f.file("inf.txt", b"-inf 1.000000 \n2.000000 nan \n")
    f.file("empty.txt", b""), f.file("r.txt", b"1 2 \n1 \n")
    for what, argv, status, message in (  # the message's last line; with the waveform 600 high
            ("with the waveform", ["f.txt", "w.png", "--wave", "in.wav", "--title", "x"], 0, ""),
            ("alone, c0, per coefficient",
             ["c0.txt", "c0.png", "--c0", "--shift-ms", "5", "--per-coefficient"], 0, ""),
            ("a chunked two-channel 8-bit waveform", ["s.txt", "s.png", "--wave", "stereo.wav"],
             0, ""),
            ("-inf and nan are drawn", ["inf.txt", "inf.png"], 0, ""),
            ("no frame", ["empty.txt", "e.png"], 1, "orvalix-plot: empty.txt holds no frame"),
            ("ragged lines", ["r.txt", "r.png"], 1,
             "orvalix-plot: r.txt: the lines hold different numbers of coefficients"),
            ("missing features", ["missing.txt", "m.png"], 1, "orvalix-plot: cannot read "
             "missing.txt: [Errno 2] No such file or directory: 'missing.txt'"),
            ("not a wave file", ["f.txt", "nw.png", "--wave", "f.txt"], 1,
             "orvalix-plot: f.txt is not a wave file"),
            ("zero shift", ["f.txt", "z.png", "--shift-ms", "0"], 2,
             "orvalix-plot: error: --shift-ms must be a positive number")):
        code, err = plot(*argv)
        size = None if status else (1000, 600 if "--wave" in argv else 450)
        checks.equal(what, (code, err.splitlines()[-1:], png_size(argv[1])),
                     (status, [message] if message else [], size))
checks.finish()
