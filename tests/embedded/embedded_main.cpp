// The extraction tests' entry: the program is also the cleanup child that StartCleanupChild starts
// (the launcher's hidden switch) and a helper process that lives until a named event is set.
#include "embedded.h"
#include "entry.h"
#include "report.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    InstanceHandle = GetModuleHandleA(NULL);
    RunMode = RUN_MODE_GUI;
    if (argc == 3 && strcmp(argv[1], CLEANUP_SWITCH) == 0) {
        RunCleanupChild(strtoul(argv[2], NULL, 10));
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "--hold") == 0) {
        HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
        return release != NULL && WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
