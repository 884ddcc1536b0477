#include "ini.h"

#include "bytes.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string Unquote(const std::string& value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

void AddSection(IniFile& ini, const std::string& line, int number)
{
    size_t close = line.find(']');
    if (close == std::string::npos || !Trim(line.substr(close + 1)).empty())
        throw BuildError(ini.Path, number, "a section header must look like [name]");
    std::string name = Trim(line.substr(1, close - 1));
    for (const IniSection& s : ini.Sections)
        if (s.Name == name)
            throw BuildError(ini.Path, number, "section [" + name + "] given twice (first at line " +
                                                   std::to_string(s.Line) + ")");
    ini.Sections.push_back({name, number, {}});
}

void AddEntry(IniFile& ini, const std::string& line, int number)
{
    size_t equals = line.find('=');
    if (equals == std::string::npos || Trim(line.substr(0, equals)).empty())
        throw BuildError(ini.Path, number, "expected 'key = value', [section] or a comment");
    if (ini.Sections.empty())
        throw BuildError(ini.Path, number, "a key before the first [section]");
    IniEntry entry{Trim(line.substr(0, equals)), Unquote(Trim(line.substr(equals + 1))), number};
    ini.Sections.back().Entries.push_back(entry);
}

} // namespace

IniFile ParseIni(const std::string& text, const std::string& path)
{
    IniFile ini;
    ini.Path = path;
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int number = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(start, end - start));
        number++;
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[')
            AddSection(ini, line, number);
        else
            AddEntry(ini, line, number);
    }
    return ini;
}

IniFile ReadIniFile(const std::string& path)
{
    Bytes bytes = ReadWholeFile(path);
    return ParseIni(std::string(bytes.begin(), bytes.end()), path);
}

size_t EditDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            bool same = std::tolower((unsigned char)a[i - 1]) == std::tolower((unsigned char)b[j - 1]);
            size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates)
{
    std::string best;
    size_t bestDistance = std::string::npos;
    for (const std::string& candidate : candidates) {
        size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance)
            best = candidate, bestDistance = distance;
    }
    size_t limit = std::max<size_t>(2, word.size() / 2);
    return bestDistance <= limit ? best : "";
}
