#!/usr/bin/env python3
"""Runs koc-segment and three peer OCR programs from Debian (Tesseract, ocrad,
gocr) on the corpus, scores their character boxes with score.py and writes
bench/RESULTS.md.

    bench/compare.py [--corpus build/corpus] [--segment PATH] [--work DIR] [--out bench/RESULTS.md]

Missing peers are installed with apt-get (as root, or through sudo).
Each program runs one category at a time:
  * koc-segment, three rows: "hand-given" runs one process per distinct
    run-parameter file of the category (--jobs 1, --no-auto, --params,
    --json); "edgelets" the same with --useGradientMethod 0 (line finding
    from row edgelets instead of the gradient field);
    "rectangle only, auto" runs one process over all the category's lines
    with nothing but --auto (--jobs 1, --json), which also switches on the
    extensions for hard input its measurements call for (the touching
    split, the walk budget, band-aware elements); all under /usr/bin/time -v
    for the peak memory. --koc-args adds arguments to every koc-segment run
    (for instance "--no-split-touching --walk-budget 0 --no-band-aware" to
    hold the extensions off, or "--split-touching --band-aware" to force
    them on);
  * tesseract: one process per category over a list file (--psm 7, a single
    line, or --psm 6, a block, for categories of several lines; the makebox
    config), OMP_THREAD_LIMIT=1; box files count y from the bottom;
  * ocrad: one process per category over all its PGM files (-x ORF);
  * gocr: one process per line (it reads one image), XML output.
Times are wall-clock times of the processes, including start-up and image
reading; PGM conversion for ocrad and gocr happens before timing.
"""

import argparse
import datetime
import json
import os
import platform
import re
import shlex
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import score  # noqa: E402

PEER_PACKAGES = {"tesseract": "tesseract-ocr", "ocrad": "ocrad", "gocr": "gocr", "pngtopnm": "netpbm",
                 "/usr/bin/time": "time"}
COMMANDS = []  # one example command per program, for RESULTS.md


def ensure_peers():
    missing = sorted({pkg for prog, pkg in PEER_PACKAGES.items() if not shutil.which(prog)})
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    print("installing:", " ".join(missing), flush=True)
    subprocess.run(sudo + ["apt-get", "update", "-q"], check=True, env=env)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "--no-install-recommends"] + missing
                   + (["tesseract-ocr-eng"] if "tesseract-ocr" in missing else []), check=True, env=env)


def timed(cmd, **kw):
    t0 = time.perf_counter()
    proc = subprocess.run(cmd, capture_output=True, text=True, **kw)
    return (time.perf_counter() - t0) * 1000.0, proc


def record(name, cmd):
    if not any(c[0] == name for c in COMMANDS):
        COMMANDS.append((name, " ".join(c if c.endswith("...") else shlex.quote(c) for c in cmd)))


def rect(x0, y0, x1, y1, space=False):
    return {"po": [x0, y0], "px": [x1, y0], "py": [x0, y1], "isSpace": space}


def run_koc(segment, corpus_dir, entries, work, cat, auto=False, edgelets=False, extra=()):
    """auto: the whole image as the rectangle and nothing else (--auto);
    edgelets: the hand-given parameters with the edgelet line finder;
    extra: further koc-segment arguments."""
    groups = {}
    for e in entries:
        if auto:
            groups.setdefault("auto", (None, []))[1].append(e)
            continue
        with open(os.path.join(corpus_dir, e["params"])) as f:
            key = json.dumps(json.load(f), sort_keys=True)
        groups.setdefault(key, (os.path.join(corpus_dir, e["params"]), []))[1].append(e)
    images, wall, peak_kb, library = [], 0.0, 0, 0.0
    for k, (params, group) in enumerate(groups.values()):
        name = "koc-auto" if auto else "koc-edgelets" if edgelets else "koc"
        out = os.path.join(work, f"{name}-{cat}-{k}.json")
        tfile = os.path.join(work, f"{name}-{cat}-{k}.time")
        how = ["--auto"] if auto else ["--no-auto", "--params", params]
        method = ["--useGradientMethod", "0"] if edgelets else []
        how += method + list(extra)
        cmd = ["/usr/bin/time", "-v", "-o", tfile, segment, "--jobs", "1"] + how + ["--json", out]
        cmd += [os.path.join(corpus_dir, e["png"]) for e in group]
        record("koc-segment" + (" (auto)" if auto else " (edgelets)" if edgelets else ""),
               ["/usr/bin/time", "-v", "-o", "PEAK.txt", os.path.relpath(segment), "--jobs", "1"] +
               (["--auto"] if auto else ["--no-auto", "--params", "LINE.params.json"]) + method + list(extra) +
               ["--json", "OUT.json", "IMAGE.png ..."])
        ms, proc = timed(cmd)
        if proc.returncode not in (0, 1):
            raise SystemExit(f"koc-segment failed ({proc.returncode}): {proc.stderr[-2000:]}")
        wall += ms
        with open(tfile) as f:
            m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read())
            peak_kb = max(peak_kb, int(m.group(1)) if m else 0)
        with open(out) as f:
            data = json.load(f)
        for obj in data if isinstance(data, list) else [data]:
            images.append(score.from_koc(obj))
            library += obj.get("elapsedMs") or 0.0
    return {"system": name, "wallMs": wall, "libraryMs": library, "peakKb": peak_kb, "processes": len(groups),
            "images": images}


