#include "capture_buffer.h"

#include <string.h>

void AddCapturedPiece(char* text, int* length, const char* piece, int pieceLength)
{
    if (*length + pieceLength > CAPTURE_BUFFER_SIZE - 1) {
        // Drop whole lines: up to the first line feed at or after pieceLength - 1, else everything.
        const char* found = NULL;
        if (pieceLength - 1 < *length)
            found = (const char*)memchr(text + pieceLength - 1, '\n', (size_t)(*length - (pieceLength - 1)));
        if (found != NULL) {
            int removed = (int)(found - text) + 1;
            memmove(text, text + removed, (size_t)(*length - removed + 1));
            *length -= removed;
        } else {
            *length = 0;
        }
    }
    memcpy(text + *length, piece, (size_t)pieceLength);
    *length += pieceLength;
    text[*length] = 0;
}
