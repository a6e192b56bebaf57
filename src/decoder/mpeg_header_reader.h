// Finds start codes in an MPEG-1/MPEG-2 video elementary stream and parses every header above
// the slice layer into the decoder's MpegHeaders record.
#pragma once

#include <cstdint>

#include "decoder/mpeg_extension_reader.h"
#include "input/bitstream_data_source.h"
#include "input/start_codes.h"

namespace d2u {

struct MpegHeaders;

class CMpegHeaderReader {
public:
    CMpegHeaderReader() = default;
    virtual ~CMpegHeaderReader() = default;
    CMpegHeaderReader(const CMpegHeaderReader&) = delete;
    CMpegHeaderReader& operator=(const CMpegHeaderReader&) = delete;

    int32_t Init(CBitstreamDataSource* source, MpegHeaders* record);

    // 1: a picture header and its extensions were read, the stream is at the next start code
    // (normally the first slice). 0: the end of the file (file mode; a sequence_end_code with
    // more pictures after it does not end the stream). -1: no data source or record, or the data
    // source could not be refilled (in buffered mode: the host's buffer is used up).
    // While a read limit holds a growing file back, a picture is returned once the start code
    // after it lies below the limit; a sequence_end_code that ends the data at the limit ends
    // the stream.
    int32_t getHeader();

    // Stores the byte offset of the start code just read (position - 4) into info.startPosition.
    template <class Info>
    int32_t MarkStartCodePosition(Info& info) const {
        info.startPosition = StartCodePosition();
        return 0;
    }

    // Aligns to a byte, reads up to and including the next 00 00 01 and returns the start
    // code value after it (consumed). Never runs past the end of the buffer: there it stops
    // at the sentinel sequence_end_code.
    static uint32_t FindStartCode(CBitstreamDataSource& source);
    uint32_t FindStartCode() { return FindStartCode(*dataSource); }
    // Puts the position back on the first byte of a start code just read at a byte boundary.
    static void UnreadStartCode(CBitstreamDataSource& source);
    // f_code - 1. The forbidden f_code 0 gives 0, so that vector decoding stays in range.
    static uint32_t RSizeOf(uint32_t f_code) { return f_code == 0 ? 0 : f_code - 1; }

    int32_t ReadSequenceHeader();
    int32_t ReadGroupHeader();
    int32_t ReadPictureHeader();
    int32_t SkipExtraPictureInformation();

    int32_t sequenceHeaderSeen = 0;  // set when the last getHeader call read a sequence header
    int32_t groupHeaderSeen = 0;     // set when the last getHeader call read a group header
    int32_t sequenceEnded = 0;       // the last start code read was a sequence_end_code

private:
    uint64_t StartCodePosition() const;
    void LoadQuantiserMatrix(uint16_t* matrix);
    bool RefillBeforeHeader();
    // Whether the start code just read lies behind the data (file mode): the filler.
    bool PastDataEnd() const;
    bool AtReadLimit() const;
    bool PictureEndsWithinData() const;
    void SetWordPosition(const BitReader& at);
    BitReader& bits() { return dataSource->Bits(); }

    CBitstreamDataSource* dataSource = nullptr;  // not owned
    MpegHeaders* headers = nullptr;              // not owned
    CMpegExtensionReader extensionReader;
};

}  // namespace d2u
