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

# The report's window when none is asked for: the days up to the store's
# latest run.
DEFAULT_DAYS = 7

# In SQL: a check's margin as a share of the room its limit gives (1 far
# inside, 0 at the limit, negative beyond; half the band of a two-sided
# limit), where it has one.
SHARE = ("c.margin / (CASE WHEN k.limit_low IS NOT NULL THEN (k.limit_high - k.limit_low) / 2 "
         "ELSE ABS(k.limit_high) END)")
HAS_SHARE = ("c.margin IS NOT NULL AND k.limit_high IS NOT NULL AND "
             "(CASE WHEN k.limit_low IS NOT NULL THEN (k.limit_high - k.limit_low) / 2 ELSE ABS(k.limit_high) END) > 0")
PASSED = "SUM(CASE WHEN r.verdict = 'passed' THEN 1 ELSE 0 END)"


def day_before(text, days):
    """The date (YYYY-MM-DD) that many days before a stored time."""
    import datetime

    try:
        day = datetime.date.fromisoformat(text[:10])
    except ValueError:
        return None
    return (day - datetime.timedelta(days=days - 1)).isoformat()


class Fleet:
    """The store's figures over a window of time: the runs made since a date
    (every run when there is none), and the first runs of the devices first
    seen since then. The database does the counting: what comes back are
    counts, sums and the few rows a table lists."""

    def __init__(self, store, since=None, days=None):
        self.store = store
        latest = store.query("SELECT MAX(at) FROM run_rows")[0][0]
        if since is not None:
            self.since, self.window = since, f"since {since}"
        elif latest is None:
            self.since, self.window = None, "every run"
        else:
            days = DEFAULT_DAYS if days is None else days
            self.since = day_before(latest, days)
            self.window = (f"the {days} days up to the latest run ({self.since} to {latest[:10]})" if self.since
                           else "every run")
        # Every run when the window has no start.
        self.since_key = self.since or ""
        self.total_runs = store.query("SELECT COUNT(*) FROM run_rows")[0][0]
        self.total_devices = store.query("SELECT COUNT(*) FROM devices")[0][0]
        self.run_count, self.device_count = store.query(
            "SELECT COUNT(*), COUNT(DISTINCT device) FROM run_rows WHERE at >= ?", (self.since_key,))[0]
        # The window's runs, kept aside in a small table of what the queries
        # over their checks need: where a check's run stands is found there
        # rather than in the store's wide rows.
        store.execute("DROP TABLE IF EXISTS window_runs")
        store.execute("CREATE TEMPORARY TABLE window_runs (id BIGINT PRIMARY KEY, station TEXT NOT NULL, "
                      "station_no INTEGER NOT NULL, at TEXT NOT NULL, verdict TEXT NOT NULL, run_type TEXT, "
                      "device TEXT NOT NULL, first INTEGER NOT NULL, last INTEGER NOT NULL)")
        self.stations = [s for (s,) in store.query(
            "SELECT DISTINCT COALESCE(station, '(none)') FROM run_rows WHERE at >= ?", (self.since_key,))]
        self.stations.sort()
        number = "CASE COALESCE(r.station, '(none)') " + " ".join(
            f"WHEN ? THEN {n}" for n in range(len(self.stations))) + " ELSE -1 END" if self.stations else "-1"
        store.execute("INSERT INTO window_runs (id, station, station_no, at, verdict, run_type, device, first, last) "
                      f"SELECT r.id, COALESCE(r.station, '(none)'), {number}, r.at, r.verdict, r.run_type, r.device, "
                      "0, 0 FROM run_rows r WHERE r.at >= ?", tuple(self.stations) + (self.since_key,))
        for end in ("first", "last"):
            store.execute(f"UPDATE window_runs SET {end} = 1 WHERE id IN "
                          f"(SELECT {end}_run FROM devices WHERE {end}_at >= ?)", (self.since_key,))
        if store.engine == "postgresql":
            store.execute("ANALYZE window_runs")
        # Where the window's runs begin among the stored ones: SQLite reads
        # each kind's check rows from there on.
        self.lo = store.query("SELECT COALESCE(MIN(id), 0) FROM window_runs")[0][0]

    def rows(self, text, *parameters):
        """A query over the window: its first parameter is the window's start."""
        return self.store.query(text, (self.since_key,) + parameters)

    def over(self, which, text, *parameters):
        """A query over the check rows of the window's runs ("all"), of the
        first runs of the devices first seen in it ("first") or of the last
        runs of the devices last seen in it ("last"). TEXT holds {checks}
        where its FROM and WHERE go (k the check's kind, c its row, w its
        run in window_runs), then what follows them; its parameters follow
        the window's.
        The kinds come first, so that SQLite reads each kind's stretch of
        the window's rows in order."""
        only = {"all": "", "first": " AND w.first = 1", "last": " AND w.last = 1"}[which]
        clause = ("FROM check_kinds k CROSS JOIN check_rows c JOIN window_runs w ON w.id = c.run "
                  f"WHERE c.kind = k.id AND c.run >= ?{only}")
        return text.format(checks=clause), (self.lo,) + parameters

    def checks(self, which, text, *parameters):
        """The rows of a query over check rows (see over)."""
        return self.store.query(*self.over(which, text, *parameters))

    # The first runs of the devices first seen in the window.
    FIRST = "FROM devices d JOIN run_rows r ON r.id = d.first_run WHERE d.first_at >= ?"

    @staticmethod
    def share(passed, total):
        return passed / total if total else None

    def yield_overall(self):
        total, passed = self.rows(f"SELECT COUNT(*), {PASSED} {self.FIRST}")[0]
        return passed or 0, total

    @staticmethod
    def pairs(rows):
        return {key: (passed or 0, total) for key, total, passed in sorted(rows, key=lambda r: r[0])}

    def per_station(self):
        return self.pairs(self.rows(f"SELECT COALESCE(r.station, '(none)'), COUNT(*), {PASSED} {self.FIRST} "
                                    "GROUP BY COALESCE(r.station, '(none)')"))

    def per_sensor(self):
        return self.pairs(self.rows("SELECT s.name, COUNT(*), SUM(CASE WHEN s.verdict = 'passed' THEN 1 ELSE 0 END) "
                                    "FROM devices d JOIN sensor_rows s ON s.run = d.first_run "
                                    "WHERE d.first_at >= ? GROUP BY s.name"))

    def kinds(self):
        """Every kind of check: {id: (sensor, name, unit, high, low, reference)}."""
        if not hasattr(self, "_kinds"):
            self._kinds = {row[0]: row[1:] for row in self.store.query(
                "SELECT id, sensor, name, unit, limit_high, limit_low, COALESCE(reference, 0) FROM check_kinds")}
        return self._kinds

    def first_sums(self):
        """Over the first runs of the devices first seen in the window, per
        kind of check and station: (kind, station, rows, rows passed, values,
        their sum and sum of squares about the kind's reference, values
        passed, the latest run)."""
        if not hasattr(self, "_first_sums"):
            rows = self.checks(
                "first", "SELECT k.id, w.station_no, COUNT(*), SUM(CASE WHEN c.verdict = 'failed' THEN 0 ELSE 1 END), "
                "COUNT(c.value), SUM(c.value - COALESCE(k.reference, 0)), "
                "SUM((c.value - COALESCE(k.reference, 0)) * (c.value - COALESCE(k.reference, 0))), "
                "SUM(CASE WHEN c.value IS NOT NULL AND c.verdict <> 'failed' THEN 1 ELSE 0 END), MAX(c.run) "
                "{checks} GROUP BY k.id, w.station_no")
            self._first_sums = [(kind, self.stations[no] if 0 <= no < len(self.stations) else "(none)", *rest)
                                for kind, no, *rest in rows]
        return self._first_sums

    def per_check(self):
        counts = defaultdict(lambda: [0, 0])
        for kind, station, rows, passed, *_ in self.first_sums():
            entry = counts[self.kinds()[kind][1]]
            entry[0] += passed
            entry[1] += rows
        return {name: tuple(v) for name, v in sorted(counts.items())}

    def nearest(self):
        """Per device last seen in the window, its last run's check nearest to
        (or beyond) its limit: the nearest devices first, (share, device,
        station, check, value, high, low, unit, margin)."""
        found, limit = [], NEAREST * 4
        while True:
            rows = self.checks("last", f"SELECT {SHARE} AS share, w.device, w.station, k.name, "
                               "c.value, k.limit_high, k.limit_low, k.unit, c.margin, c.run, c.seq "
                               f"{{checks}} AND {HAS_SHARE} ORDER BY share, w.device, c.seq LIMIT ?", limit)
            seen, found = set(), []
            for row in rows:
                if row[9] not in seen:
                    seen.add(row[9])
                    found.append(row[:9])
            # The nearest checks of a few runs may fill the first rows: more then.
            if len(found) >= NEAREST or len(rows) < limit:
                return found[:NEAREST]
            limit *= 4

    def reasons(self):
        """The most frequent failure reasons in the window, their numbers taken out."""
        counts = Counter()
        for text, runs in self.rows("SELECT reasons, COUNT(*) FROM run_rows WHERE at >= ? AND verdict <> 'passed' "
                                    "GROUP BY reasons"):
            try:
                reasons = json.loads(text)
            except ValueError:
                continue
            for reason in reasons:
                # "X: 0.12 g (limit 0.1 g, margin -0.02) FAILED" counts as "X".
                counts[re.sub(r": [-0-9.e+?]+ .*\) FAILED$", "", reason)] += runs
        return counts.most_common(10)

    def over_time(self):
        """Per day: runs, and the first-pass yield of the devices first seen that day."""
        days = OrderedDict()
        for day, runs in self.rows("SELECT SUBSTR(at, 1, 10), COUNT(*) FROM run_rows WHERE at >= ? "
                                   "GROUP BY SUBSTR(at, 1, 10)"):
            days[day or "unknown"] = [runs, 0, 0]
        for day, total, passed in self.rows(f"SELECT SUBSTR(d.first_at, 1, 10), COUNT(*), {PASSED} {self.FIRST} "
                                            "GROUP BY SUBSTR(d.first_at, 1, 10)"):
            entry = days.setdefault(day or "unknown", [0, 0, 0])
            entry[1], entry[2] = passed or 0, total
        return OrderedDict(sorted(days.items()))

    def distributions(self):
        """The checks to plot (those whose values come nearest to their
        limits), each as (name, histogram, low, high, unit). The database
        gives each kind's count, extremes, sums and closest share, then counts
        the plotted checks' bins."""
        kinds = {}
        for kind, closest, count, least, most, total, squares, latest in self.checks(
                "all", f"SELECT k.id, MIN(CASE WHEN {HAS_SHARE} THEN {SHARE} END), COUNT(c.value), MIN(c.value), "
                "MAX(c.value), SUM(c.value - COALESCE(k.reference, 0)), "
                "SUM((c.value - COALESCE(k.reference, 0)) * (c.value - COALESCE(k.reference, 0))), MAX(c.run) "
                "{checks} GROUP BY k.id"):
            _, name, unit, high, low, reference = self.kinds()[kind]
            if not count:
                continue
            entry = kinds.setdefault(name, {"kinds": [], "closest": None, "count": 0, "least": least, "most": most,
                                            "sums": spc.Sums(reference), "latest": -1})
            entry["kinds"].append(kind)
            if closest is not None and (entry["closest"] is None or closest < entry["closest"]):
                entry["closest"] = closest
            entry["count"] += count
            entry["least"], entry["most"] = min(entry["least"], least), max(entry["most"], most)
            entry["sums"].add(count, total, squares, reference)
            if latest > entry["latest"]:
                entry["latest"], entry["limits"] = latest, (low, high, unit)
        ranked = sorted(kinds, key=lambda n: (kinds[n]["closest"] if kinds[n]["closest"] is not None else 1e9, n))
        plotted = {name: kinds[name] for name in ranked[:PLOTTED_CHECKS]}
        histograms = self.histograms(plotted)
        return [(name, histograms[name]) + entry["limits"] for name, entry in plotted.items()]

    def histograms(self, plotted):
        """Per check plotted, the bulk of its values (four deviations about
        their mean, within their extremes) and its limits, in 40 bins; a few
        far outliers are counted, not drawn, so that the limits stay
        readable: {name: (edges, counts, outside)}. One query counts every
        check's bins."""
        bins = 40
        ranges = {}
        for name, entry in plotted.items():
            low, high, _ = entry["limits"]
            mean, deviation = entry["sums"].mean_and_deviation()
            lo, hi = max(entry["least"], mean - 4 * deviation), min(entry["most"], mean + 4 * deviation)
            for limit in (low, high):
                if limit is not None:
                    lo, hi = min(lo, limit), max(hi, limit)
            if not (math.isfinite(lo) and math.isfinite(hi)):
                # Values no range holds (a run that logged infinity): the limits, else a unit.
                lo, hi = (low if low is not None else 0.0), (high if high is not None else 1.0)
            pad = (hi - lo) * 0.1 or abs(hi) * 0.1 or 1.0
            ranges[name] = (lo - pad, hi + pad, (hi - lo + 2 * pad) / bins)
        found = {name: [0] * bins for name in plotted}
        of_kind = {kind: name for name, entry in plotted.items() for kind in entry["kinds"]}
        if of_kind:
            def per_kind(value):
                return "CASE k.id " + " ".join(f"WHEN {int(kind)} THEN {value(ranges[name])!r}"
                                               for kind, name in of_kind.items()) + " END"

            lo, hi, width = per_kind(lambda r: float(r[0])), per_kind(lambda r: float(r[1])), \
                per_kind(lambda r: float(r[2]))
            bin_of = self.store.floor(f"(c.value - {lo}) / {width}")
            ids = ", ".join(str(int(kind)) for kind in of_kind)
            for kind, index, n in self.checks("all", f"SELECT k.id, {bin_of} AS b, COUNT(*) {{checks}} "
                                              f"AND k.id IN ({ids}) AND c.value >= {lo} AND c.value <= {hi} "
                                              "GROUP BY k.id, 2"):
                found[of_kind[kind]][min(bins - 1, max(0, int(index)))] += n
        result = {}
        for name, counts in found.items():
            lo, hi, width = ranges[name]
            result[name] = ([lo + width * i for i in range(bins + 1)], counts, plotted[name]["count"] - sum(counts))
        return result


