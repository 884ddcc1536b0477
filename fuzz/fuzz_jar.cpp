// The jar reader on any bytes, read both as a jar and as manifest text. A BuildError is the expected
// answer to bad input; anything else, a crash or a manifest over the limit is a fault. The parsed
// main section, written out again one attribute a line, parses back to the same attributes.
#include "jar.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        FAULT_IF(ReadJarManifest(Bytes(data, data + size), "fuzz.jar").size() > MANIFEST_MAX_BYTES);
        JarFactsOf(Bytes(data, data + size), "fuzz.jar");
    } catch (const BuildError&) {}
    try {
        auto attributes = ParseManifest(std::string((const char*)data, size), "fuzz.jar");
        std::string again;
        for (const auto& item : attributes)
            again += item.first + ": " + item.second + "\n";
        FAULT_IF(ParseManifest(again, "again") != attributes);
    } catch (const BuildError&) {}
    return 0;
}
