#!/bin/sh
# Smoke run of the measurement harness: the parsers' and scorer's unit
# checks, then a small corpus (DejaVu fonts only),
# the scorer on the truth itself and on perturbed truth, and koc-segment's
# real output through the scorer.
# Usage: smoke.sh SOURCE_DIR KOC_RENDER KOC_SEGMENT
set -eu
export PYTHONDONTWRITEBYTECODE=1  # keep the source tree clean
src=$1 render=$2 segment=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
corpus="$tmp/corpus"

python3 "$src/tests/harness/test_harness.py" 2>&1 | tail -1

python3 "$src/bench/corpus.py" --out "$corpus" --render "$render" --per-category 2 --dejavu-only
# The same command draws the same corpus.
python3 "$src/bench/corpus.py" --out "$tmp/again" --render "$render" --per-category 2 --dejavu-only \
  --categories noisy_blurred,dot_matrix >/dev/null
for f in "$tmp"/again/*.png "$tmp"/again/*.json; do
  b=$(basename "$f")
  [ "$b" = manifest.json ] && continue
  cmp -s "$f" "$corpus/$b" || { echo "FAIL: $b differs between two runs"; exit 1; }
done

# The truth scored against itself: everything matches, angles agree.
python3 "$src/bench/score.py" --corpus "$corpus" --emit-truth "$tmp/truth.json"
python3 "$src/bench/score.py" --corpus "$corpus" --json "$tmp/self.json" "$tmp/truth.json"

# Perturbed truth: every third character of a line moved down by 60% of its
# height (IoU < 0.5), every fifth dropped, one space between words per line
# removed (an indent is no word gap and is not scored).
python3 - "$tmp/truth.json" "$tmp/perturbed.json" <<'EOF'
import json, sys
images = json.load(open(sys.argv[1]))
def inner(positions, k):
    return any(not p["isSpace"] for p in positions[:k]) and any(not p["isSpace"] for p in positions[k + 1:])
for line in (l for im in images for l in im["paragraphs"][0]["lines"]):
    kept, spaces_dropped = [], 0
    for k, pos in enumerate(line["positions"]):
        if pos["isSpace"]:
            if spaces_dropped == 0 and inner(line["positions"], k):
                spaces_dropped = 1
                continue
        elif k % 5 == 4:
            continue
        elif k % 3 == 0:
            r = pos["markRect"]
            dy = 0.6 * (r["py"][1] - r["po"][1])
            pos["markRect"] = {key: [v[0], v[1] + dy] for key, v in r.items()}
        kept.append(pos)
    line["positions"] = kept
json.dump(images, open(sys.argv[2], "w"))
EOF
python3 "$src/bench/score.py" --corpus "$corpus" --json "$tmp/perturbed-score.json" "$tmp/perturbed.json" >/dev/null

# koc-segment's real output, one process per line with the line's parameters.
n=0
for png in "$corpus"/*.png; do
  stem=${png%.png}
  "$segment" --jobs 1 --no-auto --params "$stem.params.json" --json "$tmp/koc-$n.json" "$png" >/dev/null || true
  n=$((n + 1))
done
python3 "$src/bench/score.py" --corpus "$corpus" --json "$tmp/koc.json" "$tmp"/koc-*.json >"$tmp/table.txt"
cat "$tmp/table.txt"

python3 - "$tmp" "$corpus" <<'EOF'
import json, os, sys
tmp, corpus = sys.argv[1], sys.argv[2]
failures = []
def check(cond, what):
    if not cond:
        failures.append(what)

manifest = json.load(open(os.path.join(corpus, "manifest.json")))
categories = {e["category"] for e in manifest}
check(len(manifest) == 2 * len(categories), f"{2 * len(categories)} lines expected, got {len(manifest)}")
check("fourteen_segment" not in categories, "a 14-segment line without its fonts")
for e in manifest:
    p = json.load(open(os.path.join(corpus, e["params"])))
    # Categories "without size hints" give no sizes at all.
    check(p.get("minCharHeight", 3) >= 3, f"{e['id']}: minCharHeight {p.get('minCharHeight')}")

self_ = json.load(open(os.path.join(tmp, "self.json")))
for cat, m in self_.items():
    check(m["f1"] == 1.0 and m["precision"] == 1.0 and m["recall"] == 1.0, f"self-score {cat}: F1 {m['f1']}")
    check(m["meanAngleErrDeg"] is not None and m["meanAngleErrDeg"] < 1e-9, f"self-score {cat}: angle error")
check(self_["words"]["spaceRecall"] == 1.0 and self_["words"]["spacePrecision"] == 1.0, "self-score spaces")
check(self_["clean"]["spaceRecall"] is None, "space recall reported where no spaces are expected")

# Perturbed: recount what the perturbation should leave matched.
truth = json.load(open(os.path.join(tmp, "truth.json")))
n_truth = n_kept = n_matched = n_spaces = 0
def inner(positions, k):
    return any(not p["isSpace"] for p in positions[:k]) and any(not p["isSpace"] for p in positions[k + 1:])
n_lines_with_gaps = 0
for line in (l for im in truth for l in im["paragraphs"][0]["lines"]):
    gaps = sum(1 for k, p in enumerate(line["positions"]) if p["isSpace"] and inner(line["positions"], k))
    n_spaces += gaps
    n_lines_with_gaps += gaps > 0
    for k, pos in enumerate(line["positions"]):
        if pos["isSpace"]:
            continue
        n_truth += 1
        if k % 5 != 4:
            n_kept += 1
            n_matched += k % 3 != 0
o = json.load(open(os.path.join(tmp, "perturbed-score.json")))["overall"]
check(o["truthChars"] == n_truth and o["detectedChars"] == n_kept and o["matched"] == n_matched,
      f"perturbed: {o['truthChars']}/{o['detectedChars']}/{o['matched']} vs {n_truth}/{n_kept}/{n_matched}")
check(abs(o["spaceRecall"] - (n_spaces - n_lines_with_gaps) / n_spaces) < 1e-9,
      f"perturbed space recall {o['spaceRecall']}")

koc = json.load(open(os.path.join(tmp, "koc.json")))
check(koc["overall"]["scored"] == len(manifest), f"koc output for {koc['overall']['scored']} lines")
check(0.0 <= koc["overall"]["f1"] <= 1.0, "koc F1 out of range")
check(koc["overall"]["msPerLine"] is not None, "no time per line")
table = open(os.path.join(tmp, "table.txt")).read()
check("overall" in table and "F1" in table, "no table printed")
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
EOF
echo "harness smoke: ok"
