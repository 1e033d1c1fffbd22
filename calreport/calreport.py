#!/usr/bin/python3
"""calreport: what a finished sensortrim run comes to, for a person and for the line.

    calreport FOLDER [-o REPORT] [--json FILE] [--store DB] [--device-id ID] [--station NAME] [--operator NAME]
    calreport --fleet DB [--since DATE | --days N] [-o REPORT]
              [--propose-limits FILE [--target-yield Y | --sigma K] [--looser]]
    calreport --fleet DB --device ID [-o REPORT]

FOLDER is a run's export folder (-ExportAllFiles): the run log ("AGMLogFile.xml",
"AlsLogFile.xml", "LogFile.xml"), "currentCalibration.xml", "resultCalibration.xml",
"error.log" and the data dumps ("dataDump<Sensor>.csv").

Without --json and --store it writes the run's report (default
FOLDER/calibration-report.html): the verdict and every failing check first, then
per sensor the records before and after in physical units, every check with
its value, limit and margin, and plots of the data. --json FILE writes the run
record (one JSON document, "-" for standard output; its schema is
run-record.schema.json); --store DB adds the run to a station store (a SQLite
file, or "postgresql://..."); the same run stored twice keeps one row. With
either, the report is written only when -o names it. --fleet DB writes the
fleet report of a store's runs (default fleet-report.html) and prints its
summary. It covers a window of time: the 7 days up to the store's latest run,
the N days up to it with --days N, or the runs since a date with --since
YYYY-MM-DD (the store's totals of every run are shown as well); the database
does the counting, so the report's cost follows the window, not the store's
history. The summary: yields, drift alarms per station and figure (a control chart of
each station's figures against its first runs, with the usual run rules), the
capability (Cpk) of each check, the test limits the data supports and the
histories of the devices nearest a limit. --propose-limits FILE writes those
limits as a "TestingConfig.xml" that sensortrim reads (the keys the data
supports; mean plus 4 deviations by default, never looser than the built-in
values unless --looser). --device ID prints a device's runs and how its
records changed.

Nothing of the folder is changed but the report itself.
Exit status: 0 when everything asked for was written, 1 when it could not be.
"""

import argparse
import json
import os
import sys


def library_path():
    """The package beside this script (the source tree) or where the
    installation put it (<prefix>/lib/tessary/python)."""
    here = os.path.dirname(os.path.realpath(__file__))
    for candidate in (here, os.path.join(here, "..", "lib", "tessary", "python")):
        if os.path.isdir(os.path.join(candidate, "tessary_report")):
            return os.path.abspath(candidate)
    return here


sys.path.insert(0, library_path())

from tessary_report import runfiles, runrecord  # noqa: E402
from tessary_report.store import Store, StoreError  # noqa: E402


