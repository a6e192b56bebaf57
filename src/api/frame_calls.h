// The steps of GetMpegFrame and GetMpegFrame2, for the exports that convert the frame
// themselves: they log, publish and refuse exactly as the frame exports do. A frame the host
// only receives converted is not copied for it.
#pragma once

#include <cstdint>

#include "d2udir.h"

namespace d2u {

enum class FrameUse {
    kHostWrites,  // handed to the host, which may write into it
    kConverted,   // read by the library or by a host that only reads
};

int32_t NextFileFrame(D2uFrame** frame, D2uHandle handle, FrameUse use);
int32_t NextBufferFrame(D2uFrame** frame, const uint8_t* data, int32_t length, D2uHandle handle,
                        FrameUse use);

}  // namespace d2u
