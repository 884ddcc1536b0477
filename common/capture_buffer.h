// The buffer of captured program output: the last output, trimmed by whole lines from the front.
// Portable: no Windows headers.
#pragma once

// Bytes of the captured-output buffer: at most 8191 characters and the NUL.
#define CAPTURE_BUFFER_SIZE 8192
// Bytes of a reader's line buffer, and the longest piece appended at once.
#define CAPTURE_LINE_SIZE 1024

/* capture_buffer.cpp */

// The trimming rule on any buffer: adds piece (1 to size - 1 bytes) to text (length characters, size
// bytes), first dropping whole lines at the front as needed (all of them when none ends soon enough).
void AddCapturedPiece(char* text, int* length, int size, const char* piece, int pieceLength);

// Receives complete lines (length bytes, each line ending in a line feed, or one full line buffer
// without a line feed) to add to the captured output.
typedef void (*CapturedLinesSink)(const char* lines, int length);
// Adds each line of lines (as AddCapturedLines' sink receives them) as a piece of its own.
void AddCapturedLines(char* text, int* length, const char* lines, int linesLength);
// Passes the bytes of one read through a reader's line buffer (CAPTURE_LINE_SIZE bytes, *held of them
// in use) in steps of what the buffer has room for. After each step the complete lines it holds, or
// the whole buffer when it is full and has no line feed, go to sink and the rest moves to the front;
// an unfinished line stays held. The pieces are the same however the reads split the stream.
void TakeCapturedRead(char* line, int* held, const char* bytes, int size, CapturedLinesSink sink);
