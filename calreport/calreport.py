#!/usr/bin/python3
"""calreport: one self-contained HTML page about a finished sensortrim run.

    calreport FOLDER [-o REPORT]

FOLDER is a run's export folder (-ExportAllFiles): the run log ("AGMLogFile.xml",
"AlsLogFile.xml", "LogFile.xml", ...), "resultCalibration.xml", "error.log" and the
data dumps ("dataDump<Sensor>.csv"). The report (default FOLDER/calibration-report.html)
gives the verdict and every failure reason first, then per sensor the record
before and after the calibration, and plots of the data. Whatever is missing is
named in the report; a file that cannot be read is named with its reason.
Nothing of the folder is changed but the report itself.
Exit status: 0 when the report was written, 1 when it could not be.
"""

import argparse
import base64
import html
import io
import math
import os
import re
import sys
import xml.etree.ElementTree as ET

LOG_NAMES = ("AGMLogFile.xml", "AlsLogFile.xml", "LogFile.xml")
RESULT_NAME = "resultCalibration.xml"
ERROR_NAME = "error.log"
DUMP_PREFIX = "dataDump"
SENSOR_ORDER = ("Accelerometer", "Accelerometer_2", "Gyroscope", "Magnetometer", "AmbientLightSensor")
# Dumps above this size are drawn from every n-th row: a plot cannot show more.
MAX_PLOTTED_ROWS = 20000


class ReportError(Exception):
    """A reason the report cannot be written at all."""


class FileProblem(Exception):
    """A file of the folder that cannot be used; the report names it and goes on."""


# ---------------------------------------------------------------- reading


def parse_matrix(text):
    """'a,b,c;d,e,f;' -> [[a, b, c], [d, e, f]]"""
    rows = []
    for row in text.strip().split(";"):
        row = row.strip()
        if row:
            rows.append([float(v) for v in row.split(",") if v.strip()])
    return rows


class SensorLog:
    """One <Sensor> of a run log."""

    def __init__(self, element):
        self.type = element.get("Type", "?")
        self.luid = element.get("LUID", "")
        self.unit = element.get("SamplingUnit", "").replace("__", "/")
        self.primary = element.get("IsPrimary", "true") == "true"
        self.success = element.get("Success") == "true"
        self.failure = element.get("FailureParameter", "")
        self.matrices = {}
        for child in element:
            values = child.find("Values")
            if values is not None and values.text and child.tag not in self.matrices:
                try:
                    self.matrices[child.tag] = parse_matrix(values.text)
                except ValueError:
                    pass
        self.multipliers = []
        for m in element.findall("Multiplier"):
            try:
                self.multipliers.append(
                    (float(m.get("ExpectedAverage")), float(m.get("MeasuredAverage")), float(m.find("Values").text))
                )
            except (TypeError, ValueError, AttributeError):
                pass
        # The verdicts of the tests, as the log's comments state them.
        self.checks = []
        for node in element.iter():
            if node.tag is ET.Comment:
                text = (node.text or "").strip()
                if text.endswith("PASSED") or text.endswith("FAILED"):
                    self.checks.append(text)

    @property
    def name(self):
        return self.type if self.primary else self.type + "_2"

    def matrix(self, tag):
        return self.matrices.get(tag)


class RunLog:
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


def read_xml(path):
    """The file's element tree, comments included. Parsed as plain XML 1.0,
    without namespaces: the logs' names may end in a colon ("allowed:")."""
    import xml.parsers.expat

    name = os.path.basename(path)
    try:
        # Run logs are small; a huge file is not one of ours.
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


