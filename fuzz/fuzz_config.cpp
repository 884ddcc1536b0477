// The builder's config reader: INI parsing and interpretation of any text. A BuildError is the
// expected answer to a bad config; any other exception or a crash is a fault.
#include "bytes.h"
#include "config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        BuildPlan plan = InterpretConfig(ParseIni(std::string((const char*)data, size), "fuzz/launcher.ini"));
        for (const PlannedPath& file : plan.Files)
            ResolvePath(plan, file.Path);
    } catch (const BuildError&) {}
    return 0;
}
