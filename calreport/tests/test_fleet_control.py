"""The line's process control over a store of real runs: three stations whose
devices have drawn errors, one of them (C) with a fixture that grows
magnetised after its first runs. Capability per check, the test limits the
runs support (loaded by sensortrim), the drift alarms and a device's
history."""
import random
import re
import shutil
import sqlite3
from concurrent.futures import ThreadPoolExecutor

import numpy
import pytest

from conftest import DEVICESIM, SENSORTRIM, calreport, run

STATIONS = "ABC"
RUNS_PER_STATION = 20
# Station C's fixture adds this much to the magnetometer's X centre per run
# from its 13th run on.
DRIFT_FROM, DRIFT_PER_RUN = 12, 30.0
TESTS = 12


def triple(rng, size):
    return ",".join(f"{rng.uniform(-size, size):.4f}" for _ in range(3))


def calibration(base, station, n, rng):
    """The dumps and calibration of one device at a station: its folder."""
    mag = [rng.uniform(-40, 40) for _ in range(3)]
    if station == "C" and n >= DRIFT_FROM:
        mag[0] += DRIFT_PER_RUN * (n - DRIFT_FROM + 1)
    name = f"{station}{n:02d}"
    args = ["--flow", "full", "--sensors", "A,G,M", "--seed", str(rng.randrange(1 << 30)),
            "--acc-offset", triple(rng, 0.02), "--gyro-offset", triple(rng, 0.5),
            "--mag-offset", ",".join(f"{m:.3f}" for m in mag),
            "--acc-scale", ",".join(f"{1 + rng.uniform(-0.02, 0.02):.4f}" for _ in range(3))]
    made = run(DEVICESIM, "--out", str(base / f"dumps-{name}"), *args)
    assert made.returncode == 0, made.stderr
    done = run(SENSORTRIM, "-CalibrateOffline", "AGM", "-UseRawData", str(base / f"dumps-{name}") + "/",
               "-ExportAllFiles", str(base / name), cwd=str(base))
    assert done.returncode == 0, done.stdout
    return base / name


def four_steps_dumps(base, n, rng, offset=None):
    name = f"T{n:02d}"
    made = run(DEVICESIM, "--out", str(base / f"dumps-{name}"), "--flow", "foursteps", "--sensors", "A,G",
               "--mode", "test", "--seed", str(rng.randrange(1 << 30)),
               "--acc-offset", offset or triple(rng, 0.03))
    assert made.returncode == 0, made.stderr
    return base / f"dumps-{name}"


def offline_test(dumps, out, cwd):
    return run(SENSORTRIM, "-TestCalibration", "AG", "-FourSteps", "-UseRawData", str(dumps) + "/",
               "-ExportAllFiles", str(out), cwd=str(cwd))


@pytest.fixture(scope="module")
def line(tmp_path_factory):
    """The store: per station its calibrations in time order, four-steps tests
    at station A, and device A03 calibrated again at B (a returned unit)."""
    base = tmp_path_factory.mktemp("line")
    db = base / "line.db"
    rng = random.Random(37)
    plan = [(s, n, random.Random(rng.randrange(1 << 30))) for s in STATIONS for n in range(RUNS_PER_STATION)]
    with ThreadPoolExecutor(4) as pool:
        folders = list(pool.map(lambda p: calibration(base, *p), plan))
    # Stored station by station in run order, the stations interleaved, as a
    # line's runs arrive.
    for n in range(RUNS_PER_STATION):
        for s, station in enumerate(STATIONS):
            stored = calreport(folders[s * RUNS_PER_STATION + n], "--store", db, "--station", station,
                               "--device-id", f"dev-{station}{n:02d}")
            assert stored.returncode == 0, stored.stderr
    for n in range(TESTS):
        out = base / f"test-{n:02d}"
        assert offline_test(four_steps_dumps(base, n, rng), out, base).returncode == 0
        assert calreport(out, "--store", db, "--station", "A", "--device-id", f"dev-T{n:02d}").returncode == 0
    again = calibration(base, "B", 99, random.Random(5))
    assert calreport(again, "--store", db, "--station", "B", "--device-id", "dev-A03").returncode == 0
    return base, db


