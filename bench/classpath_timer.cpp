// Times the class path option for a directory tree: the launcher's BuildClassPathOption (directory
// scan, option text, %NAME% expansion), and separately the text building alone (the same appends
// into a GrowableString, from names listed beforehand), each the median of RUNS runs.
//   bench_classpath_timer DIR RUNS
#include "growable.h"
#include "jvm.h"
#include "settings.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

static double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

// The archive paths below directory, in listing order, as the class path names them.
static void ListArchives(const std::string& directory, std::vector<std::string>* paths)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != "." && name != "..")
                ListArchives(directory + "\\" + name, paths);
        } else if (name.size() > 4 && (name.substr(name.size() - 4) == ".jar")) {
            paths->push_back(directory + "\\" + name);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int main(int argc, char** argv)
{
    if (argc != 3 || atoi(argv[2]) <= 0) {
        fprintf(stderr, "usage: bench_classpath_timer DIR RUNS\n");
        return 2;
    }
    std::vector<std::string> paths;
    ListArchives(argv[1], &paths);
    std::vector<double> whole, text;
    size_t optionLength = 0;
    for (int run = 0; run < atoi(argv[2]); run++) {
        std::string classPath = argv[1];
        LauncherSettings.ClassPath = &classPath[0];
        LauncherSettings.JvmOptions = (char*)"-Xmx64m";
        double start = Now();
        if (!BuildClassPathOption())
            return 1;
        whole.push_back(Now() - start);
        optionLength = strlen(LauncherSettings.JvmOptions);
        free(LauncherSettings.JvmOptions);

        GrowableString built = {};
        start = Now();
        for (const std::string& path : paths)
            if (!AppendText(&built, path.c_str()) || !AppendText(&built, ";"))
                return 1;
        text.push_back(Now() - start);
        FreeGrowableString(&built);
    }
    printf("%zu archives: option of %zu characters; BuildClassPathOption %.2f ms, text building alone %.2f ms"
           " (medians of %d runs)\n", paths.size(), optionLength, Median(whole), Median(text), atoi(argv[2]));
    return 0;
}
