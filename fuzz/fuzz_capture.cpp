// The capture's line assembly: the input after two bytes, 1 to 16 times (to 16 KB), goes in reads
// of varying size through TakeCapturedRead. Read independently, it is pieces (a line with its line
// feed, or 1024 bytes without one); each read must append all complete pieces fed, in order; the buffer
// must be the end of what was appended, start at a piece, and fit, holding all while all fits.
#include "capture_buffer.h"
#include "fuzz.h"

#include <algorithm>
#include <string>
#include <vector>

static std::string Stream;
static std::vector<bool> PieceEnd; // PieceEnd[i]: a piece of the stream ends before byte i
static size_t Appended;
static char Text[CAPTURE_BUFFER_SIZE];
static int Length;

static void Sink(const char* lines, int length)
{
    Appended += (size_t)length;
    FAULT_IF(Appended > Stream.size() || Stream.compare(Appended - length, length, lines, length) ||
             !PieceEnd[Appended]);
    AddCapturedLines(Text, &Length, lines, length);
    size_t kept = (size_t)Length, start = Appended - kept;
    FAULT_IF(kept >= CAPTURE_BUFFER_SIZE || Text[kept] != 0 || (Appended < CAPTURE_BUFFER_SIZE && kept != Appended) ||
             Stream.compare(start, kept, Text, kept) != 0 || !PieceEnd[start]);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Stream.clear();
    for (int i = 0; size > 2 && i <= data[0] % 16 && Stream.size() < 2 * CAPTURE_BUFFER_SIZE; i++)
        Stream.append((const char*)data + 2, size - 2);
    PieceEnd.assign(Stream.size() + 1, true);
    for (size_t i = 0, run = 0; i < Stream.size(); i++)
        PieceEnd[i + 1] = (run = Stream[i] == '\n' || run + 1 == CAPTURE_LINE_SIZE ? 0 : run + 1) == 0;
    char line[CAPTURE_LINE_SIZE];
    int held = Length = Text[0] = 0;
    Appended = 0;
    for (size_t fed = 0, ready = 0, read; fed < Stream.size(); fed += read) {
        read = std::min(Stream.size() - fed, 1 + (uint8_t)Stream[fed] * (data[1] + 1ul) % (4 * CAPTURE_LINE_SIZE));
        TakeCapturedRead(line, &held, Stream.data() + fed, (int)read, Sink);
        for (size_t i = fed + 1; i <= fed + read; i++)
            ready = PieceEnd[i] ? i : ready;
        FAULT_IF(Appended != ready);
    }
    return 0;
}
