"""python3 -m onset plot --csv events.csv FILES...: the picture of an
onset-detect run, from its --csv output and the recordings it read.
python3 -m onset detect-archive ROOT [--scheduler ADDRESS]: the events of an
SDS archive, found in time blocks on a Dask cluster."""

import argparse
import os
import sys
import warnings

from ._engine import option_table
from .detection import DetectionWarning, read
from .result import Detection


def _detection_flags(parser):
    for name, option in option_table().items():
        value = {"Hz": "HZ", "s": "S"}.get(option.unit, "N" if option.kind is int else "X")
        parser.add_argument("--" + name.replace("_", "-"), dest=name, metavar=value,
                            type=option.kind, help=option.describe())


def _parser():
    parser = argparse.ArgumentParser(prog="python3 -m onset", description=__doc__.split("\n")[0])
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
                    "span writes them. Exit status 1: some blocks failed (the warnings name "
                    "them) and their events are missing; 2: nothing could be detected.")
    archive.add_argument("root", metavar="ROOT", help="the root of the SDS archive")
    archive.add_argument("--scheduler", metavar="ADDRESS",
                         help="a running Dask scheduler, such as tcp://head:8786 (default: a "
                              "local cluster, one worker process per core)")
    archive.add_argument("--workers", type=int, metavar="N",
                         help="worker processes of the local cluster (default: one per core)")
    archive.add_argument("--start", help="first time, UTC (default: the archive's first day)")
    archive.add_argument("--end", help="time to stop before (default: after its last day)")
    archive.add_argument("--channels", help="NET.STA.LOC.CHA patterns, comma separated")
    archive.add_argument("--block", default="1D",
                         help="the length of a task's block: 1D, 6H, 30min ... (default 1D)")
    archive.add_argument("-o", "--output", metavar="CSV", help="write the CSV here, not to stdout")
    archive.add_argument("--quakeml", metavar="FILE", help="write the events as QuakeML 1.2 too")
    archive.add_argument("--nlloc", metavar="FILE", help="write the picks as NonLinLoc phases too")
    _detection_flags(archive)
    return parser


def _options(args):
    return {name: getattr(args, name) for name in option_table() if getattr(args, name) is not None}


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


def _detect_archive(args):
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        print("onset detect-archive: needs Dask distributed (Debian: python3-distributed)",
              file=sys.stderr)
        return 2
    from .distributed import detect_archive
    cluster = None
    try:
        if args.scheduler:
            client = Client(args.scheduler)
        else:
            workers = args.workers or os.cpu_count() or 1
            cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                   dashboard_address=":0")
            client = Client(cluster)
        with client, warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always", DetectionWarning)
            detection = detect_archive(args.root, start=args.start, end=args.end,
                                       channels=args.channels, client=client, block=args.block,
                                       **_options(args))
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
    except (OSError, ValueError, TypeError, RuntimeError) as error:
        print(f"onset detect-archive: {error}", file=sys.stderr)
        return 2
    finally:
        if cluster is not None:
            cluster.close()
    return 1 if detection.failures else 0


def main(argv=None):
    args = _parser().parse_args(argv)
    return _plot(args) if args.command == "plot" else _detect_archive(args)


if __name__ == "__main__":
    sys.exit(main())
