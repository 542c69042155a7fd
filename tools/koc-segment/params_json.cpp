// params_json.cpp: the field table and its conversions.
#include "params_json.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <type_traits>

namespace kocseg {

namespace {

double readField(const koc_charSegmentRunParams& params, const ParamField& field)
{
    return koc::readParamField(params, field);
}

const ParamField* findField(const std::string& name)
{
    return koc::findParamField(name.c_str());
}

bool applyJsonValue(const nlohmann::ordered_json& value, koc_charSegmentRunParams& params, const ParamField& field,
                    std::string& error)
{
    double v = 0.0;
    if (value.is_boolean() && field.kind != FieldKind::Double) {
        v = value.get<bool>() ? 1.0 : 0.0;
    } else if (value.is_number()) {
        v = value.get<double>();
    } else {
        error = std::string(field.name) + ": expected a number, got " + value.dump();
        return false;
    }
    return setParamField(params, field, v, error);
}

std::string formatValue(double v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

} // namespace

nlohmann::ordered_json fieldJson(const koc_charSegmentRunParams& params, const ParamField& field)
{
    const double v = readField(params, field);
    switch (field.kind) {
    case FieldKind::Unsigned32:
        return static_cast<uint32_t>(v);
    case FieldKind::Signed32:
        return static_cast<int32_t>(v);
    case FieldKind::Double:
        break;
    }
    return v;
}

const std::vector<ParamField>& paramFields()
{
    static const std::vector<ParamField> fields(koc::paramFields().begin(), koc::paramFields().end());
    return fields;
}

nlohmann::ordered_json paramsToJson(const koc_charSegmentRunParams& params)
{
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (const ParamField& f : paramFields()) {
        if (f.group == nullptr) {
            out[f.name] = fieldJson(params, f);
        } else {
            out[f.group][f.name] = fieldJson(params, f);
        }
    }
    return out;
}

bool setParamField(koc_charSegmentRunParams& params, const ParamField& field, double value, std::string& error)
{
    if (koc::writeParamField(params, field, value) < 0) {
        error = std::string(field.name) + ": " + formatValue(value) + " is not " +
                (field.kind == FieldKind::Unsigned32 ? "a whole number in 0..4294967295"
                                                     : "a whole number in -2147483648..2147483647");
        return false;
    }
    return true;
}

uint64_t pinBitOfField(size_t index)
{
    return index < koc::paramFields().size() ? koc::paramFields()[index].pin : 0;
}

uint64_t pinnedByJson(const nlohmann::ordered_json& json)
{
    uint64_t pinned = 0;
    if (!json.is_object()) {
        return 0;
    }
    const std::vector<ParamField>& fields = paramFields();
    const auto pin = [&](const std::string& name) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (name == fields[i].name) {
                pinned |= pinBitOfField(i);
            }
        }
    };
    for (const auto& [key, value] : json.items()) {
        if ((key == "cellRectParams" || key == "spaceParams") && value.is_object()) {
            for (const auto& [inner, innerValue] : value.items()) {
                static_cast<void>(innerValue);
                pin(inner);
            }
        } else {
            pin(key);
        }
    }
    return pinned;
}

bool applyParamsJson(const nlohmann::ordered_json& json, koc_charSegmentRunParams& params, std::string& error)
{
    if (!json.is_object()) {
        error = "the parameters must be a JSON object";
        return false;
    }
    for (const auto& [key, value] : json.items()) {
        if (key == "extensions") {
            continue;  // the extensions' own object (applyExtensionsJson)
        }
        if (key == "cellRectParams" || key == "spaceParams") {
            if (!value.is_object()) {
                error = key + ": expected an object";
                return false;
            }
            for (const auto& [inner, innerValue] : value.items()) {
                const ParamField* f = findField(inner);
                if (f == nullptr || f->group == nullptr || key != f->group) {
                    error = key + "." + inner + ": no such field";
                    return false;
                }
                if (!applyJsonValue(innerValue, params, *f, error)) {
                    return false;
                }
            }
            continue;
        }
        const ParamField* f = findField(key);
        if (f == nullptr) {
            error = key + ": no such field";
            return false;
        }
        if (!applyJsonValue(value, params, *f, error)) {
            return false;
        }
    }
    return true;
}

bool applyParamsText(const std::string& text, koc_charSegmentRunParams& params, std::string& error,
                     nlohmann::ordered_json* parsed)
{
    nlohmann::ordered_json json;
    try {
        json = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::ordered_json::parse_error& e) {
        error = std::string("not valid JSON: ") + e.what();
        return false;
    } catch (const nlohmann::ordered_json::exception& e) {
        // out_of_range for numbers past a double's range, and its siblings.
        error = std::string("unusable JSON: ") + e.what();
        return false;
    }
    if (parsed != nullptr) {
        *parsed = json;
    }
    return applyParamsJson(json, params, error);
}

bool applyParamsFile(const std::string& path, koc_charSegmentRunParams& params, std::string& error,
                     nlohmann::ordered_json* parsed)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = std::filesystem::exists(path, ec) ? "not a regular file" : "cannot open: no such file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open";
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "read error";
        return false;
    }
    return applyParamsText(text, params, error, parsed);
}

