// The builder's PE and resource readers as `kestrun show` uses them on any file: an image accepted must
// read back the same resource tree after its resource section is written again (or a BuildError).
#include "show.h"
#include "fuzz.h"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        PeImage image = ParsePeImage(Bytes(data, data + size), "fuzz.exe");
        ResourceTree tree = ReadResourceTree(image);
        std::ostringstream report;
        ShowResources(tree, report);
        int section = FindSectionByRva(image, GetDataDirectory(image, DIR_RESOURCE).Rva);
        Bytes content = WriteResourceTree(tree, section < 0 ? 0 : image.Sections[(size_t)section].VirtualAddress);
        FAULT_IF(section >= 0 &&
                 ReadResourceTree(ParsePeImage(ReplaceResourceSection(image, content), "again.exe")) != tree);
    } catch (const BuildError&) {}
    return 0;
}
