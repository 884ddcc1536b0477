// The capture buffer's append-and-trim: pieces of 1 to CAPTURE_LINE_SIZE bytes taken from the input,
// appended one after another into an exactly sized buffer. The text must always be a whole-line
// suffix of everything appended (or the last piece alone), end in the last piece and fit.
#include "capture_buffer.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Exactly CAPTURE_BUFFER_SIZE bytes on the heap, so that AddressSanitizer sees any overrun.
    char* text = (char*)malloc(CAPTURE_BUFFER_SIZE);
    if (text == NULL)
        return 0;
    text[0] = 0;
    int length = 0;
    std::string all;
    size_t at = 0;
    // Each step: two bytes give the piece length (1 to CAPTURE_LINE_SIZE), then its bytes, repeated
    // to that length from what the input has left (a short input still gives long pieces).
    while (at + 2 < size) {
        int pieceLength = 1 + (int)(((unsigned)data[at] << 8 | data[at + 1]) % CAPTURE_LINE_SIZE);
        at += 2;
        std::string piece;
        for (int i = 0; i < pieceLength; i++)
            piece += (char)data[at + (size_t)i % (size - at)];
        at += (size_t)pieceLength < size - at ? (size_t)pieceLength : size - at;
        AddCapturedPiece(text, &length, piece.data(), pieceLength);
        all += piece;
        if (length < pieceLength || length > CAPTURE_BUFFER_SIZE - 1 || text[length] != 0)
            abort();
        if (memcmp(text, all.data() + all.size() - (size_t)length, (size_t)length) != 0)
            abort();
        // Trimmed text starts after a line feed, or is the last piece alone.
        if ((size_t)length < all.size() && all[all.size() - (size_t)length - 1] != '\n' && length != pieceLength)
            abort();
    }
    free(text);
    return 0;
}