def read_result(path):
    """resultCalibration.xml -> {sensor name: {record field: text}}"""
    root = read_xml(path)
    if root.tag != "TSY":
        raise FileProblem(f"{os.path.basename(path)}: not a calibration file (its root is <{root.tag}>, not <TSY>)")
    result = {}
    for sensor in root.findall("Sensor"):
        name = sensor.get("Name") or sensor.get("Type") or sensor.get("LUID") or "?"
        fields = {}
        for node in sensor.iter():
            if node is sensor or len(node):
                continue
            text = (node.text or "").strip()
            if text:
                fields[node.tag] = text
            for key, value in node.attrib.items():
                fields[f"{node.tag}.{key}"] = value
        result[name] = fields
    return result


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
        self.name = os.path.basename(path)[len(DUMP_PREFIX) : -len(".csv")]
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
                            raise FileProblem(f"{self.name and os.path.basename(path)}: no header line (time[ms],...)")
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
    """What a folder holds, and what of it could not be used."""

    def __init__(self, path):
        if not os.path.isdir(path):
            raise ReportError(f"{path}: no such folder")
        self.path = path
        self.problems = []
        self.missing = []
        logs = [self.read(name, RunLog) for name in LOG_NAMES]
        any_log = any(os.path.exists(os.path.join(path, name)) for name in LOG_NAMES)
        self.logs = [log for log in logs if log is not None]
        self.result = self.read(RESULT_NAME, read_result)
        self.error_text = self.read(ERROR_NAME, read_error_log)
        self.dumps = {}
        for name in sorted(os.listdir(path)):
            if name.startswith(DUMP_PREFIX) and name.endswith(".csv"):
                dump = self.read(name, Dump)
                if dump is not None:
                    self.dumps[dump.name] = dump
        if not any_log:
            self.missing.append("the run log (" + ", ".join(f'"{n}"' for n in LOG_NAMES) + ")")
        if not self.dumps:
            self.missing.append('the data dumps ("dataDump<Sensor>.csv"): an offline run does not export them')
        if not self.logs and not self.dumps and self.result is None and self.error_text is None \
                and not self.problems:
            raise ReportError(f"{path}: none of a run's files are here (" + ", ".join(LOG_NAMES) + ", "
                              f"{RESULT_NAME}, {ERROR_NAME}, {DUMP_PREFIX}*.csv)")

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

    def verdict(self):
        """('PASSED' | 'FAILED' | 'UNKNOWN', [reasons])"""
        reasons = []
        sensors = self.sensors()
        for s in sensors:
            if not s.success:
                reasons.append(f"{s.name}: failed" + (f" on {s.failure}" if s.failure else ""))
            reasons.extend(f"{s.name}: {c}" for c in s.checks if c.endswith("FAILED"))
        if self.error_text:
            reasons.extend(line for line in self.error_text.splitlines() if line.strip())
        if reasons:
            return "FAILED", reasons
        if sensors:
            return "PASSED", []
        return "UNKNOWN", []


# ---------------------------------------------------------------- numbers


def corrected(values, scale, offset, mapping=None):
    """The calibrated samples: scale * mapping * (raw - offset), as the firmware applies them."""
    import numpy as np

    m = np.array(scale, dtype=float)
    if mapping is not None:
        m = m @ np.array(mapping, dtype=float)
    return (np.asarray(values, dtype=float) - np.array(offset[0], dtype=float)) @ m.T


def field_fitness(values):
    """(field strength, RMS deviation of the sample norms from it)."""
    import numpy as np

    norms = np.linalg.norm(values, axis=1)
    strength = float(norms.mean())
    return strength, float(np.sqrt(np.mean((norms - strength) ** 2)))


def still_stretches(time, values, min_seconds=1.0):
    """The stretches where the device held still: a moving window's spread well
    below the recording's own, held for at least min_seconds."""
    import numpy as np

    n = len(time)
    if n < 10:
        return []
    rate = (n - 1) / max(time[-1] - time[0], 1e-9)
    window = max(5, int(rate * 0.5))
    if window * 2 > n:
        return []
    kernel = np.ones(window) / window
    spread = np.zeros(n - window + 1)
    for k in range(values.shape[1]):
        x = values[:, k]
        mean = np.convolve(x, kernel, mode="valid")
        mean_sq = np.convolve(x * x, kernel, mode="valid")
        spread = np.maximum(spread, np.sqrt(np.maximum(mean_sq - mean * mean, 0)))
    floor = np.percentile(spread, 10)
    still = spread <= max(4 * floor, 1e-9)
    stretches = []
    start = None
    for i, s in enumerate(np.append(still, False)):
        if s and start is None:
            start = i
        elif not s and start is not None:
            t0, t1 = time[start], time[min(i + window - 2, n - 1)]
            if t1 - t0 >= min_seconds:
                stretches.append((t0, t1))
            start = None
    return stretches


# ---------------------------------------------------------------- plots


def figure_html(fig, ident, caption):
    import matplotlib.pyplot as plt

    buffer = io.BytesIO()
    fig.savefig(buffer, format="png", dpi=90, bbox_inches="tight")
    plt.close(fig)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    return (f'<figure id="{ident}"><img alt="{html.escape(caption)}" src="data:image/png;base64,{data}">'
            f"<figcaption>{html.escape(caption)}</figcaption></figure>")


