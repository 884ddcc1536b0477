// What the Windows loader sees in a module's resources, printed one line per query so that the
// tests on Linux can compare it with what the config asked for. Windows only.
#pragma once

#include <windows.h>

// Answers one query about module and prints one line:
//   string ID   -> "string ID LENGTH HEX" (LoadStringA's bytes in the system code page)
//   rcdata ID   -> "rcdata ID SIZE FNV1A32" or "rcdata ID missing"
//   bitmap ID   -> "bitmap ID WIDTH HEIGHT BITS" or "bitmap ID missing"
//   icon        -> "icon GROUP IMAGES LOADED" for the first icon group, or "icon missing"
//   manifest    -> "manifest SIZE" or "manifest missing"
// Returns false for an unknown query.
bool ProbeModule(HMODULE module, const char* query, const char* argument);
// Prints "version KEY=VALUE" for the version strings of the file at path, and the fixed file
// version as "version FileVersion#=a.b.c.d"; "version missing" when it has none.
void ProbeVersion(const char* path);
// Runs the queries argv[first..]: "string ID", "rcdata ID", "bitmap ID", "icon", "manifest" on
// module and "version" on the file at path. Returns 0, or 2 for an unknown query.
int RunProbes(HMODULE module, const char* path, int argc, char** argv, int first);
