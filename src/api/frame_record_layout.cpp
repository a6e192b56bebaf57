// Ties the host's view of a frame (D2uFrame) to the decoder's CYUVFrame. On i686 the record is
// the documented 25 words of 4 bytes.
#include <cstddef>

#include "d2udir.h"
#include "picture/yuv_frame.h"

namespace d2u {
namespace {

// CYUVFrame is its vtable pointer followed by YUVFrameFields; D2uFrame mirrors both.
static_assert(sizeof(CYUVFrame) == sizeof(void*) + sizeof(YUVFrameFields),
              "CYUVFrame must be a vtable pointer followed by its fields");
static_assert(sizeof(D2uFrame) == sizeof(CYUVFrame), "D2uFrame must mirror CYUVFrame");
static_assert(sizeof(D2uPlane) == sizeof(YUVPlane), "D2uPlane must mirror YUVPlane");

#define D2U_SAME_OFFSET(field)                                                                  \
    static_assert(offsetof(D2uFrame, field) == sizeof(void*) + offsetof(YUVFrameFields, field), \
                  "D2uFrame." #field " must sit where CYUVFrame keeps it")
D2U_SAME_OFFSET(Y);
D2U_SAME_OFFSET(U);
D2U_SAME_OFFSET(V);
D2U_SAME_OFFSET(width);
D2U_SAME_OFFSET(height);
D2U_SAME_OFFSET(temporalReference);
D2U_SAME_OFFSET(isKeyFrame);
D2U_SAME_OFFSET(chromaFormat);
D2U_SAME_OFFSET(pictureType);
D2U_SAME_OFFSET(chromaWidth);
D2U_SAME_OFFSET(chromaHeight);
D2U_SAME_OFFSET(hostWord);
D2U_SAME_OFFSET(mbInfo);
D2U_SAME_OFFSET(pictureBytes);
D2U_SAME_OFFSET(topFieldFirst);
#undef D2U_SAME_OFFSET

#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit interface: word k at byte 4k.
#define D2U_WORD(field, k) \
    static_assert(offsetof(D2uFrame, field) == 4 * (k), "D2uFrame." #field " must be word " #k)
D2U_WORD(Y.width, 1);
D2U_WORD(Y.height, 2);
D2U_WORD(Y.pitch, 3);
D2U_WORD(Y.data, 4);
D2U_WORD(U.width, 5);
D2U_WORD(U.data, 8);
D2U_WORD(V.width, 9);
D2U_WORD(V.data, 12);
D2U_WORD(width, 13);
D2U_WORD(height, 14);
D2U_WORD(temporalReference, 15);
D2U_WORD(isKeyFrame, 16);
D2U_WORD(chromaFormat, 17);
D2U_WORD(pictureType, 18);
D2U_WORD(chromaWidth, 19);
D2U_WORD(chromaHeight, 20);
D2U_WORD(hostWord, 21);
D2U_WORD(mbInfo, 22);
D2U_WORD(pictureBytes, 23);
D2U_WORD(topFieldFirst, 24);
#undef D2U_WORD
static_assert(sizeof(D2uFrame) == 100, "the frame record is 25 words");
static_assert(sizeof(D2uHandle) == 4, "handles are 32-bit values");
#endif

}  // namespace
}  // namespace d2u
