#include "decoder/motion_compensator.h"

#include "decoder/mpeg_headers.h"
#include "primitives/inverse_dct.h"
#include "primitives/motion_compensation.h"

namespace d2u {
namespace {

constexpr int32_t kForward = 0;
constexpr int32_t kBackward = 1;

// The rows of a plane that belong to one grid: the whole frame, or one field.
struct PlaneView {
    uint8_t* base;
    int32_t step;
    int32_t rows;
    int32_t width;
};

PlaneView View(const YUVPlane& plane, int32_t parity) {
    if (parity < 0) return PlaneView{plane.data, plane.pitch, plane.height, plane.width};
    return PlaneView{
        plane.data ? plane.data + static_cast<ptrdiff_t>(plane.pitch) * parity : nullptr,
        2 * plane.pitch, plane.height / 2, plane.width};
}

uint8_t* At(const PlaneView& view, int32_t column, int32_t row) {
    return view.base + static_cast<ptrdiff_t>(view.step) * row + column;
}

// Half-sample mode of a vector: 8 for a horizontal half sample, 4 for a vertical one.
int32_t ModeOf(int32_t vx, int32_t vy) {
    return 8 * (vx & 1) + 4 * (vy & 1);
}

// Horizontal chroma vectors (and vertical ones of 4:2:0 pictures): half the luma vector,
// truncated toward zero.
int32_t ChromaVector(int32_t v) {
    return v / 2;
}

bool BlockInside(const PlaneView& view, int64_t column, int64_t row, int32_t width, int32_t height,
                 int32_t mode) {
    int64_t lastColumn = column + width - 1 + ((mode & 8) ? 1 : 0);
    int64_t lastRow = row + height - 1 + ((mode & 4) ? 1 : 0);
    return view.base && view.step > 0 && column >= 0 && row >= 0 && lastColumn < view.width &&
           lastRow < view.rows;
}

const int16_t* ResidualAt(const int16_t* residual, int32_t elementOffset) {
    return residual + elementOffset;
}

// Cr has the shape of Cb in every picture the decoder allocates; its own check then only
// needs its samples.
bool ChromaInside(const YUVPlane& cb, const YUVPlane& cr, int32_t parity, int64_t column,
                  int64_t row, int32_t height, int32_t mode) {
    if (!BlockInside(View(cb, parity), column, row, 8, height, mode)) return false;
    if (cr.width == cb.width && cr.height == cb.height && cr.pitch == cb.pitch)
        return cr.data != nullptr;
    return BlockInside(View(cr, parity), column, row, 8, height, mode);
}

}  // namespace

void CMotionCompensator::SetPictures(CYUVFrame* currentFrame, const CYUVFrame* olderReference,
                                     const CYUVFrame* newerReference) {
    current = currentFrame;
    older = olderReference;
    newer = newerReference;
}

void CMotionCompensator::DeriveDualPrimeVector(int32_t vx, int32_t vy, const int32_t dmvector[2],
                                               int32_t m, int32_t e, int32_t out[2]) {
    // (v * m) // 2, the division rounding halves away from zero.
    auto scale = [m](int32_t v) {
        int32_t product = v * m;
        return product >= 0 ? (product + 1) >> 1 : -((1 - product) >> 1);
    };
    out[0] = scale(vx) + dmvector[0];
    out[1] = scale(vy) + e + dmvector[1];
}

const CYUVFrame* CMotionCompensator::ReferenceFor(int32_t direction, int32_t parity) const {
    if (direction == kBackward) return newer;
    if (picture.picture_coding_type == kPictureB) return older;
    // The second field of a P frame sees the first field, of the other parity, in the picture
    // being decoded.
    if (IsFieldPicture() && picture.secondField && parity != CurrentParity()) return current;
    return newer;
}

bool CMotionCompensator::RegionInside(const Region& region) const {
    if (!current) return false;
    PlaneView luma = View(current->Y, region.parity);
    const int32_t shift = ChromaRowShift();
    return BlockInside(luma, region.x, region.row, 16, region.height, 0) &&
           ChromaInside(current->U, current->V, region.parity, region.x / 2, region.row >> shift,
                        region.height >> shift, 0);
}

bool CMotionCompensator::SourceInside(const Region& region, const Source& source) const {
    if (!source.frame) return false;
    PlaneView luma = View(source.frame->Y, source.parity);
    int64_t column = static_cast<int64_t>(region.x) + (source.vx >> 1);
    int64_t row = static_cast<int64_t>(region.row) + (source.vy >> 1);
    if (!BlockInside(luma, column, row, 16, region.height, ModeOf(source.vx, source.vy)))
        return false;
    const int32_t shift = ChromaRowShift();
    int32_t cx = ChromaVector(source.vx);
    int32_t cy = ChromaVerticalVector(source.vy);
    int64_t chromaColumn = static_cast<int64_t>(region.x / 2) + (cx >> 1);
    int64_t chromaRow = static_cast<int64_t>(region.row >> shift) + (cy >> 1);
    return ChromaInside(source.frame->U, source.frame->V, source.parity, chromaColumn, chromaRow,
                        region.height >> shift, ModeOf(cx, cy));
}

int32_t CMotionCompensator::PredictRegion(const Region& region, const Source* sources,
                                          int32_t count, const int16_t* residual) {
    if (!residual || count < 1 || count > 2 || !RegionInside(region)) return -1;
    for (int32_t i = 0; i < count; ++i) {
        if (!SourceInside(region, sources[i])) return -1;
    }
    const bool fullHeight = region.height == 16;
    const int32_t shift = ChromaRowShift();
    const int32_t chromaRow = region.row >> shift;
    const int32_t lumaResidualStep = 32 * region.residualRowStep;
    const int32_t chromaResidualStep = 16 * region.residualRowStep;
    const int16_t* lumaResidual = ResidualAt(residual, 16 * region.residualRow);
    // 4:2:2 chroma residual rows correspond one to one with the luma ones.
    const int32_t chromaResidualRow = shift ? region.chromaResidualRow : region.residualRow;
    const int32_t crResidual = shift ? 320 : 384;
    const int16_t* chromaResidual[2] = {ResidualAt(residual, 256 + 8 * chromaResidualRow),
                                        ResidualAt(residual, crResidual + 8 * chromaResidualRow)};
    const YUVPlane CYUVFrame::*chromaPlanes[2] = {&CYUVFrame::U, &CYUVFrame::V};

    // Reference block starts and modes, luma then Cb then Cr, per source.
    const uint8_t* reference[2][3] = {};
    int32_t step[2][3] = {};
    int32_t mode[2][3] = {};
    for (int32_t i = 0; i < count; ++i) {
        const Source& source = sources[i];
        PlaneView luma = View(source.frame->Y, source.parity);
        reference[i][0] = At(luma, region.x + (source.vx >> 1), region.row + (source.vy >> 1));
        step[i][0] = luma.step;
        mode[i][0] = ModeOf(source.vx, source.vy);
        int32_t cx = ChromaVector(source.vx);
        int32_t cy = ChromaVerticalVector(source.vy);
        for (int32_t plane = 0; plane < 2; ++plane) {
            PlaneView chroma = View(source.frame->*chromaPlanes[plane], source.parity);
            reference[i][plane + 1] = At(chroma, region.x / 2 + (cx >> 1), chromaRow + (cy >> 1));
            step[i][plane + 1] = chroma.step;
            mode[i][plane + 1] = ModeOf(cx, cy);
        }
    }

    PlaneView lumaOut = View(current->Y, region.parity);
    uint8_t* lumaDestination = At(lumaOut, region.x, region.row);
    // Chroma blocks 16 rows tall (4:2:2 with a 16-row luma block) go as two 8-row halves.
    const int32_t chromaHeight = region.height >> shift;
    const int32_t chromaParts = chromaHeight == 16 ? 2 : 1;
    const mc::BlockShape lumaShape = fullHeight ? mc::k16x16 : mc::k16x8;
    const mc::BlockShape chromaShape = chromaHeight >= 8 ? mc::k8x8 : mc::k8x4;
    const int32_t residualHalf = 8 * (chromaResidualStep / 2);
    // Areas without coded blocks hold zeros: the prediction alone is stored.
    if (!(residualAreas & kLumaArea)) lumaResidual = nullptr;
    if (!(residualAreas & kCbArea)) chromaResidual[0] = nullptr;
    if (!(residualAreas & kCrArea)) chromaResidual[1] = nullptr;
    const mc::KernelTable& kernels = mc::InstalledKernels();
    if (count == 1) {
        kernels.single[lumaShape](reference[0][0], step[0][0], lumaResidual, lumaResidualStep,
                                  lumaDestination, lumaOut.step, mode[0][0], 0);
        for (int32_t plane = 0; plane < 2; ++plane) {
            PlaneView out = View(current->*chromaPlanes[plane], region.parity);
            const int32_t k = plane + 1;
            for (int32_t part = 0; part < chromaParts; ++part) {
                const int16_t* partResidual =
                    chromaResidual[plane] ? chromaResidual[plane] + part * residualHalf : nullptr;
                kernels.single[chromaShape](reference[0][k] + 8 * part * step[0][k], step[0][k],
                                            partResidual, chromaResidualStep,
                                            At(out, region.x / 2, chromaRow + 8 * part), out.step,
                                            mode[0][k], 0);
            }
        }
        if (coverage) coverage->MarkRegion(region.parity, region.x, region.row, region.height);
        return 0;
    }
    kernels.bidirectional[lumaShape](reference[0][0], step[0][0], mode[0][0], reference[1][0],
                                     step[1][0], mode[1][0], lumaResidual, lumaResidualStep,
                                     lumaDestination, lumaOut.step, 0);
    for (int32_t plane = 0; plane < 2; ++plane) {
        PlaneView out = View(current->*chromaPlanes[plane], region.parity);
        const int32_t k = plane + 1;
        for (int32_t part = 0; part < chromaParts; ++part) {
            const int16_t* partResidual =
                chromaResidual[plane] ? chromaResidual[plane] + part * residualHalf : nullptr;
            kernels.bidirectional[chromaShape](
                reference[0][k] + 8 * part * step[0][k], step[0][k], mode[0][k],
                reference[1][k] + 8 * part * step[1][k], step[1][k], mode[1][k], partResidual,
                chromaResidualStep, At(out, region.x / 2, chromaRow + 8 * part), out.step, 0);
        }
    }
    if (coverage) coverage->MarkRegion(region.parity, region.x, region.row, region.height);
    return 0;
}

namespace {

// Asks for the cache lines of a reference block (with its half-sample row and column); blocks
// not wholly inside the plane are left alone, as the prediction refuses them.
void PrefetchBlock(const PlaneView& view, int64_t column, int64_t row, int32_t width,
                   int32_t height) {
#if defined(__GNUC__)
    if (!BlockInside(view, column, row, width, height, 12)) return;
    const uint8_t* p = At(view, static_cast<int32_t>(column), static_cast<int32_t>(row));
    for (int32_t r = 0; r <= height; ++r, p += view.step) {
        __builtin_prefetch(p);
        __builtin_prefetch(p + width);
    }
#else
    (void)view, (void)column, (void)row, (void)width, (void)height;
#endif
}

}  // namespace

void CMotionCompensator::PrefetchSource(const Region& region, const Source& source) const {
    if (!source.frame) return;
    PrefetchBlock(View(source.frame->Y, source.parity),
                  static_cast<int64_t>(region.x) + (source.vx >> 1),
                  static_cast<int64_t>(region.row) + (source.vy >> 1), 16, region.height);
    const int32_t shift = ChromaRowShift();
    const int32_t cx = ChromaVector(source.vx);
    const int32_t cy = ChromaVerticalVector(source.vy);
    const int64_t column = static_cast<int64_t>(region.x / 2) + (cx >> 1);
    const int64_t row = static_cast<int64_t>(region.row >> shift) + (cy >> 1);
    PrefetchBlock(View(source.frame->U, source.parity), column, row, 8, region.height >> shift);
    PrefetchBlock(View(source.frame->V, source.parity), column, row, 8, region.height >> shift);
}

void CMotionCompensator::PrefetchReferences(const MacroblockMotion& motion, int32_t x,
                                            int32_t y) const {
    // Frame and field prediction with vectors of their own; the rest (no motion in P
    // pictures, dual prime, 16x8) is rare enough to go without.
    if (IsFieldPicture() ||
        (motion.motion_type != kMotionFrame && motion.motion_type != kMotionField))
        return;
    for (int32_t s = 0; s < 2; ++s) {
        const uint32_t flag = s == 0 ? kMacroblockMotionForward : kMacroblockMotionBackward;
        if (!(motion.macroblock_type & flag)) continue;
        if (motion.motion_type == kMotionFrame) {
            PrefetchSource(Region{kFrameGrid, x, y, 16, 0, 0, 1},
                           Source{ReferenceFor(s, kFrameGrid), kFrameGrid, motion.vector[0][s][0],
                                  motion.vector[0][s][1]});
            continue;
        }
        for (int32_t r = 0; r < 2; ++r) {
            const int32_t parity = motion.motion_vertical_field_select[r][s] & 1;
            PrefetchSource(Region{r, x, y / 2, 8, r, r, 2},
                           Source{ReferenceFor(s, parity), parity, motion.vector[r][s][0],
                                  motion.vector[r][s][1] >> 1});
        }
    }
}

int32_t CMotionCompensator::PredictMacroblock(const MacroblockMotion& motion,
                                              const int16_t* residual, int32_t x, int32_t y) {
    const bool forward = (motion.macroblock_type & kMacroblockMotionForward) != 0;
    const bool backward = (motion.macroblock_type & kMacroblockMotionBackward) != 0;
    const bool pPicture = picture.picture_coding_type == kPictureP;
    if (!forward && !backward && !pPicture) return -1;
    if (!forward && !backward) {
        // No motion in a P picture: the co-located block, from the field of the same parity in
        // field pictures.
        MacroblockMotion still;
        still.macroblock_type = kMacroblockMotionForward;
        still.motion_type = IsFieldPicture() ? kMotionField : kMotionFrame;
        still.motion_vertical_field_select[0][0] = CurrentParity();
        still.motion_vertical_field_select[1][0] = CurrentParity();
        PredictDirections(still, residual, x, y);
        return 0;
    }
    PredictDirections(motion, residual, x, y);
    return 0;
}

int32_t CMotionCompensator::PredictDirections(const MacroblockMotion& motion,
                                              const int16_t* residual, int32_t x, int32_t y) {
    const bool bidirectional = (motion.macroblock_type & kMacroblockMotionForward) &&
                               (motion.macroblock_type & kMacroblockMotionBackward);
    const bool fieldBased = IsFieldPicture() || motion.motion_type == kMotionField;
    if (motion.motion_type == kMotionDualPrime && !bidirectional &&
        picture.picture_coding_type == kPictureP) {
        return PredictDualPrime(motion, residual, x, y);
    }
    if (bidirectional) {
        return fieldBased ? PredictFieldBidirectional(motion, residual, x, y)
                          : PredictFrameBidirectional(motion, residual, x, y);
    }
    return fieldBased ? PredictField(motion, residual, x, y) : PredictFrame(motion, residual, x, y);
}

int32_t CMotionCompensator::PredictFrame(const MacroblockMotion& motion, const int16_t* residual,
                                         int32_t x, int32_t y) {
    if (IsFieldPicture()) return PredictField(motion, residual, x, y);
    const int32_t s = (motion.macroblock_type & kMacroblockMotionBackward) ? kBackward : kForward;
    Region region{kFrameGrid, x, y, 16, 0, 0, 1};
    Source source{ReferenceFor(s, kFrameGrid), kFrameGrid, motion.vector[0][s][0],
                  motion.vector[0][s][1]};
    return PredictRegion(region, &source, 1, residual);
}

int32_t CMotionCompensator::PredictFrameBidirectional(const MacroblockMotion& motion,
                                                      const int16_t* residual, int32_t x,
                                                      int32_t y) {
    if (IsFieldPicture()) return PredictFieldBidirectional(motion, residual, x, y);
    Region region{kFrameGrid, x, y, 16, 0, 0, 1};
    Source sources[2];
    for (int32_t s = 0; s < 2; ++s) {
        sources[s] = Source{ReferenceFor(s, kFrameGrid), kFrameGrid, motion.vector[0][s][0],
                            motion.vector[0][s][1]};
    }
    return PredictRegion(region, sources, 2, residual);
}

int32_t CMotionCompensator::PredictField(const MacroblockMotion& motion, const int16_t* residual,
                                         int32_t x, int32_t y) {
    const int32_t s = (motion.macroblock_type & kMacroblockMotionBackward) ? kBackward : kForward;
    MacroblockMotion single = motion;
    single.macroblock_type = s == kBackward ? kMacroblockMotionBackward : kMacroblockMotionForward;
    return PredictFieldBidirectional(single, residual, x, y);
}

int32_t CMotionCompensator::PredictFieldBidirectional(const MacroblockMotion& motion,
                                                      const int16_t* residual, int32_t x,
                                                      int32_t y) {
    int32_t directions[2];
    int32_t count = 0;
    if (motion.macroblock_type & kMacroblockMotionForward) directions[count++] = kForward;
    if (motion.macroblock_type & kMacroblockMotionBackward) directions[count++] = kBackward;
    if (count == 0) return -1;

    // Frame pictures: two field blocks, r = 0 the top-field rows, r = 1 the bottom-field rows,
    // each with its own vector; the stored vertical components are in frame units.
    // Field pictures: one 16x16 block, or two 16x8 halves (upper, lower) with their vectors.
    const bool framePicture = !IsFieldPicture();
    const bool halves = framePicture || motion.motion_type == kMotion16x8;
    const int32_t blocks = halves ? 2 : 1;
    for (int32_t r = 0; r < blocks; ++r) {
        Region region = framePicture
                            ? Region{r, x, y / 2, 8, r, r, 2}
                            : (halves ? Region{CurrentParity(), x, y + 8 * r, 8, 8 * r, 4 * r, 1}
                                      : Region{CurrentParity(), x, y, 16, 0, 0, 1});
        Source sources[2];
        for (int32_t i = 0; i < count; ++i) {
            int32_t s = directions[i];
            int32_t parity = motion.motion_vertical_field_select[r][s] & 1;
            int32_t vy = framePicture ? motion.vector[r][s][1] >> 1 : motion.vector[r][s][1];
            sources[i] = Source{ReferenceFor(s, parity), parity, motion.vector[r][s][0], vy};
        }
        if (PredictRegion(region, sources, count, residual) != 0) return -1;
    }
    return 0;
}

int32_t CMotionCompensator::PredictDualPrime(const MacroblockMotion& motion,
                                             const int16_t* residual, int32_t x, int32_t y) {
    const int32_t vx = motion.vector[0][kForward][0];
    if (IsFieldPicture()) {
        // The field is the average of the prediction from the field of the same parity and the
        // one from the field of the other parity, the latter one field period away (m = 1).
        const int32_t parity = CurrentParity();
        const int32_t vy = motion.vector[0][kForward][1];
        int32_t opposite[2];
        DeriveDualPrimeVector(vx, vy, motion.dmvector, 1, parity == 0 ? -1 : 1, opposite);
        Source sources[2] = {
            Source{ReferenceFor(kForward, parity), parity, vx, vy},
            Source{ReferenceFor(kForward, 1 - parity), 1 - parity, opposite[0], opposite[1]}};
        Region region{parity, x, y, 16, 0, 0, 1};
        return PredictRegion(region, sources, 2, residual);
    }
    // Frame pictures: each field of the macroblock averages its same-parity prediction with
    // the one from the other field of the reference frame, whose distance in field periods
    // (1 or 3) depends on which field comes first.
    const int32_t vy = motion.vector[0][kForward][1] >> 1;
    const bool topFirst = picture.top_field_first != 0;
    for (int32_t r = 0; r < 2; ++r) {
        int32_t m = ((r == 0) == topFirst) ? 1 : 3;
        int32_t opposite[2];
        DeriveDualPrimeVector(vx, vy, motion.dmvector, m, r == 0 ? -1 : 1, opposite);
        Source sources[2] = {
            Source{ReferenceFor(kForward, r), r, vx, vy},
            Source{ReferenceFor(kForward, 1 - r), 1 - r, opposite[0], opposite[1]}};
        Region region{r, x, y / 2, 8, r, r, 2};
        if (PredictRegion(region, sources, 2, residual) != 0) return -1;
    }
    return 0;
}

int32_t CMotionCompensator::WriteIntraBlock(const int16_t* coefficients, int32_t b, int32_t x,
                                            int32_t y, bool fieldDct) {
    if (!current || !coefficients || b < 0) return 0;
    // Field pictures hold one field: every block lands on the rows of that field.
    const int32_t parity = IsFieldPicture() ? CurrentParity() : kFrameGrid;
    PlaneView view;
    int32_t column;
    int32_t row;
    if (b < 4) {
        column = x + 8 * (b & 1);
        if (fieldDct && !IsFieldPicture()) {
            // Field DCT in a frame picture: blocks 0 and 1 hold the top-field rows, 2 and 3
            // the bottom-field rows of the macroblock.
            view = View(current->Y, b >> 1);
            row = y / 2;
        } else {
            view = View(current->Y, parity);
            row = y + 8 * (b >> 1);
        }
    } else if (picture.chromaFormat == 2) {
        // 4:2:2: even blocks Cb, odd blocks Cr; 4 and 5 the upper half (or the top-field rows
        // with field DCT), 6 and 7 the lower half (the bottom-field rows).
        const YUVPlane& plane = (b & 1) ? current->V : current->U;
        const int32_t half = ((b - 4) >> 1) & 1;
        column = x / 2;
        if (fieldDct && !IsFieldPicture()) {
            view = View(plane, half);
            row = y / 2;
        } else {
            view = View(plane, parity);
            row = y + 8 * half;
        }
    } else {
        view = View(b == 4 ? current->U : current->V, parity);
        column = x / 2;
        row = y / 2;
    }
    if (!BlockInside(view, column, row, 8, 8, 0)) return 0;
    ippiDCT8x8InvLSClip_16s8u_C1R(coefficients, At(view, column, row), view.step, 0, 0, 255);
    return 0;
}

}  // namespace d2u
