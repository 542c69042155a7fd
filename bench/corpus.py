#!/usr/bin/env python3
"""Generates the seeded ground-truth corpus of text lines (and of labels of two or three lines).

Every line is drawn by koc-render and stored as three files in the output
directory:

    <id>.png          the image
    <id>.truth.json   koc-render's per-character ground truth
    <id>.params.json  the run parameters a user would pick for the line,
                      shaped like koc-segment's --params input

plus manifest.json, listing each line with its category and the options it
was drawn with. The same command always produces the same corpus: every
random choice comes from a generator seeded by the category and the line
number, and koc-render gets an explicit noise seed.

Usage:
    bench/corpus.py [--out DIR] [--render PATH] [--per-category N]
                    [--dejavu-only] [--categories a,b,...]

--dejavu-only restricts the fonts to fonts-dejavu-core (the test suite's
smoke run): lines meant for another font use a DejaVu face, and 7-segment
lines use koc-render's built-in --seven-segment glyphs.
"""

import argparse
import json
import os
import random
import subprocess
import sys

FONT_DIRS = {
    "dejavu": "/usr/share/fonts/truetype/dejavu",
    "liberation": "/usr/share/fonts/truetype/liberation",
    "ocr-a": "/usr/share/fonts/truetype/ocr-a",
    "ocr-b": "/usr/share/fonts/opentype/ocr-b",
    "dseg": "/usr/share/fonts/truetype/dseg",
}

# (package directory, file); the Debian package is named in the error when missing.
PROPORTIONAL = [("dejavu", "DejaVuSans.ttf"), ("dejavu", "DejaVuSerif.ttf"),
                ("dejavu", "DejaVuSans-Bold.ttf"), ("liberation", "LiberationSans-Regular.ttf"),
                ("liberation", "LiberationSerif-Regular.ttf"), ("liberation", "LiberationSans-Bold.ttf")]
MONOSPACE = [("dejavu", "DejaVuSansMono.ttf"), ("dejavu", "DejaVuSansMono-Bold.ttf"),
             ("liberation", "LiberationMono-Regular.ttf"), ("ocr-a", "OCRA.ttf"), ("ocr-b", "OCRB.otf")]
ITALIC = [("dejavu", "DejaVuSans-Oblique.ttf"), ("liberation", "LiberationSans-Italic.ttf"),
          ("liberation", "LiberationSerif-Italic.ttf")]
SEVEN_SEGMENT = [("dseg", "DSEG7Classic-Regular.ttf"), ("dseg", "DSEG7Classic-Bold.ttf"),
                 ("dseg", "DSEG7Modern-Regular.ttf")]
DEJAVU_STANDIN = {"proportional": ("dejavu", "DejaVuSans.ttf"), "mono": ("dejavu", "DejaVuSansMono.ttf"),
                  "italic": ("dejavu", "DejaVuSans-Oblique.ttf")}
PACKAGES = {"dejavu": "fonts-dejavu-core", "liberation": "fonts-liberation", "ocr-a": "fonts-ocr-a",
            "ocr-b": "fonts-ocr-b", "dseg": "fonts-dseg"}

SIZES = [16, 20, 24, 32, 40, 48, 64, 80]
CODE_CHARS = "ABCDEFGHJKLMNPRSTUVWXYZ0123456789"
WORDS = ["LOT", "EXP", "BATCH", "BEST", "BEFORE", "USE", "BY", "MFG", "DATE", "NET", "WT", "SERIAL",
         "NO", "REF", "LINE", "PACKED", "ON", "AT", "CODE", "TYPE", "SIZE", "KG", "ML", "PART"]

CONDENSED = [("dejavu", "DejaVuSansCondensed-Bold.ttf"), ("dejavu", "DejaVuSansCondensed.ttf"),
             ("liberation", "LiberationSansNarrow-Bold.ttf"), ("liberation", "LiberationSansNarrow-Regular.ttf")]
FOURTEEN_SEGMENT = [("dseg", "DSEG14Classic-Regular.ttf"), ("dseg", "DSEG14Classic-Bold.ttf"),
                    ("dseg", "DSEG14Modern-Regular.ttf")]
DEJAVU_STANDIN["condensed"] = ("dejavu", "DejaVuSansCondensed-Bold.ttf")

