// `kestrun build` and `kestrun show` on the prebuilt launchers of both architectures, and the Windows
// builder (under wine64): its output, and find-java's search with a launcher's own settings.
#include "pe_image.h"
#include "png.h"
#include "res_tree.h"
#include "resources.h"
#include "settings_table.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <cstdio>
#include <filesystem>
#include <fstream>

const std::string DemoConfig = "[launcher]\nJvmOptions = -Dx=" + std::string(8192, 'x') + "\n"
                               "MainClass = org.acme.Demo\nClassPath = app.jar\nStdoutMode = 2\nJvmPath = C:\\no\\jvm.dll\nJavaVersion = 0x00110000\nJavaMaxVersion = 21.0.1+12\n"
                               "StderrMode = 1\nStderrFile = err.log\n"
                               "AllowMultipleInstances = yes\nSplashText = Caf\xC3\xA9 \xE2\x82\xAC loading\n"
                               "[messages]\n1536 = Demo is already open.\nMsgLoadJvm = Cannot load %s\n"
                               "[files]\nFile = app.jar\n[version]\nProductName = Demo\nProductVersion = 1.2.3\n"
                               "[icon]\nFile = icon.png\n[splash]\nBitmap = splash.png\n";

static std::string HalfRed(uint32_t width, uint32_t height) // a PNG: opaque red left half, clear right half
{
    Picture picture{width, height, Bytes((size_t)width * height * 4, 0)};
    for (size_t i = 0; i < picture.Rgba.size(); i += 4)
        picture.Rgba[i] = picture.Rgba[i + 3] = i / 4 % width < width / 2 ? 255 : 0;
    Bytes png = EncodePng(picture);
    return std::string(png.begin(), png.end());
}

// A GIF of 4 x 3 whose interlaced 3 x 3 image at (1, 0) has rows red, green, and blue, blue, transparent.
static const std::string SmallGif("GIF89a\4\0\3\0\x81\0\0\xFF\0\0\0\xFF\0\0\0\xFF\0\0\0!\xF9\4\1\0\0\3\0,\1\0\0\0\3\0\3\0\x40"
                                  "\2\4\x84%\x13[\0;", 51);

// A JPEG of 24 x 8, YCbCr 4:2:0 in two MCUs with a restart marker between them: red left of x = 12, white right.
static const std::string SmallJpeg(
    "\377\330\377\333\000C\000\020\013\014\016\014\012\020\016\015\016\022\021\020\023\030(\032\030\026\026\0301#"
    "%\035(:3=<9387@H\134N@DWE78PmQW_bghg>Mqypdx\134egc\377\333\000C\001\021\022\022\030\025\030/\032\032/cB8Bccc"
    "ccccccccccccccccccccccccccccccccccccccccccccccc\377\300\000\021\010\000\010\000\030\003\001\042\000\002\021"
    "\001\003\021\001\377\304\000\027\000\001\000\003\000\000\000\000\000\000\000\000\000\000\000\000\000\000\005"
    "\006\007\377\304\000\030\020\001\000\003\001\000\000\000\000\000\000\000\000\000\000\000\000\000\006D\203"
    "\302\377\304\000\026\001\001\001\001\000\000\000\000\000\000\000\000\000\000\000\000\000\000\004\006\377\304"
    "\000\034\021\000\002\000\007\000\000\000\000\000\000\000\000\000\000\000\000\000\001\002\003\00524\201\261"
    "\377\335\000\004\000\001\377\332\000\014\003\001\000\002\021\003\021\000\077\000\205[`\227\263\350\020I\275"
    "\032\332\226,Z\352\077\377\320\320\000\001\377\331", 307);

// A command's exit code and its standard output and error without carriage returns: "exit CODE\nOUTPUT".
static std::string RunCommand(const std::string& command)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    for (int c; (c = fgetc(pipe)) != EOF;)
        if (c != '\r')
            out += (char)c;
    int status = pclose(pipe);
    return "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "\n" + out;
}

static std::string Q(const std::string& path) { return "'" + path + "'"; } // paths here hold no quote
// The Linux builder held to 100 MB of memory: what it cannot do within that, it must refuse.
static const std::string Kestrun = "ulimit -v 102400 && " + Q(KR_KESTRUN);
// The command line of a Windows program run under wine64 in the tests' Wine session.
static std::string UnderWine(const std::string& exe) { return Q(KR_WINE_RUN) + " " + Q(KR_WINE_DIR) + " " + Q(exe); }

// A fresh folder per test (folder_, ending in a slash) with demo.ini, its pictures and its jar (written 2023-11-14
// 22:13:20 UTC, FILETIME 0x01DA1747C66D0000). The demo's JvmOptions grow the resources past the room their section has.
struct Builder : testing::Test {
    void SetUp() override
    {
        folder_ = std::string(KR_WORK_DIR) + "/" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        Write("demo.ini", DemoConfig);
        Write("app.jar", "app jar bytes");
        Write("icon.png", HalfRed(300, 200));
        Write("splash.png", HalfRed(120, 40));
        const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (folder_ + "app.jar").c_str(), times, 0), 0);
    }
    void Write(const std::string& name, const std::string& text) { std::ofstream(folder_ + name) << text; }
    // Builds exe in the folder from config there: the builder's exit code and output.
    std::string Build(const char* launcher, const std::string& exe, const std::string& config = "demo.ini",
                      const std::string& builder = Kestrun)
    {
        return RunCommand(builder + " build " + Q(folder_ + config) + " -o " + Q(folder_ + exe) + " --launcher " +
                          Q(launcher));
    }
    std::string Wrote(const std::string& exe) { return "exit 0\nkestrun: wrote " + folder_ + exe + "\n"; }
    std::string Show(const std::string& exe) { return RunCommand(Kestrun + " show " + Q(folder_ + exe)); }
    std::string folder_;
};
struct Wine : Builder {};

