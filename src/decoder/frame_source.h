// A source of decoded frames, one at a time. The decoding handle and the decoder wrapper are both
// frame sources; the handle draws from the wrapper.
#pragma once

#include <cstdint>

namespace d2u {

class CYUVFrame;
class CMpegDecoderWraper;

class CFrameSource {
public:
    CFrameSource() = default;
    virtual ~CFrameSource() = default;
    CFrameSource(const CFrameSource&) = delete;
    CFrameSource& operator=(const CFrameSource&) = delete;

    // Every caller passes 1; the value is passed along unchanged.
    virtual CYUVFrame* GetNextFrame(int32_t n) = 0;
    virtual int32_t GetWidth() { return inner ? inner->GetWidth() : -1; }
    virtual int32_t GetHeight() { return inner ? inner->GetHeight() : -1; }
    virtual int32_t QueryFifth() { return inner ? inner->QueryFifth() : -1; }
    virtual int32_t QuerySixth() { return inner ? inner->QuerySixth() : -1; }
    virtual int32_t QuerySeventh() { return 0; }
    virtual CMpegDecoderWraper* GetDecoder() { return inner ? inner->GetDecoder() : nullptr; }

protected:
    CFrameSource* inner = nullptr;  // not owned
};

}  // namespace d2u
