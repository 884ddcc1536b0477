#include "jvm.h"

#include "report.h"

bool StartJvm(bool hiddenConsole)
{
    (void)hiddenConsole;
    ShowError("Starting the Java runtime is not available in this build of the launcher.");
    return false;
}

bool RunMainClass(int argc, char** argv, bool attachMode)
{
    (void)argc;
    (void)argv;
    (void)attachMode;
    ShowError("Running the main class is not available in this build of the launcher.");
    return false;
}

void ReleaseJvm()
{
}

bool StopJvmWithExit()
{
    ShowError("Stopping the Java runtime is not available in this build of the launcher.");
    return false;
}