// The file up to the resources without what a resource rewrite changes: SizeOfInitializedData, SizeOfImage,
// CheckSum, the resource size and relocations' address, and the sections' sizes and places from the resources on.
static Bytes UpToTheResources(const PeImage& image, size_t resource)
{
    Bytes headers(image.Data.begin(), image.Data.begin() + image.Sections[resource].RawPointer);
    for (size_t field : {image.OptionalHeader + 8, image.OptionalHeader + 56, image.OptionalHeader + 64,
                         image.DirectoryTable + 8 * DIR_RESOURCE + 4, image.DirectoryTable + 8 * DIR_BASERELOC})
        WriteU32(headers, field, 0);
    for (size_t i = resource; i < image.Sections.size(); i++)
        for (size_t field = 8; field < 24; field += 4)
            WriteU32(headers, image.Sections[i].HeaderOffset + field, 0);
    return headers;
}

static std::string U32(uint32_t v) { return {(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)}; }

// An icon file listing count images, each of size bytes at offset, followed by a 16 x 16 PNG.
static std::string Ico(uint16_t count, uint32_t size, uint32_t offset)
{
    std::string out = {0, 0, 1, 0, (char)count, (char)(count >> 8)};
    for (uint16_t i = 0; i < count; i++)
        out += std::string{16, 16, 0, 0, 1, 0, 32, 0} + U32(size) + U32(offset);
    return out + HalfRed(16, 16);
}

// The x64 launcher whose resource directory is a chain of directories of n entries, each entry pointing at the
// next directory (the last's at one data entry): with three of 1000, 10^9 resources in 24 KB.
static std::string SharedDirectories(uint32_t n, uint32_t levels)
{
    PeImage image = ParsePeImage(ReadWholeFile(KR_LAUNCHER_X64), "x64");
    const PeSection& s = image.Sections[FindSectionByRva(image, GetDataDirectory(image, DIR_RESOURCE).Rva)];
    const uint32_t size = 16 + 8 * n;
    for (uint32_t level = 0, at = s.RawPointer; level < levels; level++, at += size) {
        WriteU32(image.Data, at + 12, n << 16); // no named entries, n id entries
        for (uint32_t i = 0; i < n; i++) {
            WriteU32(image.Data, at + 16 + 8 * i, i + 1);
            WriteU32(image.Data, at + 20 + 8 * i, (level + 1 < levels ? 0x80000000u : 0) | (level + 1) * size);
        }
    }
    WriteU32(image.Data, s.RawPointer + levels * size, s.VirtualAddress); // the data: the section's first 16 bytes
    WriteU32(image.Data, s.RawPointer + levels * size + 4, 16);
    return std::string(image.Data.begin(), image.Data.end());
}

// A zip of (name, data) entries, deflated or stored.
static std::string Zip(const std::vector<std::pair<std::string, std::string>>& entries, bool deflated = false)
{
    auto u16 = [](size_t v) { return std::string{(char)v, (char)(v >> 8)}; };
    auto u32 = [&](size_t v) { return u16(v) + u16(v >> 16); };
    std::string out, directory;
    for (const auto& [name, data] : entries) {
        std::string packed = data;
        z_stream z = {};
        if (deflated && deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK) {
            packed.resize(deflateBound(&z, data.size()));
            z.next_in = (Bytef*)data.data(), z.avail_in = (uInt)data.size();
            z.next_out = (Bytef*)&packed[0], z.avail_out = (uInt)packed.size();
            deflate(&z, Z_FINISH);
            packed.resize(z.total_out);
            deflateEnd(&z);
        }
        std::string common = u16(20) + u16(0) + u16(deflated ? 8 : 0) + u32(0) +
                             u32(crc32(0, (const Bytef*)data.data(), (uInt)data.size())) + u32(packed.size()) +
                             u32(data.size()) + u16(name.size()) + u16(0);
        directory += u32(0x02014b50) + u16(20) + common + u16(0) + u16(0) + u16(0) + u32(0) + u32(out.size()) + name;
        out += u32(0x04034b50) + common + name + packed;
    }
    return out + directory + u32(0x06054b50) + u32(0) + u16(entries.size()) + u16(entries.size()) +
           u32(directory.size()) + u32(out.size()) + u16(0);
}
// A jar of the manifest and the classes the tests name (empty).
static std::string Jar(const std::string& manifest)
{
    return Zip({{"META-INF/MANIFEST.MF", manifest}, {"a/B.class", ""}, {"org/acme/App.class", ""}, {"org/acme/LongName.class", ""}});
}

