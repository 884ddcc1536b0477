// The version readers, on a minimum word (4 bytes) and one or two texts split at the first newline.
// JavaVersionAcceptable must agree with strtoull's reading of the two numbers; CompareJavaVersions must
// be an order the maximum rule respects; a release-file version found must be part of the text and fit.
#include "fuzz.h"
#include "java_version.h"

#include <ctype.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    unsigned minimum = (unsigned)data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3], major = minimum >> 16;
    char *text = FuzzText(data + 4, size - 4), release[64], *line = strchr(text, '\n'), *p;
    unsigned long long first = strtoull(text, &p, 10);
    unsigned long long second = p[0] == '.' && isdigit((uint8_t)p[1]) ? strtoull(p + 1, NULL, 10) : 0;
    bool acceptable = isdigit((uint8_t)text[0]) && (first != major ? first > major : second >= (minimum & 15));
    FAULT_IF(JavaVersionAcceptable(text, minimum) != acceptable);
    for (size_t room = 0; room <= sizeof(release); room += 7)
        FAULT_IF(FindReleaseVersion(text, release, room) && (strlen(release) >= room || !strstr(text, release)));
    JavaVersionNumber a, b;
    if (line == NULL)
        JavaVersionFromWord(minimum, &b);
    if (ParseJavaVersion(text, &a) && (line == NULL || ParseJavaVersion(line + 1, &b))) {
        int ab = CompareJavaVersions(&a, &b), ba = CompareJavaVersions(&b, &a);
        FAULT_IF(a.Count < 1 || a.Count > JAVA_VERSION_MAX_PARTS || b.Count < 1 || CompareJavaVersions(&a, &a) != 0 ||
                 (ab < 0) != (ba > 0) || (ab == 0) != (ba == 0) || (ab <= 0 && !JavaVersionWithinMaximum(&a, &b)));
    }
    free(text);
    return 0;
}
