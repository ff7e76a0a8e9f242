"""orvalix-plot: a real feature file drawn as a PNG (with and without the waveform), its failures,
and its message when matplotlib is missing."""

import os
import struct
import subprocess
import sys

from e2e import Checks, Folder, arguments, run, wave_bytes

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def tool_command(source):
    tool = os.path.join(source, "tools", "orvalix-plot")
    with open(tool) as fh:
        interpreter = fh.readline()[2:].split()[0]
    # The script names the system's python3, where the distribution's matplotlib lives.
    if os.access(interpreter, os.X_OK):
        return [tool]
    return [sys.executable, tool]


def plot(command, args, cwd, env=None):
    proc = subprocess.run(command + args, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=120, env=env)
    return proc.returncode, proc.stderr.decode("utf-8", "replace")


def png_size(data):
    """Width and height from the IHDR chunk, or None when the bytes are not a PNG."""
    if len(data) < 24 or data[:8] != PNG_SIGNATURE or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def chunked_stereo_8bit(frames):
    """An 8-bit two-channel file with an 18-byte format chunk and a LIST chunk before the data."""
    fmt = struct.pack("<4sIHHIIHHH", b"fmt ", 18, 1, 2, 8000, 16000, 2, 8, 0)
    info = struct.pack("<4sI", b"LIST", 9) + b"INFOisft\x00" + b"\x00"
    data = bytes(v for i in range(frames) for v in ((i * 7) % 256, (i * 3) % 256))
    body = b"WAVE" + fmt + info + struct.pack("<4sI", b"data", len(data)) + data
    return struct.pack("<4sI", b"RIFF", len(body)) + body


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    command = tool_command(os.path.abspath(args.source))
    checks = Checks()

    with Folder() as f:
        # The message when the library is missing, shown with a matplotlib that cannot be imported.
        f.file("broken-lib/matplotlib/__init__.py", b"raise ImportError('No module named matplotlib')\n")
        env = dict(os.environ, PYTHONPATH=os.path.join(f.path, "broken-lib"))
        code, err = plot(command, ["x.txt", "x.png"], f.path, env=env)
        checks.equal("matplotlib missing: status 2", code, 2)
        checks.true("matplotlib missing: names the library and the packages",
                    "is missing" in err and "python3-matplotlib" in err, err)
        checks.equal("matplotlib missing: no picture", os.path.exists(os.path.join(f.path, "x.png")), False)

        code, err = plot(command, ["--help"], f.path)
        if code == 2 and "is missing" in err:
            checks.cannot_run("matplotlib or numpy is not installed for %s (apt-get install "
                              "python3-matplotlib python3-numpy)" % command[0])

        speech = [int(3000 * ((i * 13) % 97 - 48) / 48) for i in range(8000)]
        f.file("in.wav", wave_bytes(speech))
        r = run(binary, ["in.wav", "features.txt", "-Q0"], f.path)
        checks.equal("orvalix writes the features", r.status, 0)
        r = run(binary, ["in.wav", "features-c0.txt", "-Q0", "-C", "-S5"], f.path)
        checks.equal("orvalix writes the features with c0", r.status, 0)

        code, err = plot(command, ["features.txt", "with wave.png", "--wave", "in.wav",
                                   "--title", "speech"], f.path)
        checks.equal("with the waveform: status", (code, err), (0, ""))
        checks.equal("with the waveform: a 1000 x 600 PNG", png_size(f.read("with wave.png")), (1000, 600))
        checks.true("with the waveform: plausible file size", 10000 < len(f.read("with wave.png")) < 2000000)

        code, err = plot(command, ["features-c0.txt", "c0.png", "--c0", "--shift-ms", "5",
                                   "--per-coefficient"], f.path)
        checks.equal("features alone: status", (code, err), (0, ""))
        checks.equal("features alone: a 1000 x 450 PNG", png_size(f.read("c0.png")), (1000, 450))

        f.file("stereo.wav", chunked_stereo_8bit(4000))
        r = run(binary, ["stereo.wav", "stereo.txt", "-Q0"], f.path)
        checks.equal("orvalix reads the chunked two-channel file", r.status, 0)
        code, err = plot(command, ["stereo.txt", "stereo.png", "--wave", "stereo.wav"], f.path)
        checks.equal("chunked two-channel 8-bit waveform: status", (code, err), (0, ""))
        checks.true("chunked two-channel 8-bit waveform: a PNG", png_size(f.read("stereo.png")) is not None)

        f.file("inf.txt", b"-inf 1.000000 \n2.000000 nan \n")
        code, err = plot(command, ["inf.txt", "inf.png"], f.path)
        checks.equal("-inf and nan values are drawn", (code, err), (0, ""))

        f.file("empty.txt", b"")
        code, err = plot(command, ["empty.txt", "empty.png"], f.path)
        checks.equal("no frame: status 1 and a message", (code, err),
                     (1, "orvalix-plot: empty.txt holds no frame\n"))
        f.file("ragged.txt", b"1.0 2.0 \n1.0 \n")
        code, err = plot(command, ["ragged.txt", "ragged.png"], f.path)
        checks.equal("ragged lines: status 1", code, 1)
        code, err = plot(command, ["missing.txt", "missing.png"], f.path)
        checks.true("missing features: status 1 and a message",
                    code == 1 and err.startswith("orvalix-plot: cannot read missing.txt"), err)
        code, err = plot(command, ["features.txt", "w.png", "--wave", "features.txt"], f.path)
        checks.equal("not a wave file: status 1 and a message", (code, err),
                     (1, "orvalix-plot: features.txt is not a wave file\n"))
        code, err = plot(command, ["features.txt", "s.png", "--shift-ms", "0"], f.path)
        checks.equal("zero shift refused", code, 2)
        checks.equal("failures leave no picture",
                     [n for n in ("empty.png", "ragged.png", "missing.png", "w.png", "s.png")
                      if os.path.exists(os.path.join(f.path, n))], [])

    checks.finish()


if __name__ == "__main__":
    main()