def plot_magnetometer(raw, fixed, strength, ident):
    import matplotlib.pyplot as plt
    import numpy as np

    fig, axes = plt.subplots(2, 3, figsize=(12, 8))
    pairs = ((0, 1, "X", "Y"), (0, 2, "X", "Z"), (1, 2, "Y", "Z"))
    angle = np.linspace(0, 2 * np.pi, 200)
    for row, (points, title) in enumerate(((raw, "before"), (fixed, "after"))):
        for col, (a, b, la, lb) in enumerate(pairs):
            ax = axes[row][col]
            ax.plot(points[:, a], points[:, b], ".", markersize=1.5, alpha=0.5)
            if row == 1:
                ax.plot(strength * np.cos(angle), strength * np.sin(angle), "r-", linewidth=1,
                        label=f"fitted sphere, {strength:.1f} mG")
                ax.legend(loc="upper right", fontsize=7)
            ax.set_xlabel(f"{la} [mG]")
            ax.set_ylabel(f"{lb} [mG]")
            ax.set_title(f"{la}{lb} {title} calibration")
            ax.set_aspect("equal", adjustable="datalim")
            ax.grid(True, alpha=0.3)
    fig.tight_layout()
    return figure_html(fig, ident, "Magnetometer samples before and after calibration, three projections")


def plot_steps(title, ylabel, labels, series, reference, ident):
    import matplotlib.pyplot as plt
    import numpy as np

    fig, ax = plt.subplots(figsize=(8, 4))
    x = np.arange(len(labels))
    width = 0.8 / max(len(series), 1)
    for k, (name, values) in enumerate(series):
        ax.bar(x + (k - (len(series) - 1) / 2) * width, values, width, label=name)
    if reference is not None:
        if np.ndim(reference) == 0:
            ax.axhline(reference, color="k", linestyle="--", linewidth=1, label="expected")
        else:
            ax.plot(x, reference, "k_", markersize=30, markeredgewidth=2, label="expected")
    ax.set_xticks(x)
    ax.set_xticklabels(labels)
    ax.set_ylabel(ylabel)
    ax.set_title(title)
    ax.legend(fontsize=8)
    ax.grid(True, axis="y", alpha=0.3)
    low = min(min(v) for _, v in series)
    high = max(max(v) for _, v in series)
    if reference is not None:
        low, high = min(low, np.min(reference)), max(high, np.max(reference))
    pad = max((high - low) * 0.4, abs(high) * 0.02, 1e-6)
    # Close to the values when they are far from zero; never below zero for
    # values that are all positive.
    bottom = low - pad if low - pad > 0 else (0 if low >= 0 else low - pad)
    ax.set_ylim(bottom, high + pad)
    fig.tight_layout()
    return figure_html(fig, ident, title)


