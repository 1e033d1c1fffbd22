"""Statistical process control over a store: how capable each check is
against its limits (Cpk), the test limits the data supports (written as a
"TestingConfig.xml" that sensortrim reads), control charts of the figures
that come near their limits per station, with the usual run rules, and a
device's history."""

import functools
import json
import math
import re
from collections import OrderedDict, defaultdict

from .store import unpacked

# Below this a check's capability stands out.
CAPABLE = 1.33

# The tests' checks by the key of "TestingConfig.xml" that sets their limit,
# with the key's built-in value and whether it is a whole number.
KEYS = (
    (r"motionless Accelerometer(_2)? step \d+ Mean value test", "acc_Threshold_G0", 0.1),
    (r"motionless Accelerometer(_2)? step \d+ Std value test", "acc_MaxNoise_G0", 0.04),
    (r"motionless Gyroscope step \d+ Mean value test", "gyr_threshold_motionless_DPS", 100.0),
    (r"motionless Gyroscope step \d+ Std value test", "gyr_MaxNoise_DPS", 0.5),
    (r"(Gyroscope TestIntegration step \d+|motion Gyroscope step \d+ gyro rotation test)", "gyr_threshold_motion_DPS",
     15.0),
    (r"Gyroscope TestCompareRotation_Gyro_Accel(_2)?( step \d+)?", "rotation_agreement_degrees_acc", 5.0),
    (r"Gyroscope TestCompareRotation_Gyro_Mag( step \d+)?", "rotation_agreement_degrees_mag", 15.0),
    (r"Magnetometer TestMagSTD step \d+", "mag_Threshold_Noise", 15.0),
    (r"Magnetometer TestStaticValues", "mag_Static_Threshold", 70.0),
    (r"Magnetometer Test(MagValues|Direction)", "mag_Threshold_angles", 15.0),
    (r"Magnetometer TestMagScale", "mag_scale_Thershold", 0.15),
)
KEY_PATTERNS = [(re.compile(f"^{pattern}$"), key, default) for pattern, key, default in KEYS]
# A key is proposed only from this many measurements.
LEAST_FOR_A_LIMIT = 10

# The figures watched for drift: the records' offsets of each sensor (after a
# calibration, per axis) and the checks that come near their limits.
DRIFT_CHECKS = re.compile(r"(field strength|white noise|Std value test|TestMagSTD)")
# The reference window of a chart: its first runs.
REFERENCE_RUNS = 12
RUN_LENGTH = 8
TREND_LENGTH = 6
# A run rule counts only for a shift the size of this many deviations, so
# that the ordinary ups and downs of a station's devices raise nothing.
MATERIAL_SHIFT = 1.5


def mean_and_deviation(values):
    n = len(values)
    if n == 0:
        return None, None
    mean = sum(values) / n
    if n < 2:
        return mean, 0.0
    return mean, math.sqrt(sum((v - mean) ** 2 for v in values) / (n - 1))


def cpk(mean, deviation, high, low):
    """Process capability against the limits (one-sided when only one is)."""
    if mean is None or deviation is None or (high is None and low is None):
        return None
    sides = []
    if high is not None:
        sides.append(high - mean)
    if low is not None:
        sides.append(mean - low)
    room = min(sides)
    if deviation == 0:
        return math.inf if room >= 0 else -math.inf
    return room / (3 * deviation)


class Capability:
    def __init__(self, station, name, unit, count, mean, deviation, high, low, passed):
        self.station = station
        self.name = name
        self.unit = unit
        self.count = count
        self.mean, self.deviation = mean, deviation
        self.high, self.low = high, low
        self.cpk = cpk(self.mean, self.deviation, high, low)
        self.passed = passed

    @property
    def poor(self):
        return self.cpk is not None and self.cpk < CAPABLE


