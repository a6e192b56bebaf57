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
 * Y holds luma, U holds Cb, V holds Cr. The luma plane is the display width
 * rounded up to 16 wide (its pitch the same) and the display height rounded up
 * to 16 tall, to 32 for interlaced MPEG-2 sequences (progressive_sequence 0),
 * whose field macroblock rows come in pairs: 736 rows for 720 lines, 576 for
 * 576. Rows and columns beyond the display size are not part of the picture.
 * Chroma planes are half as wide, pitch rounded up to 16, and half as tall for
 * 4:2:0, as tall for 4:2:2. chromaFormat 1 is 4:2:0, 2 is
 * 4:2:2 (MPEG-2 4:2:2 profile streams); chromaHeight is the display height
 * halved for 4:2:0 and the display height for 4:2:2. 4:4:4 streams
 * (chroma_format 3) are not decoded: opening one fails with -1, GetMpegFrame
 * fails for the pictures of a 4:4:4 sequence met later, and the log says
 * "chroma_format 3 is not supported". Frames scaled to an output size
 * (SetOutputSize) are 4:2:0, their planes that size rounded up to 16. */
typedef struct D2uFrame {
    void *reserved; /* word 0: the library's own */
    D2uPlane Y, U, V;
    int32_t width, height; /* display size */
    int32_t temporalReference;
    int32_t isKeyFrame;  /* 1 for an I picture */
    int32_t chromaFormat; /* 1 = 4:2:0, 2 = 4:2:2 */
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

/* Opening a stream file (file-driven handle). 0 on success; -1 when the file cannot be
 * opened or holds no sequence header, and for a transport stream or an MP4 file (told by
 * content; a video reader reads the video of transport streams), -2008 when a sequence header
 * has no picture header after it. On failure *handle is 0. */
D2U_EXPORT int32_t D2U_API D2uDirLoadFile(const char *path, D2uHandle *handle);
D2U_EXPORT int32_t D2U_API D2uDirLoadFileW(const wchar_t *path, D2uHandle *handle);
/* Rewinds a file-driven handle to the start of its file: 0; -1 for a null handle. */
D2U_EXPORT int32_t D2U_API ResetDecoder(D2uHandle handle);
D2U_EXPORT int32_t D2U_API D2uDirResetDecoder(D2uHandle handle);

/* Frames. Pictures come out in decoding order; B pictures decoded after a start before the
 * first P picture are not handed out by a file-driven handle. The frame stays owned by the
 * handle and is valid until the next call that decodes on it. Until then it is the host's to
 * draw on: whatever the host writes into its planes or its host word never reaches a later
 * picture (reference pictures go out as copies; see D2uDirSetFramesWritable). The macroblock table behind mbInfo is the
 * library's: read it, never write it.
 * The frames do not depend on how the stream is fed: file-driven, one coded picture per
 * buffer, or one field picture per buffer all give the same frames, each once; streams joined
 * after a sequence_end_code (chapters cut and concatenated) decode whole, and a stream ends at
 * a sequence_end_code only where no more data follows it.
 * After the last picture of a file, GetMpegFrame hands the last frame out once more (as it was
 * decoded), then returns -1.
 * GetMpegFrame: 0 with a frame, -1 without one (end of stream, null handle, a handle
 * without a file).
 * GetMpegFrame2 decodes from the given buffer, normally one coded picture with the headers
 * before it; 0 with a frame, -1 without one or when the first buffers hold no sequence
 * header, -2008 when they hold a sequence header without a picture header (the next call
 * tries again); -1 also for a null handle, an empty buffer or a file-driven handle. A buffer
 * that holds only the first field of a frame gives -1 and no frame (the picture is not lost:
 * the call with the second field hands out the whole frame). A buffer without a picture
 * hands out the previous frame again.
 * A sequence header whose picture has no samples (width or height 0), a side over 16384 or
 * more samples than 4096 x 4096 is refused: opening or starting on it gives -1, and its
 * pictures are not decoded. */
D2U_EXPORT int32_t D2U_API GetMpegFrame(D2uFrame **frame, D2uHandle handle);
D2U_EXPORT int32_t D2U_API D2uDirGetMpegFrame(D2uFrame **frame, D2uHandle handle);
D2U_EXPORT int32_t D2U_API GetMpegFrame2(D2uFrame **frame, const uint8_t *data, int32_t length, D2uHandle handle);
D2U_EXPORT int32_t D2U_API D2uDirGetMpegFrame2(D2uFrame **frame, const uint8_t *data, int32_t length, D2uHandle handle);

/* Whether the host writes into the frames it is handed. 1 (the default): it may, and every
 * reference picture goes out as a copy, which costs one copy of each I and P frame. 0: the host
 * promises only to read them and gets the decoder's own pictures; a write into one then reaches
 * the pictures predicted from it. 0, or -1 for a null handle. */
D2U_EXPORT int32_t D2U_API D2uDirSetFramesWritable(D2uHandle handle, int32_t writable);

/* Threads that decode the handle's pictures: the slices of each picture are shared out among
 * them, and so are the rows of GetBitmapData's colour conversion and the reads that refill a
 * file-driven handle's buffer. 1 (the default): every call runs on the caller's thread alone.
 * 0: one thread per processor. The caller's thread is one of them; at most 32. The pictures are
 * the same for every count. Handle 0 sets the threads of the preview extraction's decoding
 * (D2uDirStartExtractPreview). Returns the count now in use (fewer when the system starts fewer
 * threads), or -1 for a negative count. The threads end with the handle. */
D2U_EXPORT int32_t D2U_API D2uDirSetThreads(D2uHandle handle, int32_t count);

/* Skipping. SkipFrame passes over the next picture if it is a B picture (0) and otherwise
 * leaves it to the next frame call (1); SkipFrame2 first loads the given buffer.
 * SkipDuration skips whole pictures worth the given milliseconds, from the start of the
 * file when fromStart is non-zero, and returns the duration actually skipped in
 * milliseconds; 0 (nothing skipped) when the stream's frame rate code is not 1 to 5 and
 * for a buffer-driven handle.
 * SkipFrame and SkipFrame2 give -1 for a null handle or an empty buffer. */
D2U_EXPORT int32_t D2U_API SkipFrame(D2uHandle handle);
D2U_EXPORT int32_t D2U_API D2uDirSkipFrame(D2uHandle handle);
D2U_EXPORT int32_t D2U_API SkipFrame2(const uint8_t *data, int32_t length, D2uHandle handle);
D2U_EXPORT int32_t D2U_API D2uDirSkipFrame2(const uint8_t *data, int32_t length, D2uHandle handle);
D2U_EXPORT int32_t D2U_API SkipDuration(D2uHandle handle, uint32_t milliseconds, uint32_t fromStart);
D2U_EXPORT int32_t D2U_API D2uDirSkipDuration(D2uHandle handle, uint32_t milliseconds, uint32_t fromStart);

/* Stream information. GetOutputInfo gives the frame size handed out (the output size when
 * one is set) and 32 bits per pixel. D2uDirSetOutputSize scales every later frame to the
 * given size (cubic); 0 for either value switches scaling off. D2uDirGetAspectRatio writes
 * 1.0, 4/3 or 16/9 for aspect codes 1 to 3 and leaves *ratio unchanged for other codes.
 * GetFPSInfo writes the frame rate for frame rate codes 1 to 5 (23.976, 24, 25, 29.97, 30)
 * and leaves *fps unchanged for other codes. All return 0, or -1 for a null handle (and
 * D2uDirSetOutputSize for a width or height outside 0 to 16383). */
D2U_EXPORT int32_t D2U_API GetOutputInfo(int32_t *width, int32_t *height, int32_t *bitsPerPixel, D2uHandle handle);
D2U_EXPORT int32_t D2U_API D2uDirGetOutputInfo(int32_t *width, int32_t *height, int32_t *bitsPerPixel, D2uHandle handle);
D2U_EXPORT int32_t D2U_API D2uDirSetOutputSize(D2uHandle handle, int32_t width, int32_t height);
D2U_EXPORT int32_t D2U_API D2uDirGetAspectRatio(D2uHandle handle, double *ratio);
D2U_EXPORT int32_t D2U_API GetFPSInfo(D2uHandle handle, float *fps);
D2U_EXPORT int32_t D2U_API D2uDirGetFPSInfo(D2uHandle handle, float *fps);

/* Input size and position (file-driven handles). GetInputSize: the file size at open (0
 * for a buffer-driven handle). GetInputPosition: the file offset of the next byte the
 * decoder reads (0 for a buffer-driven handle, which reads no file). D2uDirSetInputPosition
 * moves to an offset (given as low and high 32-bit halves); decoding resumes at the next
 * sequence header (-1 for a buffer-driven handle). SetFileReadLimit follows a file that
 * is still being written: the reader never reads past the limit, and the bytes below it are
 * taken as written, however short the file was at open or is now. Every picture below the
 * limit is handed out without waiting (a picture counts as below the limit once the start code
 * that follows it is); a call that needs bytes beyond it waits in 10 ms steps until another
 * thread raises the limit, or lifts it with 0 (the end of the file is then the end of the
 * stream: lift the limit once the file is whole; a sequence_end_code that ends the data at the
 * limit also ends the stream). Repositioning reads only what lies below the limit.
 * All return 0, or -1 for a null handle. */
D2U_EXPORT int32_t D2U_API GetInputSize(D2uHandle handle, uint64_t *size);
D2U_EXPORT int32_t D2U_API D2uDirGetInputSize(D2uHandle handle, uint64_t *size);
D2U_EXPORT int32_t D2U_API GetInputPosition(D2uHandle handle, uint64_t *position);
D2U_EXPORT int32_t D2U_API D2uDirGetInputPosition(D2uHandle handle, uint64_t *position);
D2U_EXPORT int32_t D2U_API D2uDirSetInputPosition(D2uHandle handle, uint32_t offsetLow, uint32_t offsetHigh);
D2U_EXPORT int32_t D2U_API SetFileReadLimit(D2uHandle handle, uint32_t limitLow, uint32_t limitHigh);
D2U_EXPORT int32_t D2U_API D2uDirSetFileReadLimit(D2uHandle handle, uint32_t limitLow, uint32_t limitHigh);

/* Not supported: these return D2U_NOT_SUPPORTED (-1) and change nothing. */
#define D2U_NOT_SUPPORTED (-1)
D2U_EXPORT int32_t D2U_API GetFirstFrameSize(int32_t first, int32_t second);
D2U_EXPORT int32_t D2U_API D2uDirGetFirstFrameSize(int32_t first, int32_t second);
D2U_EXPORT int32_t D2U_API SetPreviewInfo(int32_t first, int32_t second, int32_t third, int32_t fourth, int32_t fifth);
D2U_EXPORT int32_t D2U_API D2uDirSetPreviewInfo(int32_t first, int32_t second, int32_t third, int32_t fourth, int32_t fifth);

/* ---- Bitmap output -------------------------------------------------------- */
/* Decoded pictures as 32-bit pixels in a buffer that the host owns: width x 4 bytes per row, no
 * padding, the top row first; each pixel holds blue, green, red, and its fourth byte keeps the
 * value it had. The size is the frame size handed out (the output size when one is set).
 * *length: on entry the buffer's capacity in bytes, on return the bytes written or 0 on failure.
 * *isReference: 1 for an I or P picture, 0 for a B picture; written whenever a picture was
 * decoded, also when it then does not fit. A picture that does not fit is lost (-1): the next
 * call delivers the next picture.
 * GetBitmapData (file-driven handles) takes the picture through GetMpegFrame: 0, or -1 (no
 * picture, buffer too small).
 * GetBitmapData2 (buffer-driven handles) decodes from the given buffer through GetMpegFrame2:
 * 0, -1, or the start-up errors of GetMpegFrame2 (-1, -2008), which leave the outputs as they
 * were. Both log and publish what those frame calls do, and publish why no bitmap came out. */
D2U_EXPORT int32_t D2U_API GetBitmapData(uint8_t *destination, int32_t *length, D2uHandle handle, int32_t *isReference);
D2U_EXPORT int32_t D2U_API D2uDirGetBitmapData(uint8_t *destination, int32_t *length, D2uHandle handle, int32_t *isReference);
D2U_EXPORT int32_t D2U_API GetBitmapData2(uint8_t *destination, int32_t *length, const uint8_t *data, int32_t dataLength, D2uHandle handle, int32_t *isReference);
D2U_EXPORT int32_t D2U_API D2uDirGetBitmapData2(uint8_t *destination, int32_t *length, const uint8_t *data, int32_t dataLength, D2uHandle handle, int32_t *isReference);

/* ---- Reading the video out of a file --------------------------------------
 * A video reader opens a file by its content, whatever its name: an MPEG-1/MPEG-2 video
 * elementary stream, a program stream (DVD VOBs, MPEG-1 system streams) or a transport stream
 * of 188-byte packets (.ts, HDV .m2t) or 192-byte packets (.m2ts, a 4-byte time code before
 * each packet). It hands out the video one coded frame per call, in the form GetMpegFrame2 and
 * GetBitmapData2 take: the sequence and group headers before a picture come with it, the two
 * field pictures of a frame come together in one chunk, and a sequence_end_code comes with the
 * picture before it. A buffer-driven handle fed the chunks in order, one per call, decodes
 * every picture; a chunk before the first sequence header gives -1. A transport stream's
 * tables are read when it is opened: the reader follows the first MPEG-1/MPEG-2 video stream
 * (stream type 1 or 2) of the first program in the program association table that has one, or
 * the PID the host names, and keeps to it as program maps change. Lost packets are survived:
 * the reader resynchronises after junk, and a picture that lost packets still goes out (the
 * decoder conceals what is missing); such gaps are counted in continuityGaps and logged. A
 * reader handle is independent of decoding handles; one thread at a time.
 *
 * D2uDirOpenVideoReader (D2uDirOpenVideoReaderW: the same with a wide-character path): pid is
 * D2U_ANY_VIDEO or the PID of a transport stream's video stream.
 * 0 with *reader set; otherwise *reader is 0 and the result says why: -1 the file cannot be
 * opened; D2U_UNKNOWN_CONTENT none of the three (an MP4 file, an H.264 elementary stream,
 * text...); D2U_NO_MPEG_VIDEO a transport stream without MPEG-1/MPEG-2 video (H.264 or other
 * video only, or no tables within its first 32 MiB); D2U_NOT_A_VIDEO_PID the PID named carries
 * no MPEG-1/MPEG-2 video; D2U_PID_WITHOUT_TRANSPORT a PID named for a file that is not a
 * transport stream.
 * D2uDirReadVideoChunk: 0 with the next chunk (*data points into the reader's memory and stays
 * valid until the next call on the reader; *length bytes) and its presentation time stamp in
 * 90 kHz units (*pts; -1 when the container gives none for this picture, always for elementary
 * streams). -1 at the end of the file (*data 0, *length 0), for a null handle or null outputs.
 * A chunk is at most 8 MiB: longer runs without a picture boundary (damage) are cut there.
 * D2uDirSeekVideoReader: the next chunk is the first one that begins with a sequence header at
 * or after the byte offset (low and high 32-bit halves); 0, or -1 for a null handle.
 * D2uDirGetVideoReaderInfo: the container (D2U_CONTAINER_*), for transport streams the video
 * PID, its program number and stream type (else -1, 0, 0), the file size at open, the file
 * offset read up to, and the continuity gaps met so far; 0, or -1 for a null handle or info.
 * D2uDirCloseVideoReader closes the reader and writes 0 into the caller's variable (always 0). */
#define D2U_ANY_VIDEO (-1)
#define D2U_UNKNOWN_CONTENT (-3001)
#define D2U_NO_MPEG_VIDEO (-3002)
#define D2U_NOT_A_VIDEO_PID (-3003)
#define D2U_PID_WITHOUT_TRANSPORT (-3004)
#define D2U_CONTAINER_ELEMENTARY 1
#define D2U_CONTAINER_PROGRAM 2
#define D2U_CONTAINER_TRANSPORT 3
#define D2U_CONTAINER_TRANSPORT_192 4

typedef struct D2uVideoReaderInfo {
    int32_t container;
    int32_t pid;
    int32_t programNumber;
    int32_t streamType;
    uint64_t fileSize;
    uint64_t position;
    uint64_t continuityGaps;
} D2uVideoReaderInfo;

D2U_EXPORT int32_t D2U_API D2uDirOpenVideoReader(const char *path, int32_t pid, D2uHandle *reader);
D2U_EXPORT int32_t D2U_API D2uDirOpenVideoReaderW(const wchar_t *path, int32_t pid, D2uHandle *reader);
D2U_EXPORT int32_t D2U_API D2uDirReadVideoChunk(D2uHandle reader, const uint8_t **data, int32_t *length, int64_t *pts);
D2U_EXPORT int32_t D2U_API D2uDirSeekVideoReader(D2uHandle reader, uint32_t offsetLow, uint32_t offsetHigh);
D2U_EXPORT int32_t D2U_API D2uDirGetVideoReaderInfo(D2uHandle reader, D2uVideoReaderInfo *info);
D2U_EXPORT int32_t D2U_API D2uDirCloseVideoReader(D2uHandle *reader);

/* ---- Preview extraction ---------------------------------------------------- */

/* One picture at a file position, scaled and written as a 32-bit bitmap file. One preview
 * source at a time, library-wide.
 * D2uDirStartExtractPreview opens the source (a name ending in "m2v", any case: a video
 * elementary stream; any other name: a transport stream when its content is one, read as a
 * video reader reads it, else a program stream) and fixes the bitmap file name (empty: no file
 * is written) and the preview size. 0, or -1 when the source cannot be opened (also a transport
 * stream without MPEG-1/MPEG-2 video), when the width or height is not 1 to 16383, when the
 * bitmap file name is longer than 255 characters or when memory for the preview runs short.
 * Each -1 publishes why; the size and the name are checked before the source is opened, and a
 * failed start sets no bitmap file. D2uDirStartExtractPreviewW does nothing and returns 0.
 * D2uDirExtractPreview decodes the first picture at or after filePos x 1024 bytes (program
 * streams: the first whole picture after the next navigation packet; transport streams: the
 * first frame that begins with a sequence header), scales it and writes the file. A frame of
 * two field pictures is shown whole. 0 on success; -1 without a started source, when no
 * picture came out (also past the end, and for a picture larger than 1 MiB in a program
 * stream) or after a start that failed on a program stream; -2 after an internal error; other
 * codes of the decoder's start (such as -2008) unchanged. D2uDirCloseExtractPreview releases
 * the source (always 0). */
D2U_EXPORT int32_t D2U_API D2uDirStartExtractPreview(const char *sourceFile, const char *bitmapFile, int32_t width, int32_t height);
D2U_EXPORT int32_t D2U_API D2uDirStartExtractPreviewW(const wchar_t *sourceFile, const wchar_t *bitmapFile, int32_t width, int32_t height);
D2U_EXPORT int32_t D2U_API D2uDirExtractPreview(int32_t filePosition);
D2U_EXPORT int32_t D2U_API D2uDirCloseExtractPreview(void);

/* ---- Subtitles ------------------------------------------------------------- */
/* Bitmap subtitles drawn onto host frames. A subtitle handle (a D2uHandle, the address of the
 * library's subtitle object; 0 = none) reads records forward from a subtitle file, or takes
 * them one at a time from memory, and draws the record whose time span
 * (startTime <= frame number / frame rate <= endTime) covers the frame being drawn on. Puts must
 * come in the order of increasing frame time. Every function returns 0: a missing file, a
 * rejected record, a frame of the wrong kind or a frame without a record draw nothing. A
 * loading function returns -1 (handle 0) only when the handle cannot be allocated.
 *
 * Loading: rgbOutput non-zero draws onto packed RGB frames of bitsPerPixel 24 or 32 (any other
 * depth makes a handle that never draws), 0 onto YUV frame records. frameRate (frames per
 * second) must be positive. A file that cannot be opened makes a handle without a file, which
 * draws only records handed over with D2uDirSetSubtitleData. The wide-name form takes the
 * platform's wide characters (16-bit on Windows).
 *
 * Drawing: pixels are grey levels of the record's colour table, copied through the picture's
 * mask; everything else stays untouched. RGB and YUV frames get the same picture: each drawn
 * pixel's grey level goes into the three colour bytes of an RGB pixel (a fourth byte becomes 0)
 * and into the luma of a YUV frame, whose chroma becomes 128 under the picture. The whole
 * picture (width x height as placed) is drawn with its top-left corner at x1, y1; x2 and y2 only
 * place a scaled picture and never crop it. Drawing is clipped to the screen: the maximum size
 * once one is set (D2uDirSubSetMaxSize, taken when a record is read), else 720 x 576, the screen
 * that record positions address.
 * RGB frames: of the descriptor only stride (bytes from one row to the next, negative for
 * bottom-up frames) and data (first byte of the top row) are read; the frame MUST cover the
 * screen, since nothing else bounds what is written. YUV frame records are clipped to their Y,
 * U and V planes (width, height, pitch) as well; chroma is drawn on both rows of each pair when
 * the record's chromaFormat is 2 (4:2:2).
 *
 * Scaling (takes effect from the next record read): scale factors within 1% of 1.0 leave
 * records unchanged. Otherwise the picture is scaled by the factors, nearest neighbour, on RGB
 * and YUV frames alike (reduced to fit the maximum width when it would be wider), centred
 * horizontally on the maximum width and kept above the maximum height; set the maximum size
 * first (without it, pictures stay unscaled). A scaled picture keeps at most its top-left
 * 720 x 576 pixels.
 *
 * D2uDirSetSubtitleData: record is a 76-byte record header followed, at byte 76, by a pointer
 * to the record's picture data (recordSize - 76 bytes); the memory must stay valid until the
 * record is read by a later put. Used only by handles without a file. */
D2U_EXPORT int32_t D2U_API D2uDirLoadSubtitle(const char* fileName, D2uHandle* handle, float frameRate, int32_t rgbOutput, int32_t bitsPerPixel);
D2U_EXPORT int32_t D2U_API D2uDirLoadSubtitleW(const wchar_t* fileName, D2uHandle* handle, float frameRate, int32_t rgbOutput, int32_t bitsPerPixel);
/* Closes the handle and writes 0 into the caller's variable; a handle of 0 does nothing. */
D2U_EXPORT int32_t D2U_API D2uDirCloseSubtitle(D2uHandle* handle);
D2U_EXPORT int32_t D2U_API D2uDirPutSubtitleRGB(D2uHandle handle, const D2uRgbFrame* frame, int32_t frameNumber);
D2U_EXPORT int32_t D2U_API D2uDirPutSubtitleYUV(D2uHandle handle, const D2uFrame* frame, int32_t frameNumber);
D2U_EXPORT int32_t D2U_API D2uDirSubSetScaleFactors(D2uHandle handle, double xFactor, double yFactor);
D2U_EXPORT int32_t D2U_API D2uDirSubSetMaxSize(D2uHandle handle, int32_t maxWidth, int32_t maxHeight);
D2U_EXPORT int32_t D2U_API D2uDirSetSubtitleData(D2uHandle handle, const void* record);

#ifdef __cplusplus
}
#endif

#endif /* D2UDIR_H */
