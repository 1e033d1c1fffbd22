"""Reading a run's export folder: one reader per kind of file, by the names
sensortrim writes. A file that cannot be used is named with its reason; the
rest of the folder is still read."""

import os
import re
import xml.etree.ElementTree as ET

LOG_NAMES = ("AGMLogFile.xml", "AlsLogFile.xml", "LogFile.xml")
RESULT_NAME = "resultCalibration.xml"
CURRENT_NAME = "currentCalibration.xml"
ERROR_NAME = "error.log"
RUN_END_NAME = "runEnd.xml"
DUMP_PREFIX = "dataDump"
REPORT_NAME = "calibration-report.html"
SENSOR_ORDER = ("Accelerometer", "Accelerometer_2", "Gyroscope", "Magnetometer", "AmbientLightSensor")


class ReportError(Exception):
    """A reason nothing can be made of the folder at all."""


class FileProblem(Exception):
    """A file of the folder that cannot be used; it is named and the rest goes on."""


def parse_matrix(text):
    """'a,b,c;d,e,f;' -> [[a, b, c], [d, e, f]]"""
    rows = []
    for row in text.strip().split(";"):
        row = row.strip()
        if row:
            rows.append([float(v) for v in row.split(",") if v.strip()])
    return rows


def read_xml(path):
    """The file's element tree, comments included. Parsed as plain XML 1.0,
    without namespaces: the logs' names may end in a colon ("allowed:")."""
    import xml.parsers.expat

    name = os.path.basename(path)
    try:
        # Run files are small; a huge file is not one of ours.
        if os.path.getsize(path) > 64 * 1024 * 1024:
            raise FileProblem(f"{name}: too large for a run file ({os.path.getsize(path)} bytes)")
        with open(path, "rb") as f:
            text = f.read()
    except OSError as e:
        raise FileProblem(f"{name}: cannot be read ({e.strerror})") from None
    builder = ET.TreeBuilder(insert_comments=True)
    parser = xml.parsers.expat.ParserCreate()
    parser.StartElementHandler = builder.start
    parser.EndElementHandler = builder.end
    parser.CharacterDataHandler = builder.data
    parser.CommentHandler = builder.comment
    # No entity of a DTD is expanded: a file of ours has none.
    parser.SetParamEntityParsing(xml.parsers.expat.XML_PARAM_ENTITY_PARSING_NEVER)
    parser.EntityDeclHandler = lambda *a: (_ for _ in ()).throw(FileProblem(f"{name}: declares entities"))
    try:
        parser.Parse(text, True)
        return builder.close()
    except xml.parsers.expat.ExpatError as e:
        raise FileProblem(f"{name}: not well-formed XML ({xml.parsers.expat.ErrorString(e.code)}, line {e.lineno}, "
                          f"column {e.offset + 1})") from None
    except AssertionError:
        raise FileProblem(f"{name}: not well-formed XML (no root element)") from None


def luid_text(sensor_type, vendor, sub_type, instance, flags):
    """The 16 hex digits sensortrim writes for a LUID (its fields little-endian)."""
    def le16(v):
        return f"{v & 0xFF:02x}{(v >> 8) & 0xFF:02x}"

    return le16(sensor_type) + le16(vendor) + le16(sub_type) + f"{instance & 0xFF:02x}{flags & 0xFF:02x}"


def luid_type(luid):
    """The sensor type of a LUID's text, or None."""
    try:
        return int(luid[2:4] + luid[0:2], 16)
    except (ValueError, IndexError):
        return None


class LogEntry:
    """One node of a sensor's log: an element with its values, or a comment."""

    def __init__(self, kind, name, values=None, section=""):
        self.kind = kind  # "element" or "comment"
        self.name = name  # the element's tag or the comment's text
        self.values = values  # rows of numbers, or None
        self.section = section  # the "Performing_..." element it sits in, or ""


