// The builder's config reader: INI parsing and interpretation of any text. A BuildError is the
// expected answer to a bad config; any other exception or a crash is a fault.
#include "bytes.h"
#include "config.h"
#include "ini.h"

#include <stdlib.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text((const char*)data, size);
    try {
        BuildPlan plan = InterpretConfig(ParseIni(text, "fuzz/launcher.ini"));
        for (const PlannedPath& file : plan.Files)
            ResolvePath(plan, file.Path);
    } catch (const BuildError&) {
    }
    return 0;
}
