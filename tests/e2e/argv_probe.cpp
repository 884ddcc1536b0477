// argv_probe: prints its argument count and each argument in brackets, as UTF-8, as the C runtime split them
// (with -municode, MinGW's start-up code takes them from msvcrt's __wgetmainargs).
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    printf("%d", argc - 1);
    for (int i = 1; i < argc; i++) {
        char text[4096]; // an argument that does not fit shows as "(too long)": the tests' arguments are short
        printf("[%s]", WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text, sizeof(text), NULL, NULL) ? text : "(too long)");
    }
    return printf("\n") < 0;
}