class SensorLog:
    """One <Sensor> of a run log."""

    def __init__(self, element):
        self.type = element.get("Type", "?")
        self.luid = element.get("LUID", "")
        self.unit = element.get("SamplingUnit", "").replace("__", "/")
        self.primary = element.get("IsPrimary", "true") == "true"
        self.success = element.get("Success") == "true"
        self.failure = element.get("FailureParameter", "")
        self.failure_reason = element.get("FailureReason", "")
        self.entries = []
        self.matrices = {}
        self._walk(element, "")
        self.multipliers = []
        for m in element.findall("Multiplier"):
            try:
                self.multipliers.append(
                    (float(m.get("ExpectedAverage")), float(m.get("MeasuredAverage")), float(m.find("Values").text))
                )
            except (TypeError, ValueError, AttributeError):
                pass

    def _walk(self, element, section):
        for child in element:
            if child.tag is ET.Comment:
                self.entries.append(LogEntry("comment", (child.text or "").strip(), section=section))
                continue
            values = child.find("Values")
            if values is not None:
                try:
                    rows = parse_matrix(values.text or "")
                except ValueError:
                    rows = None
                self.entries.append(LogEntry("element", child.tag, rows, section))
                if rows is not None and child.tag not in self.matrices and not section:
                    self.matrices[child.tag] = rows
            elif child.tag.startswith("Performing_"):
                self._walk(child, child.tag[len("Performing_"):])
            elif len(child):
                self._walk(child, section)

    @property
    def name(self):
        return self.type if self.primary else self.type + "_2"

    def matrix(self, tag):
        return self.matrices.get(tag)

    def value(self, tag):
        """A logged single number, or None."""
        m = self.matrices.get(tag)
        return m[0][0] if m and m[0] else None


class RunLog:
    """A run log: its kind of run, date, version and sensors."""

    def __init__(self, path):
        self.path = path
        self.name = os.path.basename(path)
        root = read_xml(path)
        if root.tag != "Log":
            raise FileProblem(f"{self.name}: not a run log (its root is <{root.tag}>, not <Log>)")
        self.kind = root.get("Type", "")
        self.date = root.get("Date", "")
        self.version = root.get("Version", "")
        self.sensors = [SensorLog(e) for e in root.findall("Sensor")]

    def iso_time(self):
        """The log's date ("2026-3-7. 9:5") as "2026-03-07T09:05", or ""."""
        m = re.match(r"\s*(\d+)-(\d+)-(\d+)\.\s*(\d+):(\d+)", self.date)
        if not m:
            return ""
        y, mo, d, h, mi = (int(x) for x in m.groups())
        return f"{y:04d}-{mo:02d}-{d:02d}T{h:02d}:{mi:02d}"


class CalibrationFile:
    """A calibration XML file ("currentCalibration.xml", "resultCalibration.xml"):
    its records by LUID, each the record's fields as the file names them."""

    def __init__(self, path):
        self.name = os.path.basename(path)
        root = read_xml(path)
        if root.tag != "TSY":
            raise FileProblem(f"{self.name}: not a calibration file (its root is <{root.tag}>, not <TSY>)")
        self.records = {}
        for sensor in root.iter("Sensor"):
            try:
                luid = luid_text(*(int(sensor.get(k, "x"), 0) for k in
                                   ("SensorTypeId", "VendorId", "SubTypeId", "InstanceId", "Flags")))
            except ValueError:
                raise FileProblem(f"{self.name}: a sensor without a valid identity") from None
            data = sensor.find("CalibrationData")
            fields = {}
            if data is not None:
                for key, value in data.attrib.items():
                    fields[key] = value
                for node in data.iter():
                    if node is data or len(node):
                        continue
                    text = (node.text or "").strip()
                    if text:
                        fields[node.tag] = text
                    for key, value in node.attrib.items():
                        fields[f"{node.tag}.{key}"] = value
            self.records[luid] = fields


class RunEnd:
    """How a run that did not pass ended ("runEnd.xml"): failed or
    interrupted, when, in which step, of which sensors, and why."""

    def __init__(self, path):
        self.name = os.path.basename(path)
        root = read_xml(path)
        if root.tag != "RunEnd":
            raise FileProblem(f"{self.name}: not a run's end (its root is <{root.tag}>, not <RunEnd>)")
        self.verdict = root.get("Verdict", "")
        if self.verdict not in ("failed", "interrupted"):
            raise FileProblem(f"{self.name}: a verdict of no meaning ({self.verdict!r})")
        self.time = root.get("Time", "")
        self.version = root.get("Version", "")
        self.kind = root.get("Type", "")
        step = root.get("Step", "")
        self.step = int(step) if step.isdigit() else None
        self.sensors = [(e.get("Name", ""), e.get("Luid", "").lower()) for e in root.findall("Sensor")]
        reason = root.find("Reason")
        self.reason = " ".join((reason.text or "").split()) if reason is not None else ""

    def iso_time(self):
        """The time to the minute, as the run log's: "2026-12-09T15:09"."""
        m = re.match(r"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2})", self.time)
        return m.group(1) if m else ""


