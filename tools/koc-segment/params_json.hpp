// params_json.hpp: the run-parameter record as a table of named fields, so
// that command-line flags, JSON files and printed parameters all use the
// record's own field names.
#pragma once

#include <koc/koc.hpp>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace kocseg {

// The library's field table (koc/koc.hpp): a field's name is also its flag
// and JSON key.
using FieldKind = koc::FieldKind;
using ParamField = koc::ParamField;

// Every field, nested ones included, in declaration order: the header's
// table as a vector.
const std::vector<ParamField>& paramFields();

// The record as JSON: top-level fields by name, the nested records as
// objects under their own field names.
nlohmann::ordered_json paramsToJson(const koc_charSegmentRunParams& params);

// One field's value as JSON (a whole number for the integer fields).
nlohmann::ordered_json fieldJson(const koc_charSegmentRunParams& params, const ParamField& field);

// Stores one value (a flag's) into the field; false with a message when it
// does not fit the field's type (a negative value for an unsigned field, a
// fraction for an integer field, ...). Range rules are the library's job.
bool setParamField(koc_charSegmentRunParams& params, const ParamField& field, double value, std::string& error);

// Applies a JSON object shaped like paramsToJson's output; a nested field may
// also be given at the top level. Unknown names and values of the wrong type
// are errors (false with a message).
bool applyParamsJson(const nlohmann::ordered_json& json, koc_charSegmentRunParams& params, std::string& error);

// Parses JSON text (a --params file's contents) and applies it; false with
// a message for text that is not JSON, numbers no double holds (1e400), or
// anything applyParamsJson refuses. Never throws.
// The parsed object goes to *parsed when given.
bool applyParamsText(const std::string& text, koc_charSegmentRunParams& params, std::string& error,
                     nlohmann::ordered_json* parsed = nullptr);

// Reads a --params file and applies it; false with a message when the path
// is not a readable regular file or its contents are refused.
bool applyParamsFile(const std::string& path, koc_charSegmentRunParams& params, std::string& error,
                     nlohmann::ordered_json* parsed = nullptr);

// The estimator's pin bit of the field at position index of paramFields()
// (the bits follow the same declaration order).
uint64_t pinBitOfField(size_t index);

// The pin bits of every field a JSON object of applyParamsJson's shape
// names; 0 for anything that is not an object.
uint64_t pinnedByJson(const nlohmann::ordered_json& json);

// The field or fields a validate code is about ("maxLineAngle",
// "minCharWidth, maxCharWidth"), each with its value; empty for other codes.
std::string fieldsOfCode(int32_t code, const koc_charSegmentRunParams& params);

// The segmentation extensions (koc_extensions.h) travel in --params under
// their own object, {"extensions": {"splitTouchingGlyphs": true,
// "walkNodeBudget": 64}}; applyParamsJson skips it. Sets the extensions the
// object names and their bits in given; false with a message for anything
// else in it.
enum : unsigned {
    kExtSplitTouching = KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS,
    kExtWalkBudget = KOC_PIN_EXT_WALK_NODE_BUDGET,
    kExtBandAware = KOC_PIN_EXT_BAND_AWARE_ELEMENTS
};
bool applyExtensionsJson(const nlohmann::ordered_json& json, koc_charSegmentExtensions& ext, unsigned& given,
                         std::string& error);
nlohmann::ordered_json extensionsToJson(const koc_charSegmentExtensions& ext);

} // namespace kocseg
