"""The Python module against koc-segment (which drives the C interface),
every error path, and concurrent calls."""
import json
import os
import subprocess
import threading

import numpy as np
import pytest

import koc


def drawn_line():
    """Six dark bars with one wider gap, on a light ground with a gentle slope."""
    image = np.tile(np.linspace(200, 220, 180).astype(np.uint8), (56, 1))
    for k, x in enumerate([20, 40, 60, 100, 120, 140]):
        image[16:38, x:x + 7] = 35 + k
    return image


def write_pgm(path, image):
    header = f"P5\n{image.shape[1]} {image.shape[0]}\n255\n".encode()
    path.write_bytes(header + np.ascontiguousarray(image).tobytes())


def c_interface_positions(tmp_path, image):
    """Positions koc-segment reports for the image (whole image, no --auto)."""
    tool = os.environ.get("KOC_SEGMENT")
    if not tool:
        pytest.skip("KOC_SEGMENT is not set (the tool is not built)")
    args = [tool, "--no-auto", "--json", "-"]
    if image is not None:
        write_pgm(tmp_path / "line.pgm", image)
        args.append(str(tmp_path / "line.pgm"))
    run = subprocess.run(args, capture_output=True, text=True, check=True)
    return json.loads(run.stdout)["paragraphs"][0]["lines"][0]["positions"]


def corners(rect):
    return np.array([rect["po"], rect["px"], rect["py"]])


@pytest.mark.parametrize("which", ["sample", "drawn"])
def test_positions_equal_those_of_the_c_interface(tmp_path, which):
    image = koc.sample() if which == "sample" else drawn_line()
    expected = c_interface_positions(tmp_path, None if which == "sample" else image)
    line = koc.segment(image)[0]["lines"][0]
    assert line["found"]
    assert len(line["positions"]) == len(expected) > 5
    for got, want in zip(line["positions"], expected):
        assert got["is_space"] == want["isSpace"]
        assert got["area"] == want["area"]
        np.testing.assert_allclose(got["mark"], corners(want["markRect"]), atol=1e-3)
        np.testing.assert_allclose(got["cell"], corners(want["cellRect"]), atol=1e-3)


def test_rows_with_padding_are_read_in_place_and_16_bit_works():
    image = drawn_line()
    padded = np.zeros((image.shape[0], image.shape[1] + 13), np.uint8)
    padded[:, :image.shape[1]] = image
    view = padded[:, :image.shape[1]]  # rows 13 pixels apart, not C-contiguous
    assert not view.flags["C_CONTIGUOUS"]
    first = koc.segment(image)[0]["lines"][0]
    readonly = image.copy()
    readonly.setflags(write=False)
    for other in (view, readonly, image.astype(np.uint16) * 256):
        line = koc.segment(other)[0]["lines"][0]
        assert len(line["positions"]) == len(first["positions"])
        for a, b in zip(line["positions"], first["positions"]):
            np.testing.assert_array_equal(a["mark"], b["mark"])
    assert first["rectified"].dtype == np.uint8 and first["rectified"].ndim == 2
    assert set(np.unique(first["binarized"])) <= {0, 255}
    assert first["height"] == pytest.approx(22, abs=3)
    assert first["stats"]["polarity"] == 1


def test_rectangles_in_every_form_agree():
    image = drawn_line()
    h, w = image.shape
    centre = (w / 2, h / 2, w, h)
    triple = ((0, 0), (w, 0), (0, h))
    results = [koc.segment(image, rects=r) for r in
               (None, centre, [centre], triple, [triple], np.array(triple, float), [centre + (0.0, 0.0)])]
    for paragraphs in results:
        assert len(paragraphs) == 1
        assert [p["area"] for p in paragraphs[0]["lines"][0]["positions"]] == \
            [p["area"] for p in results[0][0]["lines"][0]["positions"]]
    assert len(koc.segment(image, rects=[centre, triple])) == 2


