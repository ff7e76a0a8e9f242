"""orvalix-batch on a small corpus: every format read back by a reader written here from its
layout, every value compared bit for bit with the library's floats and, formatted, with orvalix's
own text output; command entries, segments, shards, threads, failures, resuming, a killed run."""

import json
import os
import random
import signal
import struct
import subprocess
import time

from e2e import Checks, Folder, arguments, run, wave_bytes
from test_corpus_tool import fake_ssh

OPTIONS = ["-L25", "-M13", "-C"]
COLUMNS = 14
SCP = ("a in/a.wav\nb cat in/b.wav |\nc in/c.wav\nshort in/short.wav\nbad in/bad.wav\n"
       "gone sh -c 'echo no such recording >&2; exit 3' |\n")
SEGMENTS = "a-1 a 0.25 1.5\na-2 a 1.2 -1\nb-1 b 0.1 0.9\nc-1 c 0.5 1.3\na-9 a 1 3.1\nx-1 gone 0 1\n"
FAILED = {"bad": "in/bad.wav: RFX_FILE_ERROR",
          "gone": "the command failed with status 3: no such recording",
          "x-1": "the command failed with status 3: no such recording",
          "a-9": "the segment ends after its recording (40000 samples at 16000 Hz)"}


def corpus(f):
    """Recordings as (rate, bits, channels, samples); segments are cut from these."""
    rng = random.Random(15)
    noise = lambda n, low, high: [rng.randrange(low, high) for _ in range(n)]
    recordings = {"a": (16000, 16, 1, noise(40000, -4000, 4000)), "b": (8000, 8, 1, noise(12000, 0, 256)),
                  "c": (11025, 16, 2, noise(2 * 11025, -9000, 9000)), "short": (16000, 16, 1, noise(100, -99, 99))}
    for key, (rate, bits, channels, samples) in recordings.items():
        f.file("in/%s.wav" % key, wave_bytes(samples, rate=rate, bits=bits, channels=channels))
    f.file("in/bad.wav", b"RIFF....WAVEnot a wave file")
    f.file("in/sub dir/a b.WAV", f.read("in/a.wav"))
    f.file("wav.scp", SCP.encode())
    f.file("segments", SEGMENTS.encode())
    for line in SEGMENTS.splitlines():
        key, source, start, end = line.split()
        if source in recordings and key != "a-9":
            rate, bits, channels, samples = recordings[source]
            # Half a second past the end at most is cut at the end.
            length = len(samples) // channels
            first, last = int(float(start) * rate), length if end == "-1" else min(length, int(float(end) * rate))
            f.file("cut/%s.wav" % key, wave_bytes(samples[first * channels:last * channels], rate, bits, channels))


def references(f, orvalix, dump):
    """Per key: the library's floats (raw little-endian, c0..cM) and orvalix's text output."""
    wanted = {}
    for key in ["a", "b", "c", "short", "a-1", "a-2", "b-1", "c-1"]:
        wave = ("cut/%s.wav" if "-" in key else "in/%s.wav") % key
        subprocess.run([dump, wave, "ref.f32"] + OPTIONS, cwd=f.path, check=True)
        run(orvalix, [wave, "ref.txt", "-Q0", "-O"] + OPTIONS, f.path)
        wanted[key] = (f.read("ref.f32"), f.read("ref.txt"))
    return wanted


