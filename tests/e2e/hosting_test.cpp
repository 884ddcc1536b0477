// The launcher hosting the (test-double) JVM: options, class path, arguments, directories, streams,
// exit codes and every report, seen from outside as a user and the JVM see them.
#include "e2e.h"

namespace {

const std::vector<std::string> Hooks = {"vfprintf hook", "abort hook", "exit hook"};

TEST_F(E2eTest, OptionsArriveInOrderWithTheClassPathOptionLastAndTheHooksAfterIt)
{
    Script("out {prop:spaced}|{prop:java.class.path}");
    LauncherRun run = Run(Build({{"JvmOptions", "-Xmx64m \"-Dspaced=a b\" -Djava.class.path=early"}}));
    ExpectNoReports(run);
    EXPECT_EQ(run.ExitCode, 0u);
    std::vector<std::string> expected = {"-Xmx64m", "-Dspaced=a b", "-Djava.class.path=early",
                                         "-Djava.class.path=classes"};
    expected.insert(expected.end(), Hooks.begin(), Hooks.end());
    EXPECT_EQ(Options(), expected);
    EXPECT_EQ(Out(), "a b|classes\r\n");
}

} // namespace
