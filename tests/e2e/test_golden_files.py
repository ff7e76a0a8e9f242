"""The committed golden cases: the program must reproduce every expected feature file byte for byte."""

import os
import shutil

from e2e import Checks, Folder, arguments, run


def main():
    args = arguments()
    binary = os.path.abspath(args.bin)
    local = os.path.join(args.source, "tests", "golden", "local")
    sample = os.path.join(args.source, "samples", "speech16k.wav")
    checks = Checks()
    with open(os.path.join(local, "cases.txt")) as fh:
        cases = [line.split() for line in fh if line.strip()]
    for name, source, *options in cases:
        with Folder() as f:
            shutil.copyfile(sample if source == "sample" else os.path.join(local, source),
                            os.path.join(f.path, "in.wav"))
            r = run(binary, ["-Q0", "in", "out"] + options, f.path)
            checks.equal("%s: status" % name, (r.status, r.err), (0, ""))
            with open(os.path.join(local, name + ".txt"), "rb") as fh:
                checks.true("%s: features identical" % name, f.read("out.txt") == fh.read())
    checks.finish()


if __name__ == "__main__":
    main()
