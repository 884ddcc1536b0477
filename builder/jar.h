// Reading a jar for `kestrun build app.jar` and `kestrun init`: the manifest found through the ZIP
// central directory and inflated with zlib, then its main section parsed by the JAR file rules.
#pragma once

#include "bytes.h"

#include <string>
#include <utility>
#include <vector>

// The largest manifest read, inflated; a larger one (a zip bomb, say) is refused once this much is out.
const size_t MANIFEST_MAX_BYTES = 1 << 20;

// The bytes of META-INF/MANIFEST.MF (name matched ignoring ASCII case, as the Java runtime does), ""
// for a zip without one. Throws BuildError "path: ..." for a file that is not a zip, an encrypted
// or damaged entry, a compression other than stored or deflate, and a manifest over MANIFEST_MAX_BYTES.
std::string ReadJarManifest(const Bytes& jar, const std::string& path);

// The names of every entry of the zip jar, in directory order. Throws BuildError as above.
std::vector<std::string> ReadJarEntryNames(const Bytes& jar, const std::string& path);
// The bytes of the entry name (exact case), at most limit of them inflated. Throws BuildError "path: ..."
// for a missing entry and for the reasons above.
std::string ReadJarEntry(const Bytes& jar, const std::string& path, const std::string& name, size_t limit);

// The main section's attributes in order (names as written, values UTF-8 with continuation lines
// joined). Accepts CRLF, LF and CR line ends and a leading UTF-8 byte-order mark; throws BuildError
// "path: ..." for a line that is not "Name: value" and for a continuation line without a line before it.
std::vector<std::pair<std::string, std::string>> ParseManifest(const std::string& text, const std::string& path);

// The value of an attribute (name compared ignoring ASCII case, the last one given wins), "" if absent.
std::string ManifestValue(const std::vector<std::pair<std::string, std::string>>& attributes, const char* name);

// What a launcher takes from a jar's manifest.
struct JarFacts {
    std::string MainClass;             // Main-Class, blanks around it dropped; "" when absent
    std::vector<std::string> ClassPath; // Class-Path entries as launcher paths (backslashes, %XX decoded)
    std::string Title, Version;        // Implementation-Title and -Version, "" when absent
    std::string ModuleOptions;         // Add-Opens and Add-Exports as --add-opens= and --add-exports= options
    bool NativeAccess = false;         // Enable-Native-Access: ALL-UNNAMED
    std::string SplashImage;           // SplashScreen-Image, an entry of the jar; "" when absent
    std::string SplashProblem;         // why the launcher cannot show that picture; "" when it can
};

// The largest splash picture read from a jar, inflated.
const size_t SPLASH_MAX_BYTES = 64 << 20;

// Reads the jar at path. Throws BuildError for the reasons above, a Main-Class that is not a dotted
// class name, a Class-Path entry that is a URL or cannot be a launcher class-path entry, an Add-Opens
// or Add-Exports entry that is not module/package, an Enable-Native-Access other than ALL-UNNAMED,
// a Launcher-Agent-Class (the launcher starts no agent from the application's jar) and a
// SplashScreen-Image the jar does not hold.
JarFacts ReadJarFacts(const std::string& path);
// The same from the jar's bytes.
JarFacts JarFactsOf(const Bytes& jar, const std::string& path);