TEST_F(Builder, BadConfigsGiveOneLineWithFileAndLineAndWriteNothing)
{
    const std::string needsClass = "\n[launcher]\nMainClass = a.B\n";
    const struct { std::string Config, Message, Launcher = KR_LAUNCHER_X64; } cases[] = {
        {"[launcher]\nMainClas = a.B\n", "2: unknown key 'MainClas' in [launcher]; did you mean 'MainClass'?"},
        {"[launchr]\n", "1: unknown section [launchr]; did you mean 'launcher'?"},
        {"[launcher]\nColour = red\n", "2: unknown key 'Colour' in [launcher]"},
        {"[launcher]\nApplicationId = 0123456789ABCDEF\n",
         "2: ApplicationId is computed by the build (from the files and settings); a config cannot set it"},
        {"[launcher]\n\nMainClass =\n", "3: MainClass is empty: name the class whose main(String[]) runs"},
        {"[launcher]\n", " no MainClass: name the class whose main(String[]) runs ([launcher] MainClass = org.acme.Main)"},
        {"[launcher]\nMainClass = a/b/C.class\n", "2: MainClass 'a/b/C.class' is a file name: write the class name with dots, a.b.C"},
        {"[launcher]\nMainClass = a.B\nStderrMode = 1\n", "3: StderrMode = 1 sends System.err to StderrFile, which is empty: name the file (StderrFile = out.log)"},
        {"[launcher]\nStdoutMode = two\n", "2: StdoutMode must be a whole number, not 'two'"},
        {"[launcher]\nSecondInstance = maybe\n", "2: SecondInstance must be refuse, activate or forward, not 'maybe'"},
        {"[launcher]\nMainClass = a.B\nSecondInstance = forward\n", "3: SecondInstance = forward hands a second start's arguments to SecondInstanceMethod, "
         "which is empty: name the method (org.acme.App.openFiles) or choose activate"},
        {"[launcher]\nMainClass = a.B\nSecondInstanceMethod = openFiles\n", "3: SecondInstanceMethod 'openFiles' names no class: write the class and the method with dots, such as org.acme.App.openFiles"},
        {"[launcher]\nMainClass = a.B\nStdoutKeepFiles = -3\n", "3: StdoutKeepFiles must be 0 to 100 (earlier files kept; 0 empties the file at each start), not -3"},
        {"[launcher]\nCodePage = 20127\nSplashText = caf\xC3\xA9\n",
         "3: '\xC3\xA9' in SplashText cannot be represented in code page 20127 (set CodePage in [launcher])"},
        {"[launcher]\nCodePage = 437\n",
         "2: CodePage 437 is not supported (use 874, 1250 to 1258, 932, 936, 949, 950, 28591, 20127 or 65001)"},
        {"[launcher]\nCodePage = 932\nSplashText = \xE6\x97\xA5\n", "3: '\xE6\x97\xA5' in SplashText cannot be represented in "
         "code page 932 (with a double-byte code page only messages hold characters outside ASCII)"},
        {"[messages]\nMsgLoadJvm = %s %s\n", "2: message MsgLoadJvm has more %s than the launcher passes (1)"},
        {"[launcher]\nServiceName = a\nServiceName = b\n", "3: key 'ServiceName' given twice (first at line 2)"},
        {"[launcher]\nMainClass = a.B\nServiceRestartCount = 101\n", "3: ServiceRestartCount must be 0 to 100 (restarts; 0 means none), not 101"},
        {"[launcher]\nMainClass = a.B\nServiceDelayedStart = on\n",
         "3: ServiceDelayedStart needs ServiceDemandStart = 0: only an automatic start is delayed"},
        {"[launcher]\nMainClass = a.B\nServiceAccount = bob\n", "3: ServiceAccount 'bob' is not in one of the forms empty, "
         "LocalSystem, LocalService, NetworkService, DOMAIN\\user, .\\user or user@domain; did you mean '.\\bob'?"},
        {"[launcher]\nMainClass = a.B\nServiceAccount = NetworkServce\n", "3: ServiceAccount 'NetworkServce' is not in one of the "
         "forms empty, LocalSystem, LocalService, NetworkService, DOMAIN\\user, .\\user or user@domain; did you mean 'NetworkService'?"},
        {"[launcher]\nMainClass = a.B\nServiceInteractive = 1\nServiceAccount = NetworkService\n", "3: ServiceInteractive = 1 needs "
         "the LocalSystem account: the service manager refuses an interactive service that runs as 'NetworkService' (line 4)"},
        {"[launcher]\nMainClass = a.B\nStdoutMode = 3\n", "3: StdoutMode must be 0 to 2 (0 unchanged, 1 to StdoutFile, 2 captured), not 3"},
        {"[launcher]\nMainClass = a.B\nProcessPriority = 9\n", "3: ProcessPriority must be 0 to 5 (0 realtime, 1 high, 2 above "
         "normal, 3 normal, 4 below normal, 5 idle), not 9"},
        {"[launcher]\nMainClass = a.B\nServiceName = a/b\n", "3: ServiceName 'a/b' is not a service name: 1 to 256 characters, "
         "none of them '/' or '\\'"},
        {"[launcher]\nMainClass = a.B\nServiceDependencies = Tcpip;;Dnscache\n", "3: ServiceDependencies entry '' is not a service name: 1 to 256 "
         "characters, none of them '/' or '\\'"},
        {"[launcher]\nMainClass = a.B\nJreSearchOrder = XYZ\n", "3: JreSearchOrder 'XYZ' has 'X', which is not a search method: "
         "give each of 0, 1, 2, 3, 4, B, E, J and V at most once, in the order to try"},
        {"[launcher]\nMainClass = a.B\nJreSearchOrder = EJE\n", "3: JreSearchOrder 'EJE' gives 'E' twice: give each of 0, 1, 2, 3, 4, B, "
         "E, J and V at most once, in the order to try"},
        {"[launcher]\nMainClass = a.B\nJreSearchOrder = b0e\n", "3: JreSearchOrder 'b0e' has 'b', which is not a search method: "
         "give each of 0, 1, 2, 3, 4, B, E, J and V at most once, in the order to try; did you mean 'B0E'?"},
        {"[launcher]\nMainClass = a.B\nInstallSwitch =\n", "3: InstallSwitch '' is not a switch: one word without blanks or quotes, "
         "not -quiet (such as -install)"},
        {"[launcher]\nMainClass = a.B\nServiceSwitch = -run service\n", "3: ServiceSwitch '-run service' is not a switch: one word without "
         "blanks or quotes, not -quiet (such as -install)"},
        {"[launcher]\nMainClass = a.B\nUninstallSwitch = -install\n", "3: UninstallSwitch '-install' is also the InstallSwitch: "
         "each service switch must be its own"},
        {"[launcher]\nMainClass = a.B\nJavaVersion = 17x\n", "3: JavaVersion must be a Java version such as 17, 1.8, 11.0.2 or "
         "21.0.1+12, or 0x and a hexadecimal word, not '17x'"},
        {"[launcher]\nMainClass = a.B\nJavaMaxVersion = 00110000\n", "3: JavaMaxVersion must be a Java version such as 17, 1.8, "
         "11.0.2 or 21.0.1+12, or 0x and a hexadecimal word, not '00110000'; did you mean '0x00110000'?"},
        {"[launcher]\nMainClass = a.B\nJavaVersion = 17\nJavaMaxVersion = 11.0.2\n", "4: JavaMaxVersion 11.0.2 is older than "
         "JavaVersion 17: no runtime can be within both"},
        {"[launcher]\nMainClass = a.B\nJvmPath = C:\\" + std::string(260, 'j') + "\n", "3: JvmPath entry 'C:\\" + std::string(260, 'j') +
         "' is 260 characters or longer, more than a Windows path the launcher tries"},
        {"[files]\nFile = app.jar\n[launcher]\nMainClass = org.acme.Ap\n", "4: MainClass 'org.acme.Ap' not found in app.jar; "
         "nearest names: org.acme.App"},
        {"MainClass = a.B\n", "1: a key before the first [section]"},
        {"[files]\nFile = missing.jar\n[launcher]\nMainClass = a.B\n", "2: file not found: " + folder_ + "missing.jar"},
        {"[launcher]\nMainClass = a.B\nConsole = maybe\n", "3: Console must be no, yes or attach, not 'maybe'"},
        {"[icon]\nFile = huge.png\n[launcher]\nMainClass = a.B\n",
         "2: " + folder_ + "huge.png: the PNG picture's size, 100000 x 16, is over the limit of 8192 pixels a side and 8388608 pixels"},
        {"[splash]\nBitmap = cut.png\n[launcher]\nMainClass = a.B\n", "2: " + folder_ + "cut.png: damaged PNG picture (outofdata)"},
        {"[icon]\nFile = tiny.png\n[launcher]\nMainClass = a.B\n",
         "2: " + folder_ + "tiny.png: the PNG picture is smaller than 16 x 16 pixels, the smallest icon"},
        {"[icon]\nFile = app.jar\n[launcher]\nMainClass = a.B\n", "2: " + folder_ + "app.jar: neither an icon (.ico) nor a PNG file"},
        {"[splash]\nBitmap = app.jar\n[launcher]\nMainClass = a.B\n", "2: " + folder_ + "app.jar: neither a BMP, a PNG, a GIF nor a JPEG file"},
        {"[splash]\nBitmap = cut.jpg\n[launcher]\nMainClass = a.B\n", "2: " + folder_ + "cut.jpg: damaged JPEG picture (the scan data ends inside a block)"},
        {"[splash]\nBitmap = prog.jpg\n[launcher]\nMainClass = a.B\n", "2: " + folder_ + "prog.jpg: a progressive JPEG picture, "
         "which the splash cannot show; save it as a baseline JPEG, PNG or GIF"},
        {"[splash]\nBitmap = bad.gif\n[launcher]\nMainClass = a.B\n", "2: " + folder_ + "bad.gif: damaged GIF picture (LZW code 7 out of range)"},
        {"[icon]\nFile = overlap.ico" + needsClass, "2: " + folder_ + "overlap.ico: two icon images overlap, or an image "
                                                     "overlaps the icon directory"},
        {"[icon]\nFile = many.ico" + needsClass, "2: " + folder_ + "many.ico: the icon file lists 257 images, more than 256"},
        {"[icon]\nFile = outside.ico" + needsClass, "2: " + folder_ + "outside.ico: an icon image lies outside the file"},
        {"[files]\nFile = aux.jar" + needsClass, "2: " + folder_ + "aux.jar: the file name is a Windows device name (CON, "
                                                "PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, CONIN$, CONOUT$)"},
        {"[files]\nFile = 4g.bin" + needsClass,
         "2: " + folder_ + "4g.bin: the embedded files come to more than the 4294967295 bytes a resource can hold"},
        {"[icon]\nFile = 4g.bin" + needsClass,
         "2: " + folder_ + "4g.bin: the file is larger than the 4294967295 bytes a Windows executable's 32-bit sizes can hold"},
        {"[launcher]\nMainClass = a.B\n", "nested.exe: malformed resource directory: a language level that is not a list "
                                           "of ids and data", folder_ + "nested.exe"},
        {"[launcher]\nMainClass = a.B\n", "shared.exe: malformed resource directory: the directory at offset 16032 is "
                                           "used twice", folder_ + "shared.exe"},
    };
    std::string huge = HalfRed(16, 16);
    huge.replace(16, 4, std::string("\0\1\x86\xA0", 4)); // the header's width: 100000
    Write("huge.png", huge);
    Write("cut.png", HalfRed(16, 16).substr(0, 60));
    Write("tiny.png", HalfRed(8, 15));
    Write("bad.gif", SmallGif.substr(0, 45) + "\xBC" + SmallGif.substr(46)); // the code after the clear code is 7, not a colour
    Write("cut.jpg", SmallJpeg.substr(0, 303) + SmallJpeg.substr(305)); // the second MCU's data ends at the end marker
    Write("prog.jpg", SmallJpeg.substr(0, 141) + "\xC2" + SmallJpeg.substr(142)); // the frame marker of a progressive picture
    Write("overlap.ico", Ico(2, 100, 38));
    Write("many.ico", Ico(257, 8, 6 + 16 * 257));
    Write("outside.ico", Ico(1, 1 << 20, 22));
    Write("aux.jar", "x");
    Write("shared.exe", SharedDirectories(1000, 3));
    Write("nested.exe", SharedDirectories(1, 4));
    Write("4g.bin", "");
    Write("app.jar", Jar("Main-Class: org.acme.App\n"));
    std::filesystem::resize_file(folder_ + "4g.bin", 1ull << 32); // sparse: takes no room on the disk
    Write("bad.ini", "");
    const auto files = std::distance(std::filesystem::directory_iterator(folder_), {});
    for (const auto& c : cases) {
        Write("bad.ini", c.Config);
        EXPECT_EQ(Build(c.Launcher.c_str(), "out.exe", "bad.ini"), "exit 1\nkestrun: " + folder_ +
                  (c.Launcher == KR_LAUNCHER_X64 ? "bad.ini:" : "") + c.Message + "\n");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), files) << "written for " << c.Message;
    }
    std::string shown = Show("shared.exe"); // its header line, then the same refusal
    EXPECT_EQ(shown.substr(0, 7) + shown.substr(shown.find("\nkestrun: ") + 1),
              "exit 1\nkestrun: " + folder_ + cases[std::size(cases) - 1].Message + "\n");
}

