// Running a main class as a launcher does: properties, redirected streams, the class path, exceptions,
// and text conversions.
#include "test_support.h"

using DoubleRun = DoubleTest;

// The launcher's run: user.dir, both streams to files, then main.
static const char Redirected[] =
    "option -Djava.class.path=%D\\classes\nhooks\ncreate\nproperty user.dir C:\\apps\\acme\n"
    "redirect setOut %D\\out.log\nredirect setErr %D\\err.log\n";

TEST_F(DoubleRun, MainSeesArgumentsPropertiesAndWritesToRedirectedStreams) {
    Script("com/acme/App", "# prints what it got\nout args={args} argc={argc}\nout dir={prop:user.dir}\n"
                           "out missing={prop:no.such}\nerr to stderr\nout+ no newline");
    WriteFile("out.log", "text of an earlier run that must go\n");
    HostRun run = RunHost(std::string(Redirected) + "main com/acme/App first second\n");
    ASSERT_EQ(run.exitCode, 0) << run.log << run.stderrText;
    EXPECT_EQ(run.log, "create 0\nproperty ok\nredirect ok\nredirect ok\nmain returned\nhost end\n");
    EXPECT_EQ(ReadFile("out.log"), "args=[first][second] argc=2\r\ndir=C:\\apps\\acme\r\nmissing=null\r\nno newline");
    EXPECT_EQ(ReadFile("err.log"), "to stderr\r\n");
    std::vector<std::string> t = Lines(run.trace);
    int set = FindLine(t, "[main] System.setProperty user.dir=C:\\apps\\acme");
    int out = FindLine(t, "[main] System.setOut " + dir + "\\out.log");
    int main = FindLine(t, "[main] main com/acme/App [first][second]");
    EXPECT_TRUE(set >= 0 && out > set && main > out) << run.trace;
    EXPECT_GE(FindLine(t, "main-end com/acme/App returned"), 0);
}

TEST_F(DoubleRun, LauncherJniCallsAreTracedInOrder) {
    Script("com/acme/App", "out hi\n");
    HostRun run = RunHost("option -Djava.class.path=%D\\classes\nhooks\ncreate\nmain com/acme/App x\n");
    std::vector<std::string> t = Lines(run.trace);
    const char* calls[] = {"jni FindClass com/acme/App", "jni GetStaticMethodID com/acme/App.main([Ljava/lang/String;)V",
                           "jni FindClass java/lang/String", "jni NewObjectArray java/lang/String[1]",
                           "jni NewStringUTF x", "jni SetObjectArrayElement [0]",
                           "jni CallStaticVoidMethod com/acme/App.main([Ljava/lang/String;)V"};
    int at = -1;
    for (const char* call : calls) {
        int next = FindLine(t, call, at + 1);
        EXPECT_GT(next, at) << call << "\n" << run.trace;
        at = next;
    }
    EXPECT_EQ(FindLine(t, "jni-warning"), -1) << run.trace;
}

TEST_F(DoubleRun, ArchiveOnTheClassPathHoldsSectionsPerClass) {
    WriteFile("lib\\app.jar", "== com/acme/Other\nout wrong class\n== com/acme/App\nout from the archive\n");
    HostRun run = RunHost("option -Djava.class.path=%D\\classes;%D\\lib\\app.jar\nhooks\ncreate\n"
                          "redirect setOut %D\\out.log\nmain com/acme/App\n");
    EXPECT_EQ(ReadFile("out.log"), "from the archive\r\n") << run.log << run.trace;
    EXPECT_GE(FindLine(Lines(run.trace), "load com/acme/App from " + dir + "\\lib\\app.jar"), 0) << run.trace;
}

