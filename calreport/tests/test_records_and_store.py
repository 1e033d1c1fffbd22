"""The run record, the station store (SQLite, and PostgreSQL on a throw-away
server the tests start) and the fleet report, on the real tools' runs."""
import glob
import json
import os
import pathlib
import re
import shutil
import sqlite3
import tempfile
import time

import jsonschema
import pytest

from conftest import SCHEMA, calreport, run

SCHEMA_DOC = json.load(open(SCHEMA))


def record_of(folder, *extra):
    result = calreport(folder, "--json", "-", *extra)
    assert result.returncode == 0, result.stderr
    record = json.loads(result.stdout)
    jsonschema.validate(record, SCHEMA_DOC)
    return record


@pytest.mark.parametrize("name, verdict", [
    ("agm", "passed"), ("agm-failed", "failed"), ("test-passed", "passed"), ("test-failed", "failed"),
    ("live-test-failed", "failed"), ("live-calibration", "passed"), ("live-test-passed", "passed"),
    ("light", "passed")])
def test_every_run_has_a_valid_record(runs, name, verdict):
    record = record_of(runs[name], "--device-id", "SN-0042", "--station", "line 1", "--operator", "ana")
    assert record["verdict"] == verdict
    assert (record["reasons"] == []) == (verdict == "passed")
    assert record["tool_version"] == "3.1.0.3426"
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d", record["time"])
    assert record["device"] == {"luids": [s["luid"] for s in record["sensors"]], "device_id": "SN-0042",
                                "station": "line 1", "operator": "ana"}
    # No report is written without -o.
    assert not os.path.exists(runs[name] / "calibration-report-never.html")
    for sensor in record["sensors"]:
        for check in sensor["checks"]:
            if check["value"] is not None and check["limit"] is not None:
                assert check["verdict"] in ("passed", "failed", "warning")
                assert (check["margin"] < 0) == (check["verdict"] == "failed") or check["verdict"] == "warning"


@pytest.mark.parametrize("name, verdict, reason, step", [
    ("collection-failed", "failed", "The device did not come back to where it started after the turn about Z in "
                                    "step 2", 2),
    ("live-collection-failed", "failed", "The device did not come back to where it started after the turn about "
                                         "Z in step 2", 2),
    ("live-interrupted", "interrupted", "Terminate signal (15) received.", None),
])
def test_a_run_that_did_not_pass_is_on_the_record(runs, tmp_path, name, verdict, reason, step):
    record = record_of(runs[name], "--device-id", "SN-9")
    assert record["verdict"] == verdict
    assert any(reason in r for r in record["reasons"]), record["reasons"]
    assert record["ending"]["verdict"] == verdict and reason in record["ending"]["reason"]
    if step is not None:
        assert record["ending"]["step"] == step
    assert record["run_type"] == "NewMotionFull" and re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d", record["time"])
    assert "0f02080004000002" in record["device"]["luids"]
    # The station keeps it, and its yield counts it.
    db = tmp_path / "station.db"
    assert calreport(runs[name], "--store", db, "--device-id", "SN-9").returncode == 0
    assert calreport(runs["agm"], "--store", db, "--device-id", "SN-8").returncode == 0
    assert sqlite3.connect(db).execute("SELECT verdict FROM runs WHERE device = 'SN-9'").fetchall() == [(verdict,)]
    fleet = calreport("--fleet", db, "-o", tmp_path / "fleet.html")
    assert "  first-pass yield: 50.0 % (1 of 2)\n" in fleet.stdout, fleet.stdout
    report = calreport(runs[name])
    assert report.stdout.startswith(verdict.upper() + ": "), report.stdout


def test_record_holds_the_records_in_physical_units(runs):
    record = record_of(runs["live-calibration"])
    assert record["run_type"] == "NewMotionFull" and record["flow"] == "full"
    sensors = {s["name"]: s for s in record["sensors"]}
    acc = sensors["Accelerometer"]
    assert acc["before"]["unit"] == "g" and acc["after"]["unit"] == "g"
    assert acc["before"]["offset"] == pytest.approx([12e-6, -7e-6, 3e-6])
    assert acc["after"]["offset"] == pytest.approx([0.12, -0.05, 0.03], abs=0.005)
    assert acc["after"]["axis_mapping"] == [[1, 0, 0], [0, 1, 0], [0, 0, 1]]
    gyro = sensors["Gyroscope"]
    assert gyro["before"]["offset"] == pytest.approx([5e-5, -5e-5, 0])
    assert gyro["after"]["offset"] == pytest.approx([1.5, -2, 0.7], abs=0.1)
    assert sensors["Magnetometer"]["after"]["unit"] == "mG"
    names = [c["name"] for c in acc["checks"]]
    assert "Accelerometer offset" in names and "Accelerometer norm" in names


