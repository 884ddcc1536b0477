// The characters of JreSearchOrder in words, and the order the builder writes when a config gives none.
#pragma once

#include <string>
#include <vector>

// The order of a launcher made from a config that does not set JreSearchOrder: the bundled runtime,
// the JvmPath list, JAVA_HOME, the JavaSoft keys, the vendor keys.
extern const char ModernSearchOrder[];

// One line per character of order, saying what that method searches ("skipped" for unknown ones).
std::vector<std::string> DescribeSearchOrder(const std::string& order);
