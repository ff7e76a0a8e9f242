"""The installed library, used from another CMake project and through pkg-config, writes exactly
what the command line writes; the library itself prints nothing."""

import os
import shutil
import subprocess

from e2e import Checks, Folder, arguments, run


def quiet(command):
    proc = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if proc.returncode != 0:
        print(proc.stdout.decode(errors="replace")[-3000:])
    return proc.returncode


args, checks = arguments(), Checks()
binary, source = os.path.abspath(args.bin), os.path.abspath(args.source)
with Folder() as f:
    prefix, example, by_pkg_config = (os.path.join(f.path, name)
                                      for name in ("prefix", "example", "analyse_pc"))
    installed = ("bin/orvalix", "bin/orvalix-corpus", "bin/orvalix-plot", "bin/orvalix-batch",
                 "bin/orvalix-slurm", "share/man/man1/orvalix.1", "include/orvalix/orvalix.h")
    checks.equal("install, the files installed, the example built through find_package",
                 [quiet(["cmake", "--install", os.path.dirname(binary), "--prefix", prefix]),
                  [n for n in installed if not os.path.exists(os.path.join(prefix, n))],
                  quiet(["cmake", "-S", os.path.join(source, "examples"), "-B", example,
                         "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_BUILD_TYPE=Release"]),
                  quiet(["cmake", "--build", example])], [0, [], 0, 0])
    pc_dirs = [root for root, _, files in os.walk(prefix) if "orvalix.pc" in files] + [""]
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "orvalix"], stdout=subprocess.PIPE,
                           env=dict(os.environ, PKG_CONFIG_PATH=pc_dirs[0])).stdout.decode().split()
    checks.equal("build the example through pkg-config", quiet(
        ["g++", "-std=c++20", os.path.join(source, "examples", "analyse_file.cpp"), "-o",
         by_pkg_config] + flags), 0)

    shutil.copyfile(os.path.join(source, "samples", "speech16k.wav"), f.path + "/in.wav")
    for options in ([], ["-C"]):
        run(binary, ["-Q0", "-O", "in", "cli"] + options, f.path)
        for tool in (os.path.join(example, "analyse_file"), by_pkg_config):
            r = run(tool, ["in.wav", "lib.txt"] + options, f.path)
            checks.equal("%s %s: only its own line, the command line's file" % (tool, options),
                         (r.status, r.out, r.err, f.read("lib.txt") == f.read("cli.txt")),
                         (0, "653 frames of 13 coefficients with 30 filters at 16000 Hz\n", "", True))
checks.finish()
