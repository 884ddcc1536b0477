// The builder's PE and resource readers, as `kestrun show` uses them on any file, and the resource
// section rewrite on images they accept. A BuildError is the expected answer to a bad image.
#include "bytes.h"
#include "pe_image.h"
#include "res_tree.h"
#include "show.h"

#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        PeImage image = ParsePeImage(Bytes(data, data + size), "fuzz.exe");
        ResourceTree tree = ReadResourceTree(image);
        std::ostringstream report;
        ShowResources(tree, report);
        int section = FindSectionByRva(image, GetDataDirectory(image, DIR_RESOURCE).Rva);
        if (section >= 0) {
            Bytes content = WriteResourceTree(tree, image.Sections[(size_t)section].VirtualAddress);
            if (ReadResourceTree(ParsePeImage(ReplaceResourceSection(image, content), "again.exe")) != tree)
                abort();
        }
    } catch (const BuildError&) {
    }
    return 0;
}
