// archive_test.cpp: the byte layer: exact little-endian layout, readers that
// stop at the record's limit, preamble checks, and the archive framing that
// setBuffer refuses.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "services/archive.hpp"
#include "support/fakes.hpp"

namespace ar = koc::services::archive;

namespace {

using Bytes = std::vector<uint8_t>;

struct ObjectSave {
    karca_archiveObjectSave h{};
    ObjectSave() { EXPECT_EQ(0, karca_archiveObjectSave_construct(&h)); }
    ~ObjectSave() { karca_archiveObjectSave_destruct(&h); }
    Bytes bytes() const { return Bytes(h.store->bytes.begin(), h.store->bytes.end()); }
};

// An object archive holding exactly these bytes, through a real archive.
struct ObjectLoad {
    karca_archiveObjectLoad h{};
    explicit ObjectLoad(const Bytes& body)
    {
        EXPECT_EQ(0, karca_archiveObjectLoad_construct(&h));
        Bytes buffer = {'K', 'A', 'R', 'C', 1, 0, 0, 0};
        const auto n = static_cast<uint32_t>(body.size());
        for (int i = 0; i < 4; ++i) buffer.push_back(static_cast<uint8_t>(n >> (8 * i)));
        buffer.insert(buffer.end(), body.begin(), body.end());
        karca_archiveLoad archive{};
        EXPECT_EQ(0, karca_archiveLoad_construct(&archive));
        EXPECT_EQ(0, karca_archiveLoad_setBuffer(&archive, buffer.data(), static_cast<int32_t>(buffer.size())));
        EXPECT_EQ(0, karca_archiveLoad_popFrontArchiveObjectLoad(&archive, &h));
        karca_archiveLoad_destruct(&archive);
    }
    ~ObjectLoad() { karca_archiveObjectLoad_destruct(&h); }
    size_t position() const { return h.store->position; }
};

Bytes preamble(uint16_t id, uint8_t flag, uint32_t length)
{
    return {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), flag, 0, static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
}

TEST(ArchivePrimitives, FixedLittleEndianLayoutReadsBackExactly)
{
    ObjectSave out;
    const double nan = std::bit_cast<double>(uint64_t{0x7ff8000000001234});
    ASSERT_EQ(0, ar::writeUInt8(&out.h, 0xAB));
    ASSERT_EQ(0, ar::writeBool(&out.h, 7));  // any non-zero flag is stored as 1
    ASSERT_EQ(0, ar::writeInt32(&out.h, -2));
    ASSERT_EQ(0, ar::writeUInt32(&out.h, 0x01020304u));
    ASSERT_EQ(0, ar::writeDouble(&out.h, 1.0));
    ASSERT_EQ(0, ar::writeDouble(&out.h, nan));
    ASSERT_EQ(0, ar::writePolarity(&out.h, 4));
    const Bytes expected = {0xAB, 1, 0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F,
                            0x34, 0x12, 0, 0, 0, 0, 0xF8, 0x7F, 4, 0, 0, 0};
    EXPECT_EQ(expected, out.bytes());

    ObjectLoad in(out.bytes());
    uint8_t u8 = 0;
    int32_t flag = 0, i32 = 0;
    uint32_t u32 = 0;
    double one = 0.0, back = 0.0;
    koc_charPolarity polarity = 0;
    EXPECT_EQ(0, ar::readUInt8(&in.h, &u8));
    EXPECT_EQ(0, ar::readBool(&in.h, &flag));
    EXPECT_EQ(0, ar::readInt32(&in.h, &i32));
    EXPECT_EQ(0, ar::readUInt32(&in.h, &u32));
    EXPECT_EQ(0, ar::readDouble(&in.h, &one));
    EXPECT_EQ(0, ar::readDouble(&in.h, &back));
    EXPECT_EQ(0, ar::readPolarity(&in.h, &polarity));
    EXPECT_EQ(0xAB, u8);
    EXPECT_EQ(1, flag);
    EXPECT_EQ(-2, i32);
    EXPECT_EQ(0x01020304u, u32);
    EXPECT_EQ(1.0, one);
    EXPECT_EQ(0x7ff8000000001234u, std::bit_cast<uint64_t>(back));  // the payload survives
    EXPECT_EQ(4u, polarity);
    EXPECT_EQ(0u, ar::bytesLeft(&in.h));
}

TEST(ArchivePrimitives, ReadersStopAtTheEndAndRefuseDamagedFlags)
{
    ObjectLoad in(Bytes{1, 2, 3});
    int32_t i32 = 99;
    double d = 5.0;
    kmath_xformLinear x{{1, 2, 3, 4}, {5, 6}};
    EXPECT_EQ(KOC_E_ARCHIVE_TRUNCATED, ar::readInt32(&in.h, &i32));
    EXPECT_EQ(99, i32);
    EXPECT_EQ(KOC_E_ARCHIVE_TRUNCATED, ar::readDouble(&in.h, &d));
    EXPECT_EQ(KOC_E_ARCHIVE_TRUNCATED, ar::readXform(&in.h, &x));
    EXPECT_EQ(1.0, x.matrix.a);  // a short transform leaves the destination whole
    EXPECT_EQ(0u, in.position());
    int32_t flag = 0;
    EXPECT_EQ(0, ar::readBool(&in.h, &flag));
    EXPECT_EQ(1, flag);
    EXPECT_EQ(KOC_E_ARCHIVE_MALFORMED, ar::readBool(&in.h, &flag));  // 2 is no flag
    EXPECT_EQ(1u, in.position());
}

TEST(ArchivePrimitives, CountsAreCheckedAgainstTheBytesLeftWithoutOverflow)
{
    ObjectLoad in(Bytes(100, 0));
    EXPECT_EQ(0, ar::checkCount(&in.h, 3, 30));
    EXPECT_EQ(0, ar::checkCount(&in.h, 0, 30));
    EXPECT_EQ(KOC_E_ARCHIVE_TRUNCATED, ar::checkCount(&in.h, 4, 30));
    EXPECT_EQ(KOC_E_ARCHIVE_TRUNCATED, ar::checkCount(&in.h, INT32_MAX, SIZE_MAX / 2));
    EXPECT_EQ(KOC_E_ARCHIVE_MALFORMED, ar::checkCount(&in.h, -1, 30));
    EXPECT_EQ(KOC_E_ARCHIVE_MALFORMED, ar::checkCount(&in.h, INT32_MIN, 30));
}

TEST(ArchiveRecords, PreambleIsPatchedWithTheRecordLength)
{
    ObjectSave out;
    size_t start = 0;
    ASSERT_EQ(0, ar::writeUInt8(&out.h, 9));  // a record need not start at 0
    ASSERT_EQ(0, ar::writePreamble(&out.h, 1, 343, &start));
    ASSERT_EQ(0, ar::writeInt32(&out.h, 5));
    ASSERT_EQ(0, ar::patchLength(&out.h, start));
    Bytes expected = {9};
    for (uint8_t b : preamble(343, 1, 12)) expected.push_back(b);
    for (uint8_t b : {5, 0, 0, 0}) expected.push_back(b);
    EXPECT_EQ(expected, out.bytes());
}

TEST(ArchiveRecords, BeginRecordNamesWhatIsWrongWithThePreamble)
{
    struct Case {
        Bytes bytes;
        int32_t code;
    };
    auto with = [](Bytes head, size_t padTo) {
        head.resize(padTo, 0);
        return head;
    };
    const std::vector<Case> cases = {
        {{}, KOC_E_ARCHIVE_NO_OBJECT},
        {with(preamble(343, 0, 8), 8), KOC_E_ARCHIVE_NO_OBJECT},
        {with(preamble(341, 1, 8), 8), KOC_E_ARCHIVE_WRONG_TYPE},
        {{0x57, 0x01, 1, 0, 8}, KOC_E_ARCHIVE_TRUNCATED},           // half a preamble
        {with(preamble(343, 1, 7), 8), KOC_E_ARCHIVE_MALFORMED},    // shorter than itself
        {with(preamble(343, 2, 8), 8), KOC_E_ARCHIVE_MALFORMED},    // flag byte
        {with(preamble(343, 1, 13), 12), KOC_E_ARCHIVE_TRUNCATED},  // one byte past the end
        {with(preamble(343, 1, 0xFFFFFFFFu), 16), KOC_E_ARCHIVE_TRUNCATED},
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        ObjectLoad in(cases[k].bytes);
        ar::RecordScope scope;
        EXPECT_EQ(cases[k].code, ar::beginRecord(&in.h, 343, &scope)) << "case " << k;
        EXPECT_EQ(0u, in.position()) << "case " << k;
    }
}

TEST(ArchiveRecords, ReadsAreLimitedToTheRecordAndEndMovesPastItsStoredLength)
{
    // A record of 16 bytes holding one Int32 and four spare bytes, then a 7.
    Bytes bytes = preamble(343, 1, 16);
    for (uint8_t b : {1, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 7, 0, 0, 0}) bytes.push_back(b);
    ObjectLoad in(bytes);
    ar::RecordScope scope;
    ASSERT_EQ(0, ar::beginRecord(&in.h, 343, &scope));
    int32_t v = 0;
    double d = 0.0;
    EXPECT_EQ(0, ar::readInt32(&in.h, &v));
    EXPECT_EQ(KOC_E_ARCHIVE_TRUNCATED, ar::readDouble(&in.h, &d));  // would cross the record's end
    ar::endRecord(&in.h, scope, true);
    EXPECT_EQ(16u, in.position());
    EXPECT_EQ(0, ar::readInt32(&in.h, &v));
    EXPECT_EQ(7, v);
}

Bytes header() { return {'K', 'A', 'R', 'C', 1, 0, 0, 0}; }

TEST(ArchiveBuffers, SetBufferRefusesAnythingThatIsNotAnArchive)
{
    auto withObject = [](uint32_t length, size_t actual) {
        Bytes b = header();
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(length >> (8 * i)));
        b.resize(b.size() + actual, 0);
        return b;
    };
    Bytes badMagic = header();
    badMagic[0] = 'k';
    Bytes badFormat = header();
    badFormat[4] = 2;
    Bytes dangling = header();
    dangling.push_back(0);  // part of a length
    const std::vector<Bytes> refused = {{}, {'K', 'A', 'R'}, badMagic, badFormat, dangling, withObject(5, 4),
                                        withObject(0xFFFFFFFFu, 4), withObject(2, 3)};
    karca_archiveLoad archive{};
    ASSERT_EQ(0, karca_archiveLoad_construct(&archive));
    for (size_t k = 0; k < refused.size(); ++k) {
        EXPECT_EQ(KOC_E_ARCHIVE_BUFFER_REFUSED,
                  karca_archiveLoad_setBuffer(&archive, refused[k].data(), static_cast<int32_t>(refused[k].size())))
            << "case " << k;
    }
    EXPECT_EQ(KOC_E_ARCHIVE_BUFFER_REFUSED, karca_archiveLoad_setBuffer(&archive, header().data(), -1));
    EXPECT_EQ(KOC_E_ARCHIVE_BUFFER_REFUSED, karca_archiveLoad_setBuffer(&archive, nullptr, 8));