std::string fieldsOfCode(int32_t code, const koc_charSegmentRunParams& params)
{
    struct CodeFields {
        int32_t code;
        const char* fields[2];
    };
    static const CodeFields table[] = {
        {KOC_E_NUM_LINES, {"numLines", nullptr}},
        {KOC_E_POLARITY, {"polarity", nullptr}},
        {KOC_E_MAX_LINE_ANGLE, {"maxLineAngle", nullptr}},
        {KOC_E_MAX_SKEW_ANGLE, {"maxSkewAngle", nullptr}},
        {KOC_E_NORMALIZATION_MODE, {"normalizationMode", nullptr}},
        {KOC_E_THRESHOLD_FRACTION, {"thresholdFraction", nullptr}},
        {KOC_E_MIN_LINE_OVERLAP, {"minLineOverlap", nullptr}},
        {KOC_E_LINE_BAND_MARGIN, {"lineBandMargin", nullptr}},
        {KOC_E_BLOB_SIZE_LIMIT, {"blobSizeLimit", nullptr}},
        {KOC_E_REFINEMENT_FRACTION, {"refinementFraction", nullptr}},
        {KOC_E_TEXT_HEIGHT_SCALE, {"textHeightScale", nullptr}},
        {KOC_E_MIN_CHAR_AREA, {"minCharArea", nullptr}},
        {KOC_E_MIN_CHAR_WIDTH, {"minCharWidth", nullptr}},
        {KOC_E_MAX_CHAR_WIDTH, {"maxCharWidth", nullptr}},
        {KOC_E_CHAR_WIDTH_ORDER, {"minCharWidth", "maxCharWidth"}},
        {KOC_E_MIN_CHAR_HEIGHT, {"minCharHeight", nullptr}},
        {KOC_E_MAX_CHAR_HEIGHT, {"maxCharHeight", nullptr}},
        {KOC_E_CHAR_HEIGHT_ORDER, {"minCharHeight", "maxCharHeight"}},
        {KOC_E_GAP_MODE, {"gapMode", nullptr}},
        {KOC_E_MAX_INNER_GAP, {"maxInnerGap", nullptr}},
        {KOC_E_MIN_ASPECT_RATIO, {"minAspectRatio", nullptr}},
        {KOC_E_REFINEMENT_MODE, {"refinementMode", nullptr}},
        {KOC_E_MIN_CHAR_GAP, {"minCharGap", nullptr}},
        {KOC_E_SEGMENTATION_METHOD, {"segmentationMethod", nullptr}},
        {KOC_E_PITCH_MEASURE, {"pitchMeasure", nullptr}},
        {KOC_E_REGULARITY_SOURCE, {"regularitySource", nullptr}},
        {KOC_E_MIN_PITCH, {"minPitch", nullptr}},
        {KOC_E_USE_GRADIENT_METHOD, {"useGradientMethod", nullptr}},
        {KOC_E_NEEDS_GRADIENT_METHOD, {"useGradientMethod", nullptr}},
        {KOC_E_SPACE_INSERTION_MODE, {"spaceInsertionMode", nullptr}},
        {KOC_E_SCORE_SPACES, {"scoreSpaces", nullptr}},
        {KOC_E_MIN_SPACE_WIDTH, {"minSpaceWidth", nullptr}},
        {KOC_E_MAX_SPACE_WIDTH, {"maxSpaceWidth", nullptr}},
        {KOC_E_SPACE_WIDTH_ORDER, {"minSpaceWidth", "maxSpaceWidth"}},
        {KOC_E_CELL_RECT_MODE, {"cellRectMode", nullptr}},
        {KOC_E_CELL_RECT_MIN_MARGIN, {"cellRectMinMargin", nullptr}},
        {KOC_E_CELL_RECT_MAX_MARGIN, {"cellRectMaxMargin", nullptr}},
        {KOC_E_CELL_RECT_MARGIN_ORDER, {"cellRectMinMargin", "cellRectMaxMargin"}},
    };
    for (const CodeFields& entry : table) {
        if (entry.code != code) {
            continue;
        }
        std::string out;
        for (const char* name : entry.fields) {
            if (name == nullptr) {
                continue;
            }
            const ParamField* f = findField(name);
            out += (out.empty() ? "" : ", ") + std::string(name) + " = " + formatValue(readField(params, *f));
        }
        return out;
    }
    return {};
}

bool applyExtensionsJson(const nlohmann::ordered_json& json, koc_charSegmentExtensions& ext, unsigned& given,
                         std::string& error)
{
    if (!json.is_object() || !json.contains("extensions")) {
        return true;
    }
    const nlohmann::ordered_json& object = json["extensions"];
    if (!object.is_object()) {
        error = "extensions: expected an object";
        return false;
    }
    for (const auto& [key, value] : object.items()) {
        if (key == "splitTouchingGlyphs" && value.is_boolean()) {
            ext.splitTouchingGlyphs = value.get<bool>() ? 1u : 0u;
            given |= kExtSplitTouching;
        } else if (key == "walkNodeBudget" && value.is_number_integer() && value.get<int64_t>() >= 0 &&
                   value.get<int64_t>() <= INT32_MAX) {
            ext.walkNodeBudget = static_cast<int32_t>(value.get<int64_t>());
            given |= kExtWalkBudget;
        } else if (key == "bandAwareElements" && value.is_boolean()) {
            ext.bandAwareElements = value.get<bool>() ? 1u : 0u;
            given |= kExtBandAware;
        } else if (key == "splitTouchingGlyphs" || key == "walkNodeBudget" || key == "bandAwareElements") {
            error = "extensions." + key + (key == "walkNodeBudget" ? ": expected a whole number >= 0" : ": expected true or false");
            return false;
        } else {
            error = "extensions." + key + ": no such extension";
            return false;
        }
    }
    return true;
}

nlohmann::ordered_json extensionsToJson(const koc_charSegmentExtensions& ext)
{
    return {{"splitTouchingGlyphs", ext.splitTouchingGlyphs != 0},
            {"walkNodeBudget", ext.walkNodeBudget},
            {"bandAwareElements", ext.bandAwareElements != 0}};
}

} // namespace kocseg
