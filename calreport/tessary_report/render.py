"""The report of one run: one self-contained HTML page with the verdict, every
check with its value, limit and margin, the records before and after in
physical units, and plots of the data (PNG, inline)."""

import base64
import html
import io
import os
import re

from .runfiles import RESULT_NAME

# Dumps above this size are drawn from every n-th row: a plot cannot show more.
MAX_PLOTTED_ROWS = 20000


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


def figure_html(fig, ident, caption, labels=None):
    """The figure as an image; a plot per step also carries its steps' labels
    (data-steps, separated by "|"), as its axis shows them."""
    import matplotlib.pyplot as plt

    buffer = io.BytesIO()
    fig.savefig(buffer, format="png", dpi=90, bbox_inches="tight")
    plt.close(fig)
    data = base64.b64encode(buffer.getvalue()).decode("ascii")
    steps = f' data-steps="{html.escape("|".join(labels))}"' if labels else ""
    return (f'<figure id="{ident}"{steps}><img alt="{html.escape(caption)}" src="data:image/png;base64,{data}">'
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


def plot_steps(title, ylabel, labels, series, reference, ident, limits=None):
    """Bars per step; reference is the expected value(s), limits the allowed
    band per step as (low, high) pairs (None where a step has none)."""
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
    extremes = []
    if limits:
        drawn = False
        for i, band in enumerate(limits):
            if band is None:
                continue
            low, high = band
            for y in (low, high):
                if y is not None:
                    ax.plot([i - 0.45, i + 0.45], [y, y], color="tab:red", linewidth=2,
                            label=None if drawn else "limit")
                    drawn = True
                    extremes.append(y)
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
    if extremes:
        low, high = min(low, min(extremes)), max(high, max(extremes))
    pad = max((high - low) * 0.4, abs(high) * 0.02, 1e-6)
    # Close to the values when they are far from zero; never below zero for
    # values that are all positive.
    bottom = low - pad if low - pad > 0 else (0 if low >= 0 else low - pad)
    ax.set_ylim(bottom, high + pad)
    fig.tight_layout()
    return figure_html(fig, ident, title, labels)


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


def table(rows, header=None, ident=None, classes=None):
    out = [f'<table id="{ident}">' if ident else "<table>"]
    if header:
        out.append("<tr>" + "".join(f"<th>{html.escape(str(h))}</th>" for h in header) + "</tr>")
    for n, row in enumerate(rows):
        cls = f' class="{classes[n]}"' if classes and classes[n] else ""
        out.append(f"<tr{cls}>" + "".join(f"<td>{html.escape(str(c))}</td>" for c in row) + "</tr>")
    out.append("</table>")
    return "\n".join(out)


def matrix_html(m, fmt="{:.6f}"):
    if m is None:
        return "<i>none</i>"
    rows = "".join("<tr>" + "".join(f"<td>{fmt.format(v)}</td>" for v in row) + "</tr>" for row in m)
    return f'<table class="matrix">{rows}</table>'


def records_html(sensor):
    """The records before and after, in the sensor's unit, matrices as matrices."""
    if sensor.before is None and sensor.after is None:
        return ""
    unit = (sensor.after or sensor.before)["unit"]
    rows = []
    for label, key, fmt in (("offset [" + unit + "]", "offset", "{:.6g}"), ("scale", "scale", "{:.6f}"),
                            ("axis mapping", "axis_mapping", "{:.0f}")):
        cells = []
        for side, record in (("before", sensor.before), ("after", sensor.after)):
            if record is None:
                cells.append(f'<td class="{side}" data-values=""><i>none</i></td>')
                continue
            rows_of = [record["offset"]] if key == "offset" else record[key]
            # The numbers in full, for whoever reads the page by machine.
            values = " ".join(repr(float(v)) for row in rows_of for v in row)
            cells.append(f'<td class="{side}" data-values="{values}">{matrix_html(rows_of, fmt)}</td>')
        rows.append(f"<tr><th>{html.escape(label)}</th>{cells[0]}{cells[1]}</tr>")
    return ('<table class="records"><tr><th>record</th><th>before (the device\'s)</th><th>after (calculated)</th>'
            "</tr>" + "".join(rows) + "</table>")


def number(v):
    return "" if v is None else f"{v:.6g}"


def checks_html(sensor):
    if not sensor.checks:
        return ""
    rows, classes = [], []
    for c in sensor.checks:
        limit = number(c.limit) if c.low is None else f"{number(c.low)} to {number(c.limit)}"
        rows.append((c.name, number(c.value), limit, c.unit, number(c.margin), c.verdict.upper()))
        classes.append(c.verdict)
    return table(rows, ("check", "value", "limit", "unit", "margin", "verdict"), f"checks-{sensor.name}", classes)


def family(name):
    """A check's name without its step: the checks of one kind over the steps."""
    return re.sub(r"step \d+", "step", name)


def step_plots(sensor, figures):
    """Per kind of check, its value at each step against its limit."""
    parts = []
    groups = {}
    for c in sensor.checks:
        if c.step is not None and c.value is not None:
            groups.setdefault(family(c.name), []).append(c)
    for n, (name, group) in enumerate(groups.items()):
        if len(group) < 2:
            continue
        ident = f"plot-checks-{sensor.name}-{n + 1}"
        labels = [f"step {c.step}" for c in group]
        values = [c.value for c in group]
        limits = [(c.low, c.limit) if c.limit is not None else None for c in group]
        unit = group[0].unit
        parts.append(plot_steps(f"{name}: value per step against its limit", unit or "value", labels,
                                [("measured", values)], None, ident, limits))
        figures.append(ident)
    return parts


def console_steps(sensor, folder, count):
    """The labels of a sensor's steps as the console numbers them: the full
    flow's holds are its odd steps and its turns its even ones (Z, Y, X); the
    four-steps flow's turns end in steps 2 to 4 (Y, Z, X); the accelerometer
    alone holds its four positions in steps 1 to 4."""
    full = sensor.kind == "NewMotionFull"
    turns = sensor.type == "Gyroscope"
    if full:
        others = {s.type for log in folder.logs for s in log.sensors}
        seven = turns or bool(others & {"Gyroscope", "Magnetometer"})
        if turns:
            return [f"step {2 * i + 2}, {'ZYX'[i]}" if i < 3 else f"step {2 * i + 2}" for i in range(count)]
        if seven:
            return [f"step {2 * i + 1}" for i in range(count)]
    if sensor.kind == "Motion4Steps" and turns:
        return [f"step {i + 2}, {'YZX'[i]}" if i < 3 else f"step {i + 2}" for i in range(count)]
    return [f"step {i + 1}" for i in range(count)]


def sensor_section(folder, sensor, figures, facts):
    import numpy as np

    log = sensor.log
    parts = [f'<h2 id="sensor-{html.escape(sensor.name)}">{html.escape(sensor.name)}</h2>']
    state = "FAILED" if sensor.failed else "passed"
    parts.append(f"<p>LUID {html.escape(sensor.luid)}, unit {html.escape(log.unit or '?')}: <b>{state}</b>"
                 + (f" (failure parameter: {html.escape(log.failure)})" if log.failure else "")
                 + (f"<br>{html.escape(log.failure_reason)}" if log.failure_reason else "") + "</p>")
    parts.append(records_html(sensor))
    if log.multipliers:
        parts.append(table([(f"{e:g}", f"{m:.3f}", f"{k:.6f}") for e, m, k in log.multipliers],
                           ("reference lux", "measured", "multiplier")))
    parts.append(checks_html(sensor))

    averages, expected, calibrated = (log.matrix(t) for t in ("Averages", "ExpectedAverages", "CalibratedAverages"))
    steps = None
    if averages and calibrated and len(averages) == len(calibrated):
        steps = console_steps(sensor, folder, len(averages))
        before = [float(np.linalg.norm(r)) for r in averages]
        after = [float(np.linalg.norm(r)) for r in calibrated]
        reference = [float(np.linalg.norm(r)) for r in expected] if expected and len(expected) == len(steps) else None
    if log.type == "Accelerometer" and steps:
        ident = f"plot-acc-norm-{sensor.name}"
        parts.append(plot_steps(f"{sensor.name}: norm of the mean per step", "norm [g]", steps,
                                [("before", before), ("after", after)], 1.0, ident))
        figures.append(ident)
        facts[f"{sensor.name} norm after"] = after
    if log.type == "Gyroscope" and steps:
        ident = "plot-gyro-turn"
        parts.append(plot_steps("Gyroscope: integrated turn per step", "turn [degrees]", steps,
                                [("before", before), ("after", after)], reference, ident))
        figures.append(ident)
        facts["gyroscope turn after"] = after
    if log.type == "AmbientLightSensor" and log.multipliers:
        ident = "plot-light"
        labels = [f"{e:g} lux" for e, _, _ in log.multipliers]
        gain = (log.matrix("AverageMultiplier") or [[1.0]])[0][0]
        measured = [m for _, m, _ in log.multipliers]
        parts.append(plot_steps("Light level per step against the reference", "lux", labels,
                                [("measured", measured), ("after calibration", [m * gain for m in measured])],
                                [e for e, _, _ in log.multipliers], ident))
        figures.append(ident)
    parts.extend(step_plots(sensor, figures))
    if log.type == "Magnetometer":
        dump = folder.dumps.get(sensor.name)
        scale, offset = log.matrix("Scale"), log.matrix("Offset")
        if dump is None:
            parts.append("<p class=missing>No magnetometer dump here: the samples cannot be shown.</p>")
        elif dump.values.shape[1] < 3:
            raise ValueError(f"its dump has {dump.values.shape[1]} value columns, not 3")
        elif scale is None or offset is None:
            parts.append("<p class=missing>The log holds no calculated record: the samples are shown raw only.</p>")
        else:
            fixed = corrected(dump.values[:, :3], scale, offset, log.matrix("AxisMapping"))
            strength, rms = field_fitness(fixed)
            facts["magnetometer field"] = strength
            facts["magnetometer fitness"] = rms
            parts.append(f'<p class=fitness>Fitness: the corrected field strength deviates by '
                         f'<b id="mag-fitness">{rms:.2f} mG</b> RMS from its mean of {strength:.1f} mG '
                         f"({100 * rms / strength if strength else 0:.2f} %) over {len(fixed)} samples.</p>")
            ident = "plot-mag-projections"
            parts.append(plot_magnetometer(dump.values[:, :3], fixed, strength, ident))
            figures.append(ident)
    return "\n".join(p for p in parts if p)


STYLE = """
body { font-family: sans-serif; margin: 2em; max-width: 1300px; color: #222; }
.verdict { font-size: 1.6em; padding: 0.4em 0.8em; border-radius: 6px; display: inline-block; }
.PASSED { background: #d8f5d8; } .FAILED { background: #f8d4d4; } .UNKNOWN { background: #eee; }
table { border-collapse: collapse; margin: 0.8em 0; } td, th { border: 1px solid #bbb; padding: 3px 8px; font-size: 0.9em; }
th { background: #f0f0f0; } figure { margin: 1em 0; } figcaption { font-size: 0.85em; color: #555; }
table.matrix td { border: none; padding: 0 6px; text-align: right; font-family: monospace; }
tr.failed td { background: #f8d4d4; } tr.warning td { background: #fdf0c8; }
.missing, .problem { color: #a33; }
"""


def build_report(folder, summary):
    """(html text, facts, figure ids)"""
    verdict, reasons = summary.verdict, summary.reasons
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
    for sensor in summary.sensors:
        try:
            body.append(sensor_section(folder, sensor, figures, facts))
        except (ValueError, IndexError, TypeError, ArithmeticError) as e:
            # A log whose figures do not fit together (a record of the wrong
            # shape, a dump of the wrong width) still leaves the rest.
            problem = f"{sensor.name}: its figures cannot be shown ({e})"
            folder.problems.append(problem)
            body.append(f"<h2>{html.escape(sensor.name)}</h2><p class=problem>{html.escape(problem)}</p>")
    if folder.result is not None and not folder.result.records:
        body.append(f"<h2>{RESULT_NAME}</h2><p>No sensor in it.</p>")
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
