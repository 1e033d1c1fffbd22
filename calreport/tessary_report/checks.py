"""The checks of a run, each with its measured value, its limit, its margin
(how far inside the limit the value is; negative beyond it) and its verdict.

A test logs each check itself: the measured and expected values, the
threshold it used (the run's "TestingConfig.xml" or the built-in one) and the
verdict. A calibration logs its results; the limits it judged them by are the
sensor's own for the flow, as the calibration tool has them."""

import math
import re

from .runfiles import luid_type

# The run log's "Type" and the flow it names.
FLOWS = {"NewMotionFull": "full", "MotionMin": "minimal", "Motion4Steps": "four steps", "7stepsTest": "full",
         "FaceUpTest": "minimal", "4StepsTest": "four steps", "4StepsMagTest": "magnetometer four steps",
         "Als": "light", "MagnetometerPreTest": "magnetic environment"}
CALIBRATIONS = ("NewMotionFull", "MotionMin", "Motion4Steps")

# The calibration limits of each sensor, for the full flow and for the others.
LIMITS = {
    "Accelerometer": {
        "full": dict(offset=0.3, normDeviation=0.001, expectedError=0.001, whiteNoise=0.015, scale=0.3, rotation=5.0,
                     nominalNorm=1.0, normTolerance=0.02),
        "other": dict(offset=0.3, normDeviation=0.04, expectedError=0.2, whiteNoise=0.06, scale=0.5, rotation=0.3,
                      nominalNorm=1.0, normTolerance=0.02),
        "faceUp": dict(offset=0.3, noise=0.05),
    },
    "Gyroscope": {
        "full": dict(offset=30.0, normDeviation=100.0, expectedError=10.0, whiteNoise=15.0, scale=0.3, rotation=5.0),
        "other": dict(offset=50.0, normDeviation=100.0, expectedError=40.0, whiteNoise=15.0, scale=0.5, rotation=0.3),
        "faceUp": dict(offset=50.0, noise=5.0),
    },
    "Magnetometer": {
        "full": dict(offset=10000.0, normDeviation=30.0, expectedError=150.0, whiteNoise=15.0, scale=1.0,
                     rotation=20.0, fieldLow=200.0, fieldHigh=650.0, fieldChange=5.0, fieldStray=0.7),
        "other": dict(offset=10000.0, normDeviation=30.0, expectedError=150.0, whiteNoise=50.0, scale=1.0,
                      rotation=1.0),
        "faceUp": dict(offset=5000.0, noise=40.0),
    },
}
# The checks across sensors of the full flow: the log's element, its limit and unit.
CROSS_CHECKS = {"DipAngle": ("Dip angle", 6.0, "degrees"), "Gyro-Mag_diff": ("Gyro-Mag diff", 1000.0, ""),
                "Gyro-Accel_diff": ("Gyro-Accel diff", 1.0, ""), "Gyro-Accel_2_diff": ("Gyro-Accel_2 diff", 1.0, "")}

UNITS = {"g0": "g", "milliGauss": "mG", "deg/sec": "deg/s", "deg__sec": "deg/s"}


class Check:
    def __init__(self, sensor, name, value, limit, unit, verdict=None, step=None, low=None):
        self.sensor = sensor
        self.name = name
        self.value = value
        self.limit = limit
        self.unit = unit
        self.step = step
        # Two-sided checks have a lower limit as well.
        self.low = low
        if value is None or limit is None or (isinstance(value, float) and math.isnan(value)):
            self.margin = None
        elif low is not None:
            self.margin = min(limit - value, value - low)
        else:
            self.margin = limit - value
        if verdict is None:
            verdict = "passed" if self.margin is None or self.margin >= 0 else "failed"
        self.verdict = verdict

    def text(self):
        """"name: value (limit L, margin M) verdict" as the reasons list it."""
        unit = f" {self.unit}" if self.unit else ""
        value = "?" if self.value is None else f"{self.value:.6g}"
        limit = ("?" if self.limit is None else f"{self.limit:.6g}") if self.low is None \
            else f"{self.low:.6g} to {self.limit:.6g}"
        margin = "" if self.margin is None else f", margin {self.margin:.3g}"
        return f"{self.name}: {value}{unit} (limit {limit}{unit}{margin}) {self.verdict.upper()}"

    def record(self):
        return {"name": self.name, "value": self.value, "limit": self.limit, "low": self.low, "unit": self.unit,
                "margin": self.margin, "verdict": self.verdict, "step": self.step}