def percent(pair):
    passed, total = pair
    return f"{100.0 * passed / total:.1f} % ({passed} of {total})" if total else "no runs"


def plot_distribution(name, histogram, low, high, unit, ident):
    import matplotlib.pyplot as plt

    edges, counts, outside = histogram
    fig, ax = plt.subplots(figsize=(6, 3))
    ax.stairs(counts, edges, fill=True, color="tab:blue", alpha=0.8)
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
    summary = [f"window: {fleet.window}",
               f"runs: {fleet.run_count}, devices: {fleet.device_count}",
               f"first-pass yield: {percent(overall)}",
               f"all time: {fleet.total_runs} runs, {fleet.total_devices} devices"]
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
            f'<p id="window">Window: {html.escape(fleet.window)} (<code>--since DATE</code>, '
            '<code>--days N</code>); all time: '
            f'{fleet.total_runs} runs of {fleet.total_devices} devices.</p>',
            f'<p id="counts">{fleet.run_count} runs of {fleet.device_count} devices; first-pass yield of the '
            f'devices first seen in the window <b id="yield">{percent(overall)}</b></p>',
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
    nearest = fleet.nearest()
    rows = [(device, station, name, f"{value:.6g}", (f"{low:.6g} to " if low is not None else "") + f"{high:.6g}",
             unit, f"{margin:.3g}", f"{100 * share:.0f} %" if share >= 0 else "beyond")
            for share, device, station, name, value, high, low, unit, margin in nearest]
    nearest_devices = list(OrderedDict.fromkeys(r[1] for r in nearest))
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
    for n, (name, histogram, low, high, unit) in enumerate(fleet.distributions()):
        body.append(plot_distribution(name, histogram, low, high, unit, f"plot-distribution-{n + 1}"))
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
