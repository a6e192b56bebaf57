// Reads the extensions and user data that follow a sequence, group or picture header: the
// sequence extension, the quant matrix extension and the picture coding extension are parsed,
// everything else is passed over by the next start code search.
#pragma once

#include <cstdint>

namespace d2u {

class CBitstreamDataSource;
struct MpegHeaders;

class CMpegExtensionReader {
public:
    CMpegExtensionReader() = default;
    virtual ~CMpegExtensionReader() = default;
    CMpegExtensionReader(const CMpegExtensionReader&) = delete;
    CMpegExtensionReader& operator=(const CMpegExtensionReader&) = delete;

    int32_t Init(CBitstreamDataSource* source, MpegHeaders* record);

    // Leaves the stream at the first bit of the first start code that is neither an
    // extension nor user data.
    int32_t ReadExtensionsAndUserData();
    int32_t ReadSequenceExtension();
    int32_t ReadPictureCodingExtension();
    // Replaces the matrices it carries until the next sequence header. A luma matrix also
    // becomes the chroma one of its kind; 4:2:2 streams may then load chroma matrices of
    // their own. A damaged extension (a zero value, a start code inside) changes nothing and
    // gives -1.
    int32_t ReadQuantMatrixExtension();
    // Recognised but not used by the decoder.
    int32_t ReadSequenceDisplayExtension() { return 0; }
    int32_t ReadPictureDisplayExtension() { return 0; }

private:
    bool LoadMatrix(uint16_t* matrix);

    CBitstreamDataSource* dataSource = nullptr;  // not owned
    MpegHeaders* headers = nullptr;              // not owned
};

}  // namespace d2u
