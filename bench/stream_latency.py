"""How late orvalix-stream hands out each row on a pipe: raw 16-bit samples are written 160 at a
time every 10 ms, as a recorder would, and each row's arrival is held against the write of the
samples that complete its frame (a frame is analysed once the sample after it is in).

    /usr/bin/python3 bench/stream_latency.py --bin build/orvalix-stream --sample samples/speech16k.wav
"""
import argparse
import os
import subprocess
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("--bin", required=True)
parser.add_argument("--sample", required=True)
parser.add_argument("--pushes", type=int, default=300)
args = parser.parse_args()
samples = open(args.sample, "rb").read()[44:]  # the canonical header's data
proc = subprocess.Popen([args.bin, "--raw", "16000", "-", "-Q0"], stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, bufsize=0)
written, arrived = [], []


def read_rows():
    while True:
        data = os.read(proc.stdout.fileno(), 65536)
        if not data:
            return
        arrived.extend([time.monotonic()] * data.count(b"\n"))


reader = threading.Thread(target=read_rows)
reader.start()
for i in range(args.pushes):
    proc.stdin.write(samples[320 * i:320 * (i + 1)])
    written.append(time.monotonic())
    time.sleep(0.01)
proc.stdin.close()
reader.join()
proc.wait()
# Frame k (480 samples every 160) is complete with sample 160 k + 481, in push ceil(that / 160).
delays = sorted(t - written[-(-(160 * k + 481) // 160) - 1] for k, t in enumerate(arrived)
                if -(-(160 * k + 481) // 160) - 1 < len(written))
print("%d rows; delay after the completing samples: median %.2f ms, largest %.2f ms"
      % (len(delays), 1000 * delays[len(delays) // 2], 1000 * delays[-1]))