class Sums:
    """A figure's count, sum and sum of squares about a reference value (so
    that a figure far from zero keeps its spread's digits), added up group by
    group as the database returns them."""

    def __init__(self, reference):
        self.reference = reference
        self.count = 0
        self.total = 0.0
        self.squares = 0.0

    def add(self, count, total, squares, reference):
        # The group's sums about its own reference, moved to this one.
        shift = reference - self.reference
        self.squares += squares + 2 * shift * total + count * shift * shift
        self.total += total + count * shift
        self.count += count

    def mean_and_deviation(self):
        if self.count == 0:
            return None, None
        mean = self.total / self.count
        if self.count < 2:
            return self.reference + mean, 0.0
        variance = max(0.0, (self.squares - self.total * mean) / (self.count - 1))
        return self.reference + mean, math.sqrt(variance)


def capabilities(fleet):
    """Per check, over the first runs of the devices first seen in the
    window: overall (station None) and per station. The limits are those of
    the latest run. The database sums each check's values and squares."""
    groups = OrderedDict()
    kinds = fleet.kinds()
    for kind, station, _, _, count, total, squares, passed, latest in fleet.first_sums():
        if not count:
            continue
        sensor, name, unit, high, low, reference = kinds[kind]
        for key in ((None, name), (station, name)):
            entry = groups.get(key)
            if entry is None:
                entry = groups[key] = {"sums": Sums(reference), "passed": 0, "unit": unit, "latest": -1}
            entry["sums"].add(count, total or 0.0, squares or 0.0, reference)
            entry["passed"] += passed
            if latest > entry["latest"]:
                entry["latest"], entry["limits"], entry["unit"] = latest, (high, low), unit
    result = []
    for (station, name), g in groups.items():
        mean, deviation = g["sums"].mean_and_deviation()
        result.append(Capability(station, name, g["unit"], g["sums"].count, mean, deviation, g["limits"][0],
                                 g["limits"][1], g["passed"]))
    result.sort(key=lambda c: (c.station is not None, c.station or "", c.name))
    return result


@functools.lru_cache(maxsize=None)
def key_of(name):
    for pattern, key, default in KEY_PATTERNS:
        if pattern.match(name):
            return key, default
    return None, None


class Proposal:
    def __init__(self, key, default, checks, runs, mean, deviation, limit, passed, passed_today):
        self.key = key
        self.default = default
        self.checks = checks
        self.runs = runs
        self.mean, self.deviation = mean, deviation
        self.limit = limit
        self.passed = passed
        # What today's limit passes of the same runs.
        self.passed_today = passed_today