def plotting():
    """matplotlib and NumPy for the pages; None and a message when missing."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import numpy  # noqa: F401
    except ImportError as e:
        return f"calreport: error: {e.name} is not installed (Debian: python3-matplotlib python3-numpy)"
    return None


def write_atomically(path, text):
    """The file whole or not at all; a device or pipe named as the output
    (-o /dev/null, a FIFO) is written to, never replaced."""
    if os.path.exists(path) and not os.path.isfile(path):
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return
    temporary = path + ".part"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(temporary, path)


def fleet_main(args):
    from tessary_report import fleet, spc

    # A device's history alone is printed, not drawn.
    report = args.device is None or args.output is not None or args.propose_limits is not None
    if report:
        missing = plotting()
        if missing:
            print(missing, file=sys.stderr)
            return 1
    output = args.output or "fleet-report.html"
    try:
        store = Store(args.fleet)
        try:
            runs = fleet.Fleet(store, since=args.since, days=args.days)
            if args.device is not None:
                lines = fleet.history_lines(runs, store, args.device)
                if not lines:
                    print(f"calreport: error: no run of the device {args.device} in the store", file=sys.stderr)
                    return 1
                print(f"history of {args.device}:")
                for line in lines:
                    print(f"  {line}")
            if not report:
                return 0
            found = spc.proposals(runs, target_yield=args.target_yield, sigma=args.sigma, looser=args.looser)
            if args.propose_limits is not None:
                try:
                    write_atomically(args.propose_limits, spc.testing_config(found))
                except OSError as e:
                    print(f"calreport: error: cannot write {args.propose_limits}: {e.strerror}", file=sys.stderr)
                    return 1
                print(f"proposed limits written to {args.propose_limits} ({len(found)} keys)")
            page, summary = fleet.report(runs, store, found)
        finally:
            store.close()
        write_atomically(output, page)
    except StoreError as e:
        print(f"calreport: error: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"calreport: error: cannot write {output}: {e.strerror}", file=sys.stderr)
        return 1
    print(f"fleet report written to {output}")
    for line in summary:
        print(f"  {line}")
    return 0


def run_main(args):
    # The run record and the store need no plots: they are made without them.
    report = args.output is not None or (args.json is None and args.store is None)
    if report:
        missing = plotting()
        if missing:
            print(missing, file=sys.stderr)
            return 1
    try:
        folder = runfiles.Folder(args.folder, with_dumps=report)
    except runfiles.ReportError as e:
        print(f"calreport: error: {e}", file=sys.stderr)
        return 1
    summary = runrecord.RunSummary(folder)
    record = summary.record(args.device_id, args.station, args.operator) if args.json or args.store else None
    status = 0
    if args.json is not None:
        text = json.dumps(record, indent=2) + "\n"
        if args.json == "-":
            sys.stdout.write(text)
        else:
            try:
                write_atomically(args.json, text)
                print(f"run record written to {args.json}")
            except OSError as e:
                print(f"calreport: error: cannot write {args.json}: {e.strerror}", file=sys.stderr)
                status = 1
    if args.store is not None:
        try:
            store = Store(args.store)
            try:
                added = store.add(record)
            finally:
                store.close()
            print(("stored" if added else "already stored:") + f" run {record['run_id'][:12]} "
                  f"({record['verdict']})")
        except StoreError as e:
            print(f"calreport: error: {e}", file=sys.stderr)
            status = 1
    if report:
        from tessary_report import render

        output = args.output or os.path.join(args.folder, runfiles.REPORT_NAME)
        try:
            page, facts, figures = render.build_report(folder, summary)
            write_atomically(output, page)
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
    return status


def main(argv=None):
    parser = argparse.ArgumentParser(prog="calreport", description="The report, run record and station store of "
                                     "sensortrim runs, and the fleet report of a store.")
    parser.add_argument("folder", nargs="?", help="the run's export folder (-ExportAllFiles)")
    parser.add_argument("-o", "--output", help="the report file (default: FOLDER/calibration-report.html, or "
                                               "fleet-report.html with --fleet)")
    parser.add_argument("--json", metavar="FILE", help="write the run record (JSON) to FILE (- for standard output)")
    parser.add_argument("--store", metavar="DB", help="add the run to a store: a SQLite file or postgresql://...")
    parser.add_argument("--device-id", help="the device's serial number or other identity, for the record")
    parser.add_argument("--station", help="the station the run was made at, for the record")
    parser.add_argument("--operator", help="who made the run, for the record")
    parser.add_argument("--fleet", metavar="DB", help="write the fleet report of every run in a store")
    parser.add_argument("--propose-limits", metavar="FILE",
                        help="with --fleet: write the test limits the stored runs support as a TestingConfig.xml")
    way = parser.add_mutually_exclusive_group()
    way.add_argument("--target-yield", type=float, metavar="Y",
                     help="propose the limits that pass this share (0 to 1) of the stored runs")
    way.add_argument("--sigma", type=float, default=4.0, metavar="K",
                     help="propose the mean plus K deviations of each figure (default 4)")
    parser.add_argument("--looser", action="store_true",
                        help="allow proposed limits looser than the built-in ones")
    window = parser.add_mutually_exclusive_group()
    window.add_argument("--since", metavar="DATE",
                        help="with --fleet: the runs since this day (YYYY-MM-DD)")
    window.add_argument("--days", type=int, metavar="N",
                        help="with --fleet: the N days up to the store's latest run (default 7)")
    parser.add_argument("--device", metavar="ID",
                        help="with --fleet: the device's runs (by --device-id, else by a LUID) and how its records "
                             "changed")
    args = parser.parse_args(argv)
    if args.fleet is None and (args.propose_limits is not None or args.device is not None or
                               args.since is not None or args.days is not None):
        parser.error("--propose-limits, --device, --since and --days go with --fleet DB")
    if args.since is not None:
        import datetime

        try:
            args.since = datetime.date.fromisoformat(args.since).isoformat()
        except ValueError:
            parser.error(f"--since takes a day as YYYY-MM-DD, not '{args.since}'")
    if args.days is not None and args.days < 1:
        parser.error("--days is a whole number of days, at least 1")
    if args.target_yield is not None and not 0 < args.target_yield <= 1:
        parser.error("--target-yield is a share from 0 to 1")
    if not args.sigma > 0:
        parser.error("--sigma is a positive number")
    if args.fleet is not None:
        if args.folder is not None or args.json or args.store:
            parser.error("--fleet takes a store and no folder, --json or --store")
        return fleet_main(args)
    if args.folder is None:
        parser.error("a run's export folder, or --fleet DB, is needed")
    return run_main(args)


if __name__ == "__main__":
    sys.exit(main())
