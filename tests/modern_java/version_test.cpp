// The version rules of the new search methods: every version scheme in use, compared as numbers.
#include "java_version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Show(const JavaVersionNumber& version)
{
    std::string text;
    for (int i = 0; i < version.Count; ++i)
        text += (i ? "." : "") + std::to_string(version.Parts[i]);
    return text;
}

struct ParseCase {
    const char* Text;
    const char* Parsed; // nullptr: not a version
};

TEST(JavaVersionParse, EverySchemeInUse)
{
    const ParseCase cases[] = {
        {"1.8.0_352", "8.0.352"},       {"1.8.0_352-b08", "8.0.352"},  {"9", "9"},
        {"11.0.2", "11.0.2"},           {"17.0.9+9", "17.0.9"},        {"21", "21"},
        {"8.0.392.8", "8.0.392.8"},     {"1.8.0.212", "8.0.212"},      {"11.0.9.256", "11.0.9.256"},
        {"1.8", "8"},                   {"1.8_302", "8.0.302"},        {"1.8.0_191_1", "8.0.191.1"},
        {"11.0.9-ea+11", "11.0.9"},     {"15+36", "15"},               {"11.0.9.1+1", "11.0.9.1"},
        {"17.0.2.0.2+8", "17.0.2.0.2"}, {"21.0.4.0 (build 21.0.4+7-LTS)", "21.0.4.0"},
        {"11.0.2.9.3", "11.0.2.9.3"},   {"1.4.2_05", "4.2.5"},         {"1", "1"},
        {"17.", "17"},                  {"17..1", "17"},               {"99999999999.1", "4294967295.1"},
        {"1.2.3.4.5.6.7.8", "2.3.4.5.6.7"},
        {"", nullptr},                  {"jdk-17", nullptr},           {"v11", nullptr},
        {".8", nullptr},
    };
    for (const ParseCase& c : cases) {
        JavaVersionNumber version;
        bool parsed = ParseJavaVersion(c.Text, &version);
        EXPECT_EQ(parsed, c.Parsed != nullptr) << c.Text;
        if (parsed && c.Parsed != nullptr) {
            EXPECT_EQ(Show(version), c.Parsed) << c.Text;
        }
    }
}

struct CompareCase {
    const char* Left;
    const char* Right;
    int Order; // -1, 0, 1
};

TEST(JavaVersionCompare, NumericallyPartByPart)
{
    const CompareCase cases[] = {
        {"1.8.0_352", "9", -1},     {"17", "17.0.0", 0},        {"17.0.10", "17.0.9", 1},
        {"11.0.2", "9", 1},         {"1.8.0_99", "1.8.0_100", -1}, {"8.0.392.8", "1.8.0_392", 1},
        {"21", "17.0.9+9", 1},      {"1.8.0.212", "1.8.0_212", 0}, {"11.0.9.256", "11.0.9", 1},
        {"10", "9.0.4", 1},
    };
    for (const CompareCase& c : cases) {
        JavaVersionNumber left, right;
        ASSERT_TRUE(ParseJavaVersion(c.Left, &left) && ParseJavaVersion(c.Right, &right)) << c.Left;
        int order = CompareJavaVersions(&left, &right);
        EXPECT_EQ(order < 0 ? -1 : order > 0 ? 1 : 0, c.Order) << c.Left << " vs " << c.Right;
        EXPECT_EQ(CompareJavaVersions(&right, &left), -order) << c.Right << " vs " << c.Left;
    }
}

TEST(JavaVersionLimits, MinimumWordAndMaximum)
{
    struct WordCase {
        unsigned Word;
        const char* Same;
    };
    const WordCase words[] = {{0x00010004, "4"}, {0x00010008, "8"}, {0x00110000, "17"}, {0x000B0000, "11"},
                              {0, "0"}, {0x00150002, "21.2"}};
    for (const WordCase& w : words) {
        JavaVersionNumber fromWord;
        JavaVersionFromWord(w.Word, &fromWord);
        JavaVersionNumber same;
        ASSERT_TRUE(ParseJavaVersion(w.Same, &same));
        EXPECT_EQ(CompareJavaVersions(&fromWord, &same), 0) << std::hex << w.Word;
    }
    struct MaxCase {
        const char* Version;
        const char* Maximum;
        bool Within;
    };
    const MaxCase maxima[] = {
        {"17.0.9+9", "17", true},  {"21", "17", false},        {"17.0.9", "17.0.5", false},
        {"17.0.5", "17.0.5", true}, {"1.8.0_352", "1.8", true}, {"11", "1.8", false},
        {"9", "11.0.2", true},      {"11.0.2.1", "11.0.2", true}, {"11.0.3", "11.0.2", false},
    };
    for (const MaxCase& m : maxima) {
        JavaVersionNumber version, maximum;
        ASSERT_TRUE(ParseJavaVersion(m.Version, &version) && ParseJavaVersion(m.Maximum, &maximum));
        EXPECT_EQ(JavaVersionWithinMaximum(&version, &maximum), m.Within) << m.Version << " max " << m.Maximum;
    }
}

TEST(JavaVersionRelease, ValueOfJavaVersionOnly)
{
    struct ReleaseCase {
        const char* Text;
        const char* Version; // nullptr: none
    };
    const ReleaseCase cases[] = {
        {"IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_RUNTIME_VERSION=\"17.0.9+9\"\nJAVA_VERSION=\"17.0.9\"\n"
         "JAVA_VERSION_DATE=\"2023-10-17\"\n",
         "17.0.9"},
        {"JAVA_VERSION=\"1.8.0_392\"\r\nOS_NAME=\"Windows\"\r\n", "1.8.0_392"},
        {"JAVA_VERSION=21\n", "21"},
        {"JAVA_VERSION_DATE=\"2023-10-17\"\n", nullptr},
        {"IMPLEMENTOR=\"x\"\n", nullptr},
        {"JAVA_VERSION=\"17.0", nullptr}, // cut where the file was cut
        {"", nullptr},
    };
    for (const ReleaseCase& c : cases) {
        char out[64] = "unchanged";
        bool found = FindReleaseVersion(c.Text, out, sizeof(out));
        EXPECT_EQ(found, c.Version != nullptr) << c.Text;
        if (found && c.Version != nullptr) {
            EXPECT_STREQ(out, c.Version);
        }
    }
    char small[4];
    EXPECT_FALSE(FindReleaseVersion("JAVA_VERSION=\"17.0.9\"\n", small, sizeof(small)));
    EXPECT_STREQ(VersionInFolderName("jdk-17.0.9+9-hotspot"), "17.0.9+9-hotspot");
    EXPECT_STREQ(VersionInFolderName("jdk1.8.0_352"), "1.8.0_352");
    EXPECT_EQ(VersionInFolderName("runtime"), nullptr);
}

} // namespace