def test_failed_test_record_names_its_checks(runs):
    record = record_of(runs["test-failed"])
    failing = [(s["name"], c) for s in record["sensors"] for c in s["checks"] if c["verdict"] == "failed"]
    assert failing
    for sensor, check in failing:
        assert check["margin"] < 0 and check["value"] > check["limit"]
        assert any(check["name"] in reason for reason in record["reasons"])
        assert check["step"] is None or check["step"] >= 1
    assert "1\tAccelerometer: Check Calibration" in record["reasons"]


def test_a_record_written_to_a_file(runs, tmp_path):
    out = tmp_path / "record.json"
    result = calreport(runs["agm"], "--json", out)
    assert result.returncode == 0
    assert result.stdout == f"run record written to {out}\n"
    jsonschema.validate(json.loads(out.read_text()), SCHEMA_DOC)
    result = calreport(runs["agm"], "--json", tmp_path / "no" / "such" / "record.json")
    assert result.returncode == 1 and "cannot write" in result.stderr


def stored_rows(db):
    with sqlite3.connect(db) as connection:
        return {table: connection.execute(f"SELECT COUNT(*) FROM {table}").fetchone()[0]
                for table in ("runs", "sensors", "checks")}


def test_sqlite_store_keeps_one_row_per_run(runs, tmp_path):
    db = tmp_path / "station.db"
    result = calreport(runs["live-calibration"], "--store", db, "--station", "line 1")
    assert result.returncode == 0
    assert re.fullmatch(r"stored run [0-9a-f]{12} \(passed\)\n", result.stdout)
    first = stored_rows(db)
    record = record_of(runs["live-calibration"])
    assert first == {"runs": 1, "sensors": len(record["sensors"]),
                     "checks": sum(len(s["checks"]) for s in record["sensors"])}
    again = calreport(runs["live-calibration"], "--store", db)
    assert again.stdout.startswith("already stored: run ")
    assert stored_rows(db) == first
    # A store that cannot be opened is named with its reason.
    bad = calreport(runs["agm"], "--store", tmp_path / "no" / "such" / "x.db")
    assert bad.returncode == 1 and "cannot use the store" in bad.stderr


# ---------------------------------------------------------------- PostgreSQL


def postgres_binaries():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
    return os.path.dirname(found[-1]) if found else shutil.which("initdb") and os.path.dirname(shutil.which("initdb"))


@pytest.fixture(scope="module")
def postgresql(tmp_path_factory):
    """A throw-away PostgreSQL server in a temporary folder, on its own socket;
    its URL. As root the server runs as the postgres user."""
    binaries = postgres_binaries()
    if not binaries:
        pytest.skip("PostgreSQL is not installed (Debian: postgresql): the store's PostgreSQL tests are skipped")
    # Its own folder under /tmp: the server's user must reach it.
    base = pathlib.Path(tempfile.mkdtemp(prefix="calreport-postgresql-"))
    data = base / "data"
    as_user = []
    if os.geteuid() == 0:
        shutil.chown(base, "postgres")
        as_user = ["runuser", "-u", "postgres", "--"]
    made = run(*as_user, os.path.join(binaries, "initdb"), "-D", str(data), "-A", "trust", "-U", "calreport")
    assert made.returncode == 0, made.stdout + made.stderr
    port = str(20000 + os.getpid() % 20000)
    started = run(*as_user, os.path.join(binaries, "pg_ctl"), "-D", str(data), "-l", str(base / "server.log"), "-w",
                  "-o", f"-k {base} -p {port} -c listen_addresses=''", "start")
    assert started.returncode == 0, started.stdout + started.stderr + (base / "server.log").read_text()
    created = run(*as_user, os.path.join(binaries, "createdb"), "-h", str(base), "-p", port, "-U", "calreport",
                  "station")
    assert created.returncode == 0, created.stderr
    yield f"postgresql://calreport@/station?host={base}&port={port}"
    run(*as_user, os.path.join(binaries, "pg_ctl"), "-D", str(data), "-m", "immediate", "stop")
    shutil.rmtree(base, ignore_errors=True)


