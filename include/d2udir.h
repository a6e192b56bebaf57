/* d2udir: MPEG-1 / MPEG-2 video decoding library with a flat C interface.
 *
 * Every exported function is declared with the export and calling-convention
 * macros on one line, return type between them; the build derives the Windows
 * export list from those declarations. */
#ifndef D2UDIR_H
#define D2UDIR_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define D2U_API __stdcall
#else
#define D2U_API
#endif

#if defined(_WIN32)
#if defined(D2UDIR_BUILDING)
#define D2U_EXPORT __declspec(dllexport)
#else
#define D2U_EXPORT __declspec(dllimport)
#endif
#else
#define D2U_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A decoding handle: 0 = none; a 32-bit value on i686. */
typedef uintptr_t D2uHandle;

/* One plane of a decoded picture. */
typedef struct D2uPlane {
    int32_t width, height, pitch;
    uint8_t *data;
} D2uPlane;

/* The decoded frame record as the host reads it (25 words of 4 bytes on i686).
 * Y holds luma, U holds Cb, V holds Cr; plane sizes are the display size
 * rounded up to 16 (chroma: half of that, pitch rounded up to 16). */
typedef struct D2uFrame {
    void *reserved; /* word 0: the library's own */
    D2uPlane Y, U, V;
    int32_t width, height; /* display size */
    int32_t temporalReference;
    int32_t isKeyFrame;  /* 1 for an I picture */
    int32_t chromaFormat; /* 1 = 4:2:0 */
    int32_t pictureType; /* 1 I, 2 P, 3 B */
    int32_t chromaWidth, chromaHeight;
    int32_t hostWord; /* set to 0 before a frame is handed out; free for the host */
    void *mbInfo;
    int32_t pictureBytes;
    int32_t topFieldFirst;
} D2uFrame;

/* The six-value RGB frame descriptor used by subtitle drawing. */
typedef struct D2uRgbFrame {
    int32_t reserved0, reserved1, reserved2, stride, reserved4;
    uint8_t *data; /* first byte of the top row */
} D2uRgbFrame;

/* ---- Decoding handles ---------------------------------------------------
 * Each function exists under its plain name and with the D2uDir prefix.
 * InitDecoding makes a buffer-driven handle (always 0). FinishDecoding
 * closes a handle and writes 0 into the caller's variable (always 0). */
D2U_EXPORT int32_t D2U_API InitDecoding(D2uHandle *handle);
D2U_EXPORT int32_t D2U_API D2uDirInitDecoding(D2uHandle *handle);
D2U_EXPORT int32_t D2U_API FinishDecoding(D2uHandle *handle);
D2U_EXPORT int32_t D2U_API D2uDirFinishDecoding(D2uHandle *handle);

/* ---- Stream information, positioning and frames ------------------------ */

/* ---- Bitmap output -------------------------------------------------------- */

/* ---- Preview extraction ---------------------------------------------------- */

/* ---- Subtitles ------------------------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* D2UDIR_H */
