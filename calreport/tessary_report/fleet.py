"""The fleet report: one page over every run of a station store. How many runs
and devices, the first-pass yield (the share of devices whose first run
passed) overall, per sensor, per check and per station, each figure's spread
against its limits, the devices nearest to or beyond a limit, the runs over
time and the most frequent failure reasons."""

import html
import json
import math
import re
from collections import Counter, OrderedDict, defaultdict

from . import spc
from .render import STYLE, figure_html, table

GRID = "tr.poor td { background: #fde2e1; } .grid { display: grid; grid-template-columns: repeat(auto-fill, minmax(560px, 1fr)); gap: 0.5em; }"

# How many checks get a distribution plot, and how many devices the list of
# those nearest to their limits holds.
PLOTTED_CHECKS = 12
NEAREST = 15


def relative_margin(margin, high, low):
    """The margin as a share of the room the limit gives (1 far inside, 0 at
    the limit, negative beyond), or None."""
    if margin is None or high is None:
        return None
    room = (high - low) / 2 if low is not None else abs(high)
    return margin / room if room > 0 else None


class Fleet:
    def __init__(self, store):
        runs = store.query("SELECT run_id, time, stored_at, device, station, verdict, reasons, run_type FROM runs")
        # In time order; a run without a time counts when it was stored.
        runs.sort(key=lambda r: (r[1] or r[2] or "", r[2] or ""))
        self.runs = runs
        self.devices = OrderedDict()
        for run_id, time, stored, device, station, verdict, reasons, kind in runs:
            self.devices.setdefault(device, run_id)
        self.first = set(self.devices.values())
        self.station_of = {r[0]: r[4] or "(none)" for r in runs}
        self.time_of = {r[0]: (r[1] or r[2] or "")[:10] for r in runs}
        self.device_of = {r[0]: r[3] for r in runs}
        self.verdict_of = {r[0]: r[5] for r in runs}
        self.reasons_of = {r[0]: r[6] for r in runs}
        self.sensor_rows = store.query("SELECT run_id, name, verdict FROM sensors")
        self.check_rows = store.query("SELECT run_id, sensor, name, value, limit_high, limit_low, unit, margin, "
                                      "verdict FROM checks")

    @staticmethod
    def share(passed, total):
        return passed / total if total else None

    def yield_overall(self):
        passed = sum(1 for r in self.first if self.verdict_of[r] == "passed")
        return passed, len(self.first)

    def yield_by(self, rows, key, verdict):
        """First-pass yield by a key of rows of first runs: {key: (passed, total)}."""
        counts = defaultdict(lambda: [0, 0])
        for row in rows:
            if row[0] not in self.first:
                continue
            counts[key(row)][1] += 1
            if verdict(row) == "passed":
                counts[key(row)][0] += 1
        return {k: tuple(v) for k, v in sorted(counts.items())}

    def per_station(self):
        return self.yield_by([(r,) for r in self.first], lambda row: self.station_of[row[0]],
                             lambda row: self.verdict_of[row[0]])

    def per_sensor(self):
        return self.yield_by(self.sensor_rows, lambda row: row[1], lambda row: row[2])

    def per_check(self):
        return self.yield_by(self.check_rows, lambda row: row[2], lambda row: "failed" if row[8] == "failed"
                             else "passed")

    def nearest(self):
        """Per device, its last run's check nearest to (or beyond) its limit."""
        last = {}
        for run_id, *_ in self.runs:
            last[self.device_of[run_id]] = run_id
        latest = set(last.values())
        best = {}
        for run_id, sensor, name, value, high, low, unit, margin, verdict in self.check_rows:
            if run_id not in latest:
                continue
            share = relative_margin(margin, high, low)
            if share is None:
                continue
            if run_id not in best or share < best[run_id][0]:
                best[run_id] = (share, name, value, high, low, unit, margin)
        rows = sorted(((v[0], run_id) + v[1:] for run_id, v in best.items()), key=lambda r: r[0])
        return rows[:NEAREST]

    def reasons(self):
        """The most frequent failure reasons, their numbers taken out."""
        counts = Counter()
        for run_id, *_ in self.runs:
            if self.verdict_of[run_id] == "passed":
                continue
            try:
                reasons = json.loads(self.reasons_of[run_id])
            except ValueError:
                continue
            for reason in reasons:
                # "X: 0.12 g (limit 0.1 g, margin -0.02) FAILED" counts as "X".
                text = re.sub(r": [-0-9.e+?]+ .*\) FAILED$", "", reason)
                counts[text] += 1
        return counts.most_common(10)

    def over_time(self):
        """Per day: runs, and the first-pass yield of the devices first seen that day."""
        days = OrderedDict()
        for run_id, *_ in self.runs:
            day = self.time_of[run_id] or "unknown"
            entry = days.setdefault(day, [0, 0, 0])
            entry[0] += 1
            if run_id in self.first:
                entry[2] += 1
                entry[1] += self.verdict_of[run_id] == "passed"
        return days

    def distributions(self):
        """The checks to plot (those whose values come nearest to their limits),
        each with its values, limits and unit."""
        values = defaultdict(list)
        limits = {}
        closeness = defaultdict(list)
        for run_id, sensor, name, value, high, low, unit, margin, verdict in self.check_rows:
            if value is None:
                continue
            values[name].append(value)
            limits[name] = (low, high, unit)
            share = relative_margin(margin, high, low)
            if share is not None:
                closeness[name].append(share)
        ranked = sorted(values, key=lambda n: min(closeness[n]) if closeness[n] else 1e9)
        return [(name, values[name]) + limits[name] for name in ranked[:PLOTTED_CHECKS]]


