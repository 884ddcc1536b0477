// The few operations that differ between Linux and Windows: file times, the builder's own folder,
// file patterns, and writing an output file all at once.
#pragma once

#include "bytes.h"

#include <string>
#include <vector>

// Last-write time of a file as a Win32 FILETIME (100 ns since 1601-01-01 UTC); throws BuildError.
uint64_t FileWriteTime(const std::string& path);
// Folder of the running builder (argv0 is the fallback when the system cannot say).
std::string BuilderFolder(const char* argv0);
// The files matching pattern, sorted by name; wildcards * and ? may appear in the last part only.
// A pattern without wildcards gives itself when the file exists. Throws BuildError with
// file:line for a missing file, a pattern that matches nothing or wildcards in a folder part.
std::vector<std::string> ExpandPattern(const std::string& pattern, const std::string& configPath,
                                       int line);
// Writes bytes to a temporary file beside path and renames it to path once complete; on any
// failure the temporary file is removed and path is left as it was. Throws BuildError.
void WriteFileAtomically(const std::string& path, const Bytes& bytes);
// The command-line arguments as UTF-8 (on Windows read from the UTF-16 command line, which holds every
// character; the ANSI argv does not); on Windows the console then shows UTF-8 output until the end.
std::vector<std::string> Utf8Arguments(int argc, char** argv);
// True when name matches the wildcard pattern (* any run, ? one character; case-sensitive).
bool MatchWildcard(const std::string& pattern, const std::string& name);
