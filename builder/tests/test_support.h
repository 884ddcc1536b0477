// Helpers shared by the builder's tests: paths of the test programs, scratch folders, running
// commands (natively and under wine64) and small picture files made on the fly.
#pragma once

#include "bytes.h"

#include <string>
#include <vector>

// A Windows test program built beside the tests (fixture-x64, fixture-x86, fixture-nores-x64,
// kr-check).
std::string TestProgram(const std::string& name);
// The prebuilt launcher of an architecture ("x86", "x64"): in $KESTRUN_LAUNCHER_DIR when that is
// set, else in the project's dist/ folder. The path is returned whether or not the file exists.
std::string PrebuiltLauncher(const std::string& arch);
// A fresh, empty folder for the running test.
std::string ScratchFolder();
// Writes text to path.
void WriteText(const std::string& path, const std::string& text);
// Writes bytes to path.
void WriteBytes(const std::string& path, const Bytes& bytes);
// True when path exists.
bool Exists(const std::string& path);

struct CommandResult {
    int ExitCode;     // -1 when the command could not be run or was killed
    std::string Out;  // standard output
    std::string Err;  // standard error
};
// Runs a shell command with a time limit (the child is killed after timeoutSeconds).
CommandResult RunCommand(const std::string& command, int timeoutSeconds = 60);
// Quotes text for the shell.
std::string Quote(const std::string& text);

// True when wine64 can be run here.
bool WineAvailable();
// Starts (once per test process) the tests' private Wine session.
void StartWineSession();
// Runs a Windows program under wine64 in the tests' session.
CommandResult RunWine(const std::string& program, const std::string& arguments, int timeoutSeconds = 60);

// An uncompressed bottom-up BMP file of the given size and bit depth (24 or 32).
Bytes MakeBmp(int width, int height, int bits);
// An ICO file with one 32-bit image per size.
Bytes MakeIco(const std::vector<int>& sizes);
// Upper-case hex of bytes, as the probes print them.
std::string Hex(const std::string& bytes);
// The lines of text that start with prefix.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);
