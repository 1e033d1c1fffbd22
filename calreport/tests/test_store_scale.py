"""The station store over a line's life: a store of the first version brought
up to date on first open, a store from a newer calreport refused, the fleet
report's window of time, and many stations storing at once into one SQLite
file and one PostgreSQL database. The runs are real ones of sensortrim,
stored again as the runs of other devices and days."""
import copy
import itertools
import json
import os
import sqlite3
import stat
import subprocess
import sys

import pytest

from conftest import ROOT, calreport
from test_records_and_store import postgresql  # noqa: F401  (the throw-away server)

# The store's first version, as stations wrote it: each run's whole record
# beside its rows.
FIRST_VERSION = (
    """CREATE TABLE runs (run_id TEXT PRIMARY KEY, time TEXT, stored_at TEXT NOT NULL, tool_version TEXT,
        run_type TEXT, flow TEXT, device TEXT NOT NULL, device_id TEXT, station TEXT, operator TEXT,
        luids TEXT NOT NULL, verdict TEXT NOT NULL, reasons TEXT NOT NULL, record TEXT NOT NULL)""",
    """CREATE TABLE sensors (run_id TEXT NOT NULL REFERENCES runs (run_id), luid TEXT NOT NULL, name TEXT NOT NULL,
        type TEXT NOT NULL, verdict TEXT NOT NULL)""",
    """CREATE TABLE checks (run_id TEXT NOT NULL REFERENCES runs (run_id), sensor TEXT NOT NULL, name TEXT NOT NULL,
        value DOUBLE PRECISION, limit_high DOUBLE PRECISION, limit_low DOUBLE PRECISION, unit TEXT NOT NULL,
        margin DOUBLE PRECISION, verdict TEXT NOT NULL, step INTEGER)""",
    "CREATE INDEX sensors_run ON sensors (run_id)",
    "CREATE INDEX checks_run ON checks (run_id)",
)

# Stores a JSON list of run records (standard input) into a store, one run at
# a time as a station does, or all at once as a store is filled in bulk: how
# many were stored.
ADD = """
import json, sys
sys.path.insert(0, sys.argv[2])
from tessary_report.store import Store
store = Store(sys.argv[1])
records = json.load(sys.stdin)
print(store.add_many(records) if sys.argv[3:] == ["bulk"] else sum(store.add(record) for record in records))
store.close()
"""


@pytest.fixture(scope="module")
def record(runs):
    result = calreport(runs["live-calibration"], "--json", "-", "--station", "A")
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout)


def made(record, n, day, device, station="A"):
    """The record as the run of another device on another day."""
    other = copy.deepcopy(record)
    other["run_id"] = f"{n:064x}"
    other["time"] = f"2026-11-{day:02d}T{8 + n % 10:02d}:{n % 60:02d}"
    other["device"]["device_id"] = device
    other["device"]["station"] = station
    return other


