#!/usr/bin/python3
"""Fills a station store with many runs for the fleet benchmark: the run
records of real run folders, each stored again and again as the runs of other
devices at four stations, its figures spread a little. The runs come one
every 31.5 seconds (a line of four stations that calibrates a device every
two minutes: a million runs a year), the last ending at the same moment
whatever their number, so that stores of different histories share their
latest days. Stored in bulk, in transactions of 10,000 runs.

    fleet_store.py DB COUNT FOLDER...
"""

import datetime
import hashlib
import json
import os
import random
import subprocess
import sys

HERE = os.path.dirname(os.path.realpath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "calreport"))

from tessary_report.checks import Check  # noqa: E402
from tessary_report.store import Store  # noqa: E402

CALREPORT = os.path.join(HERE, "..", "calreport", "calreport.py")
END = datetime.datetime(2026, 12, 1, 7, 0)
EVERY = datetime.timedelta(seconds=31.5)
BATCH = 10000


def spread(template, rng, n, count, devices):
    """A run like the template's, with its own id, time, device and figures."""
    failed = False
    sensors = []
    for sensor in template["sensors"]:
        checks = []
        for check in sensor["checks"]:
            check = dict(check)
            if check["value"] is not None and check["limit"] is not None:
                low = check["low"]
                # The spread of a one-sided figure, or of a two-sided one
                # about the middle of its limits.
                middle = 0.0 if low is None else (low + check["limit"]) / 2
                check["value"] = middle + (check["value"] - middle) * rng.uniform(0.85, 1.15)
                check["margin"] = check["limit"] - check["value"] if low is None else \
                    min(check["limit"] - check["value"], check["value"] - low)
                if check["verdict"] != "warning":
                    check["verdict"] = "passed" if check["margin"] >= 0 else "failed"
            failed = failed or check["verdict"] == "failed"
            checks.append(check)
        sensors.append(dict(sensor, checks=checks))
    record = dict(template, sensors=sensors)
    record["run_id"] = hashlib.sha256(f"bench {n}".encode()).hexdigest()
    record["time"] = (END - EVERY * (count - 1 - n)).strftime("%Y-%m-%dT%H:%M")
    record["device"] = dict(template["device"], device_id=f"SN-{rng.randrange(devices):07d}",
                            station=f"line {1 + n % 4}")
    record["verdict"] = "failed" if failed else "passed"
    # As a run states them.
    record["reasons"] = [Check(s["name"], c["name"], c["value"], c["limit"], c["unit"], c["verdict"], c["step"],
                               c["low"]).text() for s in sensors for c in s["checks"] if c["verdict"] == "failed"]
    return record


def main():
    db, count, folders = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    templates = []
    for folder in folders:
        out = subprocess.run([sys.executable, CALREPORT, folder, "--json", "-"], capture_output=True, text=True,
                             check=True)
        templates.append(json.loads(out.stdout))
    rng = random.Random(2026)
    # Failed runs are the fewer on a line.
    weights = [0.15 if r["verdict"] == "failed" else 1.0 for r in templates]
    devices = max(1, count * 4 // 5)
    store = Store(db)
    for start in range(0, count, BATCH):
        batch = [spread(rng.choices(templates, weights)[0], rng, n, count, devices)
                 for n in range(start, min(count, start + BATCH))]
        store.add_many(batch)
    store.close()


if __name__ == "__main__":
    main()