def test_postgresql_store(runs, postgresql, tmp_path):
    for name in ("live-test-failed", "live-calibration", "live-test-passed"):
        result = calreport(runs[name], "--store", postgresql, "--device-id", "SN-7", "--station", "line 2")
        assert result.returncode == 0, result.stderr
        assert result.stdout.startswith("stored run ")
    assert calreport(runs["live-calibration"], "--store", postgresql).stdout.startswith("already stored: ")
    import psycopg2

    with psycopg2.connect(postgresql) as connection, connection.cursor() as cursor:
        cursor.execute("SELECT verdict, station FROM runs ORDER BY stored_at")
        assert cursor.fetchall() == [("failed", "line 2"), ("passed", "line 2"), ("passed", "line 2")]
        cursor.execute("SELECT COUNT(*) FROM checks WHERE verdict = 'failed'")
        assert cursor.fetchone()[0] > 0
    # The fleet report of the PostgreSQL store: one device, failed first.
    result = calreport("--fleet", postgresql, "-o", tmp_path / "fleet.html")
    assert result.returncode == 0, result.stderr
    assert "runs: 3, devices: 1" in result.stdout
    assert "first-pass yield: 0.0 % (0 of 1)" in result.stdout
    # A device's history from PostgreSQL, in time order.
    history = calreport("--fleet", postgresql, "--device", "SN-7")
    assert history.returncode == 0, history.stderr
    assert [line.split("  ")[2:] for line in history.stdout.splitlines() if line.startswith("  2")] == [
        ["station line 2", "4StepsTest", "failed"], ["station line 2", "NewMotionFull", "passed"],
        ["station line 2", "4StepsTest", "passed"]], history.stdout
    bad = calreport(runs["agm"], "--store", postgresql.replace("station", "nowhere"))
    assert bad.returncode == 1 and "cannot connect to postgresql://" in bad.stderr


# ---------------------------------------------------------------- fleet


def test_fleet_report(runs, tmp_path):
    db = tmp_path / "fleet.db"
    # Three devices at two stations: SN-1 fails its first test and passes the
    # next; SN-2 passes; SN-3 fails its calibration.
    plan = [("live-test-failed", "SN-1", "A"), ("live-test-passed", "SN-1", "A"), ("test-passed", "SN-2", "B"),
            ("agm-failed", "SN-3", "B"), ("live-calibration", "SN-2", "B")]
    for name, device, station in plan:
        assert calreport(runs[name], "--store", db, "--device-id", device, "--station", station).returncode == 0
        time.sleep(0.01)
    result = calreport("--fleet", db, "-o", tmp_path / "fleet.html")
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith(f"fleet report written to {tmp_path / 'fleet.html'}\n")
    assert "  runs: 5, devices: 3\n" in result.stdout
    assert "  first-pass yield: 33.3 % (1 of 3)\n" in result.stdout
    assert "    station A: 0.0 % (0 of 1)\n" in result.stdout
    assert "    station B: 50.0 % (1 of 2)\n" in result.stdout
    assert "most frequent failure reasons:" in result.stdout
    page = (tmp_path / "fleet.html").read_text()
    assert 'id="yield"><b' not in page and "33.3 % (1 of 3)" in page
    for section in ('id="per-station"', 'id="per-sensor"', 'id="per-check"', 'id="reasons"', 'id="nearest"',
                    'id="plot-over-time"', 'id="plot-distribution-1"'):
        assert section in page, section
    # The devices nearest to their limits: the failed ones are beyond.
    nearest = re.search(r'<table id="nearest">(.*?)</table>', page, re.S).group(1)
    assert "SN-3" in nearest
    # A device stored without an id is found by one of its sensors' LUIDs.
    assert calreport(runs["agm"], "--store", tmp_path / "luids.db").returncode == 0
    luid = json.loads(calreport(runs["agm"], "--json", "-").stdout)["device"]["luids"][1]
    history = calreport("--fleet", tmp_path / "luids.db", "--device", luid)
    assert history.returncode == 0 and history.stdout.startswith(f"history of {luid}:\n  20"), history.stdout
    assert "NewMotionFull  passed" in history.stdout
    # Only a whole LUID: never the start, the end or the middle of one.
    for part in (luid[:-1], luid[1:], luid[2:-2]):
        partial = calreport("--fleet", tmp_path / "luids.db", "--device", part)
        assert partial.returncode != 0 and f"no run of the device {part} in the store" in partial.stderr, part


def test_fleet_of_nothing(tmp_path):
    result = calreport("--fleet", tmp_path / "empty.db", "-o", tmp_path / "f.html")
    assert result.returncode == 0
    assert "runs: 0, devices: 0" in result.stdout
    assert "first-pass yield: no runs" in result.stdout
    usage = calreport("--fleet", tmp_path / "empty.db", tmp_path)
    assert usage.returncode == 2 and "--fleet takes a store" in usage.stderr
