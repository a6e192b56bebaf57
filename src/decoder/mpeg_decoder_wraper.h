// The decoder wrapper: one MPEG video decoding pipeline behind a decoding handle.
#pragma once

#include <cstdint>

#include "input/frame_source.h"

namespace d2u {

class CMpegDecoderWraper : public CFrameSource {
public:
    CMpegDecoderWraper() = default;
    ~CMpegDecoderWraper() override = default;

    CYUVFrame* GetNextFrame(int32_t) override { return nullptr; }
    int32_t GetWidth() override { return 0; }
    int32_t GetHeight() override { return 0; }
    int32_t QueryFifth() override { return 0; }
    int32_t QuerySixth() override { return -1; }
    int32_t QuerySeventh() override { return 0; }
    CMpegDecoderWraper* GetDecoder() override { return this; }

    int32_t CloseDecoder() { return 0; }
};

}  // namespace d2u