def test_range_image_auto_and_params():
    image = drawn_line().astype(np.uint16) * 256
    mask = np.full(image.shape, 255, np.uint8)
    mask[0:3, 0:3] = 0
    assert koc.segment(image, mask=mask)[0]["lines"][0]["found"]
    paragraph = koc.segment(koc.sample(), params={"polarity": 1}, auto=True)[0]
    assert paragraph["params"]["polarity"] == 1
    assert paragraph["measured"]["glyphCount"] >= 15
    assert paragraph["measured"]["lineCount"] == 1
    assert paragraph["lines"][0]["found"]
    estimate = koc.estimate(koc.sample())
    assert set(estimate) == {"params", "measured"}
    koc.validate(estimate["params"])
    defaults = koc.default_params()
    koc.validate(defaults)
    assert defaults["spaceParams"]["maxSpaceWidth"] == 100
    assert len(koc.param_names()) == 39
    # Nested records nested or flat, booleans for switches.
    koc.validate({"spaceParams": {"minSpaceWidth": 5}, "cellRectMaxMargin": 6, "skipLineStats": True})
    assert koc.sample_text() == "LOT 2412A  EXP 12/27"


def fused_pair_line():
    """Ten frames of proportional widths, 4 pixels apart; frames 3 and 4 are
    joined by a hairline at mid-height (one fused pair, too few for the
    estimator to call the line touching)."""
    widths = [9, 14, 11, 9, 10, 16, 9, 12, 10, 13]
    image = np.full((70, 30 + sum(widths) + 4 * len(widths) + 30), 215, np.uint8)
    x = 30
    for k, w in enumerate(widths):
        glyph = image[23:47, x:x + w]
        glyph[:, :3] = glyph[:, -3:] = glyph[:3, :] = glyph[-3:, :] = glyph[11:14, :] = 30
        if k == 3:
            image[35, x + w:x + w + 4] = 30
        x += w + 4
    return image


def test_auto_gives_the_tools_positions_and_splits_a_fused_pair(tmp_path):
    image = fused_pair_line()
    paragraph = koc.segment(image, auto=True)[0]
    assert paragraph["extensions"] == {"splitTouchingGlyphs": True, "walkNodeBudget": 0, "bandAwareElements": False}
    assert not paragraph["measured"]["isTouching"]
    marks = [p for p in paragraph["lines"][0]["positions"] if not p["is_space"]]
    assert len(marks) == 10
    # The plain segmentation with the chosen record keeps the pair as one mark.
    plain = koc.segment(image, params=paragraph["params"])[0]["lines"][0]["positions"]
    assert len([p for p in plain if not p["is_space"]]) == 9
    tool = os.environ.get("KOC_SEGMENT")
    if not tool:
        pytest.skip("KOC_SEGMENT is not set (the tool is not built)")
    write_pgm(tmp_path / "line.pgm", image)
    run = subprocess.run([tool, "--auto", "--json", "-", str(tmp_path / "line.pgm")], capture_output=True,
                         text=True, check=True)
    expected = json.loads(run.stdout)["paragraphs"][0]["lines"][0]["positions"]
    assert len(paragraph["lines"][0]["positions"]) == len(expected)
    for got, want in zip(paragraph["lines"][0]["positions"], expected):
        assert got["is_space"] == want["isSpace"]
        assert got["area"] == want["area"]
        np.testing.assert_allclose(got["mark"], corners(want["markRect"]), atol=1e-3)
        np.testing.assert_allclose(got["cell"], corners(want["cellRect"]), atol=1e-3)


def marks(paragraph):
    return [p for p in paragraph["lines"][0]["positions"] if not p["is_space"]]


