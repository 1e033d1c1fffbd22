#!/usr/bin/python3
"""Fills a station store with many runs for the fleet benchmark: the run
records of real run folders, each stored again and again as the runs of other
devices, at other stations and times, its figures spread a little.

    fleet_store.py DB COUNT FOLDER...
"""

import copy
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


def main():
    db, count, folders = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    records = []
    for folder in folders:
        out = subprocess.run([sys.executable, CALREPORT, folder, "--json", "-"], capture_output=True, text=True,
                             check=True)
        records.append(json.loads(out.stdout))
    rng = random.Random(2026)
    start = datetime.datetime(2026, 11, 1, 7, 0)
    store = Store(db)
    devices = max(1, count * 4 // 5)
    for n in range(count):
        # Failed runs are the fewer on a line.
        weights = [0.15 if r["verdict"] == "failed" else 1.0 for r in records]
        record = copy.deepcopy(rng.choices(records, weights)[0])
        record["run_id"] = hashlib.sha256(f"bench {n}".encode()).hexdigest()
        record["time"] = (start + datetime.timedelta(minutes=n * 40 * 24 * 60 // count)).strftime("%Y-%m-%dT%H:%M")
        record["device"]["device_id"] = f"SN-{rng.randrange(devices):06d}"
        record["device"]["station"] = f"line {1 + n % 4}"
        failed = False
        for sensor in record["sensors"]:
            for check in sensor["checks"]:
                if check["value"] is None or check["limit"] is None:
                    continue
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
        record["verdict"] = "failed" if failed else "passed"
        # As a run states them.
        record["reasons"] = [Check(s["name"], c["name"], c["value"], c["limit"], c["unit"], c["verdict"],
                                   c["step"], c["low"]).text() for s in record["sensors"] for c in s["checks"]
                             if c["verdict"] == "failed"]
        store.add(record)
    store.close()


if __name__ == "__main__":
    main()