def proposals(fleet, target_yield=None, sigma=4.0, looser=False):
    """Per key of "TestingConfig.xml" the data supports: the limit that meets
    the target. A run's figure for a key is the largest of its checks of the
    key, each taken against the key's own value (a hand-held step's threshold
    is the key's times its factor, so its value counts divided by the
    factor): the run passes a limit when its figure is within it. The default
    is the figures' mean plus sigma deviations; with a target yield, the
    smallest limit that passes that share of the stored runs. A proposal is
    never looser than the built-in value unless asked. Over the runs of the
    window; the database works out each run's figure and their order."""
    store = fleet.store
    kinds = [(kind, key_of(name)[0]) for kind, name in store.query("SELECT id, name FROM check_kinds")]
    kinds = [(kind, key) for kind, key in kinds if key is not None]
    if not kinds:
        return []
    store.execute("DROP TABLE IF EXISTS proposal_figures")
    store.execute("CREATE TEMPORARY TABLE proposal_figures (key TEXT, run BIGINT, figure DOUBLE PRECISION, "
                  "checks INTEGER)")
    # The run's own value of the key: its smallest threshold (a step that is
    # not hand-held).
    which = " ".join(f"WHEN {int(kind)} THEN '{key}'" for kind, key in kinds)
    ids = ", ".join(str(int(kind)) for kind, _ in kinds)
    store.execute(*fleet.over(
        "all", f"INSERT INTO proposal_figures (key, run, figure, checks) SELECT CASE k.id {which} END, c.run, "
        "MIN(k.limit_high) * MAX(c.value / k.limit_high), COUNT(*) {checks} "
        f"AND k.id IN ({ids}) AND c.value IS NOT NULL AND k.limit_high > 0 GROUP BY CASE k.id {which} END, c.run"))
    result = []
    defaults = OrderedDict((key, default) for _, key, default in KEY_PATTERNS)
    found = {key: rest for key, *rest in store.query(
        "SELECT key, COUNT(*), SUM(checks), SUM(figure), SUM(figure * figure) FROM proposal_figures GROUP BY key")}
    for key, default in defaults.items():
        if key not in found:
            continue
        runs, checks, total, squares = found[key]
        if runs < LEAST_FOR_A_LIMIT:
            continue
        # The spread about the built-in value, where the figures gather.
        sums = Sums(default)
        sums.add(runs, total, squares, 0.0)
        mean, deviation = sums.mean_and_deviation()
        if target_yield is not None:
            limit = order_statistic(store, key, runs, target_yield)
        else:
            limit = mean + sigma * deviation
        if not looser:
            limit = min(limit, default)
        # Rounded up, so that the runs the limit was drawn from stay within it.
        limit = round_up(limit)
        passed, passed_today = store.query(
            "SELECT SUM(CASE WHEN figure <= ? THEN 1 ELSE 0 END), SUM(CASE WHEN figure <= ? THEN 1 ELSE 0 END) "
            "FROM proposal_figures WHERE key = ?", (limit, default, key))[0]
        result.append(Proposal(key, default, checks, runs, mean, deviation, limit, passed, passed_today))
    store.execute("DROP TABLE proposal_figures")
    return result


def order_statistic(store, key, runs, share):
    """The smallest figure of the key that at least that share of the runs
    are within."""
    if store.engine == "postgresql":
        return store.query("SELECT percentile_disc(?) WITHIN GROUP (ORDER BY figure) FROM proposal_figures "
                           "WHERE key = ?", (share, key))[0][0]
    index = min(runs - 1, max(0, math.ceil(share * runs) - 1))
    return store.query("SELECT figure FROM proposal_figures WHERE key = ? ORDER BY figure LIMIT 1 OFFSET ?",
                       (key, index))[0][0]


def round_up(value, digits=4):
    if value <= 0 or not math.isfinite(value):
        return value
    scale = 10 ** (digits - 1 - math.floor(math.log10(value)))
    return math.ceil(value * scale - 1e-9) / scale


def testing_config(found):
    """The "TestingConfig.xml" of the proposals, each key with where it came from."""
    lines = ['<?xml version="1.0" encoding="utf-8" ?>',
             "<!-- Test limits proposed by calreport from the runs of a station store. Keys left out keep",
             "     their built-in values. -->",
             "<TestingConfig>"]
    for p in found:
        lines.append(f"    <!-- {p.key}: from {p.checks} checks of {p.runs} runs, the largest of each run: mean "
                     f"{p.mean:.6g}, deviation "
                     f"{p.deviation:.6g}; passes {p.passed} of {p.runs} stored runs "
                     f"({100.0 * p.passed / p.runs:.1f} %); built-in {p.default:g} passes {p.passed_today} -->")
        lines.append(f"    <{p.key}>{p.limit:g}</{p.key}>")
    lines.append("</TestingConfig>")
    return "\n".join(lines) + "\n"


class Alarm:
    def __init__(self, station, figure, rule, since, value, mean, deviation, points=(), index=None):
        self.station = station
        # The chart: the station's values of the figure in time order, and
        # where the drift begins among them.
        self.points = list(points)
        self.index = index
        self.figure = figure
        self.rule = rule
        self.since = since
        self.value = value
        self.mean = mean
        self.deviation = deviation

    def text(self):
        return (f"station {self.station}: {self.figure} {self.rule} since {self.since or 'an unknown time'} "
                f"(reference mean {self.mean:.6g}, deviation {self.deviation:.6g})")