# The later categories are where one fixed record fails: their hand-given
# parameters are the sizes a user would derive from the pixel size, or
# nothing at all where the print has no size a user would know
# (dot-matrix and 14-segment "without size hints").
CATEGORIES = ["clean", "rotated", "slanted", "light_on_dark", "low_contrast", "noisy_blurred",
              "dot_matrix", "seven_segment", "touching", "words", "multi_line",
              "punctuation", "condensed_light_on_dark", "small_text", "dot_matrix_no_hints",
              "fourteen_segment", "noisy_flat", "gradient",
              "noisy_heavy", "touching_condensed_light_on_dark", "touching_italic"]


def code_text(rng, lo=8, hi=20):
    return "".join(rng.choice(CODE_CHARS) for _ in range(rng.randint(lo, hi)))


def word_text(rng):
    parts = []
    for _ in range(rng.randint(3, 5)):
        parts.append(rng.choice(WORDS) if rng.random() < 0.6 else
                     "".join(rng.choice("0123456789") for _ in range(rng.randint(2, 5))))
    return " ".join(parts)


def punctuation_text(rng):
    """Codes, dates and fractions: narrow glyphs and separate marks next to digits."""
    out = []
    for _ in range(rng.randint(3, 5)):
        a = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 3)))
        b = "".join(rng.choice("0123456789ilrA") for _ in range(rng.randint(1, 3)))
        out.append(a + rng.choice(":.-/") + b)
    return rng.choice(["", "ril", "Lot", "1l"]) + "".join(out)


def base_params(size):
    """Size-dependent limits: the smallest strokes ('I', '1') must survive,
    specks must go. The aspect limit stays at the library's default."""
    return {
        "minCharArea": max(4, int(0.008 * size * size)),
        "minCharWidth": max(1, int(0.06 * size)),
        "minCharHeight": max(3, int(0.3 * size)),
    }


