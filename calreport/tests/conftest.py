"""Run folders made by the real tools, for calreport's tests: offline runs
from the shipped and simulated dumps, and live runs against the emulated hub
under the virtual operator."""
import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("TESSARY_BUILD", os.path.join(ROOT, "build"))
SENSORTRIM = os.path.join(BUILD, "sensortrim", "sensortrim")
DEVICESIM = os.path.join(BUILD, "hubsim", "devicesim")
CALREPORT = os.environ.get("CALREPORT", os.path.join(ROOT, "calreport", "calreport.py"))
DUMPS = os.path.join(ROOT, "examples", "dumps")
SCHEMA = os.path.join(ROOT, "calreport", "run-record.schema.json")


def run(*args, cwd=None, env=None):
    return subprocess.run(list(args), cwd=cwd, capture_output=True, text=True, timeout=300, env=env)


def calreport(*args):
    result = run(sys.executable, CALREPORT, *[str(a) for a in args])
    assert "Traceback" not in result.stderr, result.stderr
    return result


def offline(out, sensors, dumps, *extra, copy_dumps=True):
    """An offline calibration's export folder; with copy_dumps it also holds
    the dumps, as a live run's folder does."""
    result = run(SENSORTRIM, "-CalibrateOffline", sensors, "-UseRawData", str(dumps) + "/", "-ExportAllFiles",
                 str(out), *extra, cwd=str(out.parent))
    if copy_dumps:
        for name in os.listdir(dumps):
            if name.endswith(".csv"):
                shutil.copy(os.path.join(dumps, name), out / name)
    return result


def offline_test(out, sensors, flow, dumps):
    return run(SENSORTRIM, "-TestCalibration", sensors, flow, "-UseRawData", str(dumps) + "/", "-ExportAllFiles",
               str(out), cwd=str(out.parent))


def simulate(folder, *args):
    made = run(DEVICESIM, "--out", str(folder), *args)
    assert made.returncode == 0, made.stderr
    return folder


class Hub:
    """The emulated hub of the default scenario, for several live runs."""

    def __init__(self, workdir):
        self.workdir = workdir
        env = dict(os.environ, BUILD_DIR=BUILD)
        started = run(os.path.join(ROOT, "scripts", "hubsim-start"), os.path.join(ROOT, "examples",
                                                                                   "hub-default.xml"), env=env)
        assert started.returncode == 0, started.stderr
        values = dict(line.split("=", 1) for line in started.stdout.split())
        self.socket, self.pid = values["HUBSIM_SOCKET"], int(values["HUBSIM_PID"])

    def env(self):
        # The shim is preloaded before a sanitized tool's own runtime.
        return dict(os.environ, HUBSIM_SOCKET=self.socket, ASAN_OPTIONS="verify_asan_link_order=0")

    def command(self, args, mistake=None):
        """hubop running sensortrim args..., its operator making the given
        mistake (hubop's --mistake) if one is given."""
        chosen = ["--mistake", mistake] if mistake else []
        return [os.path.join(BUILD, "hubsim", "hubop"), "--socket", self.socket, "--preload",
                os.path.join(BUILD, "hubsim", "libhubsim-shim.so"), *chosen, "--", SENSORTRIM, *args]

    def operator(self, *args, mistake=None):
        """sensortrim args... under the virtual operator."""
        return run(*self.command(args, mistake), cwd=str(self.workdir), env=self.env())

    def operator_signalled(self, seconds, signum, *args):
        """sensortrim args... under the virtual operator, which is sent signum
        after seconds (and passes it on to the tool)."""
        import signal as signals
        import time

        process = subprocess.Popen(self.command(args), cwd=str(self.workdir), stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, env=self.env())
        time.sleep(seconds)
        process.send_signal(signum or signals.SIGTERM)
        out, err = process.communicate(timeout=60)
        return subprocess.CompletedProcess(process.args, process.returncode, out, err)

    def stop(self):
        os.kill(self.pid, 15)
        shutil.rmtree(os.path.dirname(self.socket), ignore_errors=True)


@pytest.fixture(scope="session")
def runs(tmp_path_factory):
    """Export folders of real runs, by name:
    agm (offline AGM calibration, passed, the dumps copied in),
    agm-failed (offline calibration of a device held wrongly in a step),
    test-passed, test-failed (offline four-steps tests), foursteps (an offline
    four-steps calibration),
    live-test-failed (the uncalibrated hub's live test), live-calibration (its
    live AGM calibration), live-test-passed (its live test afterwards),
    light (offline light calibration), collection-failed (an offline
    calibration whose turns stop short: it fails in data collection),
    live-collection-failed (a live one whose operator turns short),
    live-interrupted (a live calibration ended by SIGTERM)."""
    base = tmp_path_factory.mktemp("runs")
    folders = {}

    def made(name, result, code):
        assert result.returncode == code, f"{name}: {result.stdout}{result.stderr}"
        assert "Version: 3.1.0.3426" in result.stdout and "Cannot establish" not in result.stdout, result.stdout
        folders[name] = base / name

    made("agm", offline(base / "agm", "AGM", os.path.join(DUMPS, "agm-full")), 0)
    wrong = simulate(base / "wrong-dumps", "--flow", "full", "--sensors", "A,G,M", "--wrong-step", "2", "--seed", "3")
    made("agm-failed", offline(base / "agm-failed", "AGM", wrong), 255)
    made("test-passed", offline_test(base / "test-passed", "AG", "-FourSteps", os.path.join(DUMPS,
                                                                                          "ag-test-foursteps")), 0)
    off = simulate(base / "off-dumps", "--flow", "foursteps", "--sensors", "A,G", "--mode", "test", "--acc-offset",
                   "0.15,0,0", "--seed", "4")
    made("test-failed", offline_test(base / "test-failed", "AG", "-FourSteps", off), 255)
    four = simulate(base / "four-dumps", "--flow", "foursteps", "--sensors", "A,G", "--seed", "5")
    made("foursteps", offline(base / "foursteps", "AG", four, "-FourSteps"), 0)
    made("light", offline(base / "light", "ALS", os.path.join(DUMPS, "als"), "-Auto",
                          os.path.join(ROOT, "examples", "als-levels.txt")), 0)
    short = simulate(base / "short-dumps", "--flow", "full", "--sensors", "A,G,M", "--turn-degrees", "340")
    made("collection-failed", offline(base / "collection-failed", "AGM", short, copy_dumps=False), 255)
    hub = Hub(base)
    try:
        made("live-test-failed", hub.operator("-TestCalibration", "AG", "-FourSteps", "-ExportAllFiles",
                                              "live-test-failed"), 255)
        made("live-calibration", hub.operator("-Calibrate", "AGM", "-UpdateTSY", "-ExportAllFiles",
                                              "live-calibration"), 0)
        made("live-test-passed", hub.operator("-TestCalibration", "AG", "-FourSteps", "-ExportAllFiles",
                                              "live-test-passed"), 0)
        made("live-collection-failed", hub.operator("-Calibrate", "AGM", "-ExportAllFiles", "live-collection-failed",
                                                    mistake="short-turn@2"), 255)
        made("live-interrupted", hub.operator_signalled(1, None, "-Calibrate", "AGM", "-ExportAllFiles",
                                                        "live-interrupted"), 143)
    finally:
        hub.stop()
    return folders
