/* Opens an MPEG video file, decodes every picture and prints its size and mean brightness. */
#include <stdio.h>

#include "d2udir.h"

int main(int argc, char **argv) {
    D2uHandle handle = 0;
    D2uFrame *frame = NULL;
    int32_t width = 0, height = 0, bits = 0, pictures = 0;
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.m2v\n", argv[0]);
        return 2;
    }
    if (D2uDirLoadFile(argv[1], &handle) != 0) {
        fprintf(stderr, "%s: not an MPEG video file\n", argv[1]);
        return 1;
    }
    GetOutputInfo(&width, &height, &bits, handle);
    printf("%d x %d\n", (int)width, (int)height);
    /* Frames come in decoding order and stay valid until the next call on the handle. */
    while (GetMpegFrame(&frame, handle) == 0 && frame != NULL) {
        unsigned long sum = 0;
        int32_t x, y;
        for (y = 0; y < frame->height; ++y)
            for (x = 0; x < frame->width; ++x) sum += frame->Y.data[y * frame->Y.pitch + x];
        printf("picture %d: type %d, mean luma %lu\n", (int)pictures++, (int)frame->pictureType,
               sum / ((unsigned long)frame->width * frame->height));
    }
    FinishDecoding(&handle);
    return 0;
}
