// `kestrun find-java LAUNCHER.exe`: runs a launcher's runtime search on this machine and prints every
// candidate with the reason it was taken or passed over.
#pragma once

#include <ostream>
#include <string>

// Runs the search with the launcher's settings, as that launcher would from its own folder.
// 0 when a runtime was found, 1 when none was, 2 when the search cannot run here.
int FindJavaForLauncher(const std::string& launcherPath, std::ostream& out);
