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
    def __init__(self, station, name, unit, values, high, low, passed):
        self.station = station
        self.name = name
        self.unit = unit
        self.count = len(values)
        self.mean, self.deviation = mean_and_deviation(values)
        self.high, self.low = high, low
        self.cpk = cpk(self.mean, self.deviation, high, low)
        self.passed = passed

    @property
    def poor(self):
        return self.cpk is not None and self.cpk < CAPABLE


def capabilities(fleet):
    """Per check, over the first runs of distinct devices: overall (station
    None) and per station. The limits are those of the latest run."""
    groups = OrderedDict()
    for run_id, sensor, name, value, high, low, unit, margin, verdict in fleet.check_rows:
        if run_id not in fleet.first or value is None:
            continue
        for station in (None, fleet.station_of[run_id]):
            entry = groups.setdefault((station, name), {"values": [], "passed": 0, "unit": unit, "limits": (high, low)})
            entry["values"].append(value)
            entry["passed"] += verdict != "failed"
            entry["limits"] = (high, low)
    result = [Capability(station, name, g["unit"], g["values"], g["limits"][0], g["limits"][1], g["passed"])
              for (station, name), g in groups.items()]
    result.sort(key=lambda c: (c.station is not None, c.station or "", c.name))
    return result


@functools.lru_cache(maxsize=None)
def key_of(name):
    for pattern, key, default in KEY_PATTERNS:
        if pattern.match(name):
            return key, default
    return None, None


class Proposal:
    def __init__(self, key, default, checks, per_run, limit):
        self.key = key
        self.default = default
        self.checks = checks
        self.runs = len(per_run)
        self.mean, self.deviation = mean_and_deviation(list(per_run.values()))
        self.limit = limit
        self.passed = sum(1 for v in per_run.values() if v <= limit)
        # What today's limit passes of the same runs.
        self.passed_today = sum(1 for v in per_run.values() if v <= default)


def proposals(fleet, target_yield=None, sigma=4.0, looser=False):
    """Per key of "TestingConfig.xml" the data supports: the limit that meets
    the target. A run's figure for a key is the largest of its checks of the
    key, each taken against the key's own value (a hand-held step's threshold
    is the key's times its factor, so its value counts divided by the
    factor): the run passes a limit when its figure is within it. The default
    is the figures' mean plus sigma deviations; with a target yield, the
    smallest limit that passes that share of the stored runs. A proposal is
    never looser than the built-in value unless asked."""
    by_run = defaultdict(lambda: defaultdict(list))
    for run_id, sensor, name, value, high, low, unit, margin, verdict in fleet.check_rows:
        if value is None or high is None or high <= 0:
            continue
        key, default = key_of(name)
        if key is not None:
            by_run[key][run_id].append((value, high))
    result = []
    for key, default in OrderedDict((key, default) for _, key, default in KEY_PATTERNS).items():
        if key not in by_run:
            continue
        per_run, checks = {}, 0
        for run_id, found in by_run[key].items():
            # The run's own value of the key: its smallest threshold (a step
            # that is not hand-held).
            used = min(high for _, high in found)
            per_run[run_id] = max(value * used / high for value, high in found)
            checks += len(found)
        if len(per_run) < LEAST_FOR_A_LIMIT:
            continue
        mean, deviation = mean_and_deviation(list(per_run.values()))
        if target_yield is not None:
            ordered = sorted(per_run.values())
            limit = ordered[min(len(ordered) - 1, max(0, math.ceil(target_yield * len(ordered)) - 1))]
        else:
            limit = mean + sigma * deviation
        if not looser:
            limit = min(limit, default)
        # Rounded up, so that the runs the limit was drawn from stay within it.
        limit = round_up(limit)
        result.append(Proposal(key, default, checks, per_run, limit))
    return result


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


def figures(fleet, store):
    """Per station and figure, its values in time order: (time, value)."""
    series = defaultdict(list)
    calibrations = {r[0] for r in fleet.runs if r[7] in ("NewMotionFull", "Motion4Steps", "MotionMin")}
    order = {r[0]: n for n, r in enumerate(fleet.runs)}
    when = {r[0]: r[1] or r[2] for r in fleet.runs}
    for run_id, record in store.query("SELECT run_id, record FROM runs WHERE verdict = 'passed'"):
        if run_id not in calibrations:
            continue
        try:
            sensors = json.loads(record)["sensors"]
        except (ValueError, KeyError, TypeError):
            continue
        for sensor in sensors:
            after = sensor.get("after") or {}
            offset = after.get("offset")
            if isinstance(offset, list) and len(offset) == 3:
                what = "centre" if sensor.get("name") == "Magnetometer" else "offset"
                for axis, value in zip("XYZ", offset):
                    series[(fleet.station_of[run_id], f"{sensor.get('name')} {what} {axis} [{after.get('unit')}]")] \
                        .append((order[run_id], when[run_id], value))
    for run_id, sensor, name, value, high, low, unit, margin, verdict in fleet.check_rows:
        if value is not None and DRIFT_CHECKS.search(name) and fleet.verdict_of.get(run_id) == "passed":
            series[(fleet.station_of[run_id], f"{name} [{unit}]" if unit else name)] \
                .append((order[run_id], when[run_id], value))
    return {k: [(t, v) for _, t, v in sorted(points)] for k, points in series.items()}


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
    rows = store.query("SELECT run_id, record FROM runs WHERE device = ?", (device,))
    if not rows:
        rows = store.query("SELECT run_id, record FROM runs WHERE device_id IS NULL AND "
                           "(',' || luids || ',') LIKE ?", (f"%,{device},%",))
    records = {run_id: json.loads(record) for run_id, record in rows}
    previous = {}
    listed = []
    for run_id, time, stored, _, station, verdict, reasons, kind in fleet.runs:
        if run_id not in records:
            continue
        changes = []
        for sensor in records[run_id].get("sensors", []):
            after = sensor.get("after")
            if not after or "offset" not in after:
                continue
            name = sensor.get("name")
            before = previous.get(name)
            if before is not None:
                offset = max(abs(a - b) for a, b in zip(after["offset"], before["offset"]))
                correction = max(abs(a - b) for ra, rb in zip(after["correction"], before["correction"])
                                 for a, b in zip(ra, rb))
                changes.append(f"{name}: offset moved {offset:.4g} {after['unit']}, correction {correction:.4g}")
            previous[name] = after
        listed.append((time or stored, station or "(none)", kind or "", verdict, json.loads(reasons), changes))
    return listed
