#include "capture_buffer.h"

#include <string.h>

void AddCapturedPiece(char* text, int* length, int size, const char* piece, int pieceLength)
{
    if (*length + pieceLength > size - 1) {
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

void AddCapturedLines(char* text, int* length, const char* lines, int linesLength)
{
    for (int start = 0; start < linesLength;) {
        const char* feed = (const char*)memchr(lines + start, '\n', (size_t)(linesLength - start));
        int end = feed != NULL ? (int)(feed - lines) + 1 : linesLength;
        AddCapturedPiece(text, length, CAPTURE_BUFFER_SIZE, lines + start, end - start);
        start = end;
    }
}

// Bytes at the front of line that are ready to append: up to its last line feed, or all of a full
// buffer without one; 0 when only an unfinished line is held.
static int ReadyLinesLength(const char* line, int held)
{
    for (int at = held; at > 0; at--)
        if (line[at - 1] == '\n')
            return at;
    return held == CAPTURE_LINE_SIZE ? held : 0;
}

void TakeCapturedRead(char* line, int* held, const char* bytes, int size, CapturedLinesSink sink)
{
    for (int taken = 0; taken < size;) {
        int step = size - taken < CAPTURE_LINE_SIZE - *held ? size - taken : CAPTURE_LINE_SIZE - *held;
        memcpy(line + *held, bytes + taken, (size_t)step);
        taken += step;
        *held += step;
        int ready = ReadyLinesLength(line, *held);
        if (ready > 0) {
            sink(line, ready);
            memmove(line, line + ready, (size_t)(*held - ready));
            *held -= ready;
        }
    }
}
