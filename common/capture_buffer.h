// The buffer of captured program output: the last output, trimmed by whole lines from the front.
// Portable: no Windows headers.
#pragma once

// Bytes of the captured-output buffer: at most 8191 characters and the NUL.
#define CAPTURE_BUFFER_SIZE 8192
// Bytes of a reader's line buffer, and the longest piece appended at once.
#define CAPTURE_LINE_SIZE 1024

/* capture_buffer.cpp */

// The trimming rule on any buffer: adds piece (1 to CAPTURE_LINE_SIZE bytes) to text (length
// characters, CAPTURE_BUFFER_SIZE bytes), first dropping whole lines at the front as needed.
void AddCapturedPiece(char* text, int* length, const char* piece, int pieceLength);
