// kr-check EXE ID...: maps EXE the way Windows maps a program and prints what its resources give: "rcdata
// 16000 HEX" for the embedded-file archive (exit code 1 without one), then "string ID TEXT" (LoadStringA) per ID.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    HMODULE module = argc > 1 ? LoadLibraryExA(argv[1], NULL, DONT_RESOLVE_DLL_REFERENCES) : NULL;
    HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(16000), MAKEINTRESOURCEA(10)) : NULL;
    const unsigned char* archive = found ? (const unsigned char*)LockResource(LoadResource(module, found)) : NULL;
    printf("rcdata 16000 ");
    for (DWORD i = 0; archive != NULL && i < SizeofResource(module, found); i++)
        printf("%02X", archive[i]);
    char text[4096];
    for (int i = 2; i < argc; i++)
        printf("\nstring %s %.*s", argv[i], LoadStringA(module, (UINT)atoi(argv[i]), text, sizeof(text)), text);
    printf("\n");
    return archive == NULL;
}
