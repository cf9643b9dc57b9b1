#!/usr/bin/env python3
"""Converts one sample library with quillon_bench (a drop of the folder and one whole conversion
run) and with sox (Debian's packages sox and libsox-fmt-mp3), one file after another as
`sox IN -r 44100 -b 16 OUT.wav`, over the inputs that the drop queues. Both are pinned to the same
core; the rounds alternate which of the two goes first. Prints the figures of each side (the
median over the rounds) and the ratio of their wall times, median and best.

    compare_with_sox.py [path/to/quillon_bench] [--rounds N] [--core C] [--library FOLDER]
                        [--mode controller|converter]

Without --library the benchmark generates its library (nested folders, 16- and 24-bit WAV at
44.1, 48 and 96 kHz, AIFF, FLAC, Ogg Vorbis and MP3 made with lame; one-shots of 0.1 to 2 s,
loops of 4 to 30 s and a few recordings of several minutes) in a temporary folder.
"""

import argparse
import os
import pathlib
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run_sox(list_file, output):
    """Runs in its own process, so that the peak memory is that of the sox calls alone."""
    inputs = [pathlib.Path(line) for line in pathlib.Path(list_file).read_text().splitlines() if line]
    output.mkdir(parents=True, exist_ok=True)
    failures = 0
    start = time.perf_counter()
    for index, source in enumerate(inputs):
        target = output / f"{index:05}.wav"
        if subprocess.run(["sox", str(source), "-r", "44100", "-b", "16", str(target)]).returncode != 0:
            failures += 1
    seconds = time.perf_counter() - start
    bytes_in = sum(p.stat().st_size for p in inputs)
    bytes_out = sum(p.stat().st_size for p in output.iterdir())
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print(f"result files={len(inputs) - failures} failures={failures} seconds={seconds} "
          f"input_bytes={bytes_in} output_bytes={bytes_out} peak_kb={peak}")


def parse_result(text):
    match = re.search(r"^result (.*)$", text, re.MULTILINE)
    if match is None:
        sys.exit("no result in:\n" + text)
    return {key: float(value) for key, value in (item.split("=") for item in match.group(1).split())}


def run_pinned(command, core):
    done = subprocess.run(["taskset", "-c", str(core)] + command, capture_output=True, text=True)
    if done.returncode != 0:
        # Failed or wrong files: the figures still stand, and what went wrong is shown.
        print(done.stderr, end="", file=sys.stderr)
    return parse_result(done.stdout + done.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bench", nargs="?",
                        default=str(pathlib.Path(__file__).parent.parent / "build" / "bench" / "quillon_bench"))
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--core", type=int, default=max(os.sched_getaffinity(0)))
    parser.add_argument("--library", help="an existing folder of samples instead of the generated library")
    parser.add_argument("--mode", default="controller", choices=["controller", "converter"])
    parser.add_argument("--sox-only", nargs=2, metavar=("LIST", "OUTPUT"), help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.sox_only:
        run_sox(args.sox_only[0], pathlib.Path(args.sox_only[1]))
        return

    for tool in ("sox", "taskset") + (() if args.library else ("lame",)):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} is not installed")

    root = pathlib.Path(tempfile.mkdtemp(prefix="quillon-bench-"))
    try:
        library = pathlib.Path(args.library) if args.library else root / "library"
        if not args.library:
            subprocess.run([args.bench, "generate", str(library)], check=True)

        listed = subprocess.run([args.bench, "list", str(library)], check=True, capture_output=True, text=True).stdout
        list_file = root / "inputs.txt"
        list_file.write_text(listed)

        quillon, sox = [], []
        for round_index in range(args.rounds):
            sides = [("quillon", [args.bench, "run", str(library), str(root / "out"), "--mode", args.mode], quillon),
                     ("sox", [sys.executable, __file__, "--sox-only", str(list_file), str(root / "out")], sox)]
            for name, command, results in sides if round_index % 2 == 0 else reversed(sides):
                results.append(run_pinned(command, args.core))
                shutil.rmtree(root / "out", ignore_errors=True)
                print(f"round {round_index + 1} {name:8} {results[-1]['seconds']:8.3f} s", flush=True)
    finally:
        shutil.rmtree(root, ignore_errors=True)

    def median(results, figure):
        return statistics.median(figure(r) for r in results)

    figures = [
        ("files converted", lambda r: r["files"]),
        ("failed", lambda r: r["failures"]),
        ("wall time (s)", lambda r: r["seconds"]),
        ("files/s", lambda r: r["files"] / r["seconds"]),
        ("MB/s in (10^6 bytes)", lambda r: r["input_bytes"] / 1e6 / r["seconds"]),
        ("MB/s out", lambda r: r["output_bytes"] / 1e6 / r["seconds"]),
        ("MB in", lambda r: r["input_bytes"] / 1e6),
        ("MB out", lambda r: r["output_bytes"] / 1e6),
        ("peak memory (MiB)", lambda r: r["peak_kb"] / 1024),
    ]

    print(f"\n{'median of ' + str(args.rounds) + ' rounds, core ' + str(args.core):34}{'quillon':>12}{'sox':>12}")
    for name, figure in figures:
        print(f"{name:34}{median(quillon, figure):12.3f}{median(sox, figure):12.3f}")
    if quillon[0]["set_aside"] or quillon[0]["wrong"]:
        print(f"quillon: {quillon[0]['set_aside']:.0f} set aside (name taken), {quillon[0]['wrong']:.0f} outputs wrong")

    times_q = [r["seconds"] for r in quillon]
    times_s = [r["seconds"] for r in sox]
    print(f"\nwall time quillon / sox: median {statistics.median(times_q) / statistics.median(times_s):.3f}, "
          f"best {min(times_q) / min(times_s):.3f}  (below 1: quillon is faster)")


if __name__ == "__main__":
    main()
