#!/usr/bin/python3
"""Live calibrations signalled at random moments: each run of
`sensortrim -Calibrate AGM -ExportAllFiles out` under the virtual operator gets,
at a moment drawn over the length of a run from the moment the tool handles
signals, one of: SIGINT, SIGINT twice (50 ms apart), SIGTERM, SIGHUP, or
SIGINT to its process group (Ctrl-C at a terminal). Counted: exit statuses,
hangs (no end within 10 s of the signal), runs whose dumps are whole (every
dump of a run that had begun sampling ends with a whole row, every row with
the header's columns), and runs that left a record of how they ended
(runEnd.xml, or the run log of a run that passed; a run signalled before its
banner has not begun, and prints only the signal's two lines). Fails on a
hang, a cut dump, a run without its record, or an exit status other than 0,
2, 129 and 143.

  interrupts.py BUILD_DIR RUNS [SEED] [SPEED]
"""
import collections
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
KINDS = ("SIGINT", "SIGINT twice", "SIGTERM", "SIGHUP", "SIGINT to the group")


def scenario(speed):
    text = open(os.path.join(ROOT, "examples", "hub-default.xml")).read()
    return text.replace('speed="8"', f'speed="{speed}"')


def start_hub(build, folder, speed):
    with open(os.path.join(folder, "hub.xml"), "w") as f:
        f.write(scenario(speed))
    shutil.copy(os.path.join(ROOT, "examples", "pdt-default.bin"), folder)
    sock = os.path.join(folder, "hub.sock")
    hub = subprocess.Popen([os.path.join(build, "hubsim", "hubsim"), "--scenario", os.path.join(folder, "hub.xml"),
                            "--socket", sock], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(sock):
            break
        time.sleep(0.01)
    return hub, sock


def operator(build, folder, sock):
    env = dict(os.environ, HUBSIM_SOCKET=sock, ASAN_OPTIONS="verify_asan_link_order=0")
    return subprocess.Popen([os.path.join(build, "hubsim", "hubop"), "--socket", sock, "--preload",
                             os.path.join(build, "hubsim", "libhubsim-shim.so"), "--",
                             os.path.join(build, "sensortrim", "sensortrim"), "-Calibrate", "AGM",
                             "-ExportAllFiles", "out"], cwd=folder, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, start_new_session=True)


def handles_signals(pid):
    """Whether the process has its handlers of SIGINT, SIGTERM and SIGHUP in
    place: before that (the moments between hubop's fork and the tool's
    first lines, the loader's and a sanitizer's start-up among them) a signal
    ends any program by its default action, and tells nothing of the tool."""
    try:
        with open(f"/proc/{pid}/status") as f:
            caught = next(int(line.split()[1], 16) for line in f if line.startswith("SigCgt:"))
    except (OSError, StopIteration, ValueError):
        return False
    wanted = (1 << (signal.SIGINT - 1)) | (1 << (signal.SIGTERM - 1)) | (1 << (signal.SIGHUP - 1))
    return caught & wanted == wanted


def tool_of(process):
    """The tool hubop runs (its child), once it handles the signals."""
    for _ in range(1000):
        try:
            with open(f"/proc/{process.pid}/task/{process.pid}/children") as f:
                children = f.read().split()
            if children and handles_signals(int(children[0])):
                return int(children[0])
        except OSError:
            return None
        if process.poll() is not None:
            return None
        time.sleep(0.002)
    return None


def whole_dumps(out):
    names = [n for n in os.listdir(out) if n.startswith("dataDump") and n.endswith(".csv")] if os.path.isdir(out) else []
    for name in names:
        text = open(os.path.join(out, name)).read()
        if not text.endswith("\n"):
            return False
        rows = [r for r in text.splitlines() if r and not r.startswith(("LUID=", "HINGE="))]
        if not rows or len({r.count(",") for r in rows}) != 1:
            return False
    return bool(names)


def main():
    # The runs start in folders of their own: the build is named from anywhere.
    build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    speed = float(sys.argv[4]) if len(sys.argv) > 4 else 20
    rng = random.Random(seed)
    base = tempfile.mkdtemp(prefix="interrupts.")
    # The length of an uninterrupted run.
    hub, sock = start_hub(build, base, speed)
    began = time.monotonic()
    operator(build, base, sock).communicate(timeout=300)
    length = time.monotonic() - began
    hub.terminate()
    hub.wait()
    statuses = collections.Counter()
    by_kind = collections.defaultdict(collections.Counter)
    hangs = sampled = whole = recorded = 0
    for n in range(runs):
        folder = os.path.join(base, f"run{n}")
        os.mkdir(folder)
        hub, sock = start_hub(build, folder, speed)
        kind = KINDS[n % len(KINDS)]
        process = operator(build, folder, sock)
        tool = tool_of(process)
        time.sleep(rng.uniform(0, length))
        try:
            if tool and process.poll() is None:
                if kind == "SIGINT":
                    os.kill(tool, signal.SIGINT)
                elif kind == "SIGINT twice":
                    os.kill(tool, signal.SIGINT)
                    time.sleep(0.05)
                    os.kill(tool, signal.SIGINT)
                elif kind == "SIGTERM":
                    os.kill(tool, signal.SIGTERM)
                elif kind == "SIGHUP":
                    os.kill(tool, signal.SIGHUP)
                else:
                    os.killpg(os.getpgid(tool), signal.SIGINT)
        except ProcessLookupError:
            pass
        try:
            out, _ = process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            hangs += 1
            os.killpg(process.pid, signal.SIGKILL)
            out, _ = process.communicate()
        status = process.returncode
        statuses[status] += 1
        by_kind[kind][status] += 1
        export = os.path.join(folder, "out")
        if b"Saving data dump" in out or b"STEP 1 PASSED" in out:
            sampled += 1
            whole += whole_dumps(export)
        names = os.listdir(export) if os.path.isdir(export) else []
        # A run ended before its banner had not begun: it only prints the
        # signal's two lines.
        recorded += "runEnd.xml" in names or (status == 0 and "AGMLogFile.xml" in names) or \
            (status != 0 and b"Version:" not in out)
        hub.terminate()
        hub.wait()
        shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(base, ignore_errors=True)
    print(f"runs: {runs} (an uninterrupted run takes {length:.1f} s at speed {speed:g}; seed {seed})")
    print("exit statuses: " + ", ".join(f"{s}: {c}" for s, c in sorted(statuses.items())))
    for kind in KINDS:
        print(f"  {kind}: " + ", ".join(f"{s}: {c}" for s, c in sorted(by_kind[kind].items())))
    print(f"hangs: {hangs}")
    print(f"runs that had begun sampling: {sampled}, with every dump whole: {whole}")
    print(f"runs that left a record of how they ended: {recorded} of {runs}")
    # Ended by the signal, or done before it came; any other status is a fault
    # (a sanitizer's report among them).
    unexpected = sum(c for s, c in statuses.items() if s not in (0, 2, 129, 143))
    print(f"other exit statuses: {unexpected}")
    return 0 if hangs == 0 and whole == sampled and recorded == runs and unexpected == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
