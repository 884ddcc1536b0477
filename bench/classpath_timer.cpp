// Times the class path option for a directory tree: the launcher's BuildClassPathOption (directory
// scan, option text, %NAME% expansion), the median of RUNS runs.
//   bench_classpath_timer DIR RUNS
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
    std::vector<double> whole;
    size_t optionLength = 0;
    for (int run = 0; run < atoi(argv[2]); run++) {
        std::string classPath = argv[1];
        LauncherSettings.ClassPath = &classPath[0];
        LauncherSettings.JvmOptions = (char*)"-Xmx64m";
        double start = Now();
        if (!BuildClassPathOption(false))
            return 1;
        whole.push_back(Now() - start);
        optionLength = strlen(JvmOptionStrings[JvmOptionCount - 1]);
        for (int i = 0; i < JvmOptionCount; i++)
            free(JvmOptionStrings[i]);
        free(JvmOptionStrings);
    }
    printf("class path option of %zu characters; BuildClassPathOption %.2f ms (median of %d runs)\n", optionLength,
           Median(whole), atoi(argv[2]));
    return 0;
}
