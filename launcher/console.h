// Console programs: a launcher built with Console = yes runs as a console program, one built with
// Console = attach uses the console of the shell that started it when there is one.
#pragma once

#include <windows.h>

/* console.cpp */

// Chooses RUN_MODE_CONSOLE from the Console setting, read straight from the string table (reports
// made before the settings are loaded go there too): always for "yes", for "attach" when the
// parent's console could be attached. Leaves a service start's mode alone.
void EnterConsoleMode();
// Attaches the parent process's console and gives it every standard handle the process lacks, before
// the runtime reads them; false, changing nothing, when there is no console this process can write to.
bool AttachParentConsole();
