"""calreport run as users run it, on export folders the real sensortrim wrote."""
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("TESSARY_BUILD", os.path.join(ROOT, "build"))
SENSORTRIM = os.path.join(BUILD, "sensortrim", "sensortrim")
DEVICESIM = os.path.join(BUILD, "hubsim", "devicesim")
CALREPORT = os.environ.get("CALREPORT", os.path.join(ROOT, "calreport", "calreport.py"))
DUMPS = os.path.join(ROOT, "examples", "dumps")


def run(*args, cwd=None):
    return subprocess.run(list(args), cwd=cwd, capture_output=True, text=True, timeout=300)


def calreport(folder, *extra):
    result = run(sys.executable, CALREPORT, str(folder), *extra)
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


def figures(page):
    return re.findall(r'<figure id="([^"]+)"><img alt="[^"]*" src="data:image/png;base64,', page)


def log_matrix(log_text, sensor_type, tag):
    section = re.search(r'<Sensor [^>]*Type="%s"[^>]*IsPrimary="true".*?</Sensor>' % sensor_type, log_text, re.S)
    values = re.search(r"<%s [^>]*>\s*<Values>([^<]*)</Values>" % tag, section.group(0)).group(1)
    return np.array([[float(v) for v in row.split(",")] for row in values.strip(";").split(";")])


@pytest.fixture(scope="module")
def agm(tmp_path_factory):
    out = tmp_path_factory.mktemp("agm") / "out"
    result = offline(out, "AGM", os.path.join(DUMPS, "agm-full"))
    assert result.returncode == 0, result.stdout + result.stderr
    return out


def test_successful_agm_run(agm):
    result = calreport(agm)
    assert result.returncode == 0
    assert result.stdout.startswith("PASSED: report written to ")
    page = (agm / "calibration-report.html").read_text()
    assert 'id="verdict">PASSED<' in page
    assert figures(page) == ["plot-acc-norm-Accelerometer", "plot-gyro-turn", "plot-mag-projections",
                             "plot-trace-Accelerometer", "plot-trace-Gyroscope", "plot-trace-Magnetometer"]
    # Every sensor's record before and after.
    for sensor in ("Accelerometer", "Gyroscope", "Magnetometer"):
        assert f'id="sensor-{sensor}"' in page
    assert "before (the device&#x27;s)" in page and "after (calculated)" in page


def test_fitness_matches_an_independent_computation(agm):
    result = calreport(agm)
    stated = float(re.search(r'id="mag-fitness">([0-9.]+) mG', (agm / "calibration-report.html").read_text()).group(1))
    # The corrected field of every sample, from the dump and the log's record.
    log = (agm / "AGMLogFile.xml").read_text()
    scale, offset = log_matrix(log, "Magnetometer", "Scale"), log_matrix(log, "Magnetometer", "Offset")
    raw = np.loadtxt(agm / "dataDumpMagnetometer.csv", delimiter=",", skiprows=2)[:, 1:4]
    norms = np.array([np.linalg.norm(scale @ (r - offset[0])) for r in raw])
    rms = np.sqrt(np.mean((norms - norms.mean()) ** 2))
    assert stated == pytest.approx(rms, abs=0.006)
    # The shipped dump's field is 500 mG; a good calibration leaves a few mG.
    assert norms.mean() == pytest.approx(500, rel=0.02)
    assert rms < 5
    assert f"{rms:.2f} mG RMS" in result.stdout


def test_failed_run_names_every_reason(tmp_path):
    dumps = tmp_path / "dumps"
    made = run(DEVICESIM, "--out", str(dumps), "--flow", "full", "--sensors", "A,G,M", "--wrong-step", "2",
               "--seed", "3")
    assert made.returncode == 0, made.stderr
    out = tmp_path / "out"
    assert offline(out, "AGM", dumps).returncode != 0
    result = calreport(out)
    assert result.returncode == 0
    assert result.stdout.startswith("FAILED: ")
    page = (out / "calibration-report.html").read_text()
    assert 'id="verdict">FAILED<' in page
    reasons = re.search(r'<ul id="reasons">(.*?)</ul>', page).group(1)
    for failure in ("Accelerometer: failed on Scale", "Gyroscope: failed on Scale",
                    "Magnetometer: failed on norm variance"):
        assert failure in reasons
    assert "plot-trace-Accelerometer" in figures(page)


def test_light_run(tmp_path):
    out = tmp_path / "out"
    result = offline(out, "ALS", os.path.join(DUMPS, "als"), "-Auto", os.path.join(ROOT, "examples", "als-levels.txt"))
    assert result.returncode == 0, result.stdout
    report = calreport(out)
    page = (out / "calibration-report.html").read_text()
    assert report.stdout.startswith("PASSED")
    assert figures(page) == ["plot-light", "plot-trace-AmbientLightSensor"]
    # The three levels and their multipliers, about 2 for a sensor reading half the light.
    levels = re.findall(r"<tr><td>(\d+)</td><td>([0-9.]+)</td><td>([0-9.]+)</td></tr>", page)
    assert [l[0] for l in levels] == ["100", "500", "1000"]
    assert all(float(m) == pytest.approx(2.0, abs=0.01) for _, _, m in levels)


