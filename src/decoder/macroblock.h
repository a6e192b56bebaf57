// What the macroblock layer reads for one macroblock, passed from parsing to prediction and to
// the macroblock table. The vectors and directions carry over from one macroblock to the next
// within a slice (they are the predictors of the next macroblock's vectors).
#pragma once

#include <cstdint>

#include "decoder/motion_compensator.h"

namespace d2u {

struct Macroblock {
    // macroblock_type, motion_type, the vectors (PMV[r][s][t] in half samples), the field
    // selects and dual-prime dmvector: what the prediction takes.
    MacroblockMotion motion;
    int32_t dctType = 0;    // 1: field DCT
    int32_t quantiser = 0;  // the mapped quantiser_scale in force
    int32_t pattern = 0;    // coded_block_pattern, block 0 at the highest of the block count's bits
    // By motion_type: vectors per direction, their format (1 frame, 0 field) and whether the
    // vertical component is kept in frame units (field vectors of frame pictures).
    int32_t vectorCount = 1;
    int32_t vectorFormat = 1;
    int32_t vectorScale = 0;

    uint32_t Type() const { return motion.macroblock_type; }
};

}  // namespace d2u
