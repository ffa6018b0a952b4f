"""python3 -m onset plot --csv events.csv FILES...: the picture of an
onset-detect run, from its --csv output and the recordings it read.
python3 -m onset detect-archive ROOT [--scheduler ADDRESS]: the events of an
SDS archive, found in time blocks on a Dask cluster."""

import argparse
import importlib.util
import logging
import os
import sys
import warnings

from ._engine import option_problem, option_table, options_record, selection_problem
from ._progress import Progress
from .config import settings
from .detection import read
from .detector import DetectionWarning, Detector
from .distributed import archive_span, block_length
from .result import Detection
from .traces import microseconds


def _detection_flags(parser):
    for name, option in option_table().items():
        value = {"Hz": "HZ", "s": "S"}.get(option.unit, "N" if option.kind is int else "X")
        parser.add_argument("--" + name.replace("_", "-"), dest=name, metavar=value,
                            type=_number, help=option.describe())


def _number(text):
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a number") from None


def _parser():
    parser = argparse.ArgumentParser(prog="python3 -m onset", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    plot = commands.add_parser(
        "plot", help="draw the traces with the events of an onset-detect --csv run",
        description="Draws the recordings band-passed and scaled, stacked by station in the "
                    "order of their first picks, the picks by phase, the events shaded, and "
                    "the onset strength with its threshold below. Give the detection flags of "
                    "the run (--fmin ... --threshold) so that the strength is the run's.")
    plot.add_argument("--csv", required=True, metavar="EVENTS", help="onset-detect --csv output")
    plot.add_argument("-o", "--output", default="events.png", metavar="PNG",
                      help="the picture to write (default events.png)")
    plot.add_argument("--start", help="first time drawn, UTC (default: the recordings' start)")
    plot.add_argument("--end", help="time to stop drawing before (default: their end)")
    plot.add_argument("--channels", help="NET.STA.LOC.CHA patterns, comma separated")
    plot.add_argument("--sds", action="store_true", help="FILES is the root of an SDS archive")
    _detection_flags(plot)
    plot.add_argument("files", nargs="+", metavar="FILES",
                      help="the miniSEED files or folders the run read, or its SDS root")

    archive = commands.add_parser(
        "detect-archive", help="detect the events of an SDS archive on a Dask cluster",
        description="Cuts the span into blocks, detects each as a task on the workers (each "
                    "reads its own days from ROOT, which every worker must see at the same "
                    "path) and writes the events as one onset-detect --csv run over the whole "
                    "span writes them. It prints the dashboard's address at once and, on a "
                    "terminal, a progress line. Exit status 1: some blocks failed (the "
                    "warnings name them) and their events are missing; 2: bad flags or input, "
                    "or nothing could be detected.")
    archive.add_argument("root", metavar="ROOT", help="the root of the SDS archive")
    archive.add_argument("--scheduler", metavar="ADDRESS",
                         help="a running Dask scheduler, such as tcp://head:8786 (default: a "
                              "local cluster, one worker process per core)")
    archive.add_argument("--workers", type=int, metavar="N",
                         help="worker processes of the local cluster (default: one per core)")
    archive.add_argument("--start", help="first time, UTC (default: the archive's first day)")
    archive.add_argument("--end", help="time to stop before (default: after its last day)")
    archive.add_argument("--channels", help="NET.STA.LOC.CHA patterns, comma separated")
    archive.add_argument("--config", metavar="FILE",
                         help="a settings file (TOML), as onset-detect --config reads it: the "
                              "detection options by their names, channels and chunk, and "
                              "[stations.\"NET.STA\"] tables of options for the stations each "
                              "pattern matches (the last match in the file wins); the flags "
                              "override its top-level values")
    archive.add_argument("--block", default="1D",
                         help="the length of a task's block: 1D, 6H, 30min ... (default 1D)")
    archive.add_argument("-o", "--output", metavar="CSV", help="write the CSV here, not to stdout")
    archive.add_argument("--quakeml", metavar="FILE", help="write the events as QuakeML 1.2 too")
    archive.add_argument("--nlloc", metavar="FILE", help="write the picks as NonLinLoc phases too")
    archive.add_argument("--stations", metavar="FILE",
                         help="locate the events with the stations' coordinates in FILE (FDSN "
                              "StationXML, or CSV with the columns network,station,latitude,"
                              "longitude,elevation_m), as onset-detect --stations does; every "
                              "worker must see it at the same path")
    archive.add_argument("--velocity-model", metavar="FILE",
                         help="the 1-D model to locate with (CSV: depth_km,vp_km_s,vs_km_s; "
                              "default: the engine's, as onset-detect's)")
    archive.add_argument("--graded-model", action="store_true",
                         help="velocities vary linearly between the model's depths")
    archive.add_argument("--origins", metavar="FILE",
                         help="write the origins as CSV too, one row per event, as onset-detect "
                              "--origins does")
    shown = archive.add_mutually_exclusive_group()
    shown.add_argument("--progress", action="store_true", default=None,
                       help="a progress line on stderr even when it is not a terminal (a line "
                            "per update)")
    shown.add_argument("--quiet", dest="progress", action="store_false",
                       help="no progress line on stderr (it is shown only when stderr is a "
                            "terminal)")
    _detection_flags(archive)
    return parser


def _options(args):
    """The detection flags given, whole numbers as int for the options that
    are counts."""
    table = option_table()
    given = {name: getattr(args, name) for name in table if getattr(args, name) is not None}
    return {name: int(value) if table[name].kind is int and value.is_integer() else value
            for name, value in given.items()}


def _plot(args):
    try:
        detection = Detection.from_csv(args.csv, **_options(args))
        with warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always", DetectionWarning)
            traces = read(args.files[0] if args.sds else args.files, start=args.start,
                          end=args.end, channels=args.channels, sds=True if args.sds else None)
        for warning in said:
            print(f"onset plot: warning: {warning.message}", file=sys.stderr)
        detection.plot(traces, path=args.output, start=args.start, end=args.end)
    except (OSError, ValueError, TypeError) as error:
        print(f"onset plot: {error}", file=sys.stderr)
        return 2
    print(args.output)
    return 0


def _time(text, flag):
    if text is None:
        return None
    try:
        return microseconds(text, flag)
    except ValueError:
        raise ValueError(f"{flag}: '{text}' is not a UTC time such as 2024-03-01 or "
                         f"2024-03-01T12:30:00Z") from None


def _checked_archive_run(args):
    """The detection options, once the flags and the archive are checked, so
    that a mistake is said in onset-detect's words before any cluster
    starts. ValueError or OSError otherwise."""
    first, last = _time(args.start, "--start"), _time(args.end, "--end")
    if first is not None and last is not None and first >= last:
        raise ValueError("--start must be before --end")
    options = _options(args)
    for name, value in options.items():
        problem = option_problem(name, value)
        if problem:
            raise ValueError(f"--{name.replace('_', '-')}: {problem}")
    options_record(options)  # what options must be together
    for flag, given in (("--velocity-model", args.velocity_model), ("--graded-model", args.graded_model),
                        ("--origins", args.origins)):
        if given and not args.stations:
            raise ValueError(f"{flag}: locating needs --stations FILE")
    if args.stations:
        # The engine reads the metadata here as the workers will, so that a
        # bad file is said before any cluster starts.
        Detector(stations=args.stations, velocity_model=args.velocity_model,
                 graded_model=args.graded_model, **options).close()
    _, _, channels, _ = settings(args.config, options)
    try:
        block_length(args.block)
    except ValueError as error:
        raise ValueError(f"--{error}") from None
    # The workers check an archive that only they see.
    if not args.scheduler or os.path.isdir(args.root):
        problem = selection_problem(args.root, args.channels or channels, args.start, args.end)
        if problem:
            raise ValueError(problem)
        archive_span(args.root, args.channels or channels, args.start, args.end)
    return options


def _dashboard(client, local):
    """The address of the cluster's dashboard; without bokeh a local
    scheduler serves only its plain pages."""
    link = client.dashboard_link
    if local and importlib.util.find_spec("bokeh") is None:
        return link.rsplit("/", 1)[0] + "/info/main/workers.html (the full dashboard needs bokeh)"
    return link


def _close_quietly(client, cluster):
    """Closes the client and the cluster it started. What Dask and Tornado
    log meanwhile (a timeout on a loaded machine) comes after the outcome
    and is no concern of the user's."""
    for name in ("distributed", "tornado"):
        logging.getLogger(name).setLevel(logging.CRITICAL)
    for part in (client, cluster):
        if part is not None:
            part.close()


def _detect_archive(args):
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        print("onset detect-archive: needs Dask distributed (Debian: python3-distributed)",
              file=sys.stderr)
        return 2
    from .distributed import detect_archive
    try:
        options = _checked_archive_run(args)
    except (OSError, ValueError, TypeError) as error:
        print(f"onset detect-archive: {error}", file=sys.stderr)
        return 2
    cluster = client = None
    progress = Progress(args.progress)
    try:
        if args.scheduler:
            client = Client(args.scheduler)
        else:
            workers = args.workers or os.cpu_count() or 1
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                   dashboard_address=":0")
            client = Client(cluster)
        print(f"onset detect-archive: dashboard {_dashboard(client, cluster is not None)}",
              file=sys.stderr, flush=True)
        with warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always", DetectionWarning)
            detection = detect_archive(args.root, start=args.start, end=args.end,
                                       channels=args.channels, client=client, block=args.block,
                                       progress=progress, config=args.config,
                                       stations=args.stations, velocity_model=args.velocity_model,
                                       graded_model=args.graded_model, **options)
        progress.clear()
        for warning in said:
            print(f"onset detect-archive: warning: {warning.message}", file=sys.stderr)
        if args.output:
            detection.to_csv(args.output)
        else:
            sys.stdout.write(detection.to_csv())
        if args.quakeml:
            detection.to_quakeml(args.quakeml)
        if args.nlloc:
            detection.to_nlloc(args.nlloc)
        if args.origins:
            detection.to_origins(args.origins)
    except (OSError, ValueError, TypeError, RuntimeError, ImportError) as error:
        progress.clear()
        print(f"onset detect-archive: {error}", file=sys.stderr)
        return 2
    finally:
        _close_quietly(client, cluster)
    return 1 if detection.failures else 0


def main(argv=None):
    args = _parser().parse_args(argv)
    return _plot(args) if args.command == "plot" else _detect_archive(args)


if __name__ == "__main__":
    sys.exit(main())
