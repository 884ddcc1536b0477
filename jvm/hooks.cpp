#include "jvm.h"

#include "embedded.h"
#include "entry.h"
#include "report.h"
#include "service.h"
#include "settings.h"

#include <stdlib.h>
#include <string.h>

char* JvmMessageText = NULL;
// Bytes allocated for JvmMessageText.
static int JvmMessageCapacity = 0;

jint JNICALL JvmVfprintfHook(FILE* stream, const char* format, va_list args)
{
    (void)stream;
    va_list measure;
    va_copy(measure, args);
    int count = _vscprintf(format, measure);
    va_end(measure);
    if (count < 0)
        return 0;
    int used = JvmMessageText == NULL ? 0 : (int)strlen(JvmMessageText);
    // The buffer grows in steps of 4096 bytes, or by as much as a longer piece needs: a piece is
    // always kept whole. Text that would pass 256 MiB is dropped.
    if (used + count + 1 > JvmMessageCapacity) {
        if (count > (1 << 28) || JvmMessageCapacity > (1 << 28))
            return 0;
        int step = count + 1 > 4096 ? count + 1 : 4096;
        char* grown = (char*)realloc(JvmMessageText, (size_t)JvmMessageCapacity + (size_t)step);
        if (grown == NULL)
            return 0;
        if (JvmMessageText == NULL)
            grown[0] = 0;
        JvmMessageText = grown;
        JvmMessageCapacity += step;
    }
    _vsnprintf(JvmMessageText + used, (size_t)count + 1, format, args);
    JvmMessageText[used + count] = 0;
    return count;
}

char* TakeJvmMessageText()
{
    char* text = JvmMessageText;
    JvmMessageText = NULL;
    JvmMessageCapacity = 0;
    return text;
}

// What the exit and abort hooks do before the process ends: show the JVM's text, let another
// instance start, finish the service handshake, start the cleanup child.
static void PrepareProcessEnd()
{
    char* text = TakeJvmMessageText();
    if (text != NULL) {
        ShowError("%s", text);
        free(text);
    }
    if (RunMode != RUN_MODE_SERVICE && SingleInstanceMutex != NULL) {
        CloseHandle(SingleInstanceMutex);
        SingleInstanceMutex = NULL;
    }
    // Whatever the worker or a stop made of the run so far, the stopped status is reported first.
    if (RunMode == RUN_MODE_SERVICE && ServiceDoneEvent != NULL) {
        SetEvent(ServiceDoneEvent);
        while (InterlockedCompareExchange(&ServiceStopReported, 0, 0) == 0)
            Sleep(100);
    }
    StartCleanupChild();
}

void JNICALL JvmExitHook(jint status)
{
    InterlockedExchange(&ServiceExitStatus, status);
    PrepareProcessEnd();
    exit(status);
}

void JNICALL JvmAbortHook(void)
{
    // The status abort() ends the process with.
    InterlockedExchange(&ServiceExitStatus, 3);
    PrepareProcessEnd();
    abort();
}
