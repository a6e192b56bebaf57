// The header parser alone: every header above the slice layer read from the input, picture
// after picture, as the decoder reads them (slices passed over by the start code search).
#include "decoder/mpeg_header_reader.h"
#include "decoder/mpeg_headers.h"
#include "fuzz_input.h"
#include "input/bitstream_data_source.h"

D2U_FUZZ_TARGET(header_parser, 0) {
    if (size == 0 || size > (1u << 24)) return 0;
    CBitstreamDataSource source;
    MpegHeaders headers;
    std::memset(&headers, 0, sizeof headers);
    CMpegHeaderReader reader;
    source.SetDataBuffer(data, static_cast<int32_t>(size));
    reader.Init(&source, &headers);
    // Each call consumes at least one start code, so the input bounds the calls.
    for (size_t calls = 0; calls <= size && reader.getHeader() == 1 && !source.IsPastEnd();
         ++calls) {
    }
    return 0;
}
