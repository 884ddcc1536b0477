// Creating the VM: options, hooks, properties, class path, and the failures HotSpot reports.
#include "test_support.h"

using DoubleCreate = DoubleTest;

TEST_F(DoubleCreate, TracesOptionsInOrderWithPropertiesAndClassPath) {
    HostRun run = RunHost("option -Xmx64m\noption -Dkestrun.greeting=hello world\noption -XX:+UseSerialGC\n"
                          "option -Djava.class.path=classes;missing.jar\nhooks\ncreate\n");
    ASSERT_EQ(run.exitCode, 0) << run.log << run.stderrText;
    std::vector<std::string> t = Lines(run.trace);
    int at = FindLine(t, "create version=0x00010002 nOptions=7 ignoreUnrecognized=0");
    ASSERT_GE(at, 0) << run.trace;
    const char* expected[] = {"option[0] -Xmx64m", "option[1] -Dkestrun.greeting=hello world",
                              "option[2] -XX:+UseSerialGC", "option[3] -Djava.class.path=classes;missing.jar",
                              "option[4] vfprintf hook", "option[5] abort hook", "option[6] exit hook",
                              "property kestrun.greeting=hello world", "property java.class.path=classes;missing.jar",
                              "classpath classes;missing.jar"};
    for (const char* line : expected) {
        int next = FindLine(t, line, at + 1);
        EXPECT_EQ(next, at + 1) << "expected next: " << line << "\n" << run.trace;
        at = next;
    }
    // Relative entries are made absolute against the directory current at creation.
    EXPECT_GE(FindLine(t, "classpath-entry " + dir + "\\classes"), 0) << run.trace;
    EXPECT_GE(FindLine(t, "classpath-entry " + dir + "\\missing.jar"), 0) << run.trace;
    EXPECT_GE(FindLine(t, "create-result 0"), 0) << run.trace;
    EXPECT_EQ(run.log, "create 0\nhost end\n");
}

TEST_F(DoubleCreate, UnrecognizedOptionFailsWithDiagnosticThroughVfprintf) {
    HostRun run = RunHost("option -Xmx32m\noption -bogus\nhooks\ncreate\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.log, "create -1\n");
    EXPECT_EQ(run.vfprintf, "Unrecognized option: -bogus\nError: Could not create the Java Virtual Machine.\n");
}

TEST_F(DoubleCreate, EmptyOptionIsUnrecognized) {
    HostRun run = RunHost("option \nhooks\ncreate\n");
    EXPECT_EQ(run.log, "create -1\n");
    EXPECT_EQ(run.vfprintf.find("Unrecognized option: \n"), 0u) << run.vfprintf;
}

TEST_F(DoubleCreate, IgnoreUnrecognizedSkipsOnlyXAndUnderscoreOptions) {
    HostRun run = RunHost("ignore\noption -Xfancy\noption _private\nhooks\ncreate\n");
    EXPECT_EQ(run.log, "create 0\nhost end\n") << run.vfprintf;
    EXPECT_GE(FindLine(Lines(run.trace), "ignoreUnrecognized=1"), 0);
    run = RunHost("ignore\noption -bogus\nhooks\ncreate\n");
    EXPECT_EQ(run.log, "create -1\n");
}

TEST_F(DoubleCreate, BadSizesAndVersionsAreRefused) {
    HostRun run = RunHost("option -Xmxlots\nhooks\ncreate\n");
    EXPECT_EQ(run.log, "create -6\n");  // JNI_EINVAL
    EXPECT_EQ(run.vfprintf.find("Invalid maximum heap size: -Xmxlots\n"), 0u) << run.vfprintf;
    run = RunHost("version 00010001\nhooks\ncreate\n");
    EXPECT_EQ(run.log, "create -3\n");  // JNI_EVERSION: 1.1 cannot create a VM
    EXPECT_EQ(run.vfprintf, "");
}

TEST_F(DoubleCreate, WithoutVfprintfHookDiagnosticsGoToStderr) {
    HostRun run = RunHost("option -bogus\ncreate\n");
    EXPECT_EQ(run.log, "create -1\n");
    EXPECT_NE(run.stderrText.find("Unrecognized option: -bogus"), std::string::npos) << run.stderrText;
}
