#!/usr/bin/env python3
"""Scores character boxes against the corpus ground truth.

Detections come in either of two shapes:
  * koc-segment's --json output: one per-image object or an array of them;
    every non-space position's markRect is a character, every space's
    cellRect a space;
  * the neutral shape the comparison writes for every program:
    {"system": name, "wallMs": total, "images": [{"image": path,
     "boxes": [{"po": [x, y], "px": [x, y], "py": [x, y], "isSpace": bool}],
     "lineAngle": deg or null}]}.
Images are matched to corpus lines by file stem, so a PGM copy of a line
still finds its truth.

A detection matches a truth character when the intersection over union of
their axis-aligned bounding boxes is at least 0.5; matching is one-to-one,
greedy by best IoU. A line of several text lines (its truth numbers them) is
scored per text line: a detection counts only against the characters of the
line it was reported on (koc-segment's line index), or, for programs that
report no lines, of the text line nearest its vertical centre. Spaces are scored apart: a detected space matches a
truth space when its centre, projected on the line direction, falls in the
gap between the ink of the characters beside that space.

Time per line is the total wall time of the files divided by their lines
when "wallMs" is given, else the mean of koc-segment's per-image elapsedMs
(library time only).

Usage:
    bench/score.py --corpus DIR [--json OUT] [--name NAME] DETECTIONS.json...
    bench/score.py --corpus DIR --emit-truth OUT.json   # truth as koc-segment JSON
"""

import argparse
import json
import math
import os
import sys

IOU_MIN = 0.5


def stem(path):
    base = os.path.basename(path)
    for ext in (".png", ".pgm", ".pnm", ".tif"):
        if base.endswith(ext):
            return base[: -len(ext)]
    return base


def load_corpus(directory):
    """{stem: {"category", "truth"}} for every line of the manifest."""
    with open(os.path.join(directory, "manifest.json")) as f:
        manifest = json.load(f)
    lines = {}
    for entry in manifest:
        with open(os.path.join(directory, entry["truth"])) as f:
            truth = json.load(f)
        lines[entry["id"]] = {"category": entry["category"], "truth": truth}
    return lines


def corners(rect):
    po, px, py = rect["po"], rect["px"], rect["py"]
    return [po, px, py, [px[0] + py[0] - po[0], px[1] + py[1] - po[1]]]


def aabb(rect):
    c = corners(rect)
    xs, ys = [p[0] for p in c], [p[1] for p in c]
    return (min(xs), min(ys), max(xs), max(ys))


def iou(a, b):
    w = min(a[2], b[2]) - max(a[0], b[0])
    h = min(a[3], b[3]) - max(a[1], b[1])
    if w <= 0 or h <= 0:
        return 0.0
    inter = w * h
    union = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter
    return inter / union if union > 0 else 0.0


def match_boxes(truth_boxes, det_boxes):
    """Number of one-to-one matches, greedy by best IoU >= IOU_MIN."""
    pairs = []
    for i, t in enumerate(truth_boxes):
        for j, d in enumerate(det_boxes):
            # cheap reject before the IoU
            if d[0] >= t[2] or t[0] >= d[2]:
                continue
            v = iou(t, d)
            if v >= IOU_MIN:
                pairs.append((v, i, j))
    pairs.sort(key=lambda p: -p[0])
    used_t, used_d = set(), set()
    for _, i, j in pairs:
        if i not in used_t and j not in used_d:
            used_t.add(i)
            used_d.add(j)
    return len(used_t)


def line_direction(chars):
    sx = sy = 0.0
    for c in chars:
        if not c.get("isSpace"):
            b = c["box"]
            dx, dy = b["px"][0] - b["po"][0], b["px"][1] - b["po"][1]
            n = math.hypot(dx, dy)
            if n > 0:
                sx, sy = sx + dx / n, sy + dy / n
    n = math.hypot(sx, sy)
    return (1.0, 0.0) if n == 0 else (sx / n, sy / n)


def truth_angle(truth):
    u = line_direction(truth["chars"])
    return math.degrees(math.atan2(u[1], u[0]))


def space_gaps(chars, u):
    """For each truth space between two inked characters, the interval along
    u between the ink beside it."""
    def extent(rect):
        proj = [p[0] * u[0] + p[1] * u[1] for p in corners(rect)]
        return min(proj), max(proj)

    gaps = []
    for k, c in enumerate(chars):
        if not c.get("isSpace"):
            continue
        before = [extent(x["box"])[1] for x in chars[:k] if not x.get("isSpace")]
        after = [extent(x["box"])[0] for x in chars[k + 1:] if not x.get("isSpace")]
        if not before or not after:
            continue  # an indent or a trailing space separates nothing
        gaps.append((max(before), min(after)))
    return gaps