    // Two objects (one empty) are taken in order; then there is none.
    Bytes two = withObject(0, 0);
    for (uint8_t b : {2, 0, 0, 0, 0xAA, 0xBB}) two.push_back(b);
    ASSERT_EQ(0, karca_archiveLoad_setBuffer(&archive, two.data(), static_cast<int32_t>(two.size())));
    karca_archiveObjectLoad object{};
    ASSERT_EQ(0, karca_archiveObjectLoad_construct(&object));
    EXPECT_EQ(0, karca_archiveLoad_popFrontArchiveObjectLoad(&archive, &object));
    EXPECT_EQ(0u, object.store->bytes.size());
    EXPECT_EQ(0, karca_archiveLoad_popFrontArchiveObjectLoad(&archive, &object));
    EXPECT_EQ((Bytes{0xAA, 0xBB}), Bytes(object.store->bytes.begin(), object.store->bytes.end()));
    EXPECT_EQ(KOC_E_ARCHIVE_NO_OBJECT, karca_archiveLoad_popFrontArchiveObjectLoad(&archive, &object));
    karca_archiveObjectLoad_destruct(&object);
    karca_archiveLoad_destruct(&archive);
}

// Refused allocations on the save path are swept through the statistics
// records' archive calls; here: handed over, an archive is empty and still an
// archive.
TEST(ArchiveBuffers, GetBufferHandsOverTheBytesAndLeavesAnEmptyArchive)
{
    karca_archiveSave archive{};
    ASSERT_EQ(0, karca_archiveSave_construct(&archive));
    void* buffer = nullptr;
    int32_t size = 0;
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(0, karca_archiveSave_getBuffer(&archive, &buffer, &size));
        EXPECT_EQ(header(), Bytes(static_cast<uint8_t*>(buffer), static_cast<uint8_t*>(buffer) + size));
        ksys_memory_free_internal(&buffer);
    }
    karca_archiveSave_destruct(&archive);
}

}  // namespace
