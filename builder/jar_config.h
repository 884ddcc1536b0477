// The config for a jar: `kestrun init app.jar` writes it, commented, with every key of the table of
// settings and its default; `kestrun build app.jar` builds from exactly that text, so that a config
// made with init and left as it is gives the same launcher.
#pragma once

#include "config.h"

#include <string>

struct JarRequest {
    std::string Jar;          // the jar, as given
    std::string ConfigFolder; // folder the config's relative paths start from
    std::string Icon, Splash; // --icon and --splash files as given ("" when not)
    std::string MainClass;    // --main-class, which names or replaces the manifest's ("" when not)
    bool Console = false;     // --console
};

// The config text for the jar; throws BuildError for a jar that cannot be read, a main class that is
// not a class name, and no main class at all (neither the manifest's Main-Class nor --main-class).
std::string JarConfigText(const JarRequest& request);
// The plan for `kestrun build app.jar`: the config text interpreted, named after the jar.
BuildPlan JarBuildPlan(const JarRequest& request);