def percent(pair):
    passed, total = pair
    return f"{100.0 * passed / total:.1f} % ({passed} of {total})" if total else "no runs"


def plot_distribution(name, values, low, high, unit, ident):
    import matplotlib.pyplot as plt
    import numpy as np

    data = np.array(values, dtype=float)
    # The bulk of the values and the limits; a few far outliers are counted,
    # not drawn, so that the limits stay readable.
    lo, hi = np.percentile(data, [1, 99])
    for limit in (low, high):
        if limit is not None:
            lo, hi = min(lo, limit), max(hi, limit)
    pad = (hi - lo) * 0.1 or abs(hi) * 0.1 or 1.0
    lo, hi = lo - pad, hi + pad
    shown = data[(data >= lo) & (data <= hi)]
    outside = len(data) - len(shown)
    fig, ax = plt.subplots(figsize=(6, 3))
    ax.hist(shown, bins=min(40, max(5, len(shown) // 10)), range=(lo, hi), color="tab:blue", alpha=0.8)
    for limit, label in ((low, "lower limit"), (high, "limit")):
        if limit is not None:
            ax.axvline(limit, color="tab:red", linewidth=2, label=label)
    ax.set_title(name + (f" ({outside} runs beyond the range drawn)" if outside else ""), fontsize=9)
    ax.set_xlabel(unit or "value")
    ax.set_ylabel("runs")
    ax.legend(fontsize=7)
    ax.grid(True, alpha=0.3)
    fig.tight_layout()
    return figure_html(fig, ident, f"{name}: values of every run against the limits")


def plot_over_time(days, ident):
    import matplotlib.pyplot as plt

    labels = list(days)
    fig, ax = plt.subplots(figsize=(8, 3))
    ax.bar(range(len(labels)), [d[0] for d in days.values()], color="tab:blue", label="runs")
    ax.set_ylabel("runs")
    twin = ax.twinx()
    yields = [100.0 * d[1] / d[2] if d[2] else float("nan") for d in days.values()]
    twin.plot(range(len(labels)), yields, "o-", color="tab:green", label="first-pass yield")
    twin.set_ylim(0, 105)
    twin.set_ylabel("first-pass yield [%]")
    ax.set_xticks(range(len(labels)))
    ax.set_xticklabels(labels, rotation=45, ha="right", fontsize=7)
    ax.set_title("Runs per day and the first-pass yield of the devices first seen that day")
    fig.tight_layout()
    return figure_html(fig, ident, "Runs over time")


def plot_control_chart(alarm, ident):
    """A drift alarm's control chart: the station's runs in time order, the
    mean and 3-sigma limits of its reference runs, the drift marked."""
    import matplotlib.pyplot as plt
    from matplotlib.ticker import MaxNLocator

    values = [v for _, v in alarm.points]
    fig, ax = plt.subplots(figsize=(8, 3))
    ax.axvspan(-0.5, spc.REFERENCE_RUNS - 0.5, color="0.92", label="reference runs")
    ax.plot(range(len(values)), values, "o-", color="tab:blue", markersize=3, linewidth=1, label="runs")
    ax.plot(range(alarm.index, len(values)), values[alarm.index:], "o", color="tab:red", markersize=4,
            label=f"since {alarm.since}")
    ax.axhline(alarm.mean, color="black", linewidth=1, label="mean")
    for side in (-3, 3):
        ax.axhline(alarm.mean + side * alarm.deviation, color="tab:red", linestyle="--", linewidth=1,
                   label="3 sigma" if side > 0 else None)
    ax.set_title(f"station {alarm.station}: {alarm.figure}", fontsize=9)
    ax.set_xlabel("the station's runs, in time order")
    ax.xaxis.set_major_locator(MaxNLocator(integer=True))
    ax.legend(fontsize=7, loc="upper left")
    ax.grid(True, alpha=0.3)
    fig.tight_layout()
    return figure_html(fig, ident, f"Control chart of {alarm.figure} at station {alarm.station}")


def number(value):
    if value is None:
        return ""
    if isinstance(value, float) and math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return f"{value:.4g}"


def limit_text(low, high):
    return (f"{low:.6g} to " if low is not None else "") + (f"{high:.6g}" if high is not None else "")


def capability_section(found):
    rows, classes = [], []
    for c in found:
        rows.append((c.station or "all", c.name, c.count, number(c.mean), number(c.deviation),
                     limit_text(c.low, c.high), c.unit, number(c.cpk), percent((c.passed, c.count))))
        classes.append("poor" if c.poor else "")
    return ("<h2>Capability</h2><p>Per check, over the first runs of distinct devices, overall and per station: "
            f"Cpk against today's limits (one-sided where the limit is); below {spc.CAPABLE} stands out.</p>" +
            table(rows, ("station", "check", "runs", "mean", "deviation", "limit", "unit", "Cpk", "yield today"),
                  "capability", classes))


def proposal_section(found):
    rows = [(p.key, f"{p.default:g}", percent((p.passed_today, p.runs)), f"{p.limit:g}", percent((p.passed, p.runs)),
             p.runs, number(p.mean), number(p.deviation)) for p in found]
    return ("<h2>Proposed test limits</h2><p>What the stored tests support, key by key of "
            '"TestingConfig.xml" (<code>--propose-limits FILE</code> writes them): today\'s limit and the proposed '
            "one, with the share of the stored runs each passes.</p>" +
            table(rows, ("key", "today", "passes today", "proposed", "passes proposed", "runs", "mean",
                         "deviation"), "proposals"))


def history_section(fleet, store, devices):
    out = ["<h2>Device histories</h2>"]
    for device in devices:
        out.append(f'<h3 id="history-{html.escape(device)}">{html.escape(device)}</h3>')
        rows = [(time, station, kind, verdict, "; ".join(reasons[:3]), "; ".join(changes))
                for time, station, kind, verdict, reasons, changes in spc.history(fleet, store, device)]
        out.append(table(rows, ("time", "station", "run", "verdict", "reasons", "records changed"),
                         f"history-table-{html.escape(device)}"))
    return "\n".join(out)


def history_lines(fleet, store, device):
    lines = []
    for time, station, kind, verdict, reasons, changes in spc.history(fleet, store, device):
        lines.append(f"{time}  station {station}  {kind}  {verdict}")
        lines.extend(f"    {r}" for r in reasons)
        lines.extend(f"    {c}" for c in changes)
    return lines


def report(fleet, store=None, found=None):
    """(html page, summary lines for the console)"""
    overall = fleet.yield_overall()
    stations = fleet.per_station()
    drift = spc.alarms(fleet, store) if store is not None else []
    capability = spc.capabilities(fleet)
    found = spc.proposals(fleet) if found is None else found
    summary = [f"runs: {len(fleet.runs)}, devices: {len(fleet.devices)}",
               f"first-pass yield: {percent(overall)}"]
    if len(stations) > 1:
        summary.extend(f"  station {name}: {percent(pair)}" for name, pair in stations.items())
    if drift:
        summary.append("drift alarms:")
        summary.extend(f"  {a.text()}" for a in drift)
    poor = [c for c in capability if c.station is None and c.poor]
    summary.append(f"checks below Cpk {spc.CAPABLE}: {len(poor)} of "
                   f"{sum(1 for c in capability if c.station is None)}")
    summary.extend(f"  {c.name}: Cpk {number(c.cpk)} (mean {number(c.mean)}, deviation {number(c.deviation)})"
                   for c in sorted(poor, key=lambda c: c.cpk))
    reasons = fleet.reasons()
    if reasons:
        summary.append("most frequent failure reasons:")
        summary.extend(f"  {count} x {text}" for text, count in reasons[:5])

    # The alarms and figures first, the long tables last.
    body = ["<h1>Fleet report</h1>",
            f'<p id="counts">{len(fleet.runs)} runs of {len(fleet.devices)} devices; first-pass yield '
            f'<b id="yield">{percent(overall)}</b></p>',
            '<h2>Drift alarms</h2><ul id="alarms">' +
            ("".join(f"<li>{html.escape(a.text())}</li>" for a in drift) if drift else
             "<li>None: every station's figures hold to their reference runs.</li>") + "</ul>"]
    if drift:
        body.append('<div class="grid">' + "".join(plot_control_chart(a, f"plot-drift-{n + 1}")
                                                   for n, a in enumerate(drift[:PLOTTED_CHECKS])) + "</div>")
    if len(stations) > 1:
        body.append("<h2>Per station</h2>" + table([(k, percent(v)) for k, v in stations.items()],
                                                   ("station", "first-pass yield"), "per-station"))
    body.append("<h2>Per sensor</h2>" + table([(k, percent(v)) for k, v in fleet.per_sensor().items()],
                                              ("sensor", "first-pass yield"), "per-sensor"))
    days = fleet.over_time()
    if days:
        body.append("<h2>Runs over time</h2>" + plot_over_time(days, "plot-over-time"))
    body.append("<h2>Most frequent failure reasons</h2>" +
                (table([(count, text) for text, count in reasons], ("runs", "reason"), "reasons")
                 if reasons else "<p>None: every run passed.</p>"))
    rows = [(fleet.device_of[r[1]], fleet.station_of[r[1]], r[2], f"{r[3]:.6g}",
             (f"{r[5]:.6g} to " if r[5] is not None else "") + f"{r[4]:.6g}", r[6], f"{r[7]:.3g}",
             f"{100 * r[0]:.0f} %" if r[0] >= 0 else "beyond") for r in fleet.nearest()]
    nearest_devices = list(OrderedDict.fromkeys(fleet.device_of[r[1]] for r in fleet.nearest()))
    body.append("<h2>Devices nearest to or beyond a limit</h2>" +
                table(rows, ("device", "station", "check", "value", "limit", "unit", "margin",
                             "room left"), "nearest") +
                '<p id="histories">Histories: ' +
                ", ".join(f'<a href="#history-{html.escape(d)}">{html.escape(d)}</a>' for d in nearest_devices) +
                "</p>")
    body.append(capability_section(capability))
    if found:
        body.append(proposal_section(found))
    body.append('<h2>Distributions</h2><p>The checks whose values come nearest to their limits.</p><div class="grid">')
    for n, (name, values, low, high, unit) in enumerate(fleet.distributions()):
        body.append(plot_distribution(name, values, low, high, unit, f"plot-distribution-{n + 1}"))
    body.append("</div>")
    # The checks that fail most first.
    checks = sorted(fleet.per_check().items(), key=lambda kv: (kv[1][0] / kv[1][1] if kv[1][1] else 1, kv[0]))
    body.append("<h2>Per check</h2><p>Each check's first-pass yield, the lowest first.</p>" +
                table([(k, percent(v)) for k, v in checks], ("check", "first-pass yield"), "per-check"))
    if store is not None and nearest_devices:
        body.append(history_section(fleet, store, nearest_devices))
    page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Fleet report</title>"
            f"<style>{STYLE}{GRID}</style></head><body>\n" + "\n".join(body) + "\n</body></html>\n")
    return page, summary
