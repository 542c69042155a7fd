// row_edgelets.hpp: the edgelet store behind a kip_rowEdgeletSet handle.
//
// Edgelets are appended row by row into blocks of up to 16 rows; a row
// record says where its edgelets lie. Finishing (or filtering) drops empty
// rows, sorts the rest by origin y, then x, and builds the row-subset table,
// whose entries point into the blocks: the table is valid until the store
// changes, and the handle caches its address.
#pragma once

#include <cstdint>
#include <mutex>

#include "koc/kip_edgelets.h"
#include "services/memory.hpp"

struct kip_rowEdgeletRowSubset_ {
    const kip_rowEdgelet* edgelets;
    int32_t count;
    int32_t x;
    int32_t y;
};

namespace koc::imageproc {

struct RowRecord {
    int32_t x = 0;
    int32_t y = 0;
    int32_t block = 0;
    int32_t offset = 0;
    int32_t count = 0;
};

}  // namespace koc::imageproc

struct kip_rowEdgeletStore_ {
    kstd_rect32 rect{};     // the processed rectangle
    kstd_rect32 enclose{};  // smallest rectangle holding every edgelet pixel
    double magScale = 1.0;
    int32_t count = 0;
    int32_t rowsPerBlock = 0;
    int32_t perRow = 0;
    koc::services::Vector<koc::services::Vector<kip_rowEdgelet>> blocks;
    koc::services::Vector<koc::imageproc::RowRecord> rows;
    koc::services::Vector<kip_rowEdgeletRowSubset_> table;
    // Held while detection fills the store; the two words tell a store
    // being built from a finished one.
    std::mutex lock;
    uint32_t building = 0;
    uint32_t finished = 0;
};
