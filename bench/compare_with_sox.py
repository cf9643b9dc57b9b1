#!/usr/bin/env python3
"""Converts the benchmark batch with quillon_bench, file by file through FileConverter and as one
whole run through ConverterController, and with sox (Debian's package), one file per call as
`sox IN -r 44100 -b 16 OUT.wav`, and prints the results side by side with their ratios to sox.

    compare_with_sox.py [path/to/quillon_bench] [--mode converter|controller]...
"""

import argparse
import pathlib
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def run_sox(batch, output):
    """Runs in its own process, so that the peak memory is that of the sox calls alone."""
    output.mkdir(parents=True, exist_ok=True)
    inputs = sorted(p for p in batch.iterdir() if p.is_file())
    failures = 0
    start = time.perf_counter()
    for source in inputs:
        target = output / (source.stem + ".wav")
        if subprocess.run(["sox", str(source), "-r", "44100", "-b", "16", str(target)]).returncode != 0:
            failures += 1
    seconds = time.perf_counter() - start
    written = sum(p.stat().st_size for p in output.iterdir())
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print(f"result files={len(inputs)} failures={failures} seconds={seconds} output_bytes={written} peak_kb={peak}")


def parse_result(text):
    match = re.search(r"^result (.*)$", text, re.MULTILINE)
    if match is None:
        sys.exit("no result in:\n" + text)
    values = dict(item.split("=") for item in match.group(1).split())
    return {key: float(value) for key, value in values.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bench", nargs="?", default=str(pathlib.Path(__file__).parent.parent / "build" / "bench" / "quillon_bench"))
    parser.add_argument("--mode", action="append", choices=["converter", "controller"],
                        help="the modes to measure (default: both)")
    parser.add_argument("--sox-only", nargs=2, metavar=("BATCH", "OUTPUT"), help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.sox_only:
        run_sox(pathlib.Path(args.sox_only[0]), pathlib.Path(args.sox_only[1]))
        return

    if shutil.which("sox") is None:
        sys.exit("sox is not installed (apt-get install sox)")

    root = pathlib.Path(tempfile.mkdtemp(prefix="quillon-bench-"))
    try:
        batch = root / "batch"
        subprocess.run([args.bench, "generate", str(batch)], check=True)

        modes = args.mode or ["converter", "controller"]
        results = {}
        for mode in modes:
            results[mode] = parse_result(subprocess.run(
                [args.bench, "run", str(batch), str(root / mode), "--mode", mode],
                check=True, capture_output=True, text=True).stdout)
        sox = parse_result(subprocess.run([sys.executable, __file__, "--sox-only", str(batch), str(root / "sox")],
                                          check=True, capture_output=True, text=True).stdout)
    finally:
        shutil.rmtree(root, ignore_errors=True)

    figures = [
        ("files", lambda r: r["files"]),
        ("failed", lambda r: r["failures"]),
        ("seconds", lambda r: r["seconds"]),
        ("files/s", lambda r: r["files"] / r["seconds"]),
        ("MB written (10^6 bytes)", lambda r: r["output_bytes"] / 1e6),
        ("MB/s of output", lambda r: r["output_bytes"] / 1e6 / r["seconds"]),
        ("peak memory (MiB)", lambda r: r["peak_kb"] / 1024),
    ]

    header = f"{'':26}" + "".join(f"{mode:>14}{'/ sox':>8}" for mode in modes) + f"{'sox':>14}"
    print(header)
    for name, figure in figures:
        line = f"{name:26}"
        for mode in modes:
            value, reference = figure(results[mode]), figure(sox)
            ratio = f"{value / reference:8.2f}" if reference else f"{'-':>8}"
            line += f"{value:14.3f}{ratio}"
        print(line + f"{figure(sox):14.3f}")
    print("converter: file by file through FileConverter; controller: one whole run through ConverterController")
    print("(worker thread, notifiers, message loop, 5 ms pause per file); '/ sox' is the ratio to sox:")
    print("above 1 is faster for files/s and MB/s, larger for seconds and memory")


if __name__ == "__main__":
    main()