TEST_F(DoubleRun, MissingClassAndMethodLeaveTheErrorsHotSpotThrows) {
    Script("com/acme/App", "out hi\n");
    HostRun run = RunHost(std::string(Redirected) + "findclass com/acme/Missing\nfindclass com.acme.App\n"
                                                    "method com/acme/App main ()V\nfindclass com/acme/App\n");
    EXPECT_EQ(run.log, "create 0\nproperty ok\nredirect ok\nredirect ok\nfindclass missing\nfindclass missing\n"
                       "method missing\nfindclass found\nhost end\n");
    std::string err = ReadFile("err.log");
    EXPECT_EQ(err.find("java.lang.NoClassDefFoundError: com/acme/Missing\r\n"
                       "Caused by: java.lang.ClassNotFoundException: com.acme.Missing\r\n"
                       "\tat java.base/jdk.internal.loader.BuiltinClassLoader.loadClass("), 0u) << err;
    EXPECT_NE(err.find("java.lang.NoClassDefFoundError: com.acme.App\r\n"), std::string::npos) << err;
    EXPECT_NE(err.find("java.lang.NoSuchMethodError: main\r\n"), std::string::npos) << err;
    // HotSpot's own prefix goes through the VM's output (the vfprintf hook), not System.err.
    EXPECT_EQ(run.vfprintf, "Exception in thread \"main\" Exception in thread \"main\" Exception in thread \"main\" ");
}

TEST_F(DoubleRun, ExceptionFromMainIsDescribedOnSystemErr) {
    Script("com/acme/App", "out before\nthrow java.lang.IllegalStateException bad state {arg:0}\nout never\n");
    HostRun run = RunHost(std::string(Redirected) + "main com/acme/App X\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.log.find("main threw\n"), std::string::npos) << run.log;
    EXPECT_EQ(ReadFile("out.log"), "before\r\n");
    EXPECT_EQ(ReadFile("err.log"), "java.lang.IllegalStateException: bad state X\r\n\tat com.acme.App.main(App.java)\r\n");
    EXPECT_EQ(run.vfprintf, "Exception in thread \"main\" ");
    EXPECT_GE(FindLine(Lines(run.trace), "main-end com/acme/App threw"), 0);
}

TEST_F(DoubleRun, LargeOutputArrivesWhole) {
    Script("com/acme/App", "repeat 20000 out line {i} of a long run\n");
    HostRun run = RunHost(std::string(Redirected) + "main com/acme/App\n");
    std::vector<std::string> out = Lines(ReadFile("out.log"));
    ASSERT_EQ(out.size(), 20000u) << run.log;
    EXPECT_EQ(out[0], "line 0 of a long run");
    EXPECT_EQ(out[19999], "line 19999 of a long run");
}

TEST_F(DoubleRun, RedirectToAMissingFolderThrowsFileNotFound) {
    HostRun run = RunHost("hooks\ncreate\nredirect setErr %D\\err.log\nredirect setOut %D\\no\\such\\out.log\n");
    EXPECT_EQ(run.log, "create 0\nredirect ok\nredirect failed\nhost end\n");
    EXPECT_EQ(ReadFile("err.log").find("java.io.FileNotFoundException: " + dir + "\\no\\such\\out.log ("), 0u)
        << ReadFile("err.log");
}

TEST_F(DoubleRun, StringsFromUtf16AndModifiedUtf8PrintAsUtf8) {
    Script("com/acme/App", "out [{arg:0}]\n");
    // H, e with acute, and U+1F600 as a surrogate pair.
    HostRun run = RunHost(std::string(Redirected) + "main16 com/acme/App 0048 00E9 D83D DE00\nutf8 C3 A9 C0 80\n");
    EXPECT_EQ(ReadFile("out.log"), "[H\xC3\xA9\xF0\x9F\x98\x80]\r\n");
    EXPECT_NE(run.log.find("utf8 accepted\n"), std::string::npos) << run.log;
}

TEST_F(DoubleRun, InvalidModifiedUtf8IsAFatalError) {
    HostRun run = RunHost("hooks\ncreate\nutf8 63 61 66 E9\n");  // "caf" and an ANSI e-acute
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.log, "create 0\nabort-hook\n");
    EXPECT_EQ(run.vfprintf, "FATAL ERROR in native method: NewStringUTF: input is not valid modified UTF-8: 63 61 66 E9\n");
    run = RunHost("hooks\ncreate\nutf8 F0 9F 98 80\n");  // a four-byte form
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(DoubleRun, UnmodelledFunctionAbortsNamingItself) {
    HostRun run = RunHost("hooks\ncreate\nunmodelled\n");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.log, "create 0\n");
    EXPECT_NE(run.stderrText.find("unmodelled JNI function MonitorEnter called"), std::string::npos) << run.stderrText;
    EXPECT_GE(FindLine(Lines(run.trace), "double-failure unmodelled JNI function MonitorEnter"), 0);
}
