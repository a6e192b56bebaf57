// Reads the motion vectors of one macroblock (MPEG-2 motion_vectors(s) and the single vector
// per direction of MPEG-1) and updates the motion vector predictors in place. The predictors
// hold the vectors of the current macroblock in half-sample units.
//
// Dual prime: no dmvector bits are read; both dmvector values are set to 0 and the vectors
// are decoded as single vectors.
#pragma once

#include <cstdint>

namespace d2u {

class CBitstreamDataSource;
class CMpegVlcTables;

class CMotionVectorReader {
public:
    // Status of an r_size outside 0 to 14 (a forbidden or reserved f_code): the macroblock
    // cannot be decoded.
    static constexpr int32_t kInvalidRSize = -1;
    static constexpr int32_t kMaxRSize = 14;

    CMotionVectorReader() = default;
    virtual ~CMotionVectorReader() = default;

    int32_t Init(CBitstreamDataSource* source, CMpegVlcTables* tables);

    // motion_vectors(s): PMV[r][s][t], field_select[r][s]; mv_format 1 frame, 0 field.
    int32_t ReadMotionVectors(int32_t PMV[2][2][2], int32_t* dmvector, int32_t field_select[2][2],
                              int32_t s, int32_t motion_vector_count, int32_t mv_format,
                              int32_t h_r_size, int32_t v_r_size, int32_t dmv, int32_t mvscale);

    // The vector of a frame-format macroblock with one vector per direction (the common case of
    // MPEG-2 frame pictures): both components decoded on a copy of the bit position kept in
    // registers. Statuses as ReadMotionVector. copy (when not null) also receives the vector
    // once it is read.
    int32_t ReadFrameVector(int32_t* vector, int32_t h_r_size, int32_t v_r_size,
                            int32_t* copy = nullptr);

    // One vector: vector[0] horizontal, vector[1] vertical.
    int32_t ReadMotionVector(int32_t* vector, int32_t* dmvector, int32_t h_r_size, int32_t v_r_size,
                             int32_t dmv, int32_t mvscale, int32_t full_pel_vector);

    // Prediction with wrap-around of one component (ISO/IEC 13818-2, 7.6.3.1).
    static int32_t DecodeMotionVectorComponent(int32_t* predictor, int32_t r_size,
                                               int32_t motion_code, int32_t motion_residual,
                                               int32_t full_pel_vector);

private:
    int32_t ReadComponent(int32_t* component, int32_t r_size, int32_t full_pel_vector,
                          int32_t mvscale);

    CBitstreamDataSource* dataSource = nullptr;
    CMpegVlcTables* vlcTables = nullptr;
};

}  // namespace d2u
