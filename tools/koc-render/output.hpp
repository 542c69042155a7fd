// output.hpp: the PNG picture and the ground-truth JSON.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "glyphs.hpp"
#include "raster.hpp"

namespace kocrender {

// Writes an 8-bit or 16-bit grey PNG; false with the reason on failure.
bool writePicture(const std::string& path, const Picture& picture, int depth, std::string& error);

struct TruthHeader {
    std::string image; // the PNG's file name
    std::string text;
    int depth = 8;
    int polarity = 1;
    double angle = 0;
    double shear = 0;
    double fontSize = 0;
    int lines = 1;
};

// The ground truth, one entry per character of the text:
//   {"image": name, "width": W, "height": H, "depth": 8|16, "text": "...",
//    "polarity": 1|2, "angle": deg, "shear": deg, "fontSize": px,
//    "chars": [{"char": "A", "isSpace": false,
//               "box": {"po": [x, y], "px": [x, y], "py": [x, y]}}, ...]}
// A box is an upright line-space box mapped to the image: po its top-left,
// px its top-right, py its bottom-left corner, in image pixels where pixel
// (i, j) covers [i, i+1) x [j, j+1), rounded to 0.001. For a character with
// ink it is the tight box of its ink; for a space (or an inkless character)
// it spans its advance at the height of the line's ink. Text of several
// lines adds "lines": N to the header and "line": k (from 0, top down) to
// every character.
nlohmann::ordered_json truthJson(const TruthHeader& header, const Picture& picture, const std::vector<Glyph>& glyphs,
                         const Affine& map);

} // namespace kocrender
