// The least any capture through a named pipe can cost under this system: one thread writes COUNT
// pieces of SIZE bytes into a byte-mode pipe (one WriteFile each, as a Java PrintStream writes
// every println), another takes them out with plain blocking reads of 64 KB and drops them.
// Prints the milliseconds from the first write to the last byte read.
//   bench_pipe_floor COUNT SIZE
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static HANDLE Server = INVALID_HANDLE_VALUE;
static long long BytesRead = 0;

static DWORD WINAPI DrainPipe(void*)
{
    static char buffer[65536];
    DWORD got = 0;
    while (ReadFile(Server, buffer, sizeof(buffer), &got, NULL) && got > 0)
        BytesRead += got;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 3 || atoi(argv[1]) <= 0 || atoi(argv[2]) <= 0 || atoi(argv[2]) > 4096) {
        fprintf(stderr, "usage: bench_pipe_floor COUNT SIZE (1 to 4096)\n");
        return 2;
    }
    int count = atoi(argv[1]), size = atoi(argv[2]);
    char name[64];
    snprintf(name, sizeof(name), "\\\\.\\pipe\\floor%lu", GetCurrentProcessId());
    Server = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0,
                              65536, 0, NULL);
    HANDLE client = CreateFileA(name, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (Server == INVALID_HANDLE_VALUE || client == INVALID_HANDLE_VALUE)
        return 1;
    char piece[4096];
    memset(piece, 'x', sizeof(piece));
    piece[size - 1] = '\n';
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HANDLE reader = CreateThread(NULL, 0, DrainPipe, NULL, 0, NULL);
    DWORD written;
    for (int i = 0; i < count; i++)
        if (!WriteFile(client, piece, (DWORD)size, &written, NULL) || written != (DWORD)size)
            return 1;
    CloseHandle(client);
    WaitForSingleObject(reader, INFINITE);
    QueryPerformanceCounter(&end);
    if (BytesRead != (long long)count * size)
        return 1;
    printf("%.0f\n", (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    return 0;
}
