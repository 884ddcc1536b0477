// Hosting the Java virtual machine: creating it, running the main class, shutting it down.
#pragma once

/* jvm.cpp */

// Finds, loads and creates the JVM; with hiddenConsole the streams go to a hidden console.
// False after the failure has been reported.
bool StartJvm(bool hiddenConsole);
// Calls the main class's main with argc arguments (none: the configured ones). In attach mode the
// calling thread is attached first and detached at the end. False after the failure has been reported.
bool RunMainClass(int argc, char** argv, bool attachMode);
// Detaches the calling thread, destroys the JVM (waiting for the program's threads) and unloads it.
void ReleaseJvm();
// Attaches the calling thread and calls System.exit(0), which normally ends the process through the
// exit hook. False after the failure has been reported.
bool StopJvmWithExit();
