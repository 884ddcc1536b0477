// The version readers, on a minimum word (4 bytes) and one or two texts split at the first newline.
// A word written with "0x" must read as JavaVersionFromWord reads it; CompareJavaVersions must be an
// order the maximum rule respects; a release-file version found must be part of the text and fit.
#include "fuzz.h"
#include "java_version.h"


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    unsigned minimum = (unsigned)data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3];
    char *text = FuzzText(data + 4, size - 4), release[64], *line = strchr(text, '\n'), word[16];
    JavaVersionNumber a, b;
    snprintf(word, sizeof(word), "0x%X", minimum);
    JavaVersionFromWord(minimum, &b);
    FAULT_IF(!ReadJavaVersionSetting(word, &a) || CompareJavaVersions(&a, &b) != 0);
    for (size_t room = 0; room <= sizeof(release); room += 7)
        FAULT_IF(FindReleaseVersion(text, release, room) && (strlen(release) >= room || !strstr(text, release)));
    if (ParseJavaVersion(text, &a) && (line == NULL || ParseJavaVersion(line + 1, &b))) {
        int ab = CompareJavaVersions(&a, &b), ba = CompareJavaVersions(&b, &a);
        FAULT_IF(a.Count < 1 || a.Count > JAVA_VERSION_MAX_PARTS || b.Count < 1 || CompareJavaVersions(&a, &a) != 0 ||
                 (ab < 0) != (ba > 0) || (ab == 0) != (ba == 0) || (ab <= 0 && !JavaVersionWithinMaximum(&a, &b)));
    }
    free(text);
    return 0;
}