def test_auto_keeps_the_extensions_the_caller_names():
    fused = fused_pair_line()
    chosen = koc.segment(fused, auto=True)[0]
    assert chosen["isSplitRetried"] and len(marks(chosen)) == 10
    # Split named off: the pair stays one mark and no second run is kept;
    # the fields not named are still the road's choice.
    kept = koc.segment(fused, auto=True, extensions={"splitTouchingGlyphs": False})[0]
    assert kept["extensions"] == {"splitTouchingGlyphs": False, "walkNodeBudget": 0, "bandAwareElements": False}
    assert not kept["isSplitRetried"] and len(marks(kept)) == 9
    named = koc.segment(fused, auto=True, extensions={"walkNodeBudget": 7, "bandAwareElements": 1})[0]
    assert named["extensions"] == {"splitTouchingGlyphs": True, "walkNodeBudget": 7, "bandAwareElements": True}
    # Split named on where the road would leave it off: on from the start,
    # so not a retry.
    bars = koc.segment(LINE, auto=True)[0]
    assert not bars["extensions"]["splitTouchingGlyphs"]
    forced = koc.segment(LINE, auto=True, extensions={"splitTouchingGlyphs": True})[0]
    assert forced["extensions"]["splitTouchingGlyphs"] and not forced["isSplitRetried"]


@pytest.mark.parametrize("image, mask, extensions", [
    (fused_pair_line(), None, None),
    (fused_pair_line(), None, {"splitTouchingGlyphs": False, "walkNodeBudget": 3}),
    (fused_pair_line().astype(np.uint16) * 257, np.full(fused_pair_line().shape, 255, np.uint8), None),
    (drawn_line(), None, {"bandAwareElements": True}),
])
def test_auto_positions_are_the_plain_call_with_what_it_reports(image, mask, extensions):
    paragraph = koc.segment(image, mask=mask, auto=True, extensions=extensions)[0]
    plain = koc.segment(image, mask=mask, params=paragraph["params"], extensions=paragraph["extensions"])[0]
    assert len(marks(paragraph)) > 5
    assert len(plain["lines"][0]["positions"]) == len(paragraph["lines"][0]["positions"])
    for got, want in zip(plain["lines"][0]["positions"], paragraph["lines"][0]["positions"]):
        assert got["is_space"] == want["is_space"] and got["area"] == want["area"]
        np.testing.assert_array_equal(got["mark"], want["mark"])


def test_plain_call_without_extensions_equals_all_switches_off():
    off = {"splitTouchingGlyphs": False, "walkNodeBudget": 0, "bandAwareElements": False}
    fused = fused_pair_line()
    assert [p["area"] for p in koc.segment(fused, extensions=off)[0]["lines"][0]["positions"]] == \
        [p["area"] for p in koc.segment(fused)[0]["lines"][0]["positions"]]
    assert len(marks(koc.segment(fused, extensions={"splitTouchingGlyphs": True})[0])) == 10


def code(name):
    """A KOC_E_* code as the signed 32-bit value the library returns."""
    values = {"KOC_E_NUM_LINES": 0x8000144d, "KOC_E_NO_RECTS": 0x80001438, "KOC_E_RECT_OUTSIDE_IMAGE": 0x80001439,
              "KOC_E_NO_INK": 0x80001601, "KOC_E_NEEDS_GRADIENT_METHOD": 0x8000140f,
              "KOC_E_CELL_RECT_MARGIN_ORDER": 0x80001414, "KOC_E_RECT_DEGENERATE": 0x8000143b}
    return values[name] - (1 << 32)


LINE = drawn_line()
BLANK = np.full((40, 100), 200, np.uint8)


@pytest.mark.parametrize("call, name", [
    (lambda: koc.segment(LINE, params={"numLines": 0}), "KOC_E_NUM_LINES"),
    (lambda: koc.validate({"cellRectMinMargin": 9}), "KOC_E_CELL_RECT_MARGIN_ORDER"),
    (lambda: koc.segment(LINE, rects=[]), "KOC_E_NO_RECTS"),
    (lambda: koc.segment(LINE, rects=(900, 900, 10, 10)), "KOC_E_RECT_OUTSIDE_IMAGE"),
    (lambda: koc.segment(LINE.astype(np.uint16), params={"useGradientMethod": 0}), "KOC_E_NEEDS_GRADIENT_METHOD"),
    (lambda: koc.estimate(BLANK), "KOC_E_NO_INK"),
    (lambda: koc.segment(np.zeros((0, 5), np.uint8)), "KOC_E_RECT_DEGENERATE"),
])
def test_library_failures_raise_koc_error(call, name):
    with pytest.raises(koc.Error) as caught:
        call()
    assert caught.value.code == code(name)
    assert caught.value.name == name
    assert caught.value.message and name in str(caught.value)