TEST_F(Builder, OnlyTheResourcesAndTheMovedRelocationsChange)
{
    for (const char* launcher : {KR_LAUNCHER_X64, KR_LAUNCHER_X86}) {
        ASSERT_EQ(Build(launcher, "out.exe"), Wrote("out.exe"));
        PeImage before = ParsePeImage(ReadWholeFile(launcher), launcher);
        PeImage after = ParsePeImage(ReadWholeFile(folder_ + "out.exe"), "out.exe");
        int resource = FindSectionByRva(before, GetDataDirectory(before, DIR_RESOURCE).Rva);
        ASSERT_EQ(after.Sections.size(), before.Sections.size());
        ASSERT_EQ(resource + 2, (int)before.Sections.size()) << "the relocations follow the resources";
        EXPECT_EQ(UpToTheResources(before, resource), UpToTheResources(after, resource)) << launcher;
        auto relocations = [](const PeImage& image) {
            return Bytes(image.Data.begin() + image.Sections.back().RawPointer, image.Data.end()); };
        EXPECT_EQ(relocations(before), relocations(after)) << launcher << ": moved, not changed";
        EXPECT_NE(after.Sections.back().VirtualAddress, before.Sections.back().VirtualAddress) << "not moved";
        EXPECT_EQ(GetDataDirectory(after, DIR_BASERELOC).Rva, after.Sections.back().VirtualAddress);
    }
}