def read_error_log(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read(1 << 20).strip()
    except OSError as e:
        raise FileProblem(f"{os.path.basename(path)}: cannot be read ({e.strerror})") from None


class Dump:
    """One sensor's data dump: time (s) and the columns of its values."""

    def __init__(self, path):
        import numpy as np

        self.path = path
        self.name = os.path.basename(path)[len(DUMP_PREFIX): -len(".csv")]
        header = None
        rows = []
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    line = line.strip()
                    if not line or line.startswith("#") or line.startswith("LUID=") or line.startswith("HINGE="):
                        continue
                    if header is None:
                        header = line.split(",")
                        if not header[0].lower().startswith("time"):
                            raise FileProblem(f"{os.path.basename(path)}: no header line (time[ms],...)")
                        continue
                    fields = line.split(",")
                    if len(fields) != len(header):
                        continue
                    try:
                        rows.append([float(v) for v in fields])
                    except ValueError:
                        raise FileProblem(f"{os.path.basename(path)}: line {number} is not numbers") from None
        except OSError as e:
            raise FileProblem(f"{os.path.basename(path)}: cannot be read ({e.strerror})") from None
        if header is None or not rows:
            raise FileProblem(f"{os.path.basename(path)}: holds no samples")
        data = np.array(rows, dtype=float)
        self.columns = header[1:]
        self.time = data[:, 0] / 1000.0
        self.values = data[:, 1:]
        unit = re.search(r"\[(.*)\]", header[1])
        self.unit = unit.group(1).replace("__", "/") if unit else ""


class Folder:
    """What a run's folder holds, and what of it could not be used. The dumps
    are read only when asked for (with_dumps): the run record needs none."""

    def __init__(self, path, with_dumps=True):
        if not os.path.isdir(path):
            raise ReportError(f"{path}: no such folder")
        self.path = path
        self.problems = []
        self.missing = []
        logs = [self.read(name, RunLog) for name in LOG_NAMES]
        any_log = any(os.path.exists(os.path.join(path, name)) for name in LOG_NAMES)
        self.logs = [log for log in logs if log is not None]
        self.result = self.read(RESULT_NAME, CalibrationFile)
        self.current = self.read(CURRENT_NAME, CalibrationFile)
        self.error_text = self.read(ERROR_NAME, read_error_log)
        self.run_end = self.read(RUN_END_NAME, RunEnd)
        self.dump_names = sorted(n for n in os.listdir(path) if n.startswith(DUMP_PREFIX) and n.endswith(".csv"))
        self.dumps = {}
        if with_dumps:
            for name in self.dump_names:
                dump = self.read(name, Dump)
                if dump is not None:
                    self.dumps[dump.name] = dump
        if not any_log:
            self.missing.append("the run log (" + ", ".join(f'"{n}"' for n in LOG_NAMES) + ")")
        if not self.dump_names:
            self.missing.append('the data dumps ("dataDump<Sensor>.csv"): an offline run does not export them')
        if not self.logs and not self.dump_names and self.result is None and self.error_text is None \
                and self.current is None and self.run_end is None and not self.problems:
            raise ReportError(f"{path}: none of a run's files are here (" + ", ".join(LOG_NAMES) + ", "
                              f"{RESULT_NAME}, {ERROR_NAME}, {RUN_END_NAME}, {DUMP_PREFIX}*.csv)")

    def read(self, name, reader):
        """What reader makes of the folder's file, None when it is absent;
        a file that cannot be used is noted among the problems."""
        p = os.path.join(self.path, name)
        if not os.path.exists(p):
            return None
        try:
            return reader(p)
        except FileProblem as e:
            self.problems.append(str(e))
            return None

    def sensors(self):
        found = [s for log in self.logs for s in log.sensors]
        return sorted(found, key=lambda s: SENSOR_ORDER.index(s.name) if s.name in SENSOR_ORDER else 99)

    def log(self):
        """The run's log (the first one found), or None."""
        return self.logs[0] if self.logs else None
