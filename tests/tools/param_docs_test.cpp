// param_docs_test.cpp: the one-line parameter help against what it
// describes: the record's fields, the library's validation, koc-segment's
// --help and the README's parameter list (KOC_UPDATE_README=1 rewrites that
// list from the table).
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/param_docs.hpp"
#include "koc-segment/params_json.hpp"
#include "tools/tool_support.hpp"

namespace {

using koctools::kParamDocs;
using koctools::ParamDoc;
using koctools::ParamValues;
using tooltest::ToolTest;

const kocseg::ParamField& fieldOf(const ParamDoc& doc)
{
    for (const kocseg::ParamField& f : kocseg::paramFields())
        if (std::string(f.name) == doc.name) return f;
    throw std::runtime_error(std::string("no field ") + doc.name);
}

bool valid(koc_charSegmentRunParams p, const ParamDoc& doc, double v)
{
    std::string error;
    if (!kocseg::setParamField(p, fieldOf(doc), v, error)) return false; // does not fit the type
    return koc_charSegmentRunParams_validate(&p) == 0;
}

// The README list, as the table and the library's defaults give it.
std::string readmeList()
{
    koc_charSegmentRunParams defaults;
    koc_charSegmentRunParams_construct(&defaults);
    std::string out;
    for (const ParamDoc& d : kParamDocs) {
        out += std::string("- `") + d.name + "`" + (d.group ? std::string(" (in `") + d.group + "`)" : "") +
               ", default " + kocseg::fieldJson(defaults, fieldOf(d)).dump() + ": " + koctools::paramHelpLine(d) +
               ".\n";
    }
    koc_charSegmentRunParams_destruct(&defaults);
    return out;
}

const std::string kBegin = "<!-- parameter list: generated from tools/common/param_docs.hpp -->\n";
const std::string kEnd = "<!-- end of parameter list -->\n";

TEST(ParamDocs, DescribeEveryFieldInRecordOrderWithItsGroup)
{
    const auto& fields = kocseg::paramFields();
    ASSERT_EQ(fields.size(), koctools::kParamDocCount);
    for (size_t i = 0; i < fields.size(); ++i) {
        const ParamDoc& d = kParamDocs[i];
        EXPECT_STREQ(fields[i].name, d.name);
        EXPECT_STREQ(fields[i].group ? fields[i].group : "", d.group ? d.group : "") << d.name;
        EXPECT_NE(std::string(d.what), "") << d.name;
        EXPECT_NE(std::string(d.when), "") << d.name;
        EXPECT_EQ(&d, koctools::findParamDoc(d.name));
    }
    EXPECT_EQ(nullptr, koctools::findParamDoc("noSuchField"));
}

// The documented values are exactly those validate takes: every field at its
// documented lower edge at once still validates (so the cross-field rules
// hold there too), each edge and each listed value passes, and one step
// outside any of them fails.
TEST(ParamDocs, ValidValuesAreTheOnesValidateEnforces)
{
    koc_charSegmentRunParams edges;
    koc_charSegmentRunParams_construct(&edges);
    for (const ParamDoc& d : kParamDocs) {
        std::string error;
        if (d.values == ParamValues::AtLeast || d.values == ParamValues::Range) {
            ASSERT_TRUE(kocseg::setParamField(edges, fieldOf(d), d.lo, error)) << error;
        }
    }
    ASSERT_EQ(0, koc_charSegmentRunParams_validate(&edges));

    for (const ParamDoc& d : kParamDocs) {
        const bool isDouble = fieldOf(d).kind == kocseg::FieldKind::Double;
        const double step = isDouble ? 1e-6 : 1.0;
        switch (d.values) {
        case ParamValues::Any:
            for (double v : {0.0, 1.0, 7.0, 4294967295.0}) EXPECT_TRUE(valid(edges, d, v)) << d.name << " " << v;
            break;
        case ParamValues::OneOf:
            for (size_t i = 0; i < d.allowedCount; ++i)
                EXPECT_TRUE(valid(edges, d, d.allowed[i])) << d.name << " " << d.allowed[i];
            for (double v = 0; v <= 9; ++v) {
                bool listed = false;
                for (size_t i = 0; i < d.allowedCount; ++i) listed = listed || d.allowed[i] == v;
                if (!listed) {
                    EXPECT_FALSE(valid(edges, d, v)) << d.name << " " << v;
                }
            }
            break;
        case ParamValues::Range:
            EXPECT_TRUE(valid(edges, d, d.hi)) << d.name;
            EXPECT_FALSE(valid(edges, d, d.hi + step)) << d.name;
            EXPECT_FALSE(valid(edges, d, std::nan(""))) << d.name;
            [[fallthrough]];
        case ParamValues::AtLeast:
            EXPECT_TRUE(valid(edges, d, d.lo)) << d.name;
            EXPECT_FALSE(valid(edges, d, d.lo - step)) << d.name;
            break;
        }
    }
    koc_charSegmentRunParams_destruct(&edges);
}

TEST(ParamDocs, ReadmeListIsGeneratedFromTheTable)
{
    const std::string path = KOC_README_PATH;
    std::string text = tooltest::readText(path);
    const size_t begin = text.find(kBegin), end = text.find(kEnd);
    ASSERT_NE(std::string::npos, begin) << "README.md lacks the line " << kBegin;
    ASSERT_NE(std::string::npos, end);
    ASSERT_LT(begin, end);
    const size_t from = begin + kBegin.size();
    const std::string expected = readmeList();
    if (std::getenv("KOC_UPDATE_README") != nullptr) {
        text.replace(from, end - from, expected);
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    EXPECT_EQ(expected, text.substr(from, end - from))
        << "README.md's parameter list differs from the table; KOC_UPDATE_README=1 rewrites it";
}

// --help carries each line whole (CLI11 does not wrap descriptions).
TEST_F(ToolTest, HelpDescribesEveryParameter)
{
    const tooltest::Outcome o = run("--help");
    ASSERT_EQ(0, o.status) << o.err;
    for (const ParamDoc& d : kParamDocs) {
        EXPECT_NE(std::string::npos, o.out.find("--" + std::string(d.name))) << d.name;
        EXPECT_NE(std::string::npos, o.out.find(koctools::paramHelpLine(d))) << d.name;
    }
}

} // namespace