def cells(page, table_id):
    body = re.search(rf'<table id="{table_id}">(.*?)</table>', page, re.S)
    assert body, f"no table {table_id}"
    return [re.findall(r"<td>(.*?)</td>", row) for row in re.findall(r"<tr[^>]*>(.*?)</tr>", body.group(1), re.S)
            if "<td>" in row]


def test_the_drifting_station_alone_raises_an_alarm(line, tmp_path):
    base, db = line
    result = calreport("--fleet", db, "-o", tmp_path / "fleet.html")
    assert result.returncode == 0, result.stderr
    alarms = [line for line in result.stdout.splitlines() if line.startswith("    station ")
              and " since " in line]
    assert len(alarms) == 1, result.stdout
    assert alarms[0].startswith("    station C: Magnetometer centre X [mG] "), alarms[0]
    # Since the drift began: the first of C's drifting runs or a later one.
    times = sqlite3.connect(db).execute("SELECT time FROM runs WHERE device_id = ?",
                                        (f"dev-C{DRIFT_FROM:02d}",)).fetchone()
    since = re.search(r" since (\S+)", alarms[0]).group(1)
    assert since >= times[0], (since, times)
    page = (tmp_path / "fleet.html").read_text()
    listed = re.search(r'<ul id="alarms">(.*?)</ul>', page, re.S).group(1)
    assert listed.count("<li>") == 1 and "station C: Magnetometer centre X [mG]" in listed
    assert 'id="plot-drift-1"' in page and 'id="plot-drift-2"' not in page
    # The page lists the alarms before any other section.
    assert page.index('id="alarms"') < page.index("<h2>", page.index("<h2>Drift alarms") + 1)


def test_capability_is_that_of_a_plain_computation(line, tmp_path):
    base, db = line
    result = calreport("--fleet", db, "-o", tmp_path / "fleet.html")
    assert result.returncode == 0, result.stderr
    rows = {(r[0], r[1]): r for r in cells((tmp_path / "fleet.html").read_text(), "capability")}
    connection = sqlite3.connect(db)
    first = {}
    for run_id, device, station in connection.execute("SELECT run_id, device, station FROM runs "
                                                      "ORDER BY time, stored_at"):
        first.setdefault(device, (run_id, station))
    for station, name in (("all", "Magnetometer field strength"), ("B", "Accelerometer white noise"),
                          ("all", "motionless Accelerometer step 1 Mean value test"), ("C", "Magnetometer offset")):
        runs = {r for r, s in first.values() if station in ("all", s)}
        values = numpy.array([v for r, v in connection.execute("SELECT run_id, value FROM checks WHERE name = ?",
                                                               (name,)) if r in runs])
        high, low = connection.execute("SELECT limit_high, limit_low FROM checks WHERE name = ? LIMIT 1",
                                       (name,)).fetchone()
        mean, sd = values.mean(), values.std(ddof=1)
        sides = [high - mean] + ([mean - low] if low is not None else [])
        row = rows[(station, name)]
        assert int(row[2]) == len(values), (name, row)
        assert float(row[3]) == pytest.approx(mean, rel=1e-3), (name, row)
        assert float(row[4]) == pytest.approx(sd, rel=1e-3), (name, row)
        assert float(row[7]) == pytest.approx(min(sides) / (3 * sd), rel=1e-3), (name, row)
    # The offset of a calibration is far inside its limit, the field strength
    # (200 to 650 mG on a 500 mG station) too: both capable, not marked.
    assert not [c for c in cells((tmp_path / "fleet.html").read_text(), "capability")
                if c[1] == "Magnetometer offset" and float(c[7]) < 1.33]
    assert "checks below Cpk 1.33: " in result.stdout


