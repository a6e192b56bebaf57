// Field pictures, written macroblock by macroblock with every prediction mode (no encoder at
// hand makes them), decoded and compared with ffmpeg.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "stream_comparison.h"
#include "support/test_env.h"
#include "synthetic_stream_writer.h"

namespace d2u {
namespace {

using test::MotionMacroblock;
using test::SyntheticStreamWriter;

constexpr int kWidth = 128;
constexpr int kHeight = 128;
constexpr int kColumns = kWidth / 16;

class FieldStreamMaker {
public:
    explicit FieldStreamMaker(unsigned seed) : rng(seed) {}

    std::vector<uint8_t> Make() {
        writer.SequenceHeader(kWidth, kHeight, false);
        writer.GroupHeader(true);
        // Frame 0: an I top field, then a P bottom field that can only look at the top field.
        Field(1, 0, SyntheticStreamWriter::kTopField, Kinds::kIntraOnly);
        Field(2, 0, SyntheticStreamWriter::kBottomField, Kinds::kFirstFieldOnly);
        // Frame 2: P fields with every mode; the bottom field also sees the top one.
        Field(2, 2, SyntheticStreamWriter::kTopField, Kinds::kAll);
        Field(2, 2, SyntheticStreamWriter::kBottomField, Kinds::kAll);
        // Frame 1: B fields between frames 0 and 2, bottom field first.
        Field(3, 1, SyntheticStreamWriter::kBottomField, Kinds::kAll);
        Field(3, 1, SyntheticStreamWriter::kTopField, Kinds::kAll);
        // Frames 4 and 3: frame pictures predicting from the field-coded frames.
        Frame(2, 4);
        Frame(3, 3);
        writer.SequenceEnd();
        return writer.Bytes();
    }

    // Concealment vectors in I and P pictures, frame and field structured: intra macroblocks
    // carry a vector that the next macroblock of the slice predicts its own from.
    std::vector<uint8_t> MakeWithConcealmentVectors() {
        writer.SequenceHeader(kWidth, kHeight, false);
        writer.GroupHeader(true);
        ConcealingPicture(1, 0, SyntheticStreamWriter::kFramePicture);
        ConcealingPicture(2, 1, SyntheticStreamWriter::kFramePicture);
        ConcealingPicture(1, 2, SyntheticStreamWriter::kTopField);
        ConcealingPicture(1, 2, SyntheticStreamWriter::kBottomField);
        ConcealingPicture(2, 3, SyntheticStreamWriter::kTopField);
        ConcealingPicture(2, 3, SyntheticStreamWriter::kBottomField);
        writer.SequenceEnd();
        return writer.Bytes();
    }

private:
    enum class Kinds { kIntraOnly, kFirstFieldOnly, kAll };

    void ConcealingPicture(int type, int temporalReference, int structure) {
        const bool field = structure != SyntheticStreamWriter::kFramePicture;
        writer.PictureHeader(type, temporalReference, structure, !field, true);
        const int rows = field ? kHeight / 32 : kHeight / 16;
        const int gridRows = field ? kHeight / 2 : kHeight;
        for (int mbRow = 0; mbRow < rows; ++mbRow) {
            writer.Slice(mbRow);
            for (int column = 0; column < kColumns; ++column) {
                int vector[2];
                RandomVector(column * 16, mbRow * 16, 16, gridRows, vector);
                if (type == 1 || Random(0, 2) == 0) {
                    int luma[4];
                    for (int& v : luma) v = Random(16, 235);
                    writer.Intra(luma, Random(64, 192), Random(64, 192), vector, Random(0, 1));
                    continue;
                }
                MotionMacroblock mb;
                mb.motionType = field ? 1 : 2;
                mb.fieldSelect[0][0] = Random(0, 1);
                mb.vector[0][0][0] = vector[0];
                mb.vector[0][0][1] = vector[1];
                mb.codedLuma = Random(0, 1) == 0;
                writer.Motion(mb);
            }
        }
    }

    int Random(int low, int high) {
        return low + static_cast<int>(rng() % static_cast<unsigned>(high - low + 1));
    }

    void IntraMacroblock() {
        int luma[4];
        for (int& v : luma) v = Random(16, 235);
        writer.Intra(luma, Random(64, 192), Random(64, 192));
    }