def match_spaces(gaps, det_spaces, u):
    used = [False] * len(gaps)
    hits = 0
    for rect in det_spaces:
        c = corners(rect)
        cx = (c[0][0] + c[3][0]) / 2
        cy = (c[0][1] + c[3][1]) / 2
        t = cx * u[0] + cy * u[1]
        for k, (lo, hi) in enumerate(gaps):
            if not used[k] and lo <= t <= hi:
                used[k] = True
                hits += 1
                break
    return hits


def from_koc(obj):
    """koc-segment's per-image object in the neutral shape; each box carries
    the index of the line it was reported on."""
    boxes, angle = [], None
    for para in obj.get("paragraphs", []):
        for index, line in enumerate(para.get("lines", [])):
            if not line.get("found"):
                continue
            if angle is None:
                angle = line.get("lineAngle")
            for pos in line.get("positions", []):
                rect = pos["cellRect"] if pos.get("isSpace") else pos["markRect"]
                boxes.append(dict(rect, isSpace=bool(pos.get("isSpace")), line=index))
    return {"image": obj["image"], "boxes": boxes, "lineAngle": angle, "elapsedMs": obj.get("elapsedMs")}


def load_detections(path):
    """(images, wallMs or None, system name or None) from one file."""
    with open(path) as f:
        data = json.load(f)
    if isinstance(data, dict) and "images" in data:
        return data["images"], data.get("wallMs"), data.get("system")
    objs = data if isinstance(data, list) else [data]
    return [from_koc(o) for o in objs], None, "koc"


def split_lines(truth, boxes):
    """([(truth chars, detected boxes)] per text line, boxes on no text line).
    Boxes without a line index go to the text line whose vertical centre is
    nearest theirs; boxes reported on a line the truth lacks match nothing."""
    n = truth.get("lines", 1)
    chars = [[c for c in truth["chars"] if c.get("line", 0) == k] for k in range(n)]
    if n == 1:
        return [(chars[0], [b for b in boxes if b.get("line", 0) == 0])], \
            [b for b in boxes if b.get("line", 0) != 0]
    centres = []
    for line in chars:
        ys = [y for c in line if not c.get("isSpace") for y in (aabb(c["box"])[1], aabb(c["box"])[3])]
        centres.append((min(ys) + max(ys)) / 2 if ys else math.inf)
    groups, stray = [[] for _ in range(n)], []
    for b in boxes:
        k = b.get("line")
        if k is None:
            box = aabb(b)
            k = min(range(n), key=lambda i: abs(centres[i] - (box[1] + box[3]) / 2))
        (groups[k] if 0 <= k < n else stray).append(b)
    return list(zip(chars, groups)), stray


def score(corpus, detection_files):
    """Per-category and overall metrics (dict keyed by category, plus 'overall')."""
    found = {}
    for path in detection_files:
        images, wall, _ = load_detections(path)
        per_image_ms = wall / len(images) if wall is not None and images else None
        for im in images:
            ms = per_image_ms if per_image_ms is not None else im.get("elapsedMs")
            found[stem(im["image"])] = (im, ms)
    acc = {}
    for key, line in sorted(corpus.items()):
        cat = line["category"]
        a = acc.setdefault(cat, {"lines": 0, "scored": 0, "truth": 0, "detected": 0, "matched": 0,
                                 "angleErr": [], "linesFound": 0, "truthSpaces": 0, "detSpaces": 0,
                                 "matchedSpaces": 0, "ms": []})
        a["lines"] += 1
        truth = line["truth"]
        u = line_direction(truth["chars"])
        per_line, stray = split_lines(truth, found[key][0]["boxes"] if key in found else [])
        for chars, _ in per_line:
            a["truth"] += sum(1 for c in chars if not c.get("isSpace"))
            a["truthSpaces"] += len(space_gaps(chars, u))
        if key not in found:
            continue  # no output for the line: every truth character is missed
        im, ms = found[key]
        a["scored"] += 1
        if ms is not None:
            a["ms"].append(ms)
        a["detected"] += sum(1 for b in stray if not b.get("isSpace"))
        a["detSpaces"] += sum(1 for b in stray if b.get("isSpace"))
        for chars, boxes in per_line:
            tboxes = [aabb(c["box"]) for c in chars if not c.get("isSpace")]
            dboxes = [aabb(b) for b in boxes if not b.get("isSpace")]
            dspaces = [b for b in boxes if b.get("isSpace")]
            a["detected"] += len(dboxes)
            a["matched"] += match_boxes(tboxes, dboxes)
            a["detSpaces"] += len(dspaces)
            a["matchedSpaces"] += match_spaces(space_gaps(chars, u), dspaces, u)
        if im.get("lineAngle") is not None:
            a["linesFound"] += 1
            d = (im["lineAngle"] - truth_angle(truth) + 90.0) % 180.0 - 90.0
            a["angleErr"].append(abs(d))
    total = {k: 0 for k in ("lines", "scored", "truth", "detected", "matched", "linesFound", "truthSpaces",
                            "detSpaces", "matchedSpaces")}
    total.update({"angleErr": [], "ms": []})
    for a in acc.values():
        for k in total:
            if k not in ("detSpaces", "matchedSpaces") or a["truthSpaces"] > 0:
                total[k] += a[k]  # spaces count only where they are expected
    acc["overall"] = total
    return {cat: finish(a) for cat, a in acc.items()}