def test_proposed_limits_are_what_sensortrim_applies(line, tmp_path):
    base, db = line
    (tmp_path / "limits").mkdir()
    proposed = tmp_path / "limits" / "TestingConfig.xml"
    result = calreport("--fleet", db, "-o", tmp_path / "fleet.html", "--propose-limits", proposed)
    assert result.returncode == 0, result.stderr
    text = proposed.read_text()
    limits = dict(re.findall(r"<(\w+)>([^<]+)</\1>", text))
    # Only keys the tests measured; the calibrations' checks have none.
    assert set(limits) == {"acc_Threshold_G0", "acc_MaxNoise_G0", "gyr_threshold_motionless_DPS",
                           "gyr_MaxNoise_DPS", "gyr_threshold_motion_DPS", "rotation_agreement_degrees_acc"}, text
    # The accelerometer's: the largest mean error of each test (hand-held
    # steps taken at a third), mean plus 4 deviations, never above 0.1.
    connection = sqlite3.connect(db)
    per_run = {}
    for run_id, value, high in connection.execute(
            "SELECT run_id, value, limit_high FROM checks WHERE name LIKE 'motionless Accelerometer step % Mean "
            "value test'"):
        per_run[run_id] = max(per_run.get(run_id, 0.0), value * 0.1 / high)
    figures = numpy.array(list(per_run.values()))
    expected = min(0.1, figures.mean() + 4 * figures.std(ddof=1))
    accepted = float(limits["acc_Threshold_G0"])
    assert expected <= accepted <= expected * 1.001, (expected, text)
    assert f"from {len(figures) * 4} checks of {len(figures)} runs" in text
    assert "passes 12 of 12 stored runs (100.0 %)" in text
    page = (tmp_path / "fleet.html").read_text()
    row = next(r for r in cells(page, "proposals") if r[0] == "acc_Threshold_G0")
    assert row[1:5] == ["0.1", "100.0 % (12 of 12)", limits["acc_Threshold_G0"], "100.0 % (12 of 12)"], row

    # A device whose accelerometer is off by more than the proposed limit and
    # less than the built-in one: it passes without the file and fails with it.
    between = (accepted + 0.1) / 2
    dumps = four_steps_dumps(tmp_path, 99, random.Random(1), f"{between:.4f},0,0")
    plain = offline_test(dumps, tmp_path / "plain", tmp_path)
    assert plain.returncode == 0, plain.stdout
    station = tmp_path / "station"
    station.mkdir()
    shutil.copy(proposed, station / "TestingConfig.xml")
    limited = offline_test(dumps, station / "limited", station)
    assert limited.returncode == 255, limited.stdout
    assert re.search(rf"Error in motionless Accelerometer step \d Mean value test\n.*\n.*\n distance is bigger "
                     rf"than threshold of {accepted:g} ", limited.stdout), limited.stdout

    # A target yield and a looser limit.
    looser = calreport("--fleet", db, "-o", tmp_path / "f2.html", "--propose-limits", tmp_path / "t.xml",
                       "--target-yield", "0.5", "--looser")
    assert looser.returncode == 0, looser.stderr
    half = float(dict(re.findall(r"<(\w+)>([^<]+)</\1>", (tmp_path / "t.xml").read_text()))["acc_Threshold_G0"])
    assert half == pytest.approx(numpy.sort(figures)[5], rel=1e-3)


@pytest.mark.parametrize("args, message", [
    (("--propose-limits", "x.xml"), "--propose-limits, --device, --since and --days go with --fleet DB"),
    (("--days", "3"), "--propose-limits, --device, --since and --days go with --fleet DB"),
    (("--fleet", "DB", "--since", "2026-13-01"), "--since takes a day as YYYY-MM-DD, not '2026-13-01'"),
    (("--fleet", "DB", "--days", "0"), "--days is a whole number of days, at least 1"),
    (("--fleet", "DB", "--days", "3", "--since", "2026-01-01"), "not allowed with argument"),
    (("--fleet", "DB", "--device", "nobody"), "no run of the device nobody in the store"),
    (("--fleet", "DB", "--target-yield", "0.9", "--sigma", "3"), "not allowed with argument"),
    (("--fleet", "DB", "--target-yield", "1.5"), "--target-yield is a share from 0 to 1"),
    (("--fleet", "DB", "--sigma", "-1"), "--sigma is a positive number"),
    (("--fleet", "DB", "--propose-limits", "/nonexistent/TestingConfig.xml"),
     "cannot write /nonexistent/TestingConfig.xml: No such file or directory"),
])
def test_control_options_refused(line, args, message):
    base, db = line
    result = calreport(*[str(db) if a == "DB" else a for a in args])
    assert result.returncode in (1, 2) and message in result.stderr, result.stderr


