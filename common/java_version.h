// The version rule of the Java runtime search: a registered runtime's name against the minimum.
// Portable: no Windows headers.
#pragma once

#include <stddef.h>

/* java_version.cpp */

// A Java version as numbers, in the numbering of Java 9 and later: the leading "1." of the old
// scheme is dropped and its update number is the third part ("1.8.0_352" is 8.0.352).
#define JAVA_VERSION_MAX_PARTS 6
struct JavaVersionNumber {
    unsigned Parts[JAVA_VERSION_MAX_PARTS]; // a number past 2^32-1 saturates
    int Count;                              // parts given, 1 to JAVA_VERSION_MAX_PARTS
};

// Parses a version in any scheme in use ("1.8.0_352", "9", "11.0.2", "17.0.9+9", "8.0.392.8",
// "1.8.0.212", "11.0.9.256"): dot- and underscore-separated numbers up to the first other character
// ("+9", "-ea", " (build"). False when the text does not start with a digit.
bool ParseJavaVersion(const char* text, JavaVersionNumber* version);
// Below zero, zero or above zero as a is older than, equal to or newer than b; a missing part is 0.
int CompareJavaVersions(const JavaVersionNumber* a, const JavaVersionNumber* b);
// The minimum that a JavaVersion word gives, in the same numbering: 0x00010008 is 8, 0x00110000 is 17.
void JavaVersionFromWord(unsigned word, JavaVersionNumber* version);
// Reads JavaVersion or JavaMaxVersion as stored: "0x" and a hexadecimal word (as JavaVersionFromWord
// reads it; also 5 to 8 hexadecimal digits without "0x", the form older builds stored), else a version
// in any scheme ParseJavaVersion reads ("17", "1.8", "11.0.2", "21.0.1+12"). False when it is neither.
bool ReadJavaVersionSetting(const char* text, JavaVersionNumber* version);
// True when name (as a registry subkey names a runtime: "1.4.2_05", "17") is at least minimum.
bool JavaVersionAtLeast(const char* name, const JavaVersionNumber* minimum);
// True when version is not past maximum on the parts the maximum gives: the maximum 17 takes 17.0.9,
// the maximum 17.0.5 does not.
bool JavaVersionWithinMaximum(const JavaVersionNumber* version, const JavaVersionNumber* maximum);
// Copies the value of JAVA_VERSION (quotes removed) from the text of a runtime's "release" file.
// False when there is none or it does not fit in size bytes.
bool FindReleaseVersion(const char* releaseText, char* out, size_t size);
// Points at the version a folder name carries from its first digit on ("jdk-17.0.9+9" gives
// "17.0.9+9", "jdk1.8.0_352" gives "1.8.0_352"); null when it has no digit.
const char* VersionInFolderName(const char* name);
