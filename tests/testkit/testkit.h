// What the Windows test programs share: paths of this build's programs, scratch folders, and running
// a console program (the builder above all) with its output kept.
#pragma once

#include <windows.h>

#include <string>

// A Windows path for a path the build gave in Unix form ("/x/y" -> "Z:\x\y").
std::string WindowsPath(const std::string& path);
// This build's launcher, builder (kestrun.exe) and test-double jvm.dll, as Windows paths.
std::string LauncherPath();
std::string BuilderPath();
std::string DoubleJvmPath();

// Deletes a folder and everything below it (what cannot be deleted stays).
void RemoveTree(const std::string& folder);
// A fresh empty folder %TEMP%\group\name for one test; name may hold spaces.
std::string FreshTempFolder(const std::string& group, const std::string& name);
// The whole file, or "" when it cannot be read.
std::string ReadTextFile(const std::string& path);

// Runs a console program (commandLine names it first) with its standard output and error going to
// outputPath; its exit code, or -1 when it could not start or was killed after timeoutMs.
long RunConsoleProgram(std::string commandLine, const std::string& outputPath, DWORD timeoutMs = 60000);
// Builds exePath with the builder from the config file and this build's launcher. False, with what the
// builder printed in *output, when it fails.
bool RunBuilder(const std::string& configPath, const std::string& exePath, std::string* output);