# A drift chart holds a station's latest runs of its figure in the window.
CHART_RUNS = 200


def figures(fleet, store):
    """Per station and figure, its latest values in the window in time order:
    (time, value). The database picks each chart's latest runs."""
    series = defaultdict(list)
    calibrations = "('NewMotionFull', 'Motion4Steps', 'MotionMin')"
    for station, name, unit, at, x, y, z in fleet.rows(
            "SELECT station, name, unit, at, offset_x, offset_y, offset_z FROM ("
            "SELECT COALESCE(r.station, '(none)') AS station, s.name, s.unit, r.at, r.id, s.offset_x, s.offset_y, "
            "s.offset_z, ROW_NUMBER() OVER (PARTITION BY COALESCE(r.station, '(none)'), s.name, s.unit "
            "ORDER BY r.at DESC, r.id DESC) AS n FROM run_rows r JOIN sensor_rows s ON s.run = r.id "
            f"WHERE r.at >= ? AND r.verdict = 'passed' AND r.run_type IN {calibrations} "
            "AND s.offset_x IS NOT NULL) AS latest WHERE n <= ? ORDER BY at, id", CHART_RUNS):
        what = "centre" if name == "Magnetometer" else "offset"
        for axis, value in zip("XYZ", (x, y, z)):
            if value is not None:
                series[(station, f"{name} {what} {axis} [{unit}]")].append((at, value))
    watched = [kind for kind, name in store.query("SELECT id, name FROM check_kinds") if DRIFT_CHECKS.search(name)]
    if watched:
        kinds = ", ".join(str(int(kind)) for kind in watched)
        for station, name, unit, at, value in fleet.checks(
                "all", "SELECT station, name, unit, at, value FROM ("
                "SELECT w.station, k.name, k.unit, w.at, w.id, c.value, "
                "ROW_NUMBER() OVER (PARTITION BY w.station, k.name, k.unit "
                "ORDER BY w.at DESC, w.id DESC, c.seq DESC) AS n {checks} AND w.verdict = 'passed' "
                f"AND k.id IN ({kinds}) AND c.value IS NOT NULL) AS latest WHERE n <= ? ORDER BY at, id", CHART_RUNS):
            series[(station, f"{name} [{unit}]" if unit else name)].append((at, value))
    return dict(series)


def broken_rules(values, mean, deviation):
    """Per point after the reference window, the rule it breaks and where that
    rule's points begin: {index: (rule, first index)}."""
    broken = {}
    for i in range(REFERENCE_RUNS, len(values)):
        start = i - RUN_LENGTH + 1
        window = values[start:i + 1]
        shift = sum(window) / len(window) - mean
        steps = [b - a for a, b in zip(values[i - TREND_LENGTH + 1:i], values[i - TREND_LENGTH + 2:i + 1])]
        if abs(values[i] - mean) > 3 * deviation:
            broken[i] = (f"is beyond 3 sigma ({values[i]:.6g})", i)
        elif start >= REFERENCE_RUNS and abs(shift) > MATERIAL_SHIFT * deviation and \
                (all(v > mean for v in window) or all(v < mean for v in window)):
            broken[i] = (f"has {RUN_LENGTH} runs in a row {'above' if shift > 0 else 'below'} its mean", start)
        elif i - TREND_LENGTH + 1 >= REFERENCE_RUNS and \
                (all(d > 0 for d in steps) or all(d < 0 for d in steps)) and \
                abs(values[i] - values[i - TREND_LENGTH + 1]) > 2 * MATERIAL_SHIFT * deviation:
            broken[i] = (f"is {'rising' if steps[0] > 0 else 'falling'} for {TREND_LENGTH} runs in a row",
                         i - TREND_LENGTH + 1)
    return broken


