// The launcher settings: every string-table entry of the table of settings, read once at start into
// one process-wide record, plus the optional INI file that can replace two of them.
#pragma once

#include <windows.h>

// The record of all settings. Texts are heap strings, possibly empty, never null after loading.
struct LauncherSettingsData {
    char* JavaVersion;             // minimum Java version, as stored ("17", "0x00010004")
    char* JvmPath;                 // ';'-separated jvm.dll paths; later the jvm.dll found
    char* JvmOptions;              // JVM option text, as configured; INI key "JvmOptions" replaces it
    char* ClassPath;               // ';'-separated class path, as configured
    bool RemoveExtractedFiles;     // start the cleanup child when the JVM exits or aborts
    char* JreSearchOrder;          // runtime search methods, one character each
    char* InstallSwitch;           // switch that installs the service
    char* UninstallSwitch;         // switch that removes the service
    char* ServiceSwitch;           // switch with which the service control manager starts us
    char* WorkingDirectory;        // directory made current before the program runs; empty: none
    char* ScrambledMainClass;      // the main class as stored (scrambled hex)
    char* MainClass;               // the main class descrambled, with '/' between the parts
    char* AppOptions;              // default program arguments; INI key "AppOptions" replaces it
    char* IniFileName;             // optional INI file beside the executable; empty: none
    bool UseStartDirectory;        // run in the directory the launcher was started in
    bool EarlyWorkingDirectory;    // change directory before the runtime search
    char* ServiceName;             // service name; empty disables the service switches
    char* ServiceDescription;      // description of the installed service
    char* ServiceStartArgs;        // program arguments in service mode
    char* ServiceStopArgs;         // arguments of the main call that asks the program to stop
    bool ServiceStopByExit;        // stop the service through System.exit instead
    bool ServiceDemandStart;       // install for manual instead of automatic start
    bool ServiceInteractive;       // install the service as interactive
    bool AllowMultipleInstances;   // skip the single-instance guard
    int StdoutMode;                // System.out: 0 unchanged, 1 to StdoutFile, 2 captured
    int StderrMode;                // System.err: 0 unchanged, 1 to StderrFile, 2 captured
    char* StdoutFile;              // file for System.out in mode 1
    char* StderrFile;              // file for System.err in mode 1
    char* SplashText;              // window text of the splash
    bool SplashUntilWindow;        // show the splash until the program shows a window
    int SplashSeconds;             // show the splash this long; 0: no fixed time
    int ProcessPriority;           // index into the priority classes
    char* ServiceDependencies;     // ';'-separated services the service depends on
    char* MsgAlreadyRunning;       // the message texts, printf formats taking at most one %s
    char* MsgFileAccess;
    char* MsgFileWrite;
    char* MsgNoJre;
    char* MsgLoadJvm;
    char* MsgJniInterfaces;
    char* MsgCreateJvm;
    char* MsgAttachThread;
    char* MsgLocateClass;
    char* MsgLocateMethod;
    char* MsgInstantiate;
    char* MsgAssignArgument;
    char* MsgInvokeMethod;
    char* MsgServiceInstalled;
    char* MsgServiceUninstalled;
    char* MsgServiceAlreadyInstalled;
    char* MsgServiceStarted;
    char* MsgServiceStopped;
    char* MsgServiceStartFailed;
    char* MsgServiceStopTimeout;
    char* JavaMaxVersion;          // newest Java version the new search methods take; empty: no limit
    char* BundledRuntime;          // runtime folder beside the executable for search method 'B'; empty: none
    char* Console;                 // "yes": a console program; "attach": a window program that uses its shell's console
    char* ServiceDisplayName;      // display name of the installed service; empty: the service name
    char* ServiceAccount;          // account the service runs as; empty or LocalSystem: LocalSystem
    bool ServiceDelayedStart;      // automatic start after the boot-critical services
    int ServiceRestartSeconds;     // failure action: restart after this many seconds
    int ServiceRestartCount;       // at most this many restarts in a reset period; 0: no failure actions
    int ServiceRestartResetSeconds; // seconds without failure after which the failure count starts again
    bool ServiceExitIsFailure;     // a stop with a non-zero exit code counts as a failure
    char* ApplicationId;           // the identity the builder stored (16 hex digits); empty in older launchers
    char* MsgServiceExitStatus;    // "The %s service ended with exit status %s."
    char* MsgPathCodePage;         // a path that neither the ANSI code page nor a short name can carry
    char* LaunchLog;               // file of the launch log (KESTRUN_LOG overrides it); empty: none
    char* SecondInstance;          // "refuse", "activate" or "forward": what a second start does
    char* SecondInstanceMethod;    // dotted static method given a second start's arguments; empty: none
    int RestartExitCode;           // exit status that asks for a restart; 0: none
    int RestartLimit;              // restarts in a row of short runs before one is refused
    char* MsgInstanceNotAnswering; // a second start's request was not taken in time
    char* ModuleOptions;           // JVM options given after JvmOptions to runtimes of Java 9 and later only
    char* MsgServiceInstallFailed; // "The %s service could not be installed."
    char* MsgServiceUninstallFailed; // "The %s service could not be removed."
    int StdoutKeepFiles;           // earlier StdoutFile files kept as name.1, name.2, ...; 0: emptied at start
    int StdoutRollBytes;           // size at which StdoutFile rolls while the program runs; 0: never
    bool StdoutTimestamps;         // each StdoutFile line begins with its local time
    int StderrKeepFiles;           // the same three for StderrFile
    int StderrRollBytes;
    bool StderrTimestamps;
};

// String-table identifier of the file-access message, read directly before the settings are loaded.
#define SETTING_ID_FILE_ACCESS 1552
// String-table identifier of the message for a path that cannot be given to the runtime.
#define SETTING_ID_PATH_CODE_PAGE 2048
// String-table identifier of the application's identity, read directly by the cleanup child.
#define SETTING_ID_APPLICATION_ID 2032

/* settings.cpp */

// All settings; empty until LoadLauncherSettings, then read-only except JvmPath.
extern LauncherSettingsData LauncherSettings;

// Fills the record from the string table of module (null: the executable) and nothing else.
void LoadSettingsRecord(HMODULE module);
// Fills LauncherSettings from the executable's string table, applies the process priority and the
// INI file, and extracts the embedded files. Reports nothing for missing entries.
void LoadLauncherSettings();
// A new heap copy of a string-table entry of module (null: the executable), read whole however long;
// a missing entry gives an empty text. Never null.
char* LoadSettingText(HMODULE module, int id);
// A message text of the string table read directly (before LoadLauncherSettings), made safe to use
// as a format as the loader makes it. Never null.
char* LoadMessageText(int id);
// True unless the text begins with '0' (an empty text is true).
bool ParseSettingFlag(const char* text);
// Applies a ProcessPriority index (0 realtime ... 5 idle); false, changing nothing, when out of range.
bool ApplyProcessPriority(int index);
// Frees a text of the record (the shared empty text that stands in when memory ran out is kept).
void FreeSettingText(char* text);
