"""What a run comes to: its verdict and reasons, and per sensor its records
before and after (in physical units) and its checks. The report draws it; the
run record (JSON, run-record.schema.json) carries it to a test sequencer and
the station store."""

import hashlib
import os
import re

from . import checks as checkmod
from . import records
from .runfiles import CURRENT_NAME, ERROR_NAME, LOG_NAMES, RESULT_NAME, RUN_END_NAME, luid_type

SCHEMA = "tessary-run-record/1"


class SensorSummary:
    def __init__(self, log, kind, before, after, problems):
        self.log = log
        self.kind = kind
        self.name = log.name
        self.luid = log.luid
        self.type = log.type
        try:
            self.checks = checkmod.run_checks(log, kind)
        except (ValueError, ArithmeticError, IndexError, TypeError) as e:
            # Figures that do not fit together: the rest of the run still counts.
            problems.append(f"{log.name}: its checks cannot be worked out ({e})")
            self.checks = []
        self.before = before
        self.after = after

    @property
    def failed(self):
        return not self.log.success or any(c.verdict == "failed" for c in self.checks)

    def record(self):
        return {"luid": self.luid, "type": self.type, "name": self.name, "primary": self.log.primary,
                "verdict": "failed" if self.failed else "passed",
                "failure_parameter": self.log.failure or None, "failure_reason": self.log.failure_reason or None,
                "before": self.before, "after": self.after, "checks": [c.record() for c in self.checks]}


class RunSummary:
    """A folder's run: kind, time, version, verdict, reasons and sensors."""

    def __init__(self, folder):
        self.folder = folder
        log = folder.log()
        end = folder.run_end
        self.end = end
        self.kind = log.kind if log else end.kind if end else ""
        self.time = log.iso_time() if log else end.iso_time() if end else ""
        self.version = log.version if log else end.version if end else ""
        self.sensors = []
        for sensor in folder.sensors():
            before = after = None
            if folder.current is not None and sensor.luid in folder.current.records:
                before = records.physical(folder.current.records[sensor.luid], sensor.luid)
            if before is None:
                before = records.from_log(sensor)
            if folder.result is not None and sensor.luid in folder.result.records:
                after = records.physical(folder.result.records[sensor.luid], sensor.luid)
            self.sensors.append(SensorSummary(sensor, self.kind, before, after, folder.problems))
        self.reasons = []
        for s in self.sensors:
            failing = [c for c in s.checks if c.verdict == "failed"]
            # Each check names its sensor; those that do not are prefixed with it.
            self.reasons.extend(c.text() if s.name in c.name else f"{s.name}: {c.text()}" for c in failing)
            if not s.log.success and not failing:
                why = s.log.failure_reason or (f"failed on {s.log.failure}" if s.log.failure else "failed")
                self.reasons.append(f"{s.name}: {why}")
        if folder.error_text:
            self.reasons.extend(line.strip() for line in folder.error_text.splitlines() if line.strip())
        # How the run ended, when it did not pass: its reason, with the step
        # it was in, unless the reasons above already say it.
        if end is not None and end.reason and not any(end.reason in r for r in self.reasons):
            self.reasons.append(f"step {end.step}: {end.reason}" if end.step else end.reason)
        # A live calibration saves the records it found before it samples: it
        # began, and left no log.
        if log is None and folder.current is not None and end is None:
            self.reasons.append("the run left no run log: it ended before its verdict")
        if end is not None and end.verdict == "interrupted":
            self.verdict = "INTERRUPTED"
        elif self.reasons or end is not None:
            if not self.reasons:
                self.reasons.append("the run failed")
            self.verdict = "FAILED"
        elif self.sensors:
            self.verdict = "PASSED"
        else:
            self.verdict = "UNKNOWN"

    def run_id(self):
        """The same run, stored twice, has the same identity: a digest of its
        run log, result and error files."""
        digest = hashlib.sha256()
        for name in LOG_NAMES + (RESULT_NAME, CURRENT_NAME, ERROR_NAME, RUN_END_NAME):
            path = os.path.join(self.folder.path, name)
            if os.path.exists(path):
                digest.update(name.encode() + b"\0")
                with open(path, "rb") as f:
                    digest.update(f.read())
        for name in self.folder.dump_names:
            digest.update(name.encode() + b"\0" + str(os.path.getsize(os.path.join(self.folder.path, name))).encode())
        return digest.hexdigest()

    def record(self, device_id=None, station=None, operator=None):
        """The run record, a JSON document."""
        luids = [s.luid for s in self.sensors]
        # A run that ended before its log names its sensors in its end.
        if not luids and self.end is not None:
            luids = [luid for _, luid in self.end.sensors if re.fullmatch(r"[0-9a-f]{16}", luid)]
        reasons = list(self.reasons)
        if self.verdict == "UNKNOWN":
            reasons.append("the folder holds no run log: the run has no verdict")
        if self.verdict == "PASSED":
            verdict = "passed"
        elif self.verdict == "INTERRUPTED":
            verdict = "interrupted"
        else:
            verdict = "failed"
        end = self.end
        ending = None if end is None else {"verdict": end.verdict, "step": end.step, "reason": end.reason,
                                           "time": end.time or None,
                                           "sensors": [name for name, _ in end.sensors]}
        return {
            "schema": SCHEMA,
            "run_id": self.run_id(),
            "tool_version": self.version or None,
            "run_type": self.kind or None,
            "flow": checkmod.FLOWS.get(self.kind),
            "time": self.time or None,
            "folder": os.path.abspath(self.folder.path),
            "device": {"luids": luids, "device_id": device_id, "station": station, "operator": operator},
            "verdict": verdict,
            "reasons": reasons,
            "ending": ending,
            "sensors": [s.record() for s in self.sensors],
            "problems": list(self.folder.problems),
        }


def sensor_kind(luid):
    return records.KINDS.get(luid_type(luid), "other")