def run_tesseract(corpus_dir, entries, work, cat, heights, block=False):
    listfile = os.path.join(work, f"tess-{cat}.list")
    with open(listfile, "w") as f:
        for e in entries:
            f.write(os.path.abspath(os.path.join(corpus_dir, e["png"])) + "\n")
    base = os.path.join(work, f"tess-{cat}")
    cmd = ["tesseract", listfile, base, "--psm", "6" if block else "7", "makebox"]
    record("tesseract" + (" (several lines)" if block else ""), ["OMP_THREAD_LIMIT=1"] + cmd)
    ms, proc = timed(cmd, env=dict(os.environ, OMP_THREAD_LIMIT="1"))
    text = ""
    if os.path.exists(base + ".box"):
        with open(base + ".box", encoding="utf-8", errors="replace") as f:
            text = f.read()
    return {"system": "tesseract", "wallMs": ms,
            "images": parse_box(text, [e["png"] for e in entries], [heights[e["id"]] for e in entries])}


def parse_box(text, images, heights):
    """Tesseract box lines "c x0 y0 x1 y1 page" (y up from the bottom) per listed image."""
    out = [{"image": im, "boxes": []} for im in images]
    for line in text.splitlines():
        parts = line.rsplit(" ", 5)
        if len(parts) != 6:
            continue
        x0, y0, x1, y1, page = (int(v) for v in parts[1:])
        if 0 <= page < len(out):
            h = heights[page]
            out[page]["boxes"].append(rect(x0, h - y1, x1, h - y0, parts[0] == " "))
    return out


def run_ocrad(pgms, entries, work, cat):
    out = os.path.join(work, f"ocrad-{cat}.orf")
    cmd = ["ocrad", "-q", "-f", "-x", out, "-o", os.path.join(work, f"ocrad-{cat}.txt")]
    cmd += [pgms[e["id"]] for e in entries]
    record("ocrad", cmd[:7] + ["IMAGE.pgm ..."])
    ms, proc = timed(cmd)
    if proc.returncode != 0:
        print(f"ocrad exited with {proc.returncode}: {proc.stderr.strip()[:500]}", file=sys.stderr)
    text = ""
    if os.path.exists(out):
        with open(out, encoding="utf-8", errors="replace") as f:
            text = f.read()
    images = parse_orf(text)
    seen = {score.stem(i["image"]) for i in images}
    images += [{"image": e["png"], "boxes": []} for e in entries if e["id"] not in seen]
    return {"system": "ocrad", "wallMs": ms, "images": images}


def parse_orf(text):
    """ocrad's ORF export: per "source file", the character lines "x y w h; n, guesses"."""
    images, current = [], None
    char = re.compile(r"^\s*(-?\d+)\s+(-?\d+)\s+(\d+)\s+(\d+);\s*(\d+)(.*)$")
    for line in text.splitlines():
        if line.startswith("source file "):
            current = {"image": line[len("source file "):].strip(), "boxes": []}
            images.append(current)
            continue
        m = char.match(line)
        if m and current is not None:
            x, y, w, h = (int(m.group(i)) for i in range(1, 5))
            space = m.group(6).strip().startswith(", ' '")
            current["boxes"].append(rect(x, y, x + w, y + h, space))
    return images


def parse_gocr(text):
    """gocr's XML: <box> for characters, <space> for spaces; x, y, dx, dy in pixels."""
    boxes = []
    try:
        root = ET.fromstring(text)
    except ET.ParseError:
        return boxes  # unparsable output counts as no detections
    for node in root.iter():
        if node.tag in ("box", "space"):
            x, y = int(node.get("x", 0)), int(node.get("y", 0))
            w, h = int(node.get("dx", 0)), int(node.get("dy", 0))
            boxes.append(rect(x, y, x + w, y + h, node.tag == "space"))
    return boxes


