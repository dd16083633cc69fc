#!/usr/bin/python3
"""Runs bench_e2e several times and folds its tables into one.

usage: bench/e2e_summary.py [--runs N] [--bench PATH] [--out DIR] [MODE...]
       bench/e2e_summary.py --fold OUTPUT...   (outputs of earlier invocations)

Each invocation of bench_e2e is itself the median of five runs per receiver;
this prints every table cell as the median over the invocations with their
range, keeps each invocation's output and latency samples in DIR
(default bench-out/), and draws the last invocation's latency distribution
into DIR/latency.png (bench/plot_latency.py). MODE defaults to
"throughput latency".
"""
import argparse
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def tables(text):
    """{table header: {row name: [cells]}} of bench_e2e's markdown tables."""
    found, header, rows = {}, None, None
    for line in text.splitlines():
        if not line.startswith("|"):
            header = None
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if header is None:
            header = tuple(cells)
            rows = found.setdefault(header, {})
        elif not set(cells[0]) <= {"-"}:
            rows[cells[0]] = cells[1:]
    return found


def fold(values, rates=False):
    try:
        numbers = [float(v) for v in values]
    except ValueError:
        return values[-1]
    mid = statistics.median(numbers)
    lo, hi = min(numbers), max(numbers)
    if rates and max(abs(x) for x in numbers) >= 100000:  # frames per second
        return f"{mid / 1e6:.2f} M ({lo / 1e6:.2f}–{hi / 1e6:.2f})"
    return f"{mid:.2f} ({lo:.2f}–{hi:.2f})" if max(abs(x) for x in numbers) < 10 else \
        f"{mid:.1f} ({lo:.1f}–{hi:.1f})"


def print_folded(outputs):
    names = {}
    for o in outputs:
        for header, rows in o.items():
            names.setdefault(header, [])
            names[header] += [n for n in rows if n not in names[header]]
    for header, rows in names.items():
        print("\n| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
        for name in rows:
            runs = [o.get(header, {}).get(name) for o in outputs]
            runs = [r for r in runs if r]
            # Only the throughput table counts frames per second.
            rates = header[0] == "stream"
            cells = [fold([r[k] for r in runs], rates) for k in range(len(runs[0]))]
            print("| " + " | ".join([name] + cells) + f" | ({len(runs)})")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--runs", type=int, default=3)
    p.add_argument("--bench", default=os.path.join(HERE, "..", "build", "bin", "bench_e2e"))
    p.add_argument("--out", default="bench-out")
    p.add_argument("--fold", action="store_true", help="fold the outputs named instead of running")
    p.add_argument("modes", nargs="*", default=["throughput", "latency"])
    args = p.parse_args()
    if args.fold:
        outputs = []
        for path in args.modes:
            with open(path) as f:
                outputs.append(tables(f.read()))
        print_folded(outputs)
        return
    os.makedirs(args.out, exist_ok=True)
    outputs = []
    for i in range(args.runs):
        csv = os.path.join(args.out, f"latency-{i + 1}.csv")
        text = subprocess.run([args.bench, "--csv", csv] + args.modes, check=True,
                              capture_output=True, text=True).stdout
        with open(os.path.join(args.out, f"bench_e2e-{i + 1}.txt"), "w") as f:
            f.write(text)
        outputs.append(tables(text))
        print(f"invocation {i + 1} of {args.runs} done", file=sys.stderr)
    print_folded(outputs)
    last = os.path.join(args.out, f"latency-{args.runs}.csv")
    if "latency" in args.modes and os.path.exists(last):
        subprocess.run([os.path.join(HERE, "plot_latency.py"), last, os.path.join(args.out, "latency.png")],
                       check=True)
        print(f"\nlatency distribution: {os.path.join(args.out, 'latency.png')}", file=sys.stderr)


if __name__ == "__main__":
    main()
