// A small program with launcher-like resources: the tests write configs into copies of it and
// run it under Wine, where it reports its own resources as the loader sees them (probe.h).
#include "probe.h"

int main(int argc, char** argv)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof(path));
    if (length == 0 || length >= sizeof(path)) // the length equals the size when the path was cut
        return 3;
    return RunProbes(GetModuleHandleA(NULL), path, argc, argv, 1);
}
