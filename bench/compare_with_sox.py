#!/usr/bin/env python3
"""Converts the benchmark batch with quillon_bench and with sox (Debian's package), one file per
call as `sox IN -r 44100 -b 16 OUT.wav`, and prints both results side by side with the ratio.

    compare_with_sox.py [path/to/quillon_bench] [--mode converter]
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
    parser.add_argument("--mode", default="converter")
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

        ours = subprocess.run([args.bench, "run", str(batch), str(root / "ours"), "--mode", args.mode],
                              check=True, capture_output=True, text=True).stdout
        theirs = subprocess.run([sys.executable, __file__, "--sox-only", str(batch), str(root / "sox")],
                                check=True, capture_output=True, text=True).stdout
    finally:
        shutil.rmtree(root, ignore_errors=True)

    a, b = parse_result(ours), parse_result(theirs)
    rows = [
        ("files", a["files"], b["files"]),
        ("failed", a["failures"], b["failures"]),
        ("seconds", a["seconds"], b["seconds"]),
        ("files/s", a["files"] / a["seconds"], b["files"] / b["seconds"]),
        ("MB written (10^6 bytes)", a["output_bytes"] / 1e6, b["output_bytes"] / 1e6),
        ("MB/s of output", a["output_bytes"] / 1e6 / a["seconds"], b["output_bytes"] / 1e6 / b["seconds"]),
        ("peak memory (MiB)", a["peak_kb"] / 1024, b["peak_kb"] / 1024),
    ]

    print(f"{'':26}{'FileConverter (' + args.mode + ')':>28}{'sox':>14}{'ratio':>10}")
    for name, ours_value, sox_value in rows:
        ratio = f"{ours_value / sox_value:10.2f}" if sox_value else f"{'-':>10}"
        print(f"{name:26}{ours_value:28.3f}{sox_value:14.3f}{ratio}")
    print("ratio = FileConverter / sox; above 1 is faster for files/s and MB/s, larger for seconds and memory")


if __name__ == "__main__":
    main()