    // Whether a block of `height` luma rows at (x, row) of a grid of gridRows rows, moved by
    // the vector, reads only inside the reference (its chroma too).
    static bool Inside(int x, int row, int height, int gridRows, int vx, int vy) {
        auto fits = [](int start, int size, int half, int limit) {
            return start >= 0 && start + size - 1 + half < limit;
        };
        int cx = vx / 2;
        int cy = vy / 2;
        return fits(x + (vx >> 1), 16, vx & 1, kWidth) &&
               fits(row + (vy >> 1), height, vy & 1, gridRows) &&
               fits(x / 2 + (cx >> 1), 8, cx & 1, kWidth / 2) &&
               fits(row / 2 + (cy >> 1), height / 2, cy & 1, gridRows / 2);
    }

    void RandomVector(int x, int row, int height, int gridRows, int out[2]) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            int vx = Random(-8, 8);
            int vy = Random(-8, 8);
            if (Inside(x, row, height, gridRows, vx, vy)) {
                out[0] = vx;
                out[1] = vy;
                return;
            }
        }
        out[0] = out[1] = 0;
    }

    // (v * m) // 2 with halves away from zero, the dual-prime scaling.
    static int Scale(int v) { return v >= 0 ? (v + 1) >> 1 : -((1 - v) >> 1); }

    bool DualPrime(MotionMacroblock& mb, int x, int row, int parity) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            int vx = Random(-6, 6);
            int vy = Random(-6, 6);
            int dmx = Random(-1, 1);
            int dmy = Random(-1, 1);
            int ox = Scale(vx) + dmx;
            int oy = Scale(vy) + (parity == 0 ? -1 : 1) + dmy;
            if (Inside(x, row, 16, kHeight / 2, vx, vy) &&
                Inside(x, row, 16, kHeight / 2, ox, oy)) {
                mb.motionType = 3;
                mb.vector[0][0][0] = vx;
                mb.vector[0][0][1] = vy;
                mb.dmvector[0] = dmx;
                mb.dmvector[1] = dmy;
                return true;
            }
        }
        return false;
    }

    void FieldMotion(MotionMacroblock& mb, int x, int row, int firstFieldParity, bool onlyFirst) {
        mb.motionType = Random(1, 2);
        for (int s = 0; s < 2; ++s) {
            for (int r = 0; r < 2; ++r) {
                mb.fieldSelect[r][s] = onlyFirst ? firstFieldParity : Random(0, 1);
                int height = mb.motionType == 2 ? 8 : 16;
                RandomVector(x, row + (mb.motionType == 2 ? 8 * r : 0), height, kHeight / 2,
                             mb.vector[r][s]);
            }
        }
    }

    void Field(int type, int temporalReference, int structure, Kinds kinds) {
        writer.PictureHeader(type, temporalReference, structure);
        const int parity = structure == SyntheticStreamWriter::kBottomField ? 1 : 0;
        for (int mbRow = 0; mbRow < kHeight / 32; ++mbRow) {
            writer.Slice(mbRow);
            bool previousIntra = false;
            for (int column = 0; column < kColumns; ++column) {
                const int x = column * 16;
                const int row = mbRow * 16;
                const bool edge = column == 0 || column == kColumns - 1;
                int choice = kinds == Kinds::kIntraOnly ? 0 : Random(0, 9);
                if (choice == 0) {
                    IntraMacroblock();
                    previousIntra = true;
                    continue;
                }
                // Skipped: not at a slice end, in B pictures never right after intra, and in
                // the P field that has no same-parity reference, never.
                if (choice == 1 && !edge && kinds == Kinds::kAll && !(type == 3 && previousIntra)) {
                    writer.Skip(1);
                    continue;
                }
                MotionMacroblock mb;
                mb.codedLuma = Random(0, 2) == 0;
                mb.lumaNegative = Random(0, 1) == 1;
                if (type == 2) {
                    mb.forward = true;
                    if (choice == 2 && kinds == Kinds::kAll) {
                        mb.forward = false;  // no motion compensation
                        mb.codedLuma = true;
                    } else if (!(choice == 3 && kinds == Kinds::kAll &&
                                 DualPrime(mb, x, row, parity))) {
                        FieldMotion(mb, x, row, 1 - parity, kinds == Kinds::kFirstFieldOnly);
                    }
                } else {
                    int direction = Random(0, 2);
                    mb.forward = direction != 1;
                    mb.backward = direction != 0;
                    FieldMotion(mb, x, row, 0, false);
                }
                writer.Motion(mb);
                previousIntra = false;
            }
        }
    }

    void Frame(int type, int temporalReference) {
        writer.PictureHeader(type, temporalReference, SyntheticStreamWriter::kFramePicture, true);
        for (int mbRow = 0; mbRow < kHeight / 16; ++mbRow) {
            writer.Slice(mbRow);
            for (int column = 0; column < kColumns; ++column) {
                MotionMacroblock mb;
                mb.motionType = 2;
                mb.forward = type == 2 || Random(0, 1) == 1;
                mb.backward = type == 3 && (!mb.forward || Random(0, 1) == 1);
                for (int s = 0; s < 2; ++s)
                    RandomVector(column * 16, mbRow * 16, 16, kHeight, mb.vector[0][s]);
                mb.codedLuma = Random(0, 3) == 0;
                writer.Motion(mb);
            }
        }
    }

    std::mt19937 rng;
    SyntheticStreamWriter writer;
};

