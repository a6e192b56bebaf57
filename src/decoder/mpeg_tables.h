// Constant tables of MPEG-2 video (ISO/IEC 13818-2), shared by the header reader, the
// macroblock layer and block reconstruction.
#pragma once

#include <cstdint>

namespace d2u {

// Scan orders: entry k is the raster index (row * 8 + column) of the k-th coefficient.
extern const uint32_t kZigzagScan[64];     // scan[0]
extern const uint32_t kAlternateScan[64];  // scan[1]

// The default intra_quantiser_matrix in raster order.
extern const uint8_t kDefaultIntraQuantiserMatrix[64];
// The default non-intra matrix is flat.
constexpr uint16_t kDefaultNonIntraQuantiserValue = 16;

// quantiser_scale for q_scale_type = 1, indexed by quantiser_scale_code (0 for code 0).
extern const uint8_t kNonLinearQuantiserScale[32];

}  // namespace d2u
