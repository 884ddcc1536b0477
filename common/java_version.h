// The version rule of the Java runtime search: a registered runtime's name against the minimum.
// Portable: no Windows headers.
#pragma once

/* java_version.cpp */

// True when the version name (as a registry subkey names it: "1.4.2_05", "17", "21.0.1") is at least
// the minimum of minimumWord (bits 16-31 the first number, bits 0-3 the second). Both numbers are
// compared as numbers of any length, first then second; a missing second number counts as 0. A name
// that does not start with a digit is never acceptable.
bool JavaVersionAcceptable(const char* name, unsigned minimumWord);
