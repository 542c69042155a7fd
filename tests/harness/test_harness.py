#!/usr/bin/env python3
"""Unit checks of the harness pieces that need no programs: the peers'
output parsers and the scorer's matching rules."""
import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import compare  # noqa: E402
import score  # noqa: E402


def box(x0, y0, x1, y1):
    return {"po": [x0, y0], "px": [x1, y0], "py": [x0, y1]}


class PeerParsers(unittest.TestCase):
    def test_box_file_counts_y_from_the_bottom_per_page(self):
        text = "L 24 20 47 51 0\nO 52 20 75 51 0\n7 5 10 15 30 1\nbad line\n"
        images = compare.parse_box(text, ["a.png", "b.png"], [100, 40])
        self.assertEqual([len(i["boxes"]) for i in images], [2, 1])
        self.assertEqual(score.aabb(images[0]["boxes"][0]), (24, 49, 47, 80))
        self.assertEqual(score.aabb(images[1]["boxes"][0]), (5, 10, 15, 30))

    def test_orf_splits_by_source_file_and_marks_spaces(self):
        text = ("# Ocr Results File\nsource file a.pgm\ntotal text blocks 1\ntext block 1 0 0 603 71\n"
                "lines 1\nline 1 chars 3 height 30\n 24  20 23 31; 1, 'L'0\n102  21 34 30; 1, ' '0\n"
                "500  20 23 31; 0\nsource file b.pgm\nline 1 chars 1 height 9\n  3   4  5  6; 1, 'x'0\n")
        a, b = compare.parse_orf(text)
        self.assertEqual((a["image"], b["image"]), ("a.pgm", "b.pgm"))
        self.assertEqual([x["isSpace"] for x in a["boxes"]], [False, True, False])
        self.assertEqual(score.aabb(a["boxes"][0]), (24, 20, 47, 51))
        self.assertEqual(score.aabb(b["boxes"][0]), (3, 4, 8, 10))

    def test_gocr_xml_boxes_and_spaces(self):
        xml = ('<page x="0" y="0" dx="0" dy="0"><block><line x="1" y="2" dx="3" dy="4">'
               '<box x="24" y="20" dx="23" dy="31" value="l" /><space x="104" y="20" dx="31" dy="31" />'
               '</line></block></page>')
        boxes = compare.parse_gocr(xml)
        self.assertEqual([b["isSpace"] for b in boxes], [False, True])
        self.assertEqual(score.aabb(boxes[0]), (24, 20, 47, 51))
        self.assertEqual(compare.parse_gocr("not xml <"), [])


class Matching(unittest.TestCase):
    def test_one_to_one_by_best_iou(self):
        truth = [(0, 0, 10, 10), (8, 0, 18, 10)]
        # Overlapping truth boxes: each detection must pair with its own one.
        dets = [(7, 0, 17, 10), (0, 0, 9, 10)]
        self.assertEqual(score.match_boxes(truth, dets), 2)
        self.assertEqual(score.match_boxes(truth, [(0, 0, 10, 10)] * 3), 1)
        self.assertEqual(score.match_boxes(truth[:1], [(5, 0, 15, 10)]), 0)  # IoU 1/3

    def test_rotated_rectangle_bounding_box(self):
        r = {"po": [10, 0], "px": [20, 10], "py": [0, 10]}
        self.assertEqual(score.aabb(r), (0, 0, 20, 20))

    def test_spaces_match_their_gap_once(self):
        chars = [{"isSpace": False, "box": box(0, 0, 10, 10)}, {"isSpace": True, "box": box(10, 0, 20, 10)},
                 {"isSpace": False, "box": box(20, 0, 30, 10)}]
        u = score.line_direction(chars)
        gaps = score.space_gaps(chars, u)
        self.assertEqual(gaps, [(10, 20)])
        inside, outside = box(12, 0, 18, 10), box(22, 0, 28, 10)
        self.assertEqual(score.match_spaces(gaps, [inside, inside], u), 1)
        self.assertEqual(score.match_spaces(gaps, [outside], u), 0)


if __name__ == "__main__":
    unittest.main()