TEST_F(Builder, ShowGivesBackTheConfigAndMarksTheDefaults)
{
    const std::pair<std::string, const char*> arches[] = {{"x64", KR_LAUNCHER_X64}, {"x86", KR_LAUNCHER_X86}};
    for (const auto& [arch, launcher] : arches) {
        ASSERT_EQ(Build(launcher, "out.exe"), Wrote("out.exe"));
        std::string shown = Show("out.exe");
        EXPECT_EQ(shown.find("exit 0\n; " + folder_ + "out.exe: " + arch + " launcher, "), 0u) << shown;
        for (const char* line : {"MainClass = org.acme.Demo", "ClassPath = app.jar", "StdoutMode = 2",
                                 "AllowMultipleInstances = 1", "SplashText = Caf\xC3\xA9 \xE2\x82\xAC loading",
                                 "MsgAlreadyRunning = Demo is already open.", "MsgLoadJvm = Cannot load %s",
                                 "; default: ServiceName = ", "; default: StdoutFile = ", "; default: ProcessPriority = 3",
                                 "; default: JreSearchOrder = B0EJV", "JavaVersion = 17", "JavaMaxVersion = 21.0.1+12",
                                 "; default: MsgNoJre = This application needs %s, and none was found on this computer. "
                                 "Install it, or set JAVA_HOME to the folder of a Java runtime.",
                                 "; default: SplashUntilWindow = 1", "JvmPath = C:\\no\\jvm.dll",
                                 "; app.jar  13 bytes  2023-11-14 22:13:20.0000000 UTC", "ProductVersion = 1.2.3",
                                 "; bitmap 8000: 120 x 40, 24 bits per pixel", "ProductName = Demo",
                                 "; icon group 1: 4 images (16x16, 32x32, 48x48, 256x256)",
                                 ";   ServiceStopArgs is empty: a stop calls System.exit, as with ServiceStopByExit = 1",
                                 "; default: LaunchLog = ",
                                 ";   System.err goes to err.log: earlier files kept as err.log.1 to err.log.5, rolls at 10485760 bytes"})
            EXPECT_NE(shown.find("\n" + std::string(line) + "\n"), std::string::npos) << arch << ": " << line;
    }
}

TEST_F(Builder, PngAndGifSplashesArePutOnWhiteAndPngIconKeepsItsShapeAt256AsPng)
{
    ASSERT_EQ(Build(KR_LAUNCHER_X64, "out.exe"), Wrote("out.exe"));
    ResourceTree tree = ReadResourceTree(ParsePeImage(ReadWholeFile(folder_ + "out.exe"), "out.exe"));
    const Bytes* splash = FindResource(tree, RES_BITMAP, ResId::FromId(8000));
    ASSERT_TRUE(splash && splash->size() == 40 + 120 * 40 * 3);
    const uint8_t* row = splash->data() + 40; // the bottom row: red, then clear put onto white
    EXPECT_EQ(Bytes({row[0], row[1], row[2], row[357], row[358], row[359]}), Bytes({0, 0, 255, 255, 255, 255}));
    Bytes gif = MakeBitmapResource(Bytes(SmallGif.begin(), SmallGif.end()), "s.gif"); // bottom row, then white and green
    EXPECT_EQ(Bytes(gif.begin() + 40, gif.begin() + 58), Bytes({255, 255, 255, 255, 0, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255, 0, 255, 0}));
    Bytes jpeg = MakeBitmapResource(Bytes(SmallJpeg.begin(), SmallJpeg.end()), "s.jpg"); // bottom row: red at x = 1, white at 20
    ASSERT_EQ(jpeg.size(), 40u + 72 * 8);
    for (size_t i = 0; i < 6; i++) // lossy: within a few levels of blue, green, red 0, 0, 255 and of white
        EXPECT_NEAR(jpeg[i < 3 ? 43 + i : 97 + i], i < 2 ? 0 : 255, 12) << i;
    std::vector<uint16_t> ids = IconGroupIds(*FindResource(tree, RES_GROUP_ICON, ResId::FromId(1)));
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(FindResource(tree, RES_ICON, ResId::FromId(ids[0]))->size(), 40u + 16 * 16 * 4 + 16 * 4);
    Picture large = DecodePng(*FindResource(tree, RES_ICON, ResId::FromId(ids[3])), "256");
    ASSERT_EQ(large.Rgba.size(), 256u * 256 * 4);
    EXPECT_EQ(large.Rgba[3], 0) << "300 x 200 becomes 256 x 170 between clear bands";
    EXPECT_EQ(Bytes(large.Rgba.begin() + 128 * 1024, large.Rgba.begin() + 128 * 1024 + 4), Bytes({255, 0, 0, 255}));
}