def line_spec(category, index, rng):
    """The koc-render options and run parameters for one line."""
    size = rng.choice(SIZES)
    style = {"size": size, "spacing": 0, "rotate": 0.0, "shear": 0.0, "polarity": 1,
            "fg": rng.randint(10, 60), "bg": rng.randint(190, 245), "gradient": 0, "blur": 0.0, "noise": 0.0,
            "margin": max(6, size // 2 + rng.randint(0, size // 2)), "depth": 8}
    params = base_params(size)
    font_kind, fonts = "proportional", PROPORTIONAL + MONOSPACE
    text = code_text(rng)
    if category == "clean":
        pass
    elif category == "rotated":
        style["rotate"] = round(rng.choice([-1, 1]) * rng.uniform(2, 15), 2)
        params["maxLineAngle"] = 15
    elif category == "slanted":
        style["shear"] = round(rng.choice([-1, 1]) * rng.uniform(5, 15), 2)
        if index % 3 == 0:  # an italic face, slanted by its design plus the shear's sign
            font_kind, fonts = "italic", ITALIC
            style["shear"] = round(rng.uniform(0, 5), 2)
        params["maxSkewAngle"] = 15
    elif category == "light_on_dark":
        style["polarity"] = 2
        style["fg"], style["bg"] = rng.randint(190, 245), rng.randint(10, 60)
    elif category == "low_contrast":
        style["bg"] = rng.randint(90, 170)
        style["fg"] = style["bg"] - 20
        style["gradient"] = rng.choice([15, 20, 30])
    elif category == "noisy_blurred":
        style["blur"] = round(rng.uniform(0.6, 1.6), 2)
        style["noise"] = round(rng.uniform(6, 18), 1)
    elif category == "dot_matrix":
        size = style["size"] = rng.choice([s for s in SIZES if s >= 24])
        params = base_params(size)
        font_kind, fonts = "mono", [("dejavu", "DejaVuSansMono-Bold.ttf"), ("ocr-a", "OCRA.ttf")]
        pitch = max(3, round(size / 9))
        style["dotPitch"] = pitch
        style["dotDiameter"] = round(0.7 * pitch, 1)
        style["spacing"] = 2 * pitch  # blank dot columns between character cells
        # Dots inside a character are pitch - diameter apart, more across a
        # missing dot; characters are at least two pitches apart.
        params.update({"gapMode": 4, "maxInnerGap": pitch + 1, "minCharGap": pitch + 2,
                       "minCharArea": max(4, int(0.004 * size * size))})
    elif category == "seven_segment":
        font_kind, fonts = "seven", SEVEN_SEGMENT
        text = "".join(rng.choice("0123456789") for _ in range(rng.randint(4, 12)))
        inner = max(2, round(0.05 * size))
        params.update({"gapMode": 4, "maxInnerGap": inner, "minCharGap": inner + 1,
                       "minCharWidth": max(1, int(0.04 * size))})
    elif category == "touching":
        font_kind, fonts = "mono", MONOSPACE
        style["spacing"] = -max(1, round(size * rng.uniform(0.08, 0.15)))
        params.update({"limitCharWidth": 1, "maxCharWidth": max(4, round(0.62 * size))})
    elif category == "multi_line":
        # A label: two or three lines of different lengths, some indented,
        # either polarity, in one paragraph the library is told holds that
        # many lines. Sizes stop at 48 so that three lines stay a label.
        size = style["size"] = rng.choice([s for s in SIZES if s <= 48])
        params = base_params(size)
        lines = [code_text(rng, 4, 12) for _ in range(2 + index % 2)]
        lines = [(" " * rng.choice([0, 0, 2, 4])) + t for t in lines]
        text = "\n".join(lines)
        style["lineSpacing"] = round(rng.uniform(1.25, 1.6), 2)
        if rng.random() < 0.5:
            style["polarity"] = 2
            style["fg"], style["bg"] = rng.randint(190, 245), rng.randint(10, 60)
        params["numLines"] = len(lines)
    elif category == "words":
        text = word_text(rng)
        params["spaceParams"] = {"spaceInsertionMode": 1, "minSpaceWidth": max(2, round(0.22 * size)),
                                 "maxSpaceWidth": 4 * size}
    elif category == "punctuation":
        font_kind, fonts = "proportional", PROPORTIONAL
        text = punctuation_text(rng)
    elif category == "condensed_light_on_dark":
        font_kind, fonts = "condensed", CONDENSED
        text = "".join(rng.choice("ABCDEFGHKLMNPRSTUVWXYZ") for _ in range(rng.randint(8, 16)))
        style["spacing"] = rng.choice([0, -1])
        style["polarity"] = 2
        style["fg"], style["bg"] = rng.randint(190, 245), rng.randint(10, 60)
    elif category == "small_text":
        size = style["size"] = rng.choice([12, 13, 14, 15, 16])
        style["margin"] = rng.randint(6, 12)
        params = base_params(size)
    elif category == "dot_matrix_no_hints":
        size = style["size"] = rng.choice([s for s in SIZES if s >= 24])
        font_kind, fonts = "mono", [("dejavu", "DejaVuSansMono-Bold.ttf"), ("ocr-a", "OCRA.ttf")]
        pitch = max(3, round(size / 9))
        style["dotPitch"] = pitch
        style["dotDiameter"] = round(rng.uniform(0.6, 0.8) * pitch, 1)
        style["spacing"] = 2 * pitch
        params = {}
    elif category == "fourteen_segment":
        font_kind, fonts = "fourteen", FOURTEEN_SEGMENT
        text = "".join(rng.choice("ABCDEFHJLNPRSTUY0123456789") for _ in range(rng.randint(4, 12)))
        params = {}
    elif category == "noisy_flat":
        style["noise"] = round(rng.uniform(12, 25), 1)
    elif category == "gradient":
        style["gradient"] = rng.choice([60, 80, 100])
    # The hard categories: noise strong enough that the peers fall below
    # 0.8, and glyphs pushed into each other in condensed capitals (light on
    # dark) and in italics.
    elif category == "noisy_heavy":
        style["noise"] = round(rng.uniform(30, 50), 1)
    elif category == "touching_condensed_light_on_dark":
        font_kind, fonts = "condensed", CONDENSED
        text = "".join(rng.choice("ABCDEFGHKLMNPRSTUVWXYZ") for _ in range(rng.randint(8, 16)))
        style["spacing"] = -max(1, round(size * rng.uniform(0.04, 0.08)))
        style["polarity"] = 2
        style["fg"], style["bg"] = rng.randint(190, 245), rng.randint(10, 60)
        params.update({"limitCharWidth": 1, "maxCharWidth": max(4, round(0.6 * size))})
    elif category == "touching_italic":
        font_kind, fonts = "italic", ITALIC
        style["spacing"] = -max(1, round(size * rng.uniform(0.04, 0.08)))
        params.update({"maxSkewAngle": 15, "limitCharWidth": 1, "maxCharWidth": max(4, round(0.7 * size))})
    style["text"] = text
    style["font"] = fonts[rng.randrange(len(fonts))]
    style["fontKind"] = font_kind
    style["seed"] = 1000 * (CATEGORIES.index(category) + 1) + index
    return style, params


def font_path(entry):
    return os.path.join(FONT_DIRS[entry[0]], entry[1])


def render_command(render, style, png, truth, dejavu_only):
    cmd = [render, "--size", str(style["size"]), "--text", style["text"], "--spacing", str(style["spacing"]),
           "--rotate", str(style["rotate"]), "--shear", str(style["shear"]), "--polarity", str(style["polarity"]),
           "--fg", str(style["fg"]), "--bg", str(style["bg"]), "--gradient", str(style["gradient"]),
           "--blur", str(style["blur"]), "--noise", str(style["noise"]), "--seed", str(style["seed"]),
           "--margin", str(style["margin"]), "--depth", str(style["depth"]), "--out", png, "--truth", truth]
    font = style["font"]
    if style["fontKind"] == "fourteen" and dejavu_only:
        raise SystemExit("14-segment lines need fonts-dseg: leave out fourteen_segment with --dejavu-only")
    if style["fontKind"] == "seven" and (dejavu_only or font[0] != "dejavu"
                                        and not os.path.exists(font_path(font))):
        if not dejavu_only:
            raise SystemExit(f"missing {font_path(font)}: install {PACKAGES[font[0]]}")
        cmd.append("--seven-segment")
        cmd += ["--font", font_path(DEJAVU_STANDIN["mono"])]
        style["font"] = ("builtin", "seven-segment")
    else:
        if dejavu_only and font[0] != "dejavu":
            font = style["font"] = DEJAVU_STANDIN[style["fontKind"]]
        if not os.path.exists(font_path(font)):
            raise SystemExit(f"missing {font_path(font)}: install {PACKAGES[font[0]]}")
        cmd += ["--font", font_path(font)]
    if "lineSpacing" in style:
        cmd += ["--line-spacing", str(style["lineSpacing"])]
    if "dotPitch" in style:
        cmd += ["--dot-pitch", str(style["dotPitch"]), "--dot-diameter", str(style["dotDiameter"])]
    return cmd


def default_render():
    here = os.path.dirname(os.path.abspath(__file__))
    for preset in ("harness", "release", "debug", "bench"):
        path = os.path.join(here, "..", "build", preset, "tools", "koc-render")
        if os.path.exists(path):
            return os.path.normpath(path)
    return "koc-render"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--out", default="build/corpus", help="output directory (default build/corpus)")
    ap.add_argument("--render", default=None, help="the koc-render program (default: build/*/tools/koc-render)")
    ap.add_argument("--per-category", type=int, default=32, help="lines per category (default 32)")
    ap.add_argument("--categories", default=None, help="comma-separated subset (default: all; with "
                    "--dejavu-only all but fourteen_segment)")
    ap.add_argument("--dejavu-only", action="store_true", help="only fonts from fonts-dejavu-core")
    args = ap.parse_args()
    render = args.render or default_render()
    if args.categories is None:
        categories = [c for c in CATEGORIES if not (args.dejavu_only and c == "fourteen_segment")]
    else:
        categories = [c for c in args.categories.split(",") if c]
    for c in categories:
        if c not in CATEGORIES:
            raise SystemExit(f"unknown category {c}; known: {', '.join(CATEGORIES)}")
    os.makedirs(args.out, exist_ok=True)
    manifest = []
    for category in categories:
        for i in range(args.per_category):
            rng = random.Random(f"{category}/{i}")
            style, params = line_spec(category, i, rng)
            stem = f"{category}-{i:03d}"
            png, truth, pfile = (os.path.join(args.out, stem + ext)
                                 for ext in (".png", ".truth.json", ".params.json"))
            cmd = render_command(render, style, png, truth, args.dejavu_only)
            proc = subprocess.run(cmd, capture_output=True, text=True)
            if proc.returncode != 0:
                raise SystemExit(f"{stem}: koc-render failed ({proc.returncode}): {proc.stderr.strip()}\n"
                                 f"command: {' '.join(cmd)}")
            with open(pfile, "w") as f:
                json.dump(params, f, indent=1, sort_keys=True)
            style["font"] = "/".join(style["font"])
            manifest.append({"id": stem, "category": category, "png": stem + ".png",
                             "truth": stem + ".truth.json", "params": stem + ".params.json", "render": style})
    with open(os.path.join(args.out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    print(f"{len(manifest)} lines in {len(categories)} categories written to {args.out}")


if __name__ == "__main__":
    sys.exit(main())