def test_partial_folders_say_what_is_missing(tmp_path, agm):
    only_dumps = tmp_path / "dumps"
    shutil.copytree(os.path.join(DUMPS, "ag-test-foursteps"), only_dumps)
    result = calreport(only_dumps)
    assert result.returncode == 0
    assert result.stdout.startswith("UNKNOWN")
    assert "missing: the run log" in result.stdout
    assert figures((only_dumps / "calibration-report.html").read_text()) == [
        "plot-trace-Accelerometer", "plot-trace-Gyroscope"]

    no_dumps = tmp_path / "nodumps"
    no_dumps.mkdir()
    shutil.copy(agm / "AGMLogFile.xml", no_dumps)
    result = calreport(no_dumps)
    page = (no_dumps / "calibration-report.html").read_text()
    assert "missing: the data dumps" in result.stdout
    assert "No magnetometer dump here" in page
    assert figures(page) == ["plot-acc-norm-Accelerometer", "plot-gyro-turn"]


LOG_HEAD = '<?xml version="1.0" encoding="utf-8" ?>\n<Log Date="d" Version="v" Type="4StepsTest">\n'


@pytest.mark.parametrize("files, verdict, says", [
    # A test log with a name that ends in a colon, as the test logs have, and a failed check.
    ({"LogFile.xml": LOG_HEAD + '<Sensor Type="Accelerometer" Success="true" IsPrimary="true"><allowed:>'
      "<Values>3</Values></allowed:><!--motionless Accelerometer step 0: PASSED-->"
      "<!--Accelerometer step 1 Mean value test: FAILED--></Sensor></Log>"},
     "FAILED", "Accelerometer: Accelerometer step 1 Mean value test: FAILED"),
    ({"error.log": "Magnetometer: the environment could not be tested\n"}, "FAILED",
     "Magnetometer: the environment could not be tested"),
    ({"AGMLogFile.xml": "<Log><Sensor"}, "UNKNOWN", "unusable: AGMLogFile.xml: not well-formed XML"),
    ({"AGMLogFile.xml": "<TSY/>"}, "UNKNOWN", "unusable: AGMLogFile.xml: not a run log"),
    ({"AGMLogFile.xml": '<?xml version="1.0"?><!DOCTYPE l [<!ENTITY a "aaaaaaaa">]><Log>&a;&a;</Log>'},
     "UNKNOWN", "unusable: AGMLogFile.xml: declares entities"),
    ({"resultCalibration.xml": "<Log/>"}, "UNKNOWN", "unusable: resultCalibration.xml: not a calibration file"),
    ({"dataDumpAccelerometer.csv": "time[ms],Accelerometer_X[g0],Accelerometer_Y[g0],Accelerometer_Z[g0]\n1,2,x,4\n"},
     "UNKNOWN", "unusable: dataDumpAccelerometer.csv: line 2 is not numbers"),
    ({"dataDumpGyroscope.csv": "LUID=00\n"}, "UNKNOWN", "unusable: dataDumpGyroscope.csv: holds no samples"),
])
def test_bad_and_partial_files(tmp_path, files, verdict, says):
    for name, text in files.items():
        (tmp_path / name).write_text(text)
    result = calreport(tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith(verdict + ": report written to ")
    assert says in result.stdout
    assert os.path.exists(tmp_path / "calibration-report.html")


def test_figures_that_do_not_fit_together(tmp_path, agm):
    # A magnetometer record of the wrong shape, and a dump of two columns.
    log = (agm / "AGMLogFile.xml").read_text()
    log = re.sub(r'(Type="Magnetometer".*?<Scale Rows="3" Cols="3">\s*<Values>)[^<]*', r"\g<1>1,2;3,4;", log,
                 flags=re.S)
    (tmp_path / "AGMLogFile.xml").write_text(log)
    shutil.copy(agm / "dataDumpMagnetometer.csv", tmp_path)
    result = calreport(tmp_path)
    assert result.returncode == 0
    assert "unusable: Magnetometer: its figures cannot be shown" in result.stdout
    (tmp_path / "AGMLogFile.xml").write_text((agm / "AGMLogFile.xml").read_text())
    (tmp_path / "dataDumpMagnetometer.csv").write_text("time[ms],Magnetometer_X[mG],Magnetometer_Y[mG]\n0,1,2\n")
    result = calreport(tmp_path)
    assert "Magnetometer: its figures cannot be shown (its dump has 2 value columns, not 3)" in result.stdout


def test_nothing_to_report(tmp_path):
    for folder, message in ((tmp_path, "none of a run's files are here"), (tmp_path / "absent", "no such folder")):
        result = calreport(folder)
        assert result.returncode == 1
        assert f"calreport: error: {folder}: {message}" in result.stderr
    # A report that cannot be written leaves nothing behind and says why.
    (tmp_path / "error.log").write_text("x\n")
    result = calreport(tmp_path, "-o", str(tmp_path / "no" / "such" / "report.html"))
    assert result.returncode == 1
    assert "cannot write" in result.stderr


def test_the_run_files_are_left_as_they_were(agm):
    before = {name: (agm / name).read_bytes() for name in os.listdir(agm) if name != "calibration-report.html"}
    calreport(agm)
    after = {name: (agm / name).read_bytes() for name in os.listdir(agm) if name != "calibration-report.html"}
    assert before == after
