// `kestrun show`: every setting and resource of a launcher, as a report in config form.
#pragma once

#include "res_tree.h"

#include <ostream>
#include <string>

// Writes the report for a resource tree ([launcher], [messages], [files], then the presence of
// splash, icon, version information and manifest). The main class is shown descrambled.
void ShowResources(const ResourceTree& tree, std::ostream& out);
// Reads the launcher at path and writes its report, showing the main class and file names as text of
// codePage (the one the launcher was built for); throws BuildError, also for a program without
// launcher settings.
void ShowLauncher(const std::string& path, std::ostream& out, unsigned codePage = 1252);
// A FILETIME as "YYYY-MM-DD hh:mm:ss.fffffff UTC".
std::string FormatFileTime(uint64_t fileTime);