// Samples of each colour type, bit depth and interlacing, 20 x 6: left and right half in one colour each.
TEST(Png, EveryColourTypeBitDepthAndInterlacingIsRead)
{
    const struct { const char* File; Bytes Left, Right; } cases[] = {
        {"palette.png", {255, 0, 0, 255}, {0, 0, 255, 255}}, {"interlaced.png", {255, 0, 0, 255}, {0, 0, 255, 255}},
        {"rgb16.png", {255, 0, 0, 255}, {0, 0, 255, 255}}, {"alpha.png", {0, 0, 0, 0}, {0, 0, 255, 255}},
        {"grey.png", {0, 0, 0, 255}, {255, 255, 255, 255}}, {"grey16.png", {0, 0, 0, 255}, {255, 255, 255, 255}},
    };
    for (const auto& c : cases) {
        Picture p = DecodePng(ReadWholeFile(std::string(KR_PNG_SAMPLES) + c.File), c.File);
        ASSERT_EQ(p.Width * p.Height * 4, 480u) << c.File;
        EXPECT_EQ(Bytes(p.Rgba.begin() + 400, p.Rgba.begin() + 404), c.Left) << c.File;
        EXPECT_EQ(Bytes(p.Rgba.end() - 4, p.Rgba.end()), c.Right) << c.File;
    }
}

