"""orvalix-slurm on a real single-machine Slurm (munged, slurmctld and slurmd started here): a
3-task array gives the local orvalix-batch run's entries; a rerun submits only the unfinished."""

import os
import random
import socket
import subprocess
import sys
import time

from e2e import Checks, Folder, arguments, run, wave_bytes
from test_batch import kaldi

DAEMONS = ["/usr/sbin/munged", "/usr/sbin/slurmctld", "/usr/sbin/slurmd"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_slurm(folder):
    """The daemons as children in the foreground, and the environment that points Slurm at them."""
    # The node by its name, the daemons at the loopback address: no name resolution needed.
    host = socket.gethostname().split(".")[0]
    for place in ("munge", "state", "spool"):
        os.makedirs(os.path.join(folder, place), mode=0o700)
    key, munge_socket, conf = (os.path.join(folder, name)
                               for name in ("munge/munge.key", "munge/socket", "slurm.conf"))
    with open(key, "wb") as fh:
        fh.write(os.urandom(1024))
    os.chmod(key, 0o400)
    with open(conf, "w") as fh:
        fh.write("\n".join([  # no systemd, no cgroups; ports and files of its own beside other runs
            "ClusterName=orvalixtest", "SlurmctldHost=%s(127.0.0.1)" % host, "AuthInfo=socket=" + munge_socket,
            "SlurmctldPort=%d" % free_port(), "SlurmdPort=%d" % free_port(),
            "StateSaveLocation=%s/state" % folder, "SlurmdSpoolDir=%s/spool" % folder,
            "SlurmctldPidFile=%s/slurmctld.pid" % folder, "SlurmdPidFile=%s/slurmd.pid" % folder,
            "ProctrackType=proctrack/linuxproc", "TaskPlugin=task/none", "ReturnToService=2",
            "SlurmdParameters=config_overrides", "NodeName=%s NodeAddr=127.0.0.1 CPUs=4 State=UNKNOWN" % host,
            "PartitionName=test Nodes=%s Default=YES MaxTime=INFINITE State=UP" % host, ""]))
    env = dict(os.environ, SLURM_CONF=conf)
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    munged_files = ["--%s-file=%s/munged.%s" % (n, folder, n) for n in ("log", "pid", "seed")]
    daemons = [subprocess.Popen([DAEMONS[0], "-F", "-f", "--key-file=" + key,
                                 "--socket=" + munge_socket] + munged_files, **quiet)]
    ready_by = time.time() + 120
    while not os.path.exists(munge_socket) and time.time() < ready_by:
        time.sleep(0.05)
    daemons += [subprocess.Popen([DAEMONS[1], "-D", "-i", "-f", conf], **quiet),
                subprocess.Popen([DAEMONS[2], "-D", "-f", conf, "-N", host], **quiet)]
    return daemons, env


args, checks = arguments(), Checks()
missing = [d for d in DAEMONS + ["/usr/bin/sbatch"] if not os.path.exists(d)]
if missing:
    print("SKIPPED: no Slurm here (Debian's slurm-wlm and munge): " + ", ".join(missing))
    sys.exit(77)
batch = os.path.join(os.path.dirname(os.path.abspath(args.bin)), "orvalix-batch")
slurm = [os.path.join(os.path.abspath(args.source), "scripts", "orvalix-slurm"), "--shards", "3",
         "--batch", batch]
with Folder() as f:
    rng, scp = random.Random(3), ""  # paths and commands, both absolute: the tasks run elsewhere
    for i in range(7):
        samples = [rng.randrange(-5000, 5000) for _ in range(rng.randrange(4000, 20000))]
        wave = f.file("in/u%d.wav" % i, wave_bytes(samples))
        scp += "u%d %s\n" % (i, wave if i % 2 else "cat %s |" % wave)
    f.file("wav.scp", scp.encode())
    local = run(batch, ["wav.scp", "local", "--format", "kaldi", "-C"], f.path)
    daemons, env = start_slurm(os.path.join(f.path, "slurm"))
    array = lambda *options: subprocess.run([*slurm, *options, "wav.scp", "array", "-C"],
                                            cwd=f.path, env=env, capture_output=True, timeout=900)
    try:
        up_by = time.time() + 120  # the node comes up
        while time.time() < up_by and subprocess.run(["sinfo", "-h", "-o", "%t"], env=env,
                                                     capture_output=True).stdout != b"idle\n":
            time.sleep(0.1)
        done = array("--sbatch", "--cpus-per-task=1")
        logs = [n for n in os.listdir(f.path + "/array") if n.startswith("slurm-")]
        checks.equal("statuses, three task logs, summary",
                     (local.status, done.returncode, len(logs), done.stdout.splitlines()[-1:]),
                     (0, 0, 3, [b"orvalix-slurm: 3 shards, 0 unfinished, 0 utterances failed"]))
        checks.true("combined feats.scp: the local run's entries, byte for byte",
                    kaldi(f, "array/feats.scp") == kaldi(f, "local/feats.scp") != [])
        os.remove(os.path.join(f.path, "array", "orvalix-batch.2.log"))
        report = array().stdout.decode()
        checks.true("a rerun submits only the unfinished shard", "tasks 2 of 3" in report, report)
    finally:
        for daemon in reversed(daemons):
            daemon.kill()
            daemon.wait()
checks.finish()