def add(target, records, bulk=False):
    result = subprocess.run([sys.executable, "-c", ADD, str(target), os.path.join(ROOT, "calreport")] +
                            (["bulk"] if bulk else []),
                            input=json.dumps(records), capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stderr
    return int(result.stdout)


def connect(target):
    """A DB-API connection to either engine, and its parameter mark."""
    if target.startswith("postgresql://"):
        import psycopg2

        return psycopg2.connect(target), "%s"
    return sqlite3.connect(target), "?"


DATABASES = itertools.count()


def fresh_database(server, name):
    """A new, empty database on the throw-away PostgreSQL server: its URL."""
    import psycopg2

    connection = psycopg2.connect(server)
    connection.autocommit = True
    connection.cursor().execute(f"CREATE DATABASE {name}")
    connection.close()
    return server.replace("/station?", f"/{name}?")


def first_version_store(target, records):
    connection, mark = connect(target)
    cursor = connection.cursor()
    for statement in FIRST_VERSION:
        cursor.execute(statement)

    def insert(table, row):
        cursor.execute(f"INSERT INTO {table} VALUES ({', '.join([mark] * len(row))})", row)

    for n, r in enumerate(records):
        insert("runs", (r["run_id"], r["time"], f"2026-12-01T00:00:{n:02d}", r["tool_version"], r["run_type"],
                        r["flow"], r["device"]["device_id"], r["device"]["device_id"], r["device"]["station"], None,
                        ",".join(r["device"]["luids"]), r["verdict"], json.dumps(r["reasons"]), json.dumps(r)))
        for s in r["sensors"]:
            insert("sensors", (r["run_id"], s["luid"], s["name"], s["type"], s["verdict"]))
            for c in s["checks"]:
                insert("checks", (r["run_id"], s["name"], c["name"], c["value"], c["limit"], c["low"], c["unit"],
                                  c["margin"], c["verdict"], c["step"]))
    connection.commit()
    connection.close()


def scalar(target, query):
    connection, _ = connect(target)
    cursor = connection.cursor()
    cursor.execute(query)
    rows = cursor.fetchall()
    connection.close()
    return rows


@pytest.mark.parametrize("engine", ["sqlite", "postgresql"])
def test_a_first_version_store_is_brought_up_to_date(runs, record, tmp_path, request, engine):
    if engine == "sqlite":
        db = str(tmp_path / "old.db")
    else:
        db = fresh_database(request.getfixturevalue("postgresql"), "first_version")
    # One device calibrated twice (its magnetometer's centre moved), another once.
    second = made(record, 2, 20, "SN-1")
    for sensor in second["sensors"]:
        if sensor["name"] == "Magnetometer":
            sensor["after"]["offset"][0] += 12.5
    first_version_store(db, [made(record, 1, 10, "SN-1"), second, made(record, 3, 21, "SN-2")])
    checks = scalar(db, "SELECT COUNT(*) FROM checks")
    before = os.path.getsize(db) if engine == "sqlite" else 0

    result = calreport("--fleet", db, "-o", tmp_path / "fleet.html", "--since", "2026-11-01")
    assert result.returncode == 0, result.stderr
    assert "  runs: 3, devices: 2\n" in result.stdout
    history = calreport("--fleet", db, "--device", "SN-1")
    assert history.returncode == 0, history.stderr
    assert "Magnetometer: offset moved 12.5 mG" in history.stdout, history.stdout
    # The rows as the first version showed them, without a second copy of each run.
    assert scalar(db, "SELECT COUNT(*) FROM checks") == checks
    assert scalar(db, "SELECT version FROM store_version") == [(2,)]
    assert scalar(db, "SELECT * FROM runs WHERE 1 = 0") == []
    columns = scalar(db, "SELECT name FROM pragma_table_info('runs')" if engine == "sqlite" else
                     "SELECT column_name FROM information_schema.columns WHERE table_name = 'runs'")
    assert columns and ("record",) not in columns, columns
    if engine == "sqlite":
        assert os.path.getsize(db) < before
    # A store of this version opens as it is; one of a newer version is refused.
    connection, _ = connect(db)
    connection.cursor().execute("UPDATE store_version SET version = 3")
    connection.commit()
    connection.close()
    for args in (("--fleet", db), (runs["agm"], "--store", db)):
        refused = calreport(*args)
        assert refused.returncode == 1
        assert (f"the store {db} was written by a newer calreport (store version 3; this one reads up to 2)"
                in refused.stderr), refused.stderr


@pytest.mark.parametrize("engine", ["sqlite", "postgresql"])
@pytest.mark.parametrize("bulk", [False, True], ids=["one by one", "in bulk"])
@pytest.mark.parametrize("window, count, devices, first_yield", [
    # The default: the 7 days up to the latest run (21 November).
    ((), 4, 3, "100.0 % (2 of 2)"),
    (("--days", "2"), 2, 2, "100.0 % (1 of 1)"),
    # A device first seen before the window counts in its runs, not in its first-pass yield.
    (("--since", "2026-11-10"), 5, 3, "100.0 % (2 of 2)"),
    (("--since", "2026-11-01"), 6, 3, "66.7 % (2 of 3)"),
    (("--since", "2026-12-01"), 0, 0, "no runs"),
])
def test_the_fleet_report_covers_its_window(record, tmp_path, request, window, count, devices, first_yield, bulk,
                                           engine):
    if engine == "sqlite":
        db = tmp_path / "window.db"
    else:
        db = fresh_database(request.getfixturevalue("postgresql"), f"window_{next(DATABASES)}")
    failed = copy.deepcopy(record)
    failed["verdict"] = "failed"
    failed["reasons"] = ["Magnetometer: too noisy"]
    plan = [(made(failed, 1, 5, "SN-1"), 1), (made(record, 2, 10, "SN-1"), 1), (made(record, 3, 15, "SN-2"), 1),
            (made(record, 4, 16, "SN-1"), 1), (made(record, 5, 20, "SN-3"), 1), (made(record, 6, 21, "SN-2"), 1)]
    # Stored out of time order, as a station's late upload is.
    assert add(db, [r for r, _ in plan[::-1]], bulk) == 6
    result = calreport("--fleet", db, "-o", tmp_path / "fleet.html", *window)
    assert result.returncode == 0, result.stderr
    assert f"  runs: {count}, devices: {devices}\n" in result.stdout, result.stdout
    assert f"  first-pass yield: {first_yield}\n" in result.stdout, result.stdout
    assert "  all time: 6 runs, 3 devices\n" in result.stdout, result.stdout


def concurrent_stores(target, record, folder):
    """16 processes storing 50 different runs each at once; every run is
    stored once."""
    batches = [[made(record, 1 + p * 50 + n, 1 + n % 28, f"SN-{p}-{n}", f"line {p % 4}") for n in range(50)]
               for p in range(16)]
    processes = [subprocess.Popen([sys.executable, "-c", ADD, str(target), os.path.join(ROOT, "calreport")],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                 for _ in batches]
    for process, batch in zip(processes, batches):
        process.stdin.write(json.dumps(batch))
        process.stdin.close()
    results = [(p.wait(timeout=600), p.stdout.read(), p.stderr.read()) for p in processes]
    for code, out, err in results:
        assert code == 0 and "locked" not in err, err
        assert out.strip() == "50", (out, err)
    result = calreport("--fleet", target, "--since", "2026-11-01", "-o", folder / "fleet.html")
    assert result.returncode == 0, result.stderr
    assert "  runs: 800, devices: 800\n" in result.stdout, result.stdout


def test_many_stations_store_at_once_into_sqlite(record, tmp_path):
    concurrent_stores(tmp_path / "line.db", record, tmp_path)
    connection = sqlite3.connect(tmp_path / "line.db")
    assert connection.execute("SELECT COUNT(*), COUNT(DISTINCT run_id) FROM runs").fetchone() == (800, 800)


def test_many_stations_store_at_once_into_postgresql(record, postgresql, tmp_path):  # noqa: F811
    import psycopg2

    concurrent_stores(postgresql, record, tmp_path)
    with psycopg2.connect(postgresql) as connection, connection.cursor() as cursor:
        cursor.execute("SELECT COUNT(*), COUNT(DISTINCT run_id) FROM runs WHERE time LIKE '2026-11-%%'")
        assert cursor.fetchone() == (800, 800)


def test_a_pipe_named_as_the_report_is_written_to_not_replaced(record, tmp_path):
    db = tmp_path / "one.db"
    assert add(db, [made(record, 1, 3, "SN-1")]) == 1
    pipe = tmp_path / "page"
    os.mkfifo(pipe)
    # What comes through the pipe, kept in a file (a reader nobody drains would stop the writer).
    received = open(tmp_path / "received.html", "w")
    reader = subprocess.Popen(["cat", str(pipe)], stdout=received)
    try:
        result = calreport("--fleet", db, "-o", pipe)
        assert result.returncode == 0, result.stderr
        assert stat.S_ISFIFO(os.stat(pipe).st_mode) and not (tmp_path / "page.part").exists()
        reader.wait(timeout=60)
        assert (tmp_path / "received.html").read_text().startswith("<!DOCTYPE html>")
    finally:
        reader.kill()
        reader.wait()
        received.close()
