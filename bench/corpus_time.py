#!/usr/bin/env python3
"""Median library time per corpus line, for one or more koc-segment builds.

Runs every line of a corpus made by bench/corpus.py with its own parameter
file (the hand-given record, --no-auto where the build knows it) and reads
koc-segment's `elapsedMs`: the time spent in the library, without process
start-up, image reading or output. Builds are alternated line by line, and
the corpus is run twice, so a busy machine slows them alike.

Two ways to run a line:
  grouped (default)  lines that share a parameter file go through one
                     process, each line once: what a program that keeps
                     running sees (caches and heap warm from other lines,
                     never from the same one);
  --per-process      one process per line: every line is a first call.

Only the standard library is needed.

  bench/corpus_time.py --corpus build/corpus --per-category 16 \
      before=OLD/tools/koc-segment after=build/release/tools/koc-segment:--no-auto

A build is LABEL=PATH, optionally followed by :ARG:ARG... passed before the
parameter file.
"""
import argparse
import collections
import glob
import hashlib
import json
import os
import statistics
import subprocess
import sys


def corpus_lines(corpus, per_category):
    stems = sorted(p[: -len(".params.json")] for p in glob.glob(os.path.join(corpus, "*.params.json")))
    taken = collections.Counter()
    for stem in stems:
        category = os.path.basename(stem).rsplit("-", 1)[0]
        if per_category and taken[category] >= per_category:
            continue
        taken[category] += 1
        yield stem


def parse_build(text):
    label, _, rest = text.partition("=")
    if not rest:
        sys.exit(f"a build is LABEL=PATH[:ARG...], not {text!r}")
    exe, *extra = rest.split(":")
    return label, exe, extra


def run(exe, extra, params, images):
    out = subprocess.run([exe, "--jobs", "1", *extra, "--params", params, "--json", "-", *images],
                         capture_output=True, text=True, check=True).stdout
    doc = json.loads(out)
    return [d["elapsedMs"] for d in (doc if isinstance(doc, list) else [doc])]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corpus", required=True, help="directory written by bench/corpus.py")
    ap.add_argument("--per-category", type=int, default=0, help="first N lines of each category (0: all)")
    ap.add_argument("--per-process", action="store_true", help="one process per line")
    ap.add_argument("--rounds", type=int, default=2)
    ap.add_argument("builds", nargs="+", help="LABEL=PATH[:ARG...]")
    args = ap.parse_args()

    builds = [parse_build(b) for b in args.builds]
    stems = list(corpus_lines(args.corpus, args.per_category))
    if not stems:
        sys.exit(f"no lines in {args.corpus}")
    if args.per_process:
        batches = [[s] for s in stems]
    else:
        groups = collections.defaultdict(list)
        for s in stems:
            with open(s + ".params.json", "rb") as f:
                groups[hashlib.sha1(f.read()).hexdigest()].append(s)
        batches = list(groups.values())

    times = {label: [] for label, _, _ in builds}
    for _ in range(args.rounds):
        for batch in batches:
            for label, exe, extra in builds:
                times[label] += run(exe, extra, batch[0] + ".params.json", [s + ".png" for s in batch])
    how = "one process per line" if args.per_process else f"{len(batches)} processes, lines sharing a parameter file together"
    print(f"{len(stems)} lines, {args.rounds} rounds, {how}")
    for label, _, _ in builds:
        t = times[label]
        print(f"{label}: median {statistics.median(t):.3f} ms per line, mean {statistics.mean(t):.3f} ms")


if __name__ == "__main__":
    main()
