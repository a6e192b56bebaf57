#include "subtitle_test_records.h"

#include <cstring>
#include <random>

#include "support/test_env.h"

namespace d2u {
namespace test {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutFloat(std::vector<uint8_t>& out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Put32(out, bits);
}

}  // namespace

void NibbleWriter::Put(uint32_t nibble) {
    if (highNext) {
        bytes.push_back(static_cast<uint8_t>((nibble & 15u) << 4));
    } else {
        bytes.back() = static_cast<uint8_t>(bytes.back() | (nibble & 15u));
    }
    highNext = !highNext;
}

void NibbleWriter::Run(int32_t length, int32_t colour, int32_t nibbles) {
    uint32_t code = static_cast<uint32_t>(length) << 2 | static_cast<uint32_t>(colour);
    for (int32_t i = nibbles - 1; i >= 0; --i) Put(code >> (4 * i));
}

void NibbleWriter::ShortestRun(int32_t length, int32_t colour) {
    if (length >= 1 && length <= 3) {
        Run(length, colour, 1);
    } else if (length >= 4 && length <= 15) {
        Run(length, colour, 2);
    } else if (length >= 16 && length <= 63) {
        Run(length, colour, 3);
    } else {
        Run(length, colour, 4);
    }
}

void NibbleWriter::EndRow(uint32_t filler) {
    if (!highNext) Put(filler);
}

std::vector<EncodedRun> RunsOfRow(const std::vector<int32_t>& row, bool endCode) {
    std::vector<EncodedRun> runs;
    for (size_t x = 0; x < row.size(); ++x) {
        if (!runs.empty() && runs.back().colour == row[x] && runs.back().length < 255) {
            ++runs.back().length;
        } else {
            runs.push_back(EncodedRun{static_cast<int32_t>(x), 1, row[x]});
        }
    }
    if (endCode && !runs.empty()) {
        while (runs.size() > 1 && runs[runs.size() - 2].colour == runs.back().colour) {
            runs.pop_back();
        }
        runs.back().length = 0;
    }
    return runs;
}

EncodedPicture EncodePicture(const IndexRows& rows, bool endCode) {
    NibbleWriter top;
    NibbleWriter bottom;
    for (size_t y = 0; y < rows.size(); ++y) {
        NibbleWriter& field = y % 2 == 0 ? top : bottom;
        for (const EncodedRun& run : RunsOfRow(rows[y], endCode)) {
            field.ShortestRun(run.length, run.colour);
        }
        field.EndRow();
    }
    return EncodedPicture{top.Bytes(), bottom.Bytes()};
}

RecordFields FieldsForPicture(const IndexRows& rows, int32_t x1, int32_t y1, float start,
                              float end) {
    RecordFields fields;
    fields.height = static_cast<int32_t>(rows.size());
    fields.width = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
    fields.x1 = x1;
    fields.y1 = y1;
    fields.x2 = x1 + fields.width;
    fields.y2 = y1 + fields.height;
    fields.startTime = start;
    fields.endTime = end;
    return fields;
}

uint32_t ColourEntry(uint8_t intensity) {
    return 0xC3000000u | 0x005A0000u | static_cast<uint32_t>(intensity) << 8 | 0x3Cu;
}

std::vector<uint8_t> BuildRecord(RecordFields fields, const std::vector<uint8_t>& top,
                                 const std::vector<uint8_t>& bottom) {
    if (fields.bottomFieldOffset < 0) {
        fields.bottomFieldOffset = 76 + static_cast<int32_t>(top.size());
    }
    if (fields.recordSize < 0) {
        fields.recordSize = 76 + static_cast<int32_t>(top.size() + bottom.size());
    }
    std::vector<uint8_t> out;
    for (int32_t value :
         {fields.x1, fields.y1, fields.x2, fields.y2, fields.width, fields.height}) {
        Put32(out, static_cast<uint32_t>(value));
    }
    for (int c = 3; c >= 0; --c) Put32(out, static_cast<uint32_t>(fields.visibility[c]));
    for (int c = 3; c >= 0; --c) Put32(out, fields.colour[c]);
    PutFloat(out, fields.startTime);
    PutFloat(out, fields.endTime);
    Put32(out, static_cast<uint32_t>(fields.headerSize));
    Put32(out, static_cast<uint32_t>(fields.bottomFieldOffset));
    Put32(out, static_cast<uint32_t>(fields.recordSize));
    out.insert(out.end(), top.begin(), top.end());
    out.insert(out.end(), bottom.begin(), bottom.end());
    return out;
}

std::vector<uint8_t> BuildRecord(const RecordFields& fields, const IndexRows& rows, bool endCode) {
    EncodedPicture picture = EncodePicture(rows, endCode);
    return BuildRecord(fields, picture.top, picture.bottom);
}

MemoryRecord::MemoryRecord(const std::vector<uint8_t>& fileRecord)
    : data(fileRecord.begin() + 76, fileRecord.end()),
      header(fileRecord.begin(), fileRecord.begin() + 76) {
    const uint8_t* pointer = data.data();
    header.resize(76 + sizeof pointer);
    std::memcpy(header.data() + 76, &pointer, sizeof pointer);
}

std::string WriteSubtitleFile(const std::string& name,
                              const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> bytes;
    for (const auto& record : records) bytes.insert(bytes.end(), record.begin(), record.end());
    std::string path = WorkPath(name);
    WriteFileBytes(path, bytes);
    return path;
}

GuardedBuffer::GuardedBuffer(size_t size, uint8_t fill) : storage(size + 2 * kGuard, fill) {
    std::memset(storage.data(), kGuardByte, kGuard);
    std::memset(storage.data() + kGuard + size, kGuardByte, kGuard);
}

bool GuardedBuffer::GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i) {
        if (storage[i] != kGuardByte || storage[storage.size() - 1 - i] != kGuardByte) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> GuardedBuffer::Contents() const {
    return std::vector<uint8_t>(storage.begin() + kGuard, storage.end() - kGuard);
}

HostRgbFrame::HostRgbFrame(int32_t w, int32_t h, int32_t bytesPerPixel, uint8_t fill)
    : width(w),
      height(h),
      bytes(bytesPerPixel),
      stride(w * bytesPerPixel + 8),
      pixels(static_cast<size_t>(stride) * h, fill) {}

D2uRgbFrame HostRgbFrame::Descriptor() {
    D2uRgbFrame descriptor{};
    descriptor.reserved0 = width;
    descriptor.reserved1 = height;
    descriptor.reserved2 = bytes * 8;
    descriptor.stride = stride;
    descriptor.data = pixels.Data();
    return descriptor;
}

HostYuvFrame::HostYuvFrame(int32_t w, int32_t h, uint8_t lumaFill, uint8_t chromaFill)
    : width(w),
      height(h),
      chromaPitch(w / 2 + 5),
      y(static_cast<size_t>(w) * h, lumaFill),
      u(static_cast<size_t>(chromaPitch) * (h / 2), chromaFill),
      v(static_cast<size_t>(chromaPitch) * (h / 2), chromaFill),
      frame{} {
    frame.Y = D2uPlane{w, h, w, y.Data()};
    frame.U = D2uPlane{w / 2, h / 2, chromaPitch, u.Data()};
    frame.V = D2uPlane{w / 2, h / 2, chromaPitch, v.Data()};
    frame.width = w;
    frame.height = h;
    frame.chromaFormat = 1;
    frame.chromaWidth = w / 2;
    frame.chromaHeight = h / 2;
}

std::vector<std::vector<int32_t>> ExpectedLuma(const IndexRows& rows, const RecordFields& fields) {
    std::vector<std::vector<int32_t>> expected(rows.size());
    for (size_t y = 0; y < rows.size(); ++y) {
        for (int32_t c : rows[y]) {
            int32_t intensity = static_cast<int32_t>((fields.colour[c] >> 8) & 0xFF);
            bool drawn = fields.visibility[c] > 0 && intensity != 0;
            expected[y].push_back(drawn ? intensity : -1);
        }
    }
    return expected;
}

std::vector<std::vector<bool>> ExpectedChroma(const IndexRows& rows, const RecordFields& fields,
                                              bool endCode) {
    const int32_t width = fields.width;
    const int32_t height = fields.height;
    std::vector<std::vector<bool>> drawn(static_cast<size_t>(height / 2),
                                         std::vector<bool>(static_cast<size_t>(width / 2)));
    for (int32_t line = 0; line < height; ++line) {
        if (line / 2 >= height / 2) continue;
        for (const EncodedRun& run : RunsOfRow(rows[static_cast<size_t>(line)], endCode)) {
            int32_t length = run.length == 0 ? width - run.x0 : run.length;
            int32_t intensity = static_cast<int32_t>((fields.colour[run.colour] >> 8) & 0xFF);
            if (fields.visibility[run.colour] <= 0 || intensity == 0) continue;
            for (int32_t i = run.x0 / 2; i < run.x0 / 2 + length / 2 && i < width / 2; ++i) {
                drawn[static_cast<size_t>(line / 2)][static_cast<size_t>(i)] = true;
            }
        }
    }
    return drawn;
}

std::vector<uint8_t> ExpectedRgbFrame(const HostRgbFrame& frame, uint8_t fill,
                                      const IndexRows& rows, const RecordFields& fields) {
    std::vector<uint8_t> expected(frame.pixels.Size(), fill);
    auto luma = ExpectedLuma(rows, fields);
    for (int32_t y = 0; y < fields.height; ++y) {
        for (int32_t x = 0; x < fields.width; ++x) {
            int32_t value = luma[static_cast<size_t>(y)][static_cast<size_t>(x)];
            int32_t hx = fields.x1 + x;
            int32_t hy = fields.y1 + y;
            if (value < 0 || hx >= fields.x2 || hy >= fields.y2 || hx >= frame.width ||
                hy >= frame.height) {
                continue;
            }
            uint8_t* pixel = expected.data() + hy * frame.stride + hx * frame.bytes;
            pixel[0] = pixel[1] = pixel[2] = static_cast<uint8_t>(value);
            if (frame.bytes == 4) pixel[3] = 0;
        }
    }
    return expected;
}

ExpectedYuv ExpectedYuvFrame(const HostYuvFrame& frame, uint8_t lumaFill, uint8_t chromaFill,
                             const IndexRows& rows, const RecordFields& fields, bool endCode) {
    ExpectedYuv expected{std::vector<uint8_t>(frame.y.Size(), lumaFill),
                         std::vector<uint8_t>(frame.u.Size(), chromaFill),
                         std::vector<uint8_t>(frame.v.Size(), chromaFill)};
    auto luma = ExpectedLuma(rows, fields);
    for (int32_t y = 0; y < fields.height; ++y) {
        for (int32_t x = 0; x < fields.width; ++x) {
            int32_t value = luma[static_cast<size_t>(y)][static_cast<size_t>(x)];
            int32_t hx = fields.x1 + x;
            int32_t hy = fields.y1 + y;
            if (value < 0 || hx >= frame.width || hy >= frame.height) continue;
            expected.y[static_cast<size_t>(hy * frame.width + hx)] = static_cast<uint8_t>(value);
        }
    }
    auto chroma = ExpectedChroma(rows, fields, endCode);
    for (size_t cy = 0; cy < chroma.size(); ++cy) {
        for (size_t cx = 0; cx < chroma[cy].size(); ++cx) {
            int32_t hx = fields.x1 / 2 + static_cast<int32_t>(cx);
            int32_t hy = fields.y1 / 2 + static_cast<int32_t>(cy);
            if (!chroma[cy][cx] || hx >= frame.width / 2 || hy >= frame.height / 2) continue;
            expected.u[static_cast<size_t>(hy * frame.chromaPitch + hx)] = 128;
            expected.v[static_cast<size_t>(hy * frame.chromaPitch + hx)] = 128;
        }
    }
    return expected;
}

IndexRows RandomPicture(uint32_t seed, int32_t width, int32_t height, int32_t maxRun) {
    std::mt19937 random(seed);
    IndexRows rows(static_cast<size_t>(height));
    for (auto& row : rows) {
        while (static_cast<int32_t>(row.size()) < width) {
            int32_t colour = static_cast<int32_t>(random() % 4);
            int32_t length = 1 + static_cast<int32_t>(random() % static_cast<uint32_t>(maxRun));
            for (int32_t i = 0; i < length && static_cast<int32_t>(row.size()) < width; ++i) {
                row.push_back(colour);
            }
        }
    }
    return rows;
}

}  // namespace test
}  // namespace d2u