def plot_trace(dump, stretches, ident):
    import matplotlib.pyplot as plt

    step = max(1, len(dump.time) // MAX_PLOTTED_ROWS)
    count = dump.values.shape[1]
    fig, axes = plt.subplots(count, 1, figsize=(12, 1.8 * count + 0.6), sharex=True, squeeze=False)
    for k in range(count):
        ax = axes[k][0]
        ax.plot(dump.time[::step], dump.values[::step, k], linewidth=0.7)
        ax.set_ylabel(dump.columns[k].replace(dump.name + "_", "").replace("__", "/"), fontsize=8)
        ax.grid(True, alpha=0.3)
        for n, (t0, t1) in enumerate(stretches):
            ax.axvspan(t0, t1, color="tab:green", alpha=0.15)
            if k == 0:
                ax.text((t0 + t1) / 2, 1.02, str(n + 1), transform=ax.get_xaxis_transform(), ha="center", fontsize=7)
    axes[-1][0].set_xlabel("time [s]")
    axes[0][0].set_title(f"{dump.name} raw trace; still stretches shaded and numbered", pad=14)
    fig.tight_layout()
    return figure_html(fig, ident, f"{dump.name} raw trace over time, detected steps shaded")


# ---------------------------------------------------------------- the page


def table(rows, header=None):
    out = ["<table>"]
    if header:
        out.append("<tr>" + "".join(f"<th>{html.escape(str(h))}</th>" for h in header) + "</tr>")
    for row in rows:
        out.append("<tr>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in row) + "</tr>")
    out.append("</table>")
    return "\n".join(out)


def matrix_text(m):
    if m is None:
        return "not in the log"
    return " ; ".join(" ".join(f"{v:.6f}" for v in row) for row in m)


def sensor_section(folder, sensor, figures, facts):
    import numpy as np

    parts = [f'<h2 id="sensor-{html.escape(sensor.name)}">{html.escape(sensor.name)}</h2>']
    state = "passed" if sensor.success and not any(c.endswith("FAILED") for c in sensor.checks) else "FAILED"
    parts.append(f"<p>LUID {html.escape(sensor.luid)}, unit {html.escape(sensor.unit or '?')}: <b>{state}</b>"
                 + (f" (failure parameter: {html.escape(sensor.failure)})" if sensor.failure else "") + "</p>")
    record_rows = [
        (what, matrix_text(sensor.matrix(before)), matrix_text(sensor.matrix(after)))
        for what, before, after in (("offset", "OriginalOffset", "Offset"), ("scale", "OriginalScaling", "Scale"),
                                    ("axis mapping", "OriginalAxisMapping", "AxisMapping"))
        if sensor.matrix(before) is not None or sensor.matrix(after) is not None
    ]
    if record_rows:
        parts.append(table(record_rows, ("record", "before (the device's)", "after (calculated)")))
    if sensor.multipliers:
        parts.append(table([(f"{e:g}", f"{m:.3f}", f"{k:.6f}") for e, m, k in sensor.multipliers],
                           ("reference lux", "measured", "multiplier")))
    if sensor.checks:
        parts.append("<ul>" + "".join(f"<li>{html.escape(c)}</li>" for c in sensor.checks) + "</ul>")

    averages, expected, calibrated = (sensor.matrix(t) for t in ("Averages", "ExpectedAverages", "CalibratedAverages"))
    steps = None
    if averages and calibrated and len(averages) == len(calibrated):
        steps = [f"step {i + 1}" for i in range(len(averages))]
        before = [float(np.linalg.norm(r)) for r in averages]
        after = [float(np.linalg.norm(r)) for r in calibrated]
        reference = [float(np.linalg.norm(r)) for r in expected] if expected and len(expected) == len(steps) else None
    if sensor.type == "Accelerometer" and steps:
        ident = f"plot-acc-norm-{sensor.name}"
        parts.append(plot_steps(f"{sensor.name}: norm of the mean per step", "norm [g]", steps,
                                [("before", before), ("after", after)], 1.0, ident))
        figures.append(ident)
        facts[f"{sensor.name} norm after"] = after
    if sensor.type == "Gyroscope" and steps:
        ident = "plot-gyro-turn"
        parts.append(plot_steps("Gyroscope: integrated turn per step", "turn [degrees]", steps,
                                [("before", before), ("after", after)], reference, ident))
        figures.append(ident)
        facts["gyroscope turn after"] = after
    if sensor.type == "AmbientLightSensor" and sensor.multipliers:
        ident = "plot-light"
        labels = [f"{e:g} lux" for e, _, _ in sensor.multipliers]
        gain = (sensor.matrix("AverageMultiplier") or [[1.0]])[0][0]
        measured = [m for _, m, _ in sensor.multipliers]
        parts.append(plot_steps("Light level per step against the reference", "lux", labels,
                                [("measured", measured), ("after calibration", [m * gain for m in measured])],
                                [e for e, _, _ in sensor.multipliers], ident))
        figures.append(ident)
    if sensor.type == "Magnetometer":
        dump = folder.dumps.get(sensor.name)
        scale, offset = sensor.matrix("Scale"), sensor.matrix("Offset")
        if dump is None:
            parts.append("<p class=missing>No magnetometer dump here: the samples cannot be shown.</p>")
        elif dump.values.shape[1] < 3:
            raise ValueError(f"its dump has {dump.values.shape[1]} value columns, not 3")
        elif scale is None or offset is None:
            parts.append("<p class=missing>The log holds no calculated record: the samples are shown raw only.</p>")
        else:
            fixed = corrected(dump.values[:, :3], scale, offset, sensor.matrix("AxisMapping"))
            strength, rms = field_fitness(fixed)
            facts["magnetometer field"] = strength
            facts["magnetometer fitness"] = rms
            parts.append(f'<p class=fitness>Fitness: the corrected field strength deviates by '
                         f'<b id="mag-fitness">{rms:.2f} mG</b> RMS from its mean of {strength:.1f} mG '
                         f"({100 * rms / strength if strength else 0:.2f} %) over {len(fixed)} samples.</p>")
            ident = "plot-mag-projections"
            parts.append(plot_magnetometer(dump.values[:, :3], fixed, strength, ident))
            figures.append(ident)
    return "\n".join(parts)


STYLE = """
body { font-family: sans-serif; margin: 2em; max-width: 1300px; color: #222; }
.verdict { font-size: 1.6em; padding: 0.4em 0.8em; border-radius: 6px; display: inline-block; }
.PASSED { background: #d8f5d8; } .FAILED { background: #f8d4d4; } .UNKNOWN { background: #eee; }
table { border-collapse: collapse; margin: 0.8em 0; } td, th { border: 1px solid #bbb; padding: 3px 8px; font-size: 0.9em; }
th { background: #f0f0f0; } figure { margin: 1em 0; } figcaption { font-size: 0.85em; color: #555; }
.missing, .problem { color: #a33; }
"""


def build_report(folder):
    """(html text, facts, figure ids)"""
    verdict, reasons = folder.verdict()
    figures, facts = [], {"verdict": verdict, "reasons": reasons}
    kinds = ", ".join(f"{log.kind} ({log.name}, {log.date}, version {log.version})" for log in folder.logs)
    body = [f"<h1>Calibration report: {html.escape(os.path.abspath(folder.path))}</h1>",
            f'<p class="verdict {verdict}" id="verdict">{verdict}</p>']
    if kinds:
        body.append(f"<p>Run: {html.escape(kinds)}</p>")
    if reasons:
        body.append('<h2>Failure reasons</h2><ul id="reasons">'
                    + "".join(f"<li>{html.escape(r)}</li>" for r in reasons) + "</ul>")
    if folder.problems or folder.missing:
        body.append('<h2>What this folder lacks</h2><ul id="missing">'
                    + "".join(f"<li class=problem>{html.escape(p)}</li>" for p in folder.problems)
                    + "".join(f"<li class=missing>Missing: {html.escape(m)}</li>" for m in folder.missing) + "</ul>")
    for sensor in folder.sensors():
        try:
            body.append(sensor_section(folder, sensor, figures, facts))
        except (ValueError, IndexError, TypeError, ArithmeticError) as e:
            # A log whose figures do not fit together (a record of the wrong
            # shape, a dump of the wrong width) still leaves the rest.
            problem = f"{sensor.name}: its figures cannot be shown ({e})"
            folder.problems.append(problem)
            body.append(f"<h2>{html.escape(sensor.name)}</h2><p class=problem>{html.escape(problem)}</p>")
    if folder.result is not None:
        rows = [(name, key, value) for name, fields in folder.result.items() for key, value in fields.items()]
        body.append(f"<h2>{RESULT_NAME}</h2>" + (table(rows, ("sensor", "field", "value")) if rows else
                                                  "<p>No sensor in it.</p>"))
    if folder.dumps:
        body.append("<h2>Raw traces</h2>")
        for name, dump in folder.dumps.items():
            # Each sensor's own steps: a turn about the vertical leaves the
            # accelerometer still while the gyroscope and magnetometer move.
            stretches = still_stretches(dump.time, dump.values)
            ident = f"plot-trace-{name}"
            body.append(plot_trace(dump, stretches, ident))
            figures.append(ident)
            facts[f"{name} still stretches"] = len(stretches)
            if len(dump.time) > MAX_PLOTTED_ROWS:
                body.append(f"<p>{html.escape(name)}: every {len(dump.time) // MAX_PLOTTED_ROWS}th of its "
                            f"{len(dump.time)} samples is drawn.</p>")
    page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Calibration report</title>"
            f"<style>{STYLE}</style></head><body>\n" + "\n".join(body) + "\n</body></html>\n")
    return page, facts, figures


def main(argv=None):
    parser = argparse.ArgumentParser(prog="calreport", description="Writes an HTML report of a sensortrim run's "
                                     "export folder.")
    parser.add_argument("folder", help="the run's export folder (-ExportAllFiles)")
    parser.add_argument("-o", "--output", help="the report file (default: FOLDER/calibration-report.html)")
    args = parser.parse_args(argv)
    try:
        import matplotlib

        matplotlib.use("Agg")
        import numpy  # noqa: F401
    except ImportError as e:
        print(f"calreport: error: {e.name} is not installed (Debian: python3-matplotlib python3-numpy)",
              file=sys.stderr)
        return 1
    output = args.output or os.path.join(args.folder, "calibration-report.html")
    try:
        folder = Folder(args.folder)
        page, facts, figures = build_report(folder)
        temporary = output + ".part"
        with open(temporary, "w", encoding="utf-8") as f:
            f.write(page)
        os.replace(temporary, output)
    except ReportError as e:
        print(f"calreport: error: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"calreport: error: cannot write {output}: {e.strerror}", file=sys.stderr)
        return 1
    print(f"{facts['verdict']}: report written to {output}")
    for reason in facts["reasons"]:
        print(f"  {reason}")
    for problem in folder.problems:
        print(f"  unusable: {problem}")
    for missing in folder.missing:
        print(f"  missing: {missing}")
    if "magnetometer fitness" in facts:
        print(f"  magnetometer fitness: {facts['magnetometer fitness']:.2f} mG RMS "
              f"(field {facts['magnetometer field']:.1f} mG)")
    print(f"  plots: {len(figures)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
