"""The station store: the run records of a line, one row per run, with what
the fleet report needs (each sensor's verdict and each check's figures). A
SQLite file by default; a PostgreSQL database ("postgresql://...") when many
stations write to one. One thin layer over the Python DB-API: both run the
same SQL, written with "?" for its parameters."""

import datetime
import json
import sqlite3

TABLES = (
    """CREATE TABLE IF NOT EXISTS runs (
        run_id TEXT PRIMARY KEY,
        time TEXT,
        stored_at TEXT NOT NULL,
        tool_version TEXT,
        run_type TEXT,
        flow TEXT,
        device TEXT NOT NULL,
        device_id TEXT,
        station TEXT,
        operator TEXT,
        luids TEXT NOT NULL,
        verdict TEXT NOT NULL,
        reasons TEXT NOT NULL,
        record TEXT NOT NULL)""",
    """CREATE TABLE IF NOT EXISTS sensors (
        run_id TEXT NOT NULL REFERENCES runs (run_id),
        luid TEXT NOT NULL,
        name TEXT NOT NULL,
        type TEXT NOT NULL,
        verdict TEXT NOT NULL)""",
    """CREATE TABLE IF NOT EXISTS checks (
        run_id TEXT NOT NULL REFERENCES runs (run_id),
        sensor TEXT NOT NULL,
        name TEXT NOT NULL,
        value DOUBLE PRECISION,
        limit_high DOUBLE PRECISION,
        limit_low DOUBLE PRECISION,
        unit TEXT NOT NULL,
        margin DOUBLE PRECISION,
        verdict TEXT NOT NULL,
        step INTEGER)""",
    "CREATE INDEX IF NOT EXISTS sensors_run ON sensors (run_id)",
    "CREATE INDEX IF NOT EXISTS checks_run ON checks (run_id)",
)


class StoreError(Exception):
    """The store cannot be opened or written."""


def is_postgresql(target):
    return target.startswith("postgresql://") or target.startswith("postgres://")


class Store:
    def __init__(self, target):
        self.target = target
        try:
            if is_postgresql(target):
                try:
                    import psycopg2
                except ImportError:
                    raise StoreError("PostgreSQL needs psycopg2 (Debian: python3-psycopg2)") from None
                self.errors = (psycopg2.Error,)
                try:
                    self.connection = psycopg2.connect(target)
                except psycopg2.Error as e:
                    raise StoreError(f"cannot connect to {redacted(target)}: {str(e).strip()}") from None
                self.placeholder = "%s"
            else:
                self.errors = (sqlite3.Error,)
                self.connection = sqlite3.connect(target)
                self.placeholder = "?"
            with self.transaction() as cursor:
                for statement in TABLES:
                    cursor.execute(statement)
        except self.errors as e:
            raise StoreError(f"cannot use the store {redacted(target)}: {str(e).strip()}") from None

    def sql(self, text):
        return text.replace("?", self.placeholder)

    def transaction(self):
        store = self

        class Transaction:
            def __enter__(self):
                self.cursor = store.connection.cursor()
                return self.cursor

            def __exit__(self, kind, value, trace):
                if kind is None:
                    store.connection.commit()
                else:
                    store.connection.rollback()
                self.cursor.close()
                return False

        return Transaction()

    def add(self, record):
        """Stores a run record; False when the run was stored before (it keeps one row)."""
        device = record["device"]
        identity = device.get("device_id") or ",".join(device["luids"]) or "unknown"
        row = (record["run_id"], record["time"], datetime.datetime.now().isoformat(timespec="microseconds"),
               record["tool_version"], record["run_type"], record["flow"], identity, device.get("device_id"),
               device.get("station"), device.get("operator"), ",".join(device["luids"]), record["verdict"],
               json.dumps(record["reasons"]), json.dumps(record))
        try:
            with self.transaction() as cursor:
                cursor.execute(self.sql(
                    "INSERT INTO runs (run_id, time, stored_at, tool_version, run_type, flow, device, device_id, "
                    "station, operator, luids, verdict, reasons, record) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                    "?, ?, ?) ON CONFLICT (run_id) DO NOTHING"), row)
                if cursor.rowcount != 1:
                    return False
                cursor.executemany(self.sql("INSERT INTO sensors (run_id, luid, name, type, verdict) "
                                            "VALUES (?, ?, ?, ?, ?)"),
                                   [(record["run_id"], s["luid"], s["name"], s["type"], s["verdict"])
                                    for s in record["sensors"]])
                cursor.executemany(self.sql("INSERT INTO checks (run_id, sensor, name, value, limit_high, limit_low, "
                                            "unit, margin, verdict, step) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                                   [(record["run_id"], s["name"], c["name"], c["value"], c["limit"], c["low"],
                                     c["unit"], c["margin"], c["verdict"], c["step"])
                                    for s in record["sensors"] for c in s["checks"]])
            return True
        except self.errors as e:
            raise StoreError(f"cannot store the run in {redacted(self.target)}: {str(e).strip()}") from None

    def query(self, text, parameters=()):
        try:
            cursor = self.connection.cursor()
            cursor.execute(self.sql(text), parameters)
            rows = cursor.fetchall()
            cursor.close()
            return rows
        except self.errors as e:
            raise StoreError(f"cannot read the store {redacted(self.target)}: {str(e).strip()}") from None

    def close(self):
        self.connection.close()


def redacted(target):
    """The target without a password."""
    import re

    return re.sub(r"(://[^:/@]*):[^@]*@", r"\1:***@", target)
