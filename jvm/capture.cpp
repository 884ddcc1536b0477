#include "capture.h"

#include "format.h"
#include "report.h"

#include <stdarg.h>

HANDLE StdoutCapturePipe = NULL;
HANDLE StdoutReaderThread = NULL;
HANDLE StderrCapturePipe = NULL;
HANDLE StderrReaderThread = NULL;

bool StartOutputCapture(const char* setterName, HANDLE* pipe, HANDLE* readerThread)
{
    (void)setterName;
    *pipe = NULL;
    *readerThread = NULL;
    ShowError("Capturing the program's output is not available in this build of the launcher.");
    return false;
}

void StopOutputCapture()
{
}

void ShowErrorWithCapturedOutput(const char* format, ...)
{
    char message[REPORT_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    if (!FormatTextV(message, sizeof(message), format, args))
        MarkTextCut(message, sizeof(message));
    va_end(args);
    ShowError("%s", message);
}
