"""orvalix-batch on a small corpus, every format read back and compared bit for bit with the
library's floats or orvalix's text; command entries, segments, shards, failures, a killed run."""

import os
import random
import signal
import struct

from e2e import Checks, Folder, arguments, run, running, start, wait_until, wave_bytes
from test_corpus_tool import fake_ssh

OPTIONS, COLUMNS, CUTS = ["-L25", "-M13", "-C"], 14, ["a-1", "a-2", "b-1", "c-1"]
SCP = ("a in/a.wav\nb cat in/b.wav |\nc in/c.wav\nshort in/short.wav\nbad in/bad.wav\n"
       "gone sh -c 'echo no such recording >&2; exit 3' |\n")
SEGMENTS = ("a-1 a 0.25 1.5\na-2 a 1.2 -1\nb-1 b 0.1 0.9\nc-1 c 0.5 1.3\na-9 a 1 3.1\n"
            "x-1 gone 0 1\ny-1 nowhere 0 1\n")
FAILED = (b"orvalix-batch: shard 1 of 1, 7 utterances of 7\nfailed: a-9: the segment ends after "
          b"its recording (40000 samples at 16000 Hz)\nfailed: x-1: the command failed with "
          b"status 3: no such recording\nfailed: y-1: recording nowhere is not in wav.scp\n")


def corpus(f, orvalix, driver):
    """The recordings, lists and segments' cuts laid out; per key the library's floats and text."""
    rng = random.Random(15)
    noise = lambda n, low, high: [rng.randrange(low, high) for _ in range(n)]
    recordings = {"a": (noise(40000, -4000, 4000), 16000, 16, 1),
                  "b": (noise(12000, 0, 256), 8000, 8, 1),
                  "c": (noise(2 * 11025, -9000, 9000), 11025, 16, 2),
                  "short": (noise(100, -99, 99), 16000, 16, 1)}
    waves = {key: f.file("in/%s.wav" % key, wave_bytes(*r)) for key, r in recordings.items()}
    for key, source, begin, end in (line.split() for line in SEGMENTS.splitlines()[:len(CUTS)]):
        samples, rate, bits, channels = recordings[source]
        at = lambda seconds: int(float(seconds) * rate) * channels
        cut = samples[at(begin):None if end == "-1" else at(end)]
        waves[key] = f.file("cut/%s.wav" % key, wave_bytes(cut, rate, bits, channels))
    f.file("in/bad.wav", b"RIFF....WAVEnot a wave file")
    f.file("in/sub dir/a b.WAV", f.read("in/a.wav"))
    os.symlink("nowhere.wav", f.path + "/in/gone.wav"), os.symlink("loop.wav", f.path + "/in/loop.wav")
    f.file("wav.scp", SCP.encode()), f.file("segments", SEGMENTS.encode())
    f.file("dup.scp", b"a in/a.wav\nb in/b.wav\na in/c.wav\n"), f.file("dup.seg", b"s a 0 1\n")
    floats, texts = {}, {}
    for key, wave in waves.items():
        run(driver, ["analyse", wave, "ref.bin"] + OPTIONS, f.path)
        run(orvalix, [wave, "ref.txt", "-Q0", "-O"] + OPTIONS, f.path)
        floats[key], texts[key] = f.read("ref.bin")[8:], f.read("ref.txt")
    return floats, texts


def kaldi(f, *scps):
    """(key, header, floats) per entry through the scripts: the key and a space before the offset,
    then '\\0B', 'FM ' and two sized int32 (rows, columns) or 'FV ' and one (length), the floats."""
    found = []
    for line in b"".join(f.read(scp) for scp in scps).decode().splitlines():
        key, place = line.split(" ", 1)
        path, offset = place.rsplit(":", 1)
        with open(path, "rb") as fh:
            fh.seek(int(offset) - len(key) - 1)
            head = struct.unpack("<%ds2s3s" % (len(key) + 1), fh.read(len(key) + 6))
            matrix = head[2] == b"FM "
            head += struct.unpack("<BiBi" if matrix else "<Bi", fh.read(10 if matrix else 5))
            found.append((key, head, fh.read(4 * head[4] * (head[6] if len(head) > 6 else 1))))
    return found


