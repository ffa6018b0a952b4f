"""python3 -m onset plot --csv events.csv FILES...: the picture of an
onset-detect run, from its --csv output and the recordings it read."""

import argparse
import sys
import warnings

from .detection import OPTIONS, DetectionWarning, read
from .result import Detection


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
    for name, meaning in OPTIONS.items():
        plot.add_argument("--" + name.replace("_", "-"), dest=name, metavar="X",
                          type=int if name in ("voices", "min_stations") else float,
                          help=meaning)
    plot.add_argument("files", nargs="+", metavar="FILES",
                      help="the miniSEED files or folders the run read, or its SDS root")
    return parser


def main(argv=None):
    args = _parser().parse_args(argv)
    options = {name: getattr(args, name) for name in OPTIONS if getattr(args, name) is not None}
    try:
        detection = Detection.from_csv(args.csv, **options)
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


if __name__ == "__main__":
    sys.exit(main())