def flat(rows):
    return [v for row in rows or [] for v in row]


def sensor_unit(sensor):
    return UNITS.get(sensor.unit, UNITS.get(sensor.unit.replace("/", "__"), sensor.unit))


# ---------------------------------------------------------------- tests


def console_step(section, label_number):
    """The console's number of a step a test section names from 0."""
    if section == "TestIntegration":
        return label_number + 2  # the turn ends in the next position
    return label_number + 1


def renumbered(text, section):
    return re.sub(r"step (\d+)", lambda m: f"step {console_step(section, int(m.group(1)))}", text)


ANGLE_SECTIONS = ("TestMagValues", "TestDirection")


def test_checks(sensor):
    """The checks a test logged, in the order it logged them."""
    checks = []
    unit = sensor_unit(sensor)
    pending = {"elements": [], "threshold": None, "allowed": None, "step": None, "section": None}

    def finish(verdict_text=None):
        p = pending
        if p["threshold"] is None:
            p["elements"], p["allowed"] = [], None
            return
        section = p["section"] or ""
        step = console_step(section, p["step"]) if p["step"] is not None else None
        elements = p["elements"]
        check_unit = unit
        if elements and elements[0][0] == "spikes":
            value, limit, check_unit = flat(elements[0][1])[0], p["allowed"], "spikes"
        else:
            measured = flat(elements[0][1]) if elements else []
            expected = flat(elements[1][1]) if len(elements) > 1 else [0.0] * len(measured)
            differences = []
            for m, e in zip(measured, expected):
                d = abs(m - e)
                if section in ANGLE_SECTIONS and d > 180:
                    d = 360 - d
                differences.append(d)
            value = max(differences) if differences else None
            limit = p["threshold"]
            tag = elements[0][0] if elements else ""
            if tag in ("Angles", "MagnetometerValues", "CompassDirection"):
                check_unit = "degrees"
            elif tag == "MagScale":
                check_unit = ""
        verdict = None
        name = None
        if verdict_text is not None:
            verdict = "failed" if verdict_text.endswith("FAILED") else "passed"
            label = re.sub(r"(:\s*PASSED|\s*FAILED)$", "", verdict_text).strip()
            if label:
                name = renumbered(label, section)
        if name is None:
            where = f" step {step}" if step is not None else ""
            name = f"{sensor.name} {section}{where}".strip()
        if check_unit == "spikes" and "spike" not in name.lower():
            name += " spikes"
        checks.append(Check(sensor.name, name, value, limit, check_unit, verdict, step))
        p["elements"], p["threshold"], p["allowed"] = [], None, None

    for entry in sensor.entries:
        if entry.section != pending["section"]:
            finish()
            pending["section"] = entry.section
            pending["step"] = None
        if entry.kind == "comment":
            text = entry.name
            step = re.fullmatch(r"(?:dynamic )?step (\d+)", text)
            if step:
                finish()
                pending["step"] = int(step.group(1))
            elif text.endswith("PASSED") or text.endswith("FAILED"):
                finish(text)
            continue
        if entry.name == "threshold":
            if pending["threshold"] is not None:
                finish()
            pending["threshold"] = flat(entry.values)[0] if entry.values else None
        elif entry.name == "allowed:":
            pending["allowed"] = flat(entry.values)[0] if entry.values else None
        else:
            if pending["threshold"] is not None:
                finish()
            pending["elements"].append((entry.name, entry.values))
    finish()
    return checks


# ---------------------------------------------------------------- calibrations


def norm(v):
    return math.sqrt(sum(x * x for x in v))


def transpose(m):
    return [[m[j][i] for j in range(3)] for i in range(3)]