def test_a_device_history(line, tmp_path):
    base, db = line
    result = calreport("--fleet", db, "--device", "dev-A03")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "history of dev-A03:"
    runs = [line for line in lines if re.match(r"  \d{4}-", line)]
    assert [re.sub(r"^  \S+  ", "", r) for r in runs] == ["station A  NewMotionFull  passed",
                                                           "station B  NewMotionFull  passed"], result.stdout
    moved = re.search(r"Magnetometer: offset moved ([0-9.]+) mG", result.stdout)
    assert moved and float(moved.group(1)) > 1, result.stdout
    # The fleet report links the devices nearest a limit to their histories.
    calreport("--fleet", db, "-o", tmp_path / "fleet.html")
    page = (tmp_path / "fleet.html").read_text()
    linked = re.findall(r'<a href="#history-([^"]+)">', re.search(r'<p id="histories">(.*?)</p>', page).group(1))
    assert linked and all(f'id="history-{d}"' in page for d in linked)


def spc():
    """The drift rules themselves, as the fleet report applies them."""
    import importlib
    import sys
    from conftest import ROOT
    sys.path.insert(0, f"{ROOT}/calreport")
    return importlib.import_module("tessary_report.spc")


# A station's figure over its runs: twelve reference runs about 0 (deviation
# 1 given), then the runs to judge, the last one latest.
REFERENCE = [0.5, -0.5] * 6


@pytest.mark.parametrize("later, rule", [
    # Beyond 3 sigma, on either side.
    ([0.2] * 7 + [3.1], "is beyond 3 sigma"),
    ([0.2] * 7 + [-3.1], "is beyond 3 sigma"),
    ([0.2] * 7 + [-2.9], None),
    # Eight in a row on one side only for a shift of at least 1.5 sigma.
    ([0.5] * 8, None),
    ([1.6] * 8, "has 8 runs in a row above its mean"),
    # An alarm stands while any of the latest 8 runs breaks a rule, the 8th
    # latest included; a break 9 runs back has cleared.
    ([0.2] * 2 + [3.5] + [0.2] * 7, "is beyond 3 sigma"),
    ([0.2] * 1 + [3.5] + [0.2] * 8, None),
])
def test_drift_rules(later, rule):
    rules = spc()
    values = REFERENCE + later
    found = rules.run_rules(list(enumerate(values)), 1.0)
    if rule is None:
        assert found is None, found
    else:
        assert found is not None and found[0].startswith(rule), found


@pytest.mark.parametrize("tests, proposed", [(9, False), (10, True)])
def test_a_limit_is_proposed_from_ten_runs(tmp_path, tests, proposed):
    db = tmp_path / "tests.db"
    rng = random.Random(11)
    for n in range(tests):
        out = tmp_path / f"test-{n:02d}"
        assert offline_test(four_steps_dumps(tmp_path, n, rng), out, tmp_path).returncode == 0
        assert calreport(out, "--store", db, "--station", "A", "--device-id", f"dev-{n:02d}").returncode == 0
    result = calreport("--fleet", db, "-o", tmp_path / "fleet.html", "--propose-limits", tmp_path / "limits.xml")
    assert result.returncode == 0, result.stderr
    text = (tmp_path / "limits.xml").read_text() if (tmp_path / "limits.xml").exists() else ""
    assert ("<acc_Threshold_G0>" in text) == proposed, text