def run_gocr(pgms, entries, work, cat):
    images, wall = [], 0.0
    for e in entries:
        cmd = ["gocr", "-f", "XML", "-i", pgms[e["id"]]]
        record("gocr", cmd[:4] + ["IMAGE.pgm"])
        ms, proc = timed(cmd)
        wall += ms
        images.append({"image": e["png"], "boxes": parse_gocr(proc.stdout)})
    return {"system": "gocr", "wallMs": wall, "images": images}


def to_pgm(corpus_dir, entries, work):
    pgms = {}
    os.makedirs(os.path.join(work, "pgm"), exist_ok=True)
    for e in entries:
        dst = os.path.join(work, "pgm", e["id"] + ".pgm")
        if not os.path.exists(dst):
            with open(dst, "wb") as f:
                subprocess.run(["pngtopnm", os.path.join(corpus_dir, e["png"])], stdout=f, check=True)
        pgms[e["id"]] = dst
    return pgms


def machine():
    try:
        lscpu = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        model = re.search(r"Model name:\s*(.+)", lscpu)
        model = model.group(1).strip() if model else platform.processor()
    except OSError:
        model = platform.processor()
    return f"{model}, {os.cpu_count()} logical CPUs (nproc {len(os.sched_getaffinity(0))}), {platform.platform()}"


def versions():
    out = []
    for cmd in (["tesseract", "--version"], ["ocrad", "--version"], ["gocr", "-h"]):
        p = subprocess.run(cmd, capture_output=True, text=True)
        text = (p.stdout + p.stderr).strip().splitlines()
        first = next((t for t in text if re.search(r"\d+\.\d+", t)), text[0] if text else "?")
        out.append(first.strip())
    return out


def f3(v):
    return "-" if v is None else f"{v:.3f}"


def ms_(v):
    return "-" if v is None else (f"{v:.2f}" if v < 10 else f"{v:.1f}")


def speed_ratio(peer_ms, koc_ms):
    return "-" if not peer_ms or not koc_ms else f"{peer_ms / koc_ms:.1f}x"


FLOORS = {"clean": 0.97, "rotated": 0.97, "slanted": 0.97, "dot_matrix": 0.95, "seven_segment": 0.95,
          "multi_line": 0.95}
AUTO_FLOOR = 0.96  # every category, rectangle only
HAND_WRITTEN = "## Findings"


def lib_overall(koc_runs):
    return sum(r["libraryMs"] for r in koc_runs.values()) / max(1, sum(len(r["images"]) for r in koc_runs.values()))


