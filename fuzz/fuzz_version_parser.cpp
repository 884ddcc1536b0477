// The version parser of the modern runtime search: parsing any text, comparing two versions (an
// order: antisymmetric and reflexive), the maximum rule, the release-file reader and the folder-name
// reader. The input is two texts separated by the first newline.
#include "fuzz_text.h"
#include "java_version.h"

static void CheckVersion(const char* text, JavaVersionNumber* version, bool* parsed)
{
    *parsed = ParseJavaVersion(text, version);
    if (*parsed && (version->Count < 1 || version->Count > JAVA_VERSION_MAX_PARTS))
        abort();
    if (*parsed && CompareJavaVersions(version, version) != 0)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char* text = FuzzText(data, size);
    if (text == NULL)
        return 0;
    char* second = strchr(text, '\n');
    if (second != NULL)
        *second++ = 0;
    JavaVersionNumber a = {}, b = {};
    bool parsedA, parsedB = false;
    CheckVersion(text, &a, &parsedA);
    if (second != NULL)
        CheckVersion(second, &b, &parsedB);
    if (parsedA && parsedB) {
        int ab = CompareJavaVersions(&a, &b), ba = CompareJavaVersions(&b, &a);
        if ((ab < 0) != (ba > 0) || (ab == 0) != (ba == 0))
            abort();
        JavaVersionWithinMaximum(&a, &b);
    }
    if (size >= 4) {
        JavaVersionNumber minimum;
        JavaVersionFromWord((unsigned)data[0] << 24 | (unsigned)data[1] << 16 | data[2] << 8 | data[3], &minimum);
        if (minimum.Count < 1 || minimum.Count > JAVA_VERSION_MAX_PARTS)
            abort();
    }
    // The whole input (newline restored) as a release file, into buffers of every small size.
    if (second != NULL)
        second[-1] = '\n';
    char release[64];
    for (size_t room = 0; room <= sizeof(release); room += 7)
        if (FindReleaseVersion(text, release, room) && strlen(release) >= room)
            abort();
    const char* inName = VersionInFolderName(text);
    if (inName != NULL && (inName < text || inName > text + strlen(text) || *inName < '0' || *inName > '9'))
        abort();
    free(text);
    return 0;
}