def ratio(n, d):
    return n / d if d else None


def finish(a):
    p, r = ratio(a["matched"], a["detected"]), ratio(a["matched"], a["truth"])
    if a["truth"] and not a["detected"]:
        p = 0.0
    f1 = 2 * p * r / (p + r) if p is not None and r is not None and p + r > 0 else 0.0
    has_spaces = a["truthSpaces"] > 0
    return {
        "lines": a["lines"], "scored": a["scored"], "truthChars": a["truth"], "detectedChars": a["detected"],
        "matched": a["matched"], "precision": p, "recall": r, "f1": f1,
        "linesFound": a["linesFound"],
        "meanAngleErrDeg": sum(a["angleErr"]) / len(a["angleErr"]) if a["angleErr"] else None,
        "spacePrecision": ratio(a["matchedSpaces"], a["detSpaces"]) if has_spaces else None,
        "spaceRecall": ratio(a["matchedSpaces"], a["truthSpaces"]) if has_spaces else None,
        "msPerLine": sum(a["ms"]) / len(a["ms"]) if a["ms"] else None,
    }


def fmt(v, pattern):
    return "-" if v is None else format(v, pattern)


def table(results, name=""):
    head = ["category", "lines", "chars", "det", "P", "R", "F1", "angle err", "space P", "space R", "ms/line"]
    rows = []
    for cat, m in results.items():
        rows.append([cat, str(m["lines"]), str(m["truthChars"]), str(m["detectedChars"]),
                     fmt(m["precision"], ".3f"), fmt(m["recall"], ".3f"), fmt(m["f1"], ".3f"),
                     fmt(m["meanAngleErrDeg"], ".2f"), fmt(m["spacePrecision"], ".3f"),
                     fmt(m["spaceRecall"], ".3f"), fmt(m["msPerLine"], ".2f")])
    widths = [max(len(head[i]), *(len(r[i]) for r in rows)) for i in range(len(head))]
    out = [f"{name}" if name else None,
           "  ".join(h.ljust(w) if i == 0 else h.rjust(w) for i, (h, w) in enumerate(zip(head, widths)))]
    for r in rows:
        out.append("  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(r, widths))))
    return "\n".join(x for x in out if x is not None)


def emit_truth(corpus, directory):
    """The truth in koc-segment's JSON shape: one found line per text line."""
    images = []
    for key, line in sorted(corpus.items()):
        t = line["truth"]
        lines = []
        for k in range(t.get("lines", 1)):
            positions = [{"isSpace": bool(c.get("isSpace")), "spaceScore": 0, "area": 0,
                          "markRect": c["box"], "cellRect": c["box"]} for c in t["chars"] if c.get("line", 0) == k]
            lines.append({"found": True, "lineAngle": truth_angle(t), "positions": positions})
        images.append({"image": os.path.join(directory, key + ".png"), "width": t.get("width"),
                       "height": t.get("height"), "paragraphs": [{"index": 0, "lines": lines}],
                       "elapsedMs": 0.0})
    return images


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corpus", default="build/corpus", help="corpus directory (with manifest.json)")
    ap.add_argument("--json", help="also write the metrics as JSON to this file")
    ap.add_argument("--name", default="", help="title printed above the table")
    ap.add_argument("--emit-truth", metavar="OUT", help="write the truth as koc-segment JSON and exit")
    ap.add_argument("detections", nargs="*")
    args = ap.parse_args()
    corpus = load_corpus(args.corpus)
    if args.emit_truth:
        with open(args.emit_truth, "w") as f:
            json.dump(emit_truth(corpus, args.corpus), f)
        return 0
    if not args.detections:
        ap.error("no detection files given")
    results = score(corpus, args.detections)
    print(table(results, args.name))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