def koc_detail(L, title, results, runs, rows):
    L += ["", title, "",
          "| category | lines | P | R | F1 | lines found | mean angle err (deg) | space P | space R "
          "| library ms/line | processes | peak RSS per process (MiB) |",
          "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for c in rows:
        k = results[c]
        run = runs.get(c)
        lib = (run["libraryMs"] / max(1, len(run["images"]))) if run else lib_overall(runs)
        peak = run["peakKb"] if run else max(r["peakKb"] for r in runs.values())
        procs = run["processes"] if run else sum(r["processes"] for r in runs.values())
        ang = k["meanAngleErrDeg"]
        L.append(f"| {c} | {k['lines']} | {f3(k['precision'])} | {f3(k['recall'])} | {f3(k['f1'])} "
                 f"| {k['linesFound']} | {'-' if ang is None else f'{ang:.2f}'} | {f3(k['spacePrecision'])} "
                 f"| {f3(k['spaceRecall'])} | {ms_(lib)} | {procs} | {peak / 1024:.1f} |")


EDGELET_TOLERANCE = 0.03  # the edgelet row's F1 against the gradient row's, every category


def write_results(path, results, koc_runs, auto_runs, edgelet_runs, argv, started, corpus_dir, n_lines, cats):
    systems = ["koc", "tesseract", "ocrad", "gocr"]
    rows = cats + ["overall"]
    L = ["# Measured against the peers", "",
         f"Generated by `bench/compare.py` on {started:%Y-%m-%d %H:%M} (local time).", "",
         f"- Machine: {machine()}",
         f"- Peers: {'; '.join(versions())}",
         f"- Corpus: `{corpus_dir}`, {n_lines} lines from `bench/corpus.py` (fixed seeds).", "",
         "F1 of the character boxes (IoU >= 0.5 between axis-aligned boxes, one-to-one, spaces excluded; "
         "in multi_line, matched per text line: koc's boxes on the line it reported them, the peers' on "
         "the text line nearest their centre) "
         "and wall-clock milliseconds per line (whole processes: start-up, image reading, output). "
         "\"koc x faster\" is the peer's time per line divided by koc's (hand-given row). "
         "Three koc rows: \"hand\" with the run parameters a user would pick per line (`IMAGE.params.json`), "
         "\"edgelets\" the same with `--useGradientMethod 0` (the line found from row edgelets), "
         "\"auto\" with nothing but the search rectangle and `--auto`.", "",
         "| category | koc hand F1 | ms | koc edgelets F1 | ms | koc auto F1 | ms | Tesseract F1 | ms | koc x faster "
         "| ocrad F1 | ms | koc x faster | gocr F1 | ms | koc x faster |",
         "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for c in rows:
        k = results["koc"][c]
        a = results["koc-auto"][c]
        g = results["koc-edgelets"][c]
        cells = [c, f3(k["f1"]), ms_(k["msPerLine"]), f3(g["f1"]), ms_(g["msPerLine"]), f3(a["f1"]), ms_(a["msPerLine"])]
        for s in systems[1:]:
            m = results[s][c]
            cells += [f3(m["f1"]), ms_(m["msPerLine"]), speed_ratio(m["msPerLine"], k["msPerLine"])]
        L.append("| " + " | ".join(cells) + " |")
    koc_detail(L, "## koc in detail, hand-given parameters", results["koc"], koc_runs, rows)
    koc_detail(L, "## koc in detail, hand-given parameters with edgelet line finding (--useGradientMethod 0)",
               results["koc-edgelets"], edgelet_runs, rows)
    koc_detail(L, "## koc in detail, rectangle only (--auto)", results["koc-auto"], auto_runs, rows)
    L += ["", "## Peers in detail (precision / recall)", "", "| category | " +
          " | ".join(f"{s} P | {s} R" for s in systems[1:]) + " |", "|---" * 7 + "|"]
    for c in rows:
        L.append(f"| {c} | " + " | ".join(f"{f3(results[s][c]['precision'])} | {f3(results[s][c]['recall'])}"
                                          for s in systems[1:]) + " |")
    L += ["", "## Goals", ""]
    for c in cats:
        k, worst = results["koc"][c], []
        for s in systems[1:]:
            if results[s][c]["f1"] >= k["f1"]:
                worst.append(f"{s} {results[s][c]['f1']:.3f}")
        floor = FLOORS.get(c)
        mark = "met" if not worst and (floor is None or k["f1"] >= floor) else "NOT met"
        why = ([f"below {floor}"] if floor is not None and k["f1"] < floor else []) + \
            ([f"not above {', '.join(worst)}"] if worst else [])
        L.append(f"- F1 {c}: {k['f1']:.3f}{f' (goal >= {floor} and above every peer)' if floor else ' (goal: above every peer)'}"
                 f" -> {mark}{': ' + '; '.join(why) if why else ''}")
    for c in cats:
        a, k = results["koc-auto"][c], results["koc"][c]
        best = max(results[s][c]["f1"] for s in systems[1:])
        why = ([f"below {AUTO_FLOOR}"] if a["f1"] < AUTO_FLOOR else []) + \
            ([f"below the best peer {best:.3f}"] if a["f1"] < best else []) + \
            ([f"below hand-given {k['f1']:.3f}"] if a["f1"] < k["f1"] else [])
        L.append(f"- F1 {c}, rectangle only (auto): {a['f1']:.3f} (goal >= {AUTO_FLOOR}, at or above the best peer "
                 f"and the hand-given row) -> {'NOT met: ' + '; '.join(why) if why else 'met'}")
    for c in cats:
        g, k = results["koc-edgelets"][c], results["koc"][c]
        ok = g["f1"] >= k["f1"] - EDGELET_TOLERANCE
        L.append(f"- F1 {c}, edgelet line finding: {g['f1']:.3f} (goal: within {EDGELET_TOLERANCE} of the gradient "
                 f"method's {k['f1']:.3f}) -> {'met' if ok else 'NOT met'}")
    o = {s: results[s]["overall"]["msPerLine"] for s in systems}
    L.append(f"- Speed vs Tesseract (goal >= 50x): {o['tesseract'] / o['koc']:.1f}x wall clock, "
             f"{o['tesseract'] / lib_overall(koc_runs):.1f}x against koc's library time alone")
    for s in ("ocrad", "gocr"):
        L.append(f"- Speed vs {s} (goal: faster): {o[s] / o['koc']:.2f}x wall clock, "
                 f"{o[s] / lib_overall(koc_runs):.2f}x against koc's library time alone")
    L += ["", "## Commands", "", "```sh", "bench/corpus.py --out " + corpus_dir, " ".join(argv)]
    L += [f"# per category, {name}: {cmd}" for name, cmd in COMMANDS]
    L += ["```", "",
          "Each category's lines are run together: koc-segment once per distinct parameter file "
          "(`IMAGE.params.json`, the whole image as the search rectangle) and once more over all lines with "
          "`--auto` alone and once per parameter file with `--useGradientMethod 0`, Tesseract once over a "
          "list file, ocrad once over the PGM copies, gocr once per line. No polarity, angle or other "
          "hint is given to the peers.", ""]
    # A hand-written findings section at the end survives regeneration.
    if os.path.exists(path):
        with open(path) as f:
            previous = f.read()
        if HAND_WRITTEN in previous:
            L += [previous[previous.index(HAND_WRITTEN):].rstrip("\n")]
    with open(path, "w") as f:
        f.write("\n".join(L) + "\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corpus", default="build/corpus")
    ap.add_argument("--segment", default=None, help="koc-segment (default: build/harness or build/release)")
    ap.add_argument("--work", default="build/compare", help="directory for the programs' outputs")
    ap.add_argument("--out", default=os.path.join(here, "RESULTS.md"))
    ap.add_argument("--skip-peers", action="store_true", help="run koc-segment only")
    ap.add_argument("--koc-args", default="", help="further arguments for every koc-segment run (one string)")
    args = ap.parse_args()
    segment = args.segment
    if segment is None:
        for preset in ("harness", "release"):
            cand = os.path.join(here, "..", "build", preset, "tools", "koc-segment")
            if os.path.exists(cand):
                segment = os.path.normpath(cand)
                break
        else:
            raise SystemExit("no koc-segment found; build it or pass --segment")
    started = datetime.datetime.now()
    if not args.skip_peers:
        ensure_peers()
    with open(os.path.join(args.corpus, "manifest.json")) as f:
        manifest = json.load(f)
    corpus = score.load_corpus(args.corpus)
    heights = {k: v["truth"]["height"] for k, v in corpus.items()}
    cats = list(dict.fromkeys(e["category"] for e in manifest))
    os.makedirs(args.work, exist_ok=True)
    files = {s: [] for s in ("koc", "koc-edgelets", "koc-auto", "tesseract", "ocrad", "gocr")}
    koc_runs, auto_runs, edgelet_runs = {}, {}, {}
    pgms = {} if args.skip_peers else to_pgm(args.corpus, manifest, args.work)
    for cat in cats:
        entries = [e for e in manifest if e["category"] == cat]
        print(f"{cat}: {len(entries)} lines", flush=True)
        extra = shlex.split(args.koc_args)
        runs = {"koc": run_koc(segment, args.corpus, entries, args.work, cat, extra=extra)}
        koc_runs[cat] = runs["koc"]
        runs["koc-edgelets"] = edgelet_runs[cat] = run_koc(segment, args.corpus, entries, args.work, cat,
                                                           edgelets=True, extra=extra)
        runs["koc-auto"] = auto_runs[cat] = run_koc(segment, args.corpus, entries, args.work, cat, auto=True,
                                                    extra=extra)
        if not args.skip_peers:
            block = any(corpus[e["id"]]["truth"].get("lines", 1) > 1 for e in entries)
            runs["tesseract"] = run_tesseract(args.corpus, entries, args.work, cat, heights, block)
            runs["ocrad"] = run_ocrad(pgms, entries, args.work, cat)
            runs["gocr"] = run_gocr(pgms, entries, args.work, cat)
        for s, run in runs.items():
            path = os.path.join(args.work, f"{s}-{cat}.detections.json")
            with open(path, "w") as f:
                json.dump(run, f)
            files[s].append(path)
    results = {}
    for s, paths in files.items():
        if paths:
            results[s] = score.score(corpus, paths)
            print(score.table(results[s], s), "\n", flush=True)
    with open(os.path.join(args.work, "scores.json"), "w") as f:
        json.dump(results, f, indent=1)
    if not args.skip_peers:
        write_results(args.out, results, koc_runs, auto_runs, edgelet_runs, ["bench/compare.py"] + sys.argv[1:], started, args.corpus,
                      len(manifest), cats)
        print("wrote", args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