TEST_F(Builder, EmbeddedFileNamesAreWrittenInTheConfigsCodePage)
{
    const struct { const char *CodePage, *Name; std::string Bytes; } cases[] = {
        {"1251", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.jar", "\xCF\xF0\xE8\xE2\xE5\xF2.jar"},
        {"1252", "Caf\xC3\xA9\xE2\x82\xAC.jar", "Caf\xE9\x80.jar"}, {"28591", "Caf\xC3\xA9.jar", "Caf\xE9.jar"},
        {"65001", "\xE6\x97\xA5.jar", "\xE6\x97\xA5.jar"},
    };
    for (const auto& c : cases) {
        Write("cp.ini", std::string("[launcher]\nMainClass = a.B\nCodePage = ") + c.CodePage + "\n[files]\nFile = " + c.Name + "\n");
        Write(c.Name, "x");
        ASSERT_EQ(Build(KR_LAUNCHER_X64, "out.exe", "cp.ini"), Wrote("out.exe"));
        Bytes built = ReadWholeFile(folder_ + "out.exe"); // holds the archive: count 1, then the name
        EXPECT_NE(std::string(built.begin(), built.end()).find(std::string("\1\0\0\0", 4) + c.Bytes + '\0'),
                  std::string::npos) << c.CodePage;
    }
}

TEST_F(Wine, WindowsBuilderWritesTheSameBytesAsTheLinuxBuilder)
{
    // Building again gives the same bytes too: nothing of the time or the machine goes into a launcher.
    for (const char* exe : {"linux.exe", "again.exe"})
        ASSERT_EQ(Build(KR_LAUNCHER_X64, exe), Wrote(exe));
    ASSERT_EQ(Build(KR_LAUNCHER_X64, "windows.exe", "demo.ini", UnderWine(KR_WINDOWS_BUILDER)), Wrote("windows.exe"));
    for (const char* exe : {"again.exe", "windows.exe"})
        EXPECT_EQ(ReadWholeFile(folder_ + exe), ReadWholeFile(folder_ + "linux.exe")) << exe;
}

TEST_F(Wine, FindJavaReadsTheRegistryViewOfTheLaunchersArchitecture)
{
    // Written in the 32-bit view only, where the x86 launcher reads it.
    RunCommand(UnderWine("reg") + " add " + Q("HKLM\\Software\\JavaSoft\\Java Runtime Environment\\1.8") +
               " /v RuntimeLib /d 'C:\\j8\\jvm.dll' /reg:32 /f");
    Write("find.ini", "[launcher]\nMainClass = a.B\nJreSearchOrder = 1\n");
    const std::string exe = "\xD0\x9F\xD1\x80\xD0\xBE \xE6\x97\xA5 \xF0\x9F\x8C\x90.exe"; // outside the ANSI code page
    ASSERT_EQ(Build(KR_LAUNCHER_X86, exe, "find.ini"), Wrote(exe));
    std::string found = RunCommand(UnderWine(KR_WINDOWS_BUILDER) + " find-java " + Q(folder_ + exe));
    EXPECT_NE(found.find("\\" + exe + " (x86 launcher)"), std::string::npos) << found;
    EXPECT_NE(found.find("32-bit registry view, as this launcher does\n"), std::string::npos) << found;
    EXPECT_NE(found.find("\n[1] Software\\JavaSoft\\Java Runtime Environment\\1.8\n      version 1.8\n      jvm.dll "
                         "C:\\j8\\jvm.dll\n"), std::string::npos) << found;
    EXPECT_NE(found.find("\nnot found: This application needs Java 1.4 or later, and none"), std::string::npos) << found;
}


TEST_F(Builder, JarManifestsAreReadByTheJarRulesOrRefusedInOneLine)
{
    const struct { bool Builds; std::string Jar, Expected; } cases[] = {
        {false, "not a zip", "app.jar: not a jar: the file is not a zip archive\n"},
        {false, Zip({{"a.txt", "x"}}), "app.jar: the jar's manifest names no Main-Class: name the class whose "
                                       "main(String[]) runs with --main-class (--main-class org.acme.Main)\n"},
        {false, Zip({{"META-INF/MANIFEST.MF", "Main-Class: a.B\n" + std::string(3 << 20, 'x')}}, true),
         "app.jar: the manifest inflates to more than 1048576 bytes\n"},
        {false, Jar("Main-Class: org.acme Main\n"), "app.jar: Main-Class 'org.acme Main' holds a blank, which no class"},
        {false, Jar("Main-Class: a/B.class\n"), "app.jar: Main-Class 'a/B.class' is a file name: write the class name with dots, a.B\n"},
        {false, Jar("Main-Class: a.B\nClass-Path: http://x/y.jar\n"), "app.jar: Class-Path entry 'http://x/y.jar' is a URL;"},
        {false, Jar("Main-Class: caf\xC3\xA9.\xCE\xA9\n"), "'\xCE\xA9' in MainClass cannot be represented in code page 1252"},
        {true, Jar("\xEF\xBB\xBFManifest-Version: 1.0\r\nMain-Class: org.acme.Lo\r\n ngName\r\nClass-Path: lib/a.jar my%20lib/b"
                   ".jar\r\n  /C:/abs/c.jar\r\n\r\nName: x\r\nMain-Class: not.This\r\n"),
         "\nMainClass = org.acme.LongName\n;"},
        {false, Jar("Main-Class: a.B\nClass-Path: a.jar%0AJvmOptions%20=%20-javaagent:evil.jar\n"), "app.jar: Class-Path entry "
         "'a.jar%0AJvmOptions%20=%20-javaagent:evil.jar' holds the control character 0x0A, which no launcher setting can\n"},
        {false, Jar("Main-Class: a.B\nClass-Path: b.jar%0d\n"), "app.jar: Class-Path entry 'b.jar%0d' holds the control character 0x0D"},
        {false, Jar("Main-Class: a.B\nImplementation-Title: A\x1B[2JB\n"), "app.jar: Implementation-Title holds the control character 0x1B"},
        {true, Jar("Main-Class: org.acme.App\nClass-Path: lib/a.jar my%20lib/b.jar\n  /C:/abs/c.jar\n"),
         "\nClassPath = lib\\a.jar;my lib\\b.jar;C:\\abs\\c.jar\n"},
        {true, Jar("Main-Class: a.B\rImplementation-Title: Caf\xC3\xA9\rImplementation-Version: 2.1-beta\r"),
         "\n; default: SplashText = Caf\xC3\xA9\n"},
        {true, Jar("Main-Class: a.B\rImplementation-Title: Caf\xC3\xA9\rImplementation-Version: 2.1-beta\r"),
         "\nProductName = Caf\xC3\xA9\nProductVersion = 2.1\nFileVersion = 2.1\n"},
        {true, Jar("Main-Class: a.B\nAdd-Opens: java.base/java.lang  java.base/java.util\nAdd-Exports: java.desktop/sun.awt\n"),
         "\nModuleOptions = --add-opens=java.base/java.lang=ALL-UNNAMED --add-opens=java.base/java.util=ALL-UNNAMED "
         "--add-exports=java.desktop/sun.awt=ALL-UNNAMED\n"},
        {false, Jar("Main-Class: a.B\nAdd-Opens: java.base\n"), "app.jar: Add-Opens entry 'java.base' is not module/package (java.base/java.lang)\n"},
        {true, Jar("Main-Class: a.B\nEnable-Native-Access: ALL-UNNAMED\n"), "\nJavaVersion = 17\n; default: JvmPath = \n"
         "JvmOptions = --enable-native-access=ALL-UNNAMED\n"},
        {false, Jar("Main-Class: a.B\nLauncher-Agent-Class: a.Agent\n"), "app.jar: Launcher-Agent-Class 'a.Agent': the launcher starts "
         "no agent from the application's jar; give the agent a jar of its own with Premain-Class and name it in JvmOptions"},
        {true, Zip({{"META-INF/MANIFEST.MF", "Main-Class: a.B\nSplashScreen-Image: s.gif\n"}, {"a/B.class", ""}, {"s.gif", SmallGif}}),
         "\n; bitmap 8000: 4 x 3, 24 bits per pixel\n"},
        {true, Zip({{"META-INF/MANIFEST.MF", "Main-Class: a.B\nSplashScreen-Image: s.jpg\n"}, {"a/B.class", ""}, {"s.jpg", SmallJpeg}}),
         "\n; bitmap 8000: 24 x 8, 24 bits per pixel\n"},
        {true, Zip({{"META-INF/MANIFEST.MF", "Main-Class: a.B\nSplashScreen-Image: img/s.png\n"}, {"a/B.class", ""},
                    {"img/s.png", HalfRed(16, 16)}}, true), "\n; bitmap 8000: 16 x 16, 24 bits per pixel\n"},
    };
    for (const auto& c : cases) {
        Write("app.jar", c.Jar);
        std::string built = Build(KR_LAUNCHER_X64, "out.exe", "app.jar");
        EXPECT_EQ(built.rfind(c.Builds ? "exit 0\n" : "exit 1\nkestrun: " + folder_, 0), 0u) << built;
        std::string shown = c.Builds ? Show("out.exe") : "";
        EXPECT_NE((built + shown).find(c.Expected), std::string::npos) << built << shown;
        EXPECT_EQ(std::filesystem::remove(folder_ + "out.exe"), c.Builds) << c.Expected;
    }
}

// Each mistake is one line, exit code 2, and leaves every file as it was; the rows after them write, a config's
// launcher beside it.
TEST_F(Builder, CommandLineMistakesWriteNothing)
{
    Write("hello.jar", Jar("Main-Class: a.B\n"));
    Write("bare.jar", Zip({{"a.txt", "x"}, {"a/B.class", ""}}));
    Write("tool.ini", "[launcher]\nMainClass = org.acme.Tool\nConsole = Yes\n");
    const std::string launcher = " --launcher " + Q(KR_LAUNCHER_X64), mistake = "exit 2\nkestrun: ";
    const std::string usage = " (kestrun --help shows the usage)\n", force = "; give --force to replace it" + usage;
    const std::pair<std::string, std::string> rows[] = {
        {"build hello.jar -o a.exe -o b.exe", mistake + "-o is given twice" + usage},
        {"build hello.jar -o hello.jar", mistake + "the output hello.jar is the input hello.jar: name another with -o" + usage},
        {"build demo.ini -o icon.png" + launcher, mistake + "the output icon.png is the input icon.png: name another with -o"},
        {"build hello.jar -o demo.ini" + launcher, mistake + "demo.ini exists and is not a launcher kestrun wrote" + force},
        {"init hello.jar -o demo.ini", mistake + "demo.ini exists" + force},
        {"init demo.ini", mistake + "init reads a jar, not 'demo.ini'" + usage},
        {"--help", "exit 0\nusage: kestrun build CONFIG [-o OUT.exe]"},
        {"show " + Q(KR_JVM_DOUBLE_X64), "exit 1\nkestrun: " KR_JVM_DOUBLE_X64 ": not a Kestrun launcher: no launcher settings\n"},
        {"--version && ldd " + Q(KR_KESTRUN), "exit 1\nkestrun 0.1.0\n\tnot a dynamic executable\n"},  // static
        {"build hello.jar" + launcher, "exit 0\nkestrun: wrote hello.exe\n"},
        {"build hello.jar" + launcher, "exit 0\nkestrun: wrote hello.exe\n"},  // a launcher it wrote is replaced
        {"build bare.jar --main-class a.B -o demo.ini --force" + launcher, "exit 0\nkestrun: wrote demo.ini\n"},
        // A console program (x64: E2E, read by the system) gets the console subsystem and the console defaults.
        {"build tool.ini --launcher " + Q(KR_LAUNCHER_X86) + " && " + Q(KR_KESTRUN) + " show tool.exe | sed 's/[0-9]* bytes/N/' "
         "| grep -E 'subsystem|Console =|default: (UseStartDirectory|AllowMultipleInstances|SplashUntilWindow) ='",
         "exit 0\nkestrun: wrote tool.exe\n; tool.exe: x86 launcher, N, console subsystem\n; default: UseStartDirectory = 1\n"
         "; default: AllowMultipleInstances = 1\n; default: SplashUntilWindow = 0\nConsole = yes\n"},
        {"init bare.jar --main-class a.B --console && grep -E '^(MainClass|Console|StdoutMode|AllowMultipleInstances) =' "
         "bare.ini", "exit 0\nkestrun: wrote bare.ini\nMainClass = a.B\nAllowMultipleInstances = 1\nStdoutMode = 0\n"
         "Console = yes\n"},
    };
    auto files = [&] { return RunCommand("cd " + Q(folder_) + " && ls && cat * | cksum"); };  // names and bytes
    for (const auto& [command, output] : rows) {
        auto before = files();
        std::string got = RunCommand("cd " + Q(folder_) + " && " + Q(KR_KESTRUN) + " " + command);
        EXPECT_EQ(got.rfind(output, 0), 0u) << command << "\n" << got;
        EXPECT_TRUE(output.rfind(mistake, 0) != 0 || files() == before) << command;
    }
}

TEST_F(Builder, InitWritesEveryKeyAndTheConfigThatTheJarFormBuildsFrom)
{
    Write("app.jar", Jar("Main-Class: org.acme.App\nImplementation-Title: App\n"));
    std::filesystem::create_directories(folder_ + "cfg");
    ASSERT_EQ(RunCommand(Q(KR_KESTRUN) + " init " + Q(folder_ + "app.jar") + " -o " + Q(folder_ + "cfg/app.ini")),
              "exit 0\nkestrun: wrote " + folder_ + "cfg/app.ini\n");
    Bytes bytes = ReadWholeFile(folder_ + "cfg/app.ini");
    std::string config(bytes.begin(), bytes.end());
    for (int i = 0; i < SettingCount; i++) // all but the identity, which the build computes
        EXPECT_EQ(config.find(std::string(SettingTable[i].Field) + " = ") != std::string::npos,
                  SettingTable[i].Kind != SETTING_BUILT) << SettingTable[i].Field;
    EXPECT_NE(config.find("\nFile = ../app.jar\n"), std::string::npos) << config;
    EXPECT_NE(config.find("\nSecondInstance = activate\n"), std::string::npos) << config;
    ASSERT_EQ(Build(KR_LAUNCHER_X64, "jar.exe", "app.jar"), Wrote("jar.exe"));
    ASSERT_EQ(Build(KR_LAUNCHER_X64, "init.exe", "cfg/app.ini"), Wrote("init.exe"));
    EXPECT_EQ(ReadWholeFile(folder_ + "jar.exe"), ReadWholeFile(folder_ + "init.exe"));
}

// Made with `jar cfe0`, built with nothing else, signed with a certificate of its own: the signature verifies,
// and the signed launcher, started from another folder, runs the jar's main class with the runtime JAVA_HOME
// names (the jvm.dll double reads the stored jar's text as its script).
TEST_F(Wine, JarBuiltLauncherRunsWithJavaHomeAndStillRunsWhenSigned)
{
    Write("main.script", "\n== app/Main\nexit 7\n");
    std::filesystem::create_directories(folder_ + "rt/bin/server");
    std::filesystem::create_directories(folder_ + "elsewhere");
    std::filesystem::copy_file(KR_JVM_DOUBLE_X64, folder_ + "rt/bin/server/jvm.dll");
    Write("rt/release", "JAVA_VERSION=\"17.0.9\"\n");
    std::filesystem::create_directories(folder_ + "app");
    Write("app/Main.class", "");  // the main class the builder looks for in the jar
    ASSERT_EQ(RunCommand("cd " + Q(folder_) + " && jar cfe0 app.jar app.Main main.script app/Main.class"), "exit 0\n");
    ASSERT_EQ(Build(KR_LAUNCHER_X64, "app.exe", "app.jar"), Wrote("app.exe"));
    std::string shown = Show("app.exe"); // the jar form's settings (its main class and jar: the run below)
    EXPECT_NE(shown.find("\nStdoutMode = 2\n"), std::string::npos) << shown;
    std::string sign = "cd " + Q(folder_) + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                       "-days 2 -subj /CN=Kestrun-Test >/dev/null 2>&1 && osslsigncode sign -certs cert.pem -key key.pem "
                       "-in app.exe -out signed.exe >/dev/null && osslsigncode verify -CAfile cert.pem signed.exe";
    std::string verified = RunCommand(sign);
    EXPECT_EQ(verified.rfind("exit 0\n", 0), 0u) << verified;
    EXPECT_NE(verified.find("Signature verification: ok"), std::string::npos) << verified;
    std::string windows = "Z:" + folder_;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    std::string run = RunCommand("cd " + Q(folder_ + "elsewhere") + " && JAVA_HOME=" + Q(windows + "rt") +
                                 " KESTRUN_JVM_TRACE=" + Q(windows + "trace.txt") + " " + UnderWine(folder_ + "signed.exe") +
                                 " one 'two words'");
    EXPECT_EQ(run, "exit 7\n");
    Bytes trace = ReadWholeFile(folder_ + "trace.txt");
    EXPECT_NE(std::string(trace.begin(), trace.end()).find("[main] main app/Main [one][two words]"), std::string::npos);
    EXPECT_EQ(Build((folder_ + "signed.exe").c_str(), "again.exe", "app.jar"),
              "exit 1\nkestrun: " + folder_ + "signed.exe: the executable is signed; sign the built launcher instead\n");
}