def as_text(raw):
    """The program's "%f " lines for raw little-endian floats, c0..cM per frame."""
    values = struct.unpack("<%df" % (len(raw) // 4), raw)
    rows = [values[i:i + COLUMNS] for i in range(0, len(values), COLUMNS)]
    return "".join("".join("%f " % v for v in row) + "\n" for row in rows).encode()


def read_kaldi(f, scp_names):
    """Entries through the scripts: key and space, then at the offset '\\0B', 'FM ', two sized
    int32 and the floats."""
    found = []
    for scp in scp_names:
        for line in f.read(scp).decode().splitlines():
            key, place = line.split(" ", 1)
            path, offset = place.rsplit(":", 1)
            with open(path, "rb") as fh:
                fh.seek(int(offset) - len(key) - 1)
                head = fh.read(len(key) + 1 + 15)
            prefix, binary, token, size1, rows, size2, columns = struct.unpack(
                "<%ds2s3sBiBi" % (len(key) + 1), head)
            with open(path, "rb") as fh:
                fh.seek(int(offset) + 15)
                data = fh.read(rows * columns * 4)
            found.append((key, (prefix, binary, token, size1, size2), rows, columns, data))
    return found


def read_htk(data):
    """HTK: big-endian count, period, bytes per frame, kind; rows c1..cM then c0 when kind has _0."""
    frames, period, width, kind = struct.unpack(">IIHH", data[:12])
    values = struct.unpack(">%df" % (frames * width // 4), data[12:])
    columns = width // 4
    rows = [values[i:i + columns] for i in range(0, len(values), columns)]
    if kind & 0x2000:
        rows = [row[-1:] + row[:-1] for row in rows]
    return (frames, period, width, kind), b"".join(struct.pack("<%df" % len(r), *r) for r in rows)


def read_npy(paths):
    """NumPy itself reads the files (Debian's interpreter has it)."""
    script = ("import json,sys,numpy\nprint(json.dumps({p: [list(numpy.load(p).shape), str(numpy.load(p).dtype),"
              " numpy.load(p).astype('<f4').tobytes().hex()] for p in sys.argv[1:]}))")
    out = subprocess.run(["/usr/bin/python3", "-c", script] + paths, stdout=subprocess.PIPE, check=True).stdout
    return json.loads(out)


def without_c0(raw):
    values = struct.unpack("<%df" % (len(raw) // 4), raw)
    return b"".join(struct.pack("<%df" % (COLUMNS - 1), *values[i + 1:i + COLUMNS])
                    for i in range(0, len(values), COLUMNS))


def main():
    args = arguments()
    orvalix = os.path.abspath(args.bin)
    build = os.path.dirname(orvalix)
    batch, dump = os.path.join(build, "orvalix-batch"), os.path.join(build, "tests", "orvalix_float_dump")
    checks = Checks()
    with Folder() as f:
        corpus(f)
        wanted = references(f, orvalix, dump)
        utterances = ["a-1", "a-2", "b-1", "c-1"]
        lists = ["wav.scp", "--segments", "segments"]

        def batch_run(*arguments):
            return run(batch, list(arguments), f.path)

        # Text: the program's own files, from a folder tree and from a list with segments.
        r = batch_run("in", "tree", "-j", "3", *OPTIONS)
        checks.equal("tree: summary", (r.status, r.out.splitlines()[1:3]), (
            1, ["orvalix-batch: 5 done, 0 skipped (output exists), 1 failed", "failed: bad: " + FAILED["bad"]]))
        for name, key in [("a", "a"), ("b", "b"), ("c", "c"), ("short", "short"), ("sub dir/a b", "a")]:
            checks.true("tree: %s.txt is orvalix's output" % name, f.read("tree/%s.txt" % name) == wanted[key][1])
        r = batch_run("in", "treekaldi", "--format", "kaldi")
        checks.true("tree: a name with a blank is no Kaldi key",
                    "failed: sub dir/a b: a key with a blank cannot go into a Kaldi script" in r.out, r.out)
        r = batch_run(*lists, "text", "-j", "3", *OPTIONS)
        log = "orvalix-batch: shard 1 of 1, 6 utterances of 6\nfailed: a-9: %s\nfailed: x-1: %s\n" % (
            FAILED["a-9"], FAILED["x-1"])
        checks.equal("segments: status, failure log", (r.status, f.read("text/orvalix-batch.log").decode()), (1, log))
        for key in utterances:
            checks.true("segment %s is orvalix's output of the cut file" % key, f.read("text/%s.txt" % key) == wanted[key][1])
        os.remove(os.path.join(f.path, "text/a-2.txt"))
        r = batch_run(*lists, "text", *OPTIONS)
        checks.equal("rerun redoes the missing file", r.out.splitlines()[1],
                     "orvalix-batch: 1 done, 3 skipped (output exists), 2 failed")

        # Kaldi: one run on 3 threads, one on 1, and three shards give the same entries.
        batch_run("wav.scp", "kaldi", "--format", "kaldi", "-j", "3", *OPTIONS)
        batch_run("wav.scp", "kaldi1", "--format", "kaldi", "-j", "1", *OPTIONS)
        checks.true("kaldi: threads change no byte", f.read("kaldi/feats.ark") == f.read("kaldi1/feats.ark"))
        for k in (1, 2, 3):
            batch_run("wav.scp", "shards", "--format", "kaldi", "--shard", "%d/3" % k, *OPTIONS)
        whole, sharded = read_kaldi(f, ["kaldi/feats.scp"]), read_kaldi(f, ["shards/feats.%d.scp" % k for k in (1, 2, 3)])
        checks.equal("kaldi: keys in list order", [entry[0] for entry in whole], ["a", "b", "c", "short"])
        checks.true("kaldi: shards hold the same entries in the same order", sharded == whole)
        for key, markers, rows, columns, data in whole:
            checks.equal("kaldi %s: markers and sizes" % key, (markers, columns, rows * columns * 4),
                         ((key.encode() + b" ", b"\0B", b"FM ", 4, 4), COLUMNS, len(wanted[key][0])))
            checks.true("kaldi %s: the library's floats" % key, data == wanted[key][0])
            checks.true("kaldi %s: formatted, orvalix's text" % key, as_text(data) == wanted[key][1])

        # HTK without c0 and with it (last); NumPy with segments.
        batch_run("wav.scp", "htk", "--format", "htk", "-L25", "-M13")
        batch_run(*lists, "htkc0", "--format", "htk", *OPTIONS)
        for key in ["a", "b", "c"]:
            header, data = read_htk(f.read("htk/%s.htk" % key))
            checks.equal("htk %s: header" % key, header, (len(wanted[key][0]) // 4 // COLUMNS, 100000, 52, 6))
            checks.true("htk %s: the library's floats" % key, data == without_c0(wanted[key][0]))
        for key in utterances:
            header, data = read_htk(f.read("htkc0/%s.htk" % key))
            checks.equal("htk c0 %s: header" % key, header[2:], (56, 0x2006))
            checks.true("htk c0 %s: the library's floats, c0 moved last" % key, data == wanted[key][0])
        batch_run(*lists, "npy", "--format", "npy", *OPTIONS)
        loaded = read_npy([os.path.join(f.path, "npy", key + ".npy") for key in utterances])
        for key in utterances:
            shape, dtype, data = loaded[os.path.join(f.path, "npy", key + ".npy")]
            checks.equal("npy %s: shape and type" % key, (shape, dtype), ([len(wanted[key][0]) // 56, COLUMNS], "float32"))
            checks.true("npy %s: the library's floats" % key, bytes.fromhex(data) == wanted[key][0])
            header_length = struct.unpack("<H", f.read("npy/%s.npy" % key)[8:10])[0]
            checks.equal("npy %s: data at a multiple of 64" % key, (10 + header_length) % 64, 0)

        # A killed run leaves only complete files; the rerun does exactly what is left.
        f.file("slow.scp", b"a in/a.wav\nslow sleep 20 |\n")
        for fmt in ("text", "kaldi"):
            proc = subprocess.Popen([batch, "slow.scp", "killed-" + fmt, "-j", "1", "--format", fmt],
                                    cwd=f.path, stdout=subprocess.DEVNULL, start_new_session=True)
            time.sleep(0.7)
            os.killpg(proc.pid, signal.SIGKILL)  # the run and its command, as a scheduler does
            proc.wait()
            checks.equal("killed %s run: complete files only" % fmt, sorted(os.listdir(os.path.join(f.path, "killed-" + fmt))),
                         ["a.txt"] if fmt == "text" else [])
        f.file("slow.scp", b"a in/a.wav\nslow cat in/a.wav |\n")
        r = batch_run("slow.scp", "killed-text")
        checks.equal("after a kill, the rerun does the rest", r.out.splitlines()[1],
                     "orvalix-batch: 1 done, 1 skipped (output exists), 0 failed")
        for rerun, summary in (("killed shard", "2 done, 0 skipped"), ("finished shard", "0 done, 2 skipped")):
            r = batch_run("slow.scp", "killed-kaldi", "--format", "kaldi", "--shard", "1/1")
            checks.equal("kaldi, rerun of a %s" % rerun, r.out.splitlines()[1],
                         "orvalix-batch: %s (output exists), 0 failed" % summary)

        # Usage errors stop before any work.
        for bad in (["-L0"], ["--shard", "4/3"], ["--format", "ark"]):
            r = batch_run("wav.scp", "usage", *bad)
            checks.equal("usage %s: status 2, nothing written" % bad, (r.status, os.path.exists(os.path.join(f.path, "usage"))), (2, False))
        checks.true("refused options: orvalix's message", "ERROR: Parameter L(1) = 0 is out of range [1,100]." in
                    batch_run("wav.scp", "usage", "-L0").err)

        # orvalix-corpus with a list: one orvalix-batch job per shard, through an ssh login.
        corpus_tool = os.path.join(os.path.abspath(args.source), "tools", "orvalix-corpus")
        r = run(corpus_tool, ["--batch", batch, "--shards", "3", "--sshlogin", "2/%s node1" % fake_ssh(f.path),
                              "--format", "kaldi", "wav.scp", "viacorpus"] + OPTIONS, f.path)
        checks.equal("orvalix-corpus --shards 3: status (two failures), jobs through the login",
                     (r.status, f.read("ssh-calls").count(b"x")), (1, 3))
        checks.true("orvalix-corpus --shards 3: the same entries",
                    read_kaldi(f, ["viacorpus/feats.%d.scp" % k for k in (1, 2, 3)]) == whole)
    checks.finish()


if __name__ == "__main__":
    main()