def run_rules(points, deviation=None):
    """The drift a chart shows now: (rule, index of its beginning, mean,
    deviation), or None. The chart's mean is that of its first runs, its
    3-sigma limits those of the given deviation (else of its first runs'); an
    alarm stands while one of its latest runs breaks a rule, and dates from
    the first point of that spell (rules broken less than a run's length
    apart belong to one spell), so that one device far off long ago, the rest
    back inside, raises nothing today."""
    if len(points) < REFERENCE_RUNS + TREND_LENGTH:
        return None
    values = [v for _, v in points]
    mean, own = mean_and_deviation(values[:REFERENCE_RUNS])
    deviation = deviation or own
    if not deviation:
        return None
    broken = broken_rules(values, mean, deviation)
    if not broken:
        return None
    last = max(broken)
    if last < len(values) - RUN_LENGTH:
        return None
    first = last
    for i in sorted(broken, reverse=True):
        if first - i >= RUN_LENGTH:
            break
        first = i
    return (broken[last][0], min(broken[i][1] for i in broken if first <= i <= last), mean, deviation)


def pooled_deviations(series):
    """Per figure, the deviation of its stations' reference runs about each
    station's own mean: how much devices differ, the same wherever they are
    made, and from more runs than one station's reference holds."""
    sums = defaultdict(lambda: [0.0, 0])
    for (station, figure), points in series.items():
        if len(points) < REFERENCE_RUNS:
            continue
        reference = [v for _, v in points[:REFERENCE_RUNS]]
        mean, deviation = mean_and_deviation(reference)
        sums[figure][0] += deviation ** 2 * (len(reference) - 1)
        sums[figure][1] += len(reference) - 1
    return {figure: math.sqrt(total / n) for figure, (total, n) in sums.items() if n}


def alarms(fleet, store):
    series = figures(fleet, store)
    pooled = pooled_deviations(series)
    found = []
    for (station, figure), points in sorted(series.items()):
        broken = run_rules(points, pooled.get(figure))
        if broken:
            rule, index, mean, deviation = broken
            found.append(Alarm(station, figure, rule, points[index][0], points[index][1], mean, deviation, points,
                               index))
    return found


def history(fleet, store, device):
    """A device's runs in time order, and how its records changed between
    calibrations: [(time, station, run type, verdict, reasons, changes)]. The
    device is found by its --device-id, else by one of its sensors' LUIDs."""
    runs = store.query("SELECT id, at, station, run_type, verdict, reasons FROM run_rows WHERE device = ? "
                       "ORDER BY at, id", (device,))
    if not runs:
        runs = store.query("SELECT id, at, station, run_type, verdict, reasons FROM run_rows WHERE device_id IS NULL "
                           "AND (',' || luids || ',') LIKE ? ORDER BY at, id", (f"%,{device},%",))
    found = defaultdict(list)
    if runs:
        ids = ", ".join(str(int(r[0])) for r in runs)
        for run, name, unit, x, y, z, correction in store.query(
                "SELECT run, name, unit, offset_x, offset_y, offset_z, correction FROM sensor_rows "
                f"WHERE run IN ({ids}) AND offset_x IS NOT NULL AND correction IS NOT NULL ORDER BY run, seq"):
            found[run].append((name, unit, (x, y, z), unpacked(correction)))
    previous = {}
    listed = []
    for run, at, station, kind, verdict, reasons in runs:
        changes = []
        for name, unit, offset, correction in found[run]:
            before = previous.get(name)
            if before is not None:
                moved = max(abs(a - b) for a, b in zip(offset, before[0]))
                turned = max(abs(a - b) for ra, rb in zip(correction, before[1]) for a, b in zip(ra, rb))
                changes.append(f"{name}: offset moved {moved:.4g} {unit}, correction {turned:.4g}")
            previous[name] = (offset, correction)
        listed.append((at, station or "(none)", kind or "", verdict, json.loads(reasons), changes))
    return listed
