// Reading a UTF-8 INI file into sections of key/value lines, each remembering its line number.
#pragma once

#include <string>
#include <vector>

struct IniEntry {
    std::string Key;   // trimmed
    std::string Value; // trimmed; one pair of surrounding double quotes removed
    int Line;          // 1-based
};

struct IniSection {
    std::string Name; // as written between the brackets, trimmed
    int Line;
    std::vector<IniEntry> Entries;
};

struct IniFile {
    std::string Path;
    std::vector<IniSection> Sections;
};

// Parses INI text (a UTF-8 byte-order mark is skipped; ';' and '#' start comment lines).
// Throws BuildError "path:line: ..." for a line that is neither a section, a key = value pair nor
// a comment, for an entry before the first section and for a section given twice.
IniFile ParseIni(const std::string& text, const std::string& path);
// Reads and parses the file at path.
IniFile ReadIniFile(const std::string& path);
// Levenshtein distance, ignoring ASCII case (for suggesting the nearest valid key).
size_t EditDistance(const std::string& a, const std::string& b);
// The candidate nearest to word, or "" when none is reasonably close.
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);