@pytest.mark.parametrize("call, kind", [
    (lambda: koc.segment(LINE.tolist()), TypeError),
    (lambda: koc.segment(LINE.astype(np.float32)), TypeError),
    (lambda: koc.segment(LINE.astype(np.int16)), TypeError),
    (lambda: koc.segment(LINE.astype(">u2")), TypeError),
    (lambda: koc.segment(LINE[None]), ValueError),
    (lambda: koc.segment(LINE[:, ::2]), ValueError),
    (lambda: koc.segment(np.asfortranarray(LINE)), ValueError),
    (lambda: koc.segment(LINE, params=[("numLines", 1)]), TypeError),
    (lambda: koc.segment(LINE, params={"noSuchField": 1}), ValueError),
    (lambda: koc.segment(LINE, params={"spaceParams": {"cellRectMode": 1}}), ValueError),
    (lambda: koc.segment(LINE, params={"numLines": "2"}), TypeError),
    (lambda: koc.segment(LINE, params={"numLines": 1.5}), ValueError),
    (lambda: koc.segment(LINE, params={"polarity": -1}), ValueError),
    (lambda: koc.segment(LINE, params={"maxLineAngle": None}), TypeError),
    (lambda: koc.segment(LINE, rects=(1, 2, 3)), ValueError),
    (lambda: koc.segment(LINE, rects="whole"), TypeError),
    (lambda: koc.segment(LINE, rects=[(1, 2, 3, "4")]), TypeError),
    (lambda: koc.segment(LINE, mask=np.ones(LINE.shape, np.uint8)), TypeError),
    (lambda: koc.segment(LINE.astype(np.uint16), mask=np.ones((3, 3), np.uint8)), ValueError),
])
def test_bad_arguments_raise_type_or_value_errors(call, kind):
    with pytest.raises(kind):
        call()


@pytest.mark.parametrize("extensions, kind, words", [
    ([("splitTouchingGlyphs", True)], TypeError, "dict"),
    ({"splitTouching": True}, ValueError, "unknown extension 'splitTouching'"),
    ({1: True}, TypeError, "names must be strings"),
    ({"splitTouchingGlyphs": 2}, ValueError, "splitTouchingGlyphs"),
    ({"bandAwareElements": "yes"}, TypeError, "bandAwareElements"),
    ({"walkNodeBudget": -1}, ValueError, "walkNodeBudget"),
    ({"walkNodeBudget": 1.5}, ValueError, "walkNodeBudget"),
    ({"walkNodeBudget": 2 ** 31}, ValueError, "walkNodeBudget"),
    ({"walkNodeBudget": float("nan")}, ValueError, "walkNodeBudget"),
    ({"walkNodeBudget": True}, TypeError, "walkNodeBudget"),
])
def test_bad_extensions_raise_errors_naming_the_field(extensions, kind, words):
    with pytest.raises(kind, match=words):
        koc.segment(LINE, auto=True, extensions=extensions)


def test_threads_calling_segment_at_once_agree():
    images = [koc.sample(), drawn_line(), drawn_line().astype(np.uint16) * 256]
    expected = [[p["mark"].tolist() for p in koc.segment(i)[0]["lines"][0]["positions"]] for i in images]
    failures = []

    def worker(k):
        try:
            for n in range(6):
                i = (k + n) % len(images)
                got = [p["mark"].tolist() for p in koc.segment(images[i])[0]["lines"][0]["positions"]]
                if got != expected[i]:
                    failures.append((k, n))
        except Exception as e:  # noqa: BLE001 (reported below)
            failures.append(repr(e))

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_parameter_help_covers_every_field():
    help_lines = koc.param_help()
    assert sorted(help_lines) == sorted(koc.param_names())
    assert koc.param_help("maxLineAngle") == help_lines["maxLineAngle"]
    assert "45" in help_lines["maxLineAngle"]
    with pytest.raises(ValueError):
        koc.param_help("noSuchField")
    with pytest.raises(TypeError):
        koc.param_help(3)
