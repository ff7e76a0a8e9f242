"""The installed library from outside C++: a C99 program built against the header and the shared
library (through find_package and through pkg-config), and Python's ctypes calling the shared
library from two threads at once, each writing exactly what the command line writes. The shared
library exports the C interface alone, and prints nothing."""

import ctypes
import os
import shutil
import subprocess
import threading

from e2e import Checks, Folder, arguments, run

C_FLAGS = ["-std=c99", "-Wall", "-Wextra", "-Werror", "-pedantic"]


def quiet(command, env=None):
    proc = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    if proc.returncode != 0:
        print(proc.stdout.decode(errors="replace")[-3000:])
    return proc.returncode


class Settings(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32)] + [(name, ctypes.c_int32) for name in (
        "windowLengthMs", "windowShiftMs", "melFilterCount", "cepstralCount", "includeC0",
        "removeDcOffset", "powerOfTwoBelow", "windowType", "lifterType", "filterDomain")] + [
        ("preEmphasis", ctypes.c_float), ("threads", ctypes.c_int32)]


class Features(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint32), ("frameCount", ctypes.c_int32),
                ("columnCount", ctypes.c_int32), ("filterCount", ctypes.c_int32),
                ("values", ctypes.POINTER(ctypes.c_float))]


class Error(ctypes.Structure):
    _fields_ = [("code", ctypes.c_int32), ("message", ctypes.c_char * 256)]


def text_through_ctypes(library, wave, options):
    """The program's text of the file, every row analysed by the shared library."""
    settings, features, error = library.orvalix_default_settings(), Features(), Error()
    words = (ctypes.c_char_p * len(options))(*[o.encode() for o in options])
    assert library.orvalix_parse_options(len(options), words, ctypes.byref(settings), None) == 0
    status = library.orvalix_analyse_file(wave.encode(), ctypes.byref(settings),
                                          ctypes.byref(features), None, ctypes.byref(error))
    if status:
        return "status %d: %s" % (status, error.message.decode())
    first, columns = (0 if settings.includeC0 else 1), features.columnCount
    rows = ["".join("%f " % features.values[t * columns + c] for c in range(first, columns)) + "\n"
            for t in range(features.frameCount)]
    library.orvalix_release_features(ctypes.byref(features))
    return "".join(rows)


args, checks = arguments(), Checks()
binary, source = os.path.abspath(args.bin), os.path.abspath(args.source)
with Folder() as f:
    prefix, example, by_pkg_config = (os.path.join(f.path, name)
                                      for name in ("prefix", "example", "analyse_pc"))
    installed = ("bin/orvalix", "bin/orvalix-corpus", "bin/orvalix-plot", "bin/orvalix-batch",
                 "bin/orvalix-slurm", "share/man/man1/orvalix.1", "include/orvalix/orvalix.h")
    checks.equal("install, the files installed, the C example built through find_package",
                 [quiet(["cmake", "--install", os.path.dirname(binary), "--prefix", prefix]),
                  [n for n in installed if not os.path.exists(os.path.join(prefix, n))],
                  quiet(["cmake", "-S", os.path.join(source, "examples"), "-B", example,
                         "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_BUILD_TYPE=Release"]),
                  quiet(["cmake", "--build", example])], [0, [], 0, 0])
    pc_dirs = [root for root, _, files in os.walk(prefix) if "orvalix.pc" in files] + [""]
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "orvalix"], stdout=subprocess.PIPE,
                           env=dict(os.environ, PKG_CONFIG_PATH=pc_dirs[0])).stdout.decode().split()
    checks.equal("build the C example through pkg-config", quiet(
        ["gcc"] + C_FLAGS + [os.path.join(source, "examples", "analyse_file.c"), "-o",
                             by_pkg_config] + flags), 0)
    shared = next(os.path.join(root, name) for root, _, files in os.walk(prefix)
                  for name in files if name.startswith("liborvalix.so."))
    exported = subprocess.run(["nm", "-D", "--defined-only", shared], stdout=subprocess.PIPE,
                              check=True).stdout.decode().split("\n")
    checks.equal("the shared library exports prefixed names only",
                 [line for line in exported if line and not line.split()[-1].startswith("orvalix_")], [])

    shutil.copyfile(os.path.join(source, "samples", "speech16k.wav"), f.path + "/in.wav")
    library_path = dict(os.environ, LD_LIBRARY_PATH=os.path.dirname(shared))
    library = ctypes.CDLL(shared)
    library.orvalix_default_settings.restype = Settings
    for options in ([], ["-C"], ["-L25", "-M20", "-W3", "-I2"]):
        run(binary, ["-Q0", "-O", "in", "cli"] + options, f.path)
        expected = f.read("cli.txt").decode()
        for tool in (os.path.join(example, "analyse_file"), by_pkg_config):
            proc = subprocess.run([tool, "in.wav", "lib.txt"] + options, cwd=f.path,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=library_path)
            checks.equal("%s %s: only its own line, the command line's file" % (tool, options),
                         (proc.returncode, proc.stderr, f.read("lib.txt").decode() == expected),
                         (0, b"", True))
        texts = [None, None]

        def analyse(slot):
            texts[slot] = text_through_ctypes(library, f.path + "/in.wav", options)
        threads = [threading.Thread(target=analyse, args=(slot,)) for slot in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        checks.equal("ctypes from two threads %s: the command line's text" % options,
                     [text == expected for text in texts], [True, True])
checks.finish()
