"""orvalix-slurm on a real single-machine Slurm (munged, slurmctld and slurmd started here with a
minimal configuration in a temporary folder and stopped at the end): a 3-task array gives the
entries of one local orvalix-batch run, byte for byte, through the combined feats.scp.
Exits with 77 (skipped) when Debian's slurm-wlm and munge are not installed."""

import os
import random
import socket
import subprocess
import sys
import time

from e2e import Checks, Folder, arguments, run, wave_bytes

DAEMONS = ["/usr/sbin/munged", "/usr/sbin/slurmctld", "/usr/sbin/slurmd"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_slurm(folder):
    """Starts the three daemons in the foreground as children; gives their processes and the
    environment that points the Slurm commands at them."""
    host = socket.gethostname().split(".")[0]
    os.makedirs(os.path.join(folder, "munge"), mode=0o700)
    key = os.path.join(folder, "munge", "munge.key")
    with open(key, "wb") as fh:
        fh.write(os.urandom(1024))
    os.chmod(key, 0o400)
    munge_socket = os.path.join(folder, "munge", "socket")
    conf = os.path.join(folder, "slurm.conf")
    places = {name: os.path.join(folder, name) for name in ("state", "spool")}
    for place in places.values():
        os.makedirs(place)
    with open(conf, "w") as fh:
        fh.write("\n".join([
            "ClusterName=orvalixtest", "SlurmctldHost=" + host, "SlurmUser=root", "SlurmdUser=root",
            "SlurmctldPort=%d" % free_port(), "SlurmdPort=%d" % free_port(),
            "AuthType=auth/munge", "CredType=cred/munge", "AuthInfo=socket=" + munge_socket,
            "StateSaveLocation=" + places["state"], "SlurmdSpoolDir=" + places["spool"],
            "SlurmctldPidFile=%s/slurmctld.pid" % folder, "SlurmdPidFile=%s/slurmd.pid" % folder,
            "SlurmctldLogFile=%s/slurmctld.log" % folder, "SlurmdLogFile=%s/slurmd.log" % folder,
            "ProctrackType=proctrack/linuxproc", "TaskPlugin=task/none", "MpiDefault=none",
            "JobAcctGatherType=jobacct_gather/none", "AccountingStorageType=accounting_storage/none",
            "SelectType=select/cons_tres", "SelectTypeParameters=CR_Core", "ReturnToService=2",
            "SlurmdParameters=config_overrides", "NodeName=%s CPUs=4 State=UNKNOWN" % host,
            "PartitionName=test Nodes=%s Default=YES MaxTime=INFINITE State=UP" % host, ""]))
    env = dict(os.environ, SLURM_CONF=conf)
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    daemons = [subprocess.Popen([DAEMONS[0], "-F", "-f", "--key-file=" + key, "--socket=" + munge_socket,
                                 "--log-file=%s/munged.log" % folder, "--pid-file=%s/munged.pid" % folder,
                                 "--seed-file=%s/munged.seed" % folder], **quiet)]
    for _ in range(100):
        if os.path.exists(munge_socket):
            break
        time.sleep(0.05)
    daemons.append(subprocess.Popen([DAEMONS[1], "-D", "-i", "-f", conf], **quiet))
    daemons.append(subprocess.Popen([DAEMONS[2], "-D", "-f", conf, "-N", host], **quiet))
    return daemons, env


def node_ready(env):
    for _ in range(150):
        state = subprocess.run(["sinfo", "-h", "-o", "%t"], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL).stdout.decode().strip()
        if state == "idle":
            return True
        time.sleep(0.1)
    return False


def entries(folder, scp):
    """Every entry's bytes (key to the end of its floats) through a script."""
    found = []
    with open(os.path.join(folder, scp)) as fh:
        for line in fh:
            key, place = line.split()
            path, offset = place.rsplit(":", 1)
            with open(path, "rb") as ark:
                ark.seek(int(offset) + 6)
                rows, _, columns = int.from_bytes(ark.read(4), "little"), ark.read(1), int.from_bytes(ark.read(4), "little")
                ark.seek(int(offset) - len(key) - 1)
                found.append(ark.read(len(key) + 1 + 15 + rows * columns * 4))
    return found


def main():
    args = arguments()
    missing = [d for d in DAEMONS + ["/usr/bin/sbatch"] if not os.path.exists(d)]
    if missing:
        print("SKIPPED test_slurm: Slurm is not installed here (Debian packages slurm-wlm and munge): "
              + ", ".join(missing))
        sys.exit(77)
    build = os.path.dirname(os.path.abspath(args.bin))
    batch, slurm = os.path.join(build, "orvalix-batch"), os.path.join(os.path.abspath(args.source), "tools", "orvalix-slurm")
    checks = Checks()
    with Folder() as f:
        rng = random.Random(3)
        lines = []
        for i in range(7):
            f.file("in/u%d.wav" % i, wave_bytes([rng.randrange(-5000, 5000) for _ in range(rng.randrange(4000, 20000))]))
            lines.append("u%d %s\n" % (i, os.path.join(f.path, "in/u%d.wav" % i) if i % 2 else "cat in/u%d.wav |" % i))
        f.file("wav.scp", "".join(lines).replace("cat in/", "cat %s/in/" % f.path).encode())
        local = run(batch, ["wav.scp", "local", "--format", "kaldi", "-C"], f.path)
        daemons, env = start_slurm(os.path.join(f.path, "slurm"))
        try:
            checks.true("the test's Slurm node comes up", node_ready(env))
            proc = subprocess.run([slurm, "--shards", "3", "--sbatch", "--cpus-per-task=1", "--batch", batch,
                                   "wav.scp", "array", "-C"], cwd=f.path, env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=120)
            report = proc.stdout.decode()
            checks.equal("orvalix-slurm: status", (local.status, proc.returncode), (0, 0))
            checks.true("orvalix-slurm: summary", "3 shards, 0 unfinished, 0 utterances failed" in report, report)
            checks.true("three task logs", len([n for n in os.listdir(os.path.join(f.path, "array"))
                                                if n.startswith("slurm-")]) == 3)
            checks.true("combined feats.scp: the local run's entries, byte for byte",
                        entries(f.path, "array/feats.scp") == entries(f.path, "local/feats.scp") != [])
            os.remove(os.path.join(f.path, "array", "orvalix-batch.2.log"))
            proc = subprocess.run([slurm, "--shards", "3", "--batch", batch, "wav.scp", "array", "-C"], cwd=f.path,
                                  env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
            checks.true("a rerun submits only the unfinished shard", "tasks 2 of 3" in proc.stdout.decode(),
                        proc.stdout.decode())
        finally:
            for daemon in reversed(daemons):
                daemon.terminate()
            for daemon in reversed(daemons):
                try:
                    daemon.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    daemon.kill()
                    daemon.wait()
    checks.finish()


if __name__ == "__main__":
    main()