def htk(data):
    """The header (frames, period, width, kind), then the big-endian floats as little-endian."""
    floats = struct.unpack(">%df" % ((len(data) - 12) // 4), data[12:])
    return struct.unpack(">IIHH", data[:12]), struct.pack("<%df" % len(floats), *floats)


if __name__ == "__main__":
    args, checks = arguments(), Checks()
    orvalix = os.path.abspath(args.bin)
    batch, driver = (os.path.join(os.path.dirname(orvalix), name)
                     for name in ("orvalix-batch", "tests/frontend/orvalix_frontend_driver"))
    with Folder() as f:
        floats, texts = corpus(f, orvalix, driver)
        frames = lambda key: len(floats[key]) // (4 * COLUMNS)
        batch_run = lambda *argv: run(batch, argv, f.path)

        # Text: the program's own files, from a folder tree and from a list with segments.
        r = batch_run("in", "tree", "-j", "3", *OPTIONS)
        checks.equal("tree: summary, unreadable links as failures", (r.status, r.out.splitlines()[1:5]),
                     (1, ["orvalix-batch: 5 done, 0 skipped (output exists), 3 failed",
                          "failed: bad: in/bad.wav: cannot decode: Error in WAV file. No 'data' chunk marker.",
                          "failed: gone.wav: cannot be read: No such file or directory",
                          "failed: loop.wav: cannot be read: Too many levels of symbolic links"]))
        names = ["a", "b", "c", "short", "sub dir/a b"]
        checks.equal("tree: orvalix's output files", [f.read("tree/%s.txt" % n) for n in names],
                     [texts.get(n, texts["a"]) for n in names])
        r = batch_run("in", "treekaldi", "--format", "kaldi")
        checks.true("tree: a name with a blank is no Kaldi key", "failed: sub dir/a b: a key with "
                    "a blank cannot go into a Kaldi script" in r.out)
        r = batch_run("wav.scp", "--segments", "segments", "text", "-j", "3", *OPTIONS)
        cuts = [f.read("text/%s.txt" % k) for k in CUTS]
        log = b"".join(l for l in f.read("text/orvalix-batch.log").splitlines(True) if b"digest" not in l)
        checks.equal("segments: status, failure log, orvalix's output files of the cuts",
                     (r.status, log, cuts),
                     (1, FAILED, [texts[k] for k in CUTS]))

        # Kaldi: the library's floats in list order; 3 shards, and orvalix-corpus running one job
        # per shard through an ssh login, give the same entries.
        batch_run("wav.scp", "kaldi", "--format", "kaldi", "-j", "3", *OPTIONS)
        whole = kaldi(f, "kaldi/feats.scp")
        checks.equal("kaldi: the library's floats in list order", whole,
                     [(k, (k.encode() + b" ", b"\0B", b"FM ", 4, frames(k), 4, COLUMNS), floats[k])
                      for k in ("a", "b", "c", "short")])
        for k in (1, 2, 3):
            batch_run("wav.scp", "shards", "--format", "kaldi", "--shard", "%d/3" % k, *OPTIONS)
        r = run(os.path.join(os.path.abspath(args.source), "scripts", "orvalix-corpus"),
                ["--batch", batch, "--shards", "3", "--sshlogin", "2/%s node1" % fake_ssh(f.path),
                 "--format", "kaldi", "wav.scp", "viacorpus"] + OPTIONS, f.path)
        checks.equal("orvalix-corpus --shards 3: status (two failures), jobs through the login",
                     (r.status, f.read("ssh-calls").count(b"x")), (1, 3))
        sharded = [["%s/feats.%d.scp" % (d, k) for k in (1, 2, 3)] for d in ("shards", "viacorpus")]
        checks.equal("kaldi: 3 shards, orvalix-corpus's 3 shards",
                     [kaldi(f, *scps) for scps in sharded], [whole] * 2)

        # HTK without c0 (with c0, last, and NumPy: tests/frontend/).
        batch_run("wav.scp", "htk", "--format", "htk", "-L25", "-M13")
        without_c0 = lambda raw: b"".join(raw[i + 4:i + 56] for i in range(0, len(raw), 56))
        checks.equal("htk: header, the library's floats without c0",
                     [htk(f.read("htk/%s.htk" % k)) for k in "abc"],
                     [((frames(k), 100000, 52, 6), without_c0(floats[k])) for k in "abc"])

        # A killed run leaves only complete files and no command behind; the rerun does exactly
        # what is left.
        f.file("slow.scp", b"a in/a.wav\nslow sh -c 'echo $$ >slow.pid; exec sleep 600' |\n")
        for fmt, left in (("text", ["a.txt", "orvalix-batch.log"]), ("kaldi", [])):
            proc = start([batch, "slow.scp", "killed-" + fmt, "-j", "1", "--format", fmt], f.path)
            wait_until(lambda: running(f.path + "/slow.pid"))
            proc.kill()  # the run alone, of SIGKILL
            proc.wait()
            ended = wait_until(lambda: not running(f.path + "/slow.pid"))
            checks.true("killed %s run: its command ends with it" % fmt, ended)
            ended or os.kill(int(f.read("slow.pid")), signal.SIGKILL)
            os.unlink(f.path + "/slow.pid")
            checks.equal("killed %s run: complete files only" % fmt,
                         sorted(os.listdir(f.path + "/killed-" + fmt)), left)
        f.file("slow.scp", b"a in/a.wav\nslow cat in/a.wav |\n")
        K1 = ["--format", "kaldi", "--shard", "1/1"]
        for what, argv, done in (("text run", [], "1 done, 1 skipped"),
                                 ("killed kaldi shard", K1, "2 done, 0 skipped"),
                                 ("finished kaldi shard", K1, "0 done, 2 skipped")):
            r = batch_run("slow.scp", "killed-" + what.split()[-2], *argv)
            checks.equal("rerun of a " + what, r.out.splitlines()[1],
                         "orvalix-batch: %s (output exists), 0 failed" % done)

        # A rerun redoes what another list, other settings or a missing file would change.
        f.file("one.scp", b"a in/a.wav\nc in/c.wav\n"), f.file("other.scp", b"x1 in/a.wav\nx2 in/c.wav\n")
        HTK = ["wav.scp", "htk", "--format", "htk", "-L25", "-M13", "--vad-labels"]
        for what, argv, done in (("a first list", ["one.scp", "resume", "--format", "kaldi"], "2 done, 0"),
                                 ("other keys", ["other.scp", "resume", "--format", "kaldi"], "2 done, 0"),
                                 ("labels asked for", HTK, "4 done, 0"),
                                 ("a label file lost", HTK, "1 done, 3")):
            r = batch_run(*argv)
            checks.true("run with %s: done" % what, "orvalix-batch: %s skipped" % done in r.out, r.out)
            os.path.exists(f.path + "/htk/a.lab") and os.unlink(f.path + "/htk/a.lab")
        checks.equal("rerun with other keys: the script", [e[0] for e in kaldi(f, "resume/feats.scp")],
                     ["x1", "x2"])
        r = batch_run("dup.scp", "--segments", "dup.seg", "dup")
        checks.true("a recording id twice, with segments: refused",
                    "failed: s: recording a appears twice in dup.scp" in r.out, r.out)

        # Refusals before any work: outputs that are inputs or each other, lists that are no
        # lists, limits and settings named; the file at stake keeps its bytes.
        f.file("nul.scp", b"a in/a.wav\nk\0ey in/a.wav\n"), f.file("bom.scp", b"\xef\xbb\xbf" + SCP.encode())
        f.file("self.scp", b"k self/k.txt\n"), f.file("self/k.txt", f.read("in/a.wav")), f.file("afile", b"x")
        K = ["--format", "kaldi"]
        for argv, message, kept in (
                (["wav.scp", "o", "--ark", "in/a.wav"] + K, "archive in/a.wav is the same file as the input wave", "in/a.wav"),
                (["wav.scp", "o", "--ark", "wav.scp"] + K, "archive wav.scp is the same file as the list", "wav.scp"),
                (["wav.scp", "o", "--ark", "F", "--scp", "./F"] + K, "script ./F is the same file as the archive F", None),
                (["wav.scp", "o", "--scp", "o/orvalix-batch.log"] + K, "log o/orvalix-batch.log is the same", None),
                (["self.scp", "self", "-O"], "output self/k.txt is the same file as the input wave", "self/k.txt"),
                (["in/a.wav", "o"], "in/a.wav is a wave file, not a list: INPUT is a folder or a text list", "in/a.wav"),
                (["nul.scp", "o"], "nul.scp holds a NUL byte on line 2: INPUT is", None),
                (["bom.scp", "o"], "bom.scp begins with a byte-order mark", None),
                (["wav.scp", "afile"], "cannot write into afile: not a folder", "afile"),
                (["wav.scp", "o", "--shard", "1/1000000000"], "1 <= K <= N <= 999999999", None),
                (["wav.scp", "o", "--deltas", "1", "--delta-window", "0"], "--delta-window is 1..100", None)):
            before = f.read(kept) if kept else None
            r = batch_run(*argv)
            checks.equal("refused %s: status, message, %s kept" % (argv, kept),
                         (r.status, message in r.err, f.read(kept) if kept else None), (2, True, before))

        # Audio the program's reader refuses, made from the sample, decoded in-process: lossless
        # files give the program's rows on the 16-bit original (--channel 1: on that channel alone;
        # --rate: the decoded signal resampled, whatever its file); what cannot be decoded is a
        # failure line naming its format and libsndfile's reason, and the rest is done.
        sample = os.path.join(os.path.abspath(args.source), "samples", "speech16k.wav")
        tools = lambda *argv: run(argv[0], list(argv[1:]), f.path)
        f.file("audio/no.mp3", b"no audio\n"), f.file("audio/skip.txt", b"not picked up")
        tools("sox", sample, "-b", "24", "audio/x24.wav"), tools("flac", "-s", sample, "-o", "audio/x.FLAC")
        tools("sox", sample, "right.wav", "reverse"), tools("sox", "-M", sample, "right.wav", "-b", "24", "s.flac")
        f.file("audio/cut.flac", f.read("audio/x.FLAC")[:30000]), f.file("s.scp", b"left s.flac\nright s.flac\n")
        for k, name in (("program", sample), ("right", "right.wav")):
            run(orvalix, [name, "audio-%s.txt" % k, "-Q0", "-O"] + OPTIONS, f.path)
        f.file("p.scp", ("x %s\n" % sample).encode())
        r = batch_run("audio", "audio-out", "-j", "2", *OPTIONS)
        rows = lambda *names: [f.read(n) for n in names]
        resampled = [batch_run(*argv, "--rate", "8000", *OPTIONS) and f.read(name)
                     for argv, name in ((["audio", "r1"], "r1/x.txt"), (["p.scp", "r2"], "r2/x.txt"))]
        for what, got, want in (
                ("FLAC, 24-bit wave: the program's rows", rows("audio-out/x24.txt", "audio-out/x.txt"),
                 rows("audio-program.txt") * 2),
                ("an undecodable file, a cut FLAC: failure lines, the rest done", r.out.splitlines()[1:4],
                 ["orvalix-batch: 2 done, 0 skipped (output exists), 2 failed",
                  "failed: cut: audio/cut.flac (FLAC (Free Lossless Audio Codec), Signed 16 bit PCM): decoding "
                  "failed after 16384 samples: the file ends before the samples it announces",
                  "failed: no: audio/no.mp3: cannot decode: Format not recognised."]),
                ("--channel 1 of a stereo FLAC: that channel's rows",
                 (batch_run("s.scp", "ch", "--channel", "1", *OPTIONS).status, rows("ch/right.txt")),
                 (0, rows("audio-right.txt"))),
                ("--rate 8000: FLAC and the program's wave alike, not the 16 kHz rows",
                 (resampled[0] == resampled[1], resampled[0] in rows("audio-program.txt")), (True, False))):
            checks.equal("audio: " + what, got, want)

        # Usage errors stop before any work.
        for bad in (["--shard", "4/3"], ["--format", "ark"], ["--deltas", "3"],
                    ["--deltas", "1", "--delta-window", "0"], ["--cmvn", "global"],
                    ["--cmvn", "sliding", "--cmvn-min-window", "601"], ["--cmvn-window", "x"],
                    ["--features", "plp"], ["--rate", "0"], ["--channel", "-1"], ["-L0"]):
            r = batch_run("wav.scp", "usage", *bad)
            checks.equal("usage %s: status 2, nothing written" % bad,
                         (r.status, os.path.exists(f.path + "/usage")), (2, False))
        checks.true("refused options: orvalix's message",
                    "L(1) = 0 is out of range [1,100]." in r.err)

        # Analysed all the same, as the program does: a file cut short is a warning in the log;
        # settings whose filters cover no bin at a rate are said once for that rate.
        f.file("cut.scp", b"cut in/cut.wav\nshort in/short.wav\nagain in/short.wav\n")
        f.file("in/cut.wav", f.read("in/a.wav")[:-4000])
        r = batch_run("cut.scp", "warned", "-L10", "-N80")
        checks.equal("a file cut short and empty filters: done, warned in the log and once on stderr",
                     (r.status, f.read("warned/orvalix-batch.log").splitlines()[2:],
                      r.err.count("warning: at 16000 Hz mel filter")),
                     (0, [b"warning: cut: cut short: 38000 of the 40000 samples its header announces were read"], 1))
    checks.finish()