TEST(FieldPictures, EveryPredictionModeMatchesFfmpeg) {
    for (unsigned seed : {1u, 2u, 3u}) {
        std::string name = "picture_fields_" + std::to_string(seed) + ".m2v";
        std::string path = test::WorkPath(name);
        ASSERT_TRUE(test::WriteFileBytes(path, FieldStreamMaker(seed).Make()));
        test::RemoveFile(path + ".ref.yuv");  // the reference follows the stream just written
        EXPECT_EQ(test::ReferenceDecoderErrors(path), "") << name;
        test::DecodedStream decoded;
        test::ExpectMatchesReference(name, path, &decoded);
        EXPECT_EQ(decoded.frames.size(), 5u);
        EXPECT_EQ(decoded.fieldFrames, 3);
        EXPECT_GT(decoded.dualPrimeMacroblocks, 0);
    }
}

TEST(FieldPictures, ConcealmentVectorsAreReadAndPredictFrom) {
    std::string name = "picture_concealment.m2v";
    std::string path = test::WorkPath(name);
    ASSERT_TRUE(test::WriteFileBytes(path, FieldStreamMaker(9).MakeWithConcealmentVectors()));
    test::RemoveFile(path + ".ref.yuv");
    EXPECT_EQ(test::ReferenceDecoderErrors(path), "") << name;
    test::DecodedStream decoded;
    test::ExpectMatchesReference(name, path, &decoded);
    EXPECT_EQ(decoded.frames.size(), 4u);
    for (int status : decoded.statuses) EXPECT_EQ(status, 0);
}

TEST(TallPictures, SliceVerticalPositionExtensionPlacesTheRows) {
    // 2816 lines: 176 macroblock rows, the last 48 addressed through the extension.
    SyntheticStreamWriter writer;
    writer.SequenceHeader(32, 2816, true);
    writer.PictureHeader(1, 0, SyntheticStreamWriter::kFramePicture, true);
    for (int row = 0; row < 176; ++row) {
        writer.Slice(row);
        for (int column = 0; column < 2; ++column) {
            int value = 16 + (row * 7 + column * 31) % 220;
            int luma[4] = {value, 255 - value, value / 2, 128};
            writer.Intra(luma, value, 255 - value);
        }
    }
    writer.SequenceEnd();
    std::string name = "picture_tall.m2v";
    std::string path = test::WorkPath(name);
    ASSERT_TRUE(test::WriteFileBytes(path, writer.Bytes()));
    test::RemoveFile(path + ".ref.yuv");
    EXPECT_EQ(test::ReferenceDecoderErrors(path), "");
    test::DecodedStream decoded;
    test::ExpectMatchesReference(name, path, &decoded);
    ASSERT_EQ(decoded.statuses.size(), 1u);
    EXPECT_EQ(decoded.statuses[0], 0);
}

}  // namespace
}  // namespace d2u