def product(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def inverse(m):
    a, b, c = m[0]
    d, e, f = m[1]
    g, h, i = m[2]
    det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g)
    return [[(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det],
            [(f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det],
            [(d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det]]


def symmetric_eigenvalues(m):
    """The eigenvalues of a symmetric 3x3 matrix (Jacobi rotations)."""
    a = [row[:] for row in m]
    for _ in range(50):
        p, q = max(((0, 1), (0, 2), (1, 2)), key=lambda pq: abs(a[pq[0]][pq[1]]))
        if abs(a[p][q]) < 1e-15:
            break
        theta = (a[q][q] - a[p][p]) / (2 * a[p][q])
        t = (1 if theta >= 0 else -1) / (abs(theta) + math.sqrt(theta * theta + 1))
        c = 1 / math.sqrt(t * t + 1)
        s = t * c
        j = [[1.0 if i == k else 0.0 for k in range(3)] for i in range(3)]
        j[p][p] = j[q][q] = c
        j[p][q], j[q][p] = s, -s
        a = product(transpose(j), product(a, j))
    return [a[i][i] for i in range(3)]


def svd_checks(scale):
    """(largest |singular value - 1|, rotation in degrees) of a 3x3 scale
    matrix: its singular values, and the angle of the rotation U * V^T of its
    decomposition (the rotation of its polar form). Plain Python: a run record
    is made without NumPy."""
    singular = [math.sqrt(max(v, 0.0)) for v in symmetric_eigenvalues(product(transpose(scale), scale))]
    if min(singular) < 1e-9 * max(max(singular), 1e-300):
        # A singular matrix has no unique polar form: the decomposition's own.
        import numpy as np

        u, _, vt = np.linalg.svd(np.array(scale, dtype=float))
        r = (u @ vt).tolist()
        trace = r[0][0] + r[1][1] + r[2][2]
        return max(abs(x - 1) for x in singular), math.degrees(math.acos(max(-1.0, min(1.0, (trace - 1) / 2))))
    r = [row[:] for row in scale]
    for _ in range(100):
        inv_t = transpose(inverse(r))
        nxt = [[(r[i][j] + inv_t[i][j]) / 2 for j in range(3)] for i in range(3)]
        done = max(abs(nxt[i][j] - r[i][j]) for i in range(3) for j in range(3)) < 1e-14
        r = nxt
        if done:
            break
    trace = r[0][0] + r[1][1] + r[2][2]
    angle = math.degrees(math.acos(max(-1.0, min(1.0, (trace - 1) / 2))))
    return max(abs(x - 1) for x in singular), angle


def calibration_checks(sensor, kind):
    """The success criteria of a calibration, from the results it logged."""
    base = sensor.type
    if base not in LIMITS:
        return []
    unit = sensor_unit(sensor)
    flow = FLOWS.get(kind, "")
    name = sensor.name
    checks = []
    offset = sensor.matrix("Offset")
    if flow == "minimal":
        limits = LIMITS[base]["faceUp"]
        if offset:
            checks.append(Check(name, f"{name} offset", max(abs(v) for v in flat(offset)), limits["offset"], unit))
        deviation = sensor.matrix("StandardDeviation")
        if deviation:
            checks.append(Check(name, f"{name} standard deviation", max(abs(v) for v in flat(deviation)),
                                limits["noise"], unit))
        return checks + precision_checks(sensor, unit)
    limits = LIMITS[base]["full" if flow == "full" else "other"]
    scale = sensor.matrix("Scale")
    averages, expected, calibrated = (sensor.matrix(t) for t in ("Averages", "ExpectedAverages",
                                                                  "CalibratedAverages"))
    # The accelerometer of the full flow has the success criteria of the
    # singular values; the others the older ones of the matrix's entries.
    by_singular_values = base == "Accelerometer" and flow == "full"
    if offset:
        checks.append(Check(name, f"{name} offset", max(abs(v) for v in flat(offset)), limits["offset"], unit))
    if scale and len(scale) == 3 and all(len(r) == 3 for r in scale):
        if by_singular_values:
            worst, angle = svd_checks(scale)
            checks.append(Check(name, f"{name} scale (singular values)", worst, limits["scale"], ""))
            checks.append(Check(name, f"{name} rotation", angle, limits["rotation"], "degrees"))
        else:
            checks.append(Check(name, f"{name} scale (diagonal)", max(abs(scale[i][i] - 1) for i in range(3)),
                                limits["scale"], ""))
            checks.append(Check(name, f"{name} rotation (off the diagonal)",
                                max(abs(scale[i][j]) for i in range(3) for j in range(3) if i != j),
                                limits["rotation"], ""))
    spread = sensor.value("NormSTD") if by_singular_values else sensor.value("NormVariance")
    if spread is not None:
        checks.append(Check(name, f"{name} norm {'standard deviation' if by_singular_values else 'variance'}",
                            spread, limits["normDeviation"], unit))
    if calibrated and expected:
        rows = min(len(calibrated), len(expected))
        if rows:
            error = sum(norm([c - e for c, e in zip(calibrated[i], expected[i])]) for i in range(rows)) / rows
            # The older criteria only flag it.
            check = Check(name, f"{name} expected error vs calibrated", error, limits["expectedError"], unit)
            if not by_singular_values and check.verdict == "failed":
                check.verdict = "warning"
            checks.append(check)
    noise = sensor.matrix("WhiteNoise")
    if noise:
        checks.append(Check(name, f"{name} white noise", max(abs(v) for v in flat(noise)), limits["whiteNoise"],
                            unit))
    if by_singular_values and calibrated:
        mean = sum(norm(r) for r in calibrated) / len(calibrated)
        checks.append(Check(name, f"{name} norm", mean, limits["nominalNorm"] + limits["normTolerance"], unit,
                            low=limits["nominalNorm"] - limits["normTolerance"]))
    if base == "Magnetometer" and flow == "full":
        if expected and expected[0]:
            checks.append(Check(name, f"{name} field strength", norm(expected[0]), limits["fieldHigh"], unit,
                                low=limits["fieldLow"]))
        # The limits the run judged by: the fixed ones, or what the part's
        # noise made of them where that was more.
        change = sensor.value("FieldChangeDuringTurns")
        if change is not None:
            limit = sensor.value("FieldChangeLimit")
            checks.append(Check(name, f"{name} field change during the turns", change,
                                limits["fieldChange"] if limit is None else limit, "%"))
        stray = sensor.value("FieldStrengthDeviation")
        if stray is not None:
            limit = sensor.value("FieldStrengthDeviationLimit")
            checks.append(Check(name, f"{name} calibrated field strength against the holds, over 0.4 s", stray,
                                limits["fieldStray"] if limit is None else limit, "%"))
    checks.extend(precision_checks(sensor, unit))
    for tag, (label, limit, check_unit) in CROSS_CHECKS.items():
        value = sensor.value(tag)
        if value is not None:
            checks.append(Check(name, label, value, limit, check_unit))
    return checks


# The share of calibrations whose records may stray past their tolerance.
RISK_SHARE = 0.001


def precision_checks(sensor, unit):
    """What the data allowed the records: each figure's expected error (one
    sigma, from the noise and the samples it came from) beside the flow's
    tolerance, and the chance that the figure strays past it, judged as the
    calibration judged it."""
    checks = []
    name = sensor.name
    magnetometer = sensor.type == "Magnetometer"
    for what, tag, figure_unit in (("shape" if magnetometer else "scale and axes", "Scale", "%"),
                                   ("centre" if magnetometer else "offset", "Offset", unit)):
        expected, tolerance = sensor.value(f"Expected{tag}Error"), sensor.value(f"{tag}Tolerance")
        risk = sensor.value(f"{tag}Risk")
        if expected is None or not tolerance or risk is None:
            continue
        checks.append(Check(name, f"{name} {what}: expected error {expected:.3g} {figure_unit} (one sigma) beside "
                                  f"the tolerance of {tolerance:.3g} {figure_unit}, the chance of straying past it",
                            risk, RISK_SHARE, ""))
    return checks


# The magnetic environment test's figures: element, name, limit, unit.
ENVIRONMENT_CHECKS = (("EllipsoidError", "ellipsoid fit error", 0.05, ""),
                      ("Dip_Angle_STD", "dip angle standard deviation", 1.0, "degrees"),
                      ("Dip_Angle_Range", "dip angle range", 5.0, "degrees"))


def environment_checks(sensor):
    return [Check(sensor.name, f"{sensor.name} {label}", sensor.value(tag), limit, unit)
            for tag, label, limit, unit in ENVIRONMENT_CHECKS if sensor.value(tag) is not None]


def run_checks(sensor, kind):
    """Every check of a sensor in a run of that kind."""
    if kind in CALIBRATIONS:
        return calibration_checks(sensor, kind) + test_checks(sensor)
    if kind == "MagnetometerPreTest":
        return environment_checks(sensor)
    return test_checks(sensor)


def is_inertial(luid):
    return luid_type(luid) in (115, 118, 527, 125)
