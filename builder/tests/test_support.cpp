#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string TestProgram(const std::string& name)
{
    return std::string(KR_TEST_BINARY_DIR) + "/" + name + ".exe";
}

std::string PrebuiltLauncher(const std::string& arch)
{
    const char* folder = getenv("KESTRUN_LAUNCHER_DIR");
    return std::string(folder ? folder : KR_TEST_DIST_DIR) + "/kestrun-" + arch + ".exe";
}

std::string ScratchFolder()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    fs::path folder = fs::path(KR_TEST_BINARY_DIR) / "work" /
                      (std::string(test->test_suite_name()) + "." + test->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder.string();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

bool Exists(const std::string& path)
{
    return fs::exists(path);
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

CommandResult RunCommand(const std::string& command, int timeoutSeconds)
{
    std::string errFile = (fs::temp_directory_path() / ("kr-test-err-" + std::to_string(getpid()))).string();
    std::string full = "timeout -k 5 " + std::to_string(timeoutSeconds) + " sh -c " + Quote(command) +
                       " 2>" + Quote(errFile);
    CommandResult result{-1, "", ""};
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.Out.append(buffer, n);
    int status = pclose(pipe);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    std::stringstream text;
    text << err.rdbuf();
    result.Err = text.str();
    fs::remove(errFile);
    return result;
}

static const char WineLoader[] = "/usr/lib/wine/wine64";
static const char WineServer[] = "/usr/lib/wine/wineserver";

bool WineAvailable()
{
    return fs::exists(WineLoader) && fs::exists(WineServer);
}

// The first process of a session hands its standard error to Wine's system processes, so it is
// run with its output sent to a file; later processes can then be captured normally.
void StartWineSession()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    setenv("WINEPREFIX", KR_TEST_WINEPREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    fs::create_directories(KR_TEST_WINEPREFIX);
    std::string log = std::string(KR_TEST_WINEPREFIX) + "/session.err";
    std::string bootstrap = "timeout -k 5 180 " + std::string(WineServer) + " -p60; timeout -k 5 180 " +
                            WineLoader + " cmd /c echo >/dev/null 2>" + Quote(log);
    if (system(bootstrap.c_str()) != 0)
        ADD_FAILURE() << "the Wine session did not start (see " << log << ")";
}

CommandResult RunWine(const std::string& program, const std::string& arguments, int timeoutSeconds)
{
    StartWineSession();
    CommandResult result = RunCommand(std::string(WineLoader) + " " + Quote(program) + " " + arguments,
                                      timeoutSeconds);
    result.Out.erase(std::remove(result.Out.begin(), result.Out.end(), '\r'), result.Out.end());
    return result;
}

static Bytes DibHeader(int width, int height, int bits, uint32_t imageSize)
{
    Bytes h;
    for (uint32_t v : {40u, (uint32_t)width, (uint32_t)height})
        AppendU32(h, v);
    AppendU16(h, 1);
    AppendU16(h, (uint16_t)bits);
    for (uint32_t v : {0u, imageSize, 2835u, 2835u, 0u, 0u})
        AppendU32(h, v);
    return h;
}

static Bytes Pixels(int width, int height, int bits)
{
    size_t stride = ((size_t)width * bits + 31) / 32 * 4;
    Bytes pixels(stride * height);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = (uint8_t)(i * 7);
    return pixels;
}

Bytes MakeBmp(int width, int height, int bits)
{
    Bytes pixels = Pixels(width, height, bits);
    Bytes out{'B', 'M'};
    AppendU32(out, (uint32_t)(54 + pixels.size()));
    AppendU32(out, 0);
    AppendU32(out, 54);
    Bytes header = DibHeader(width, height, bits, (uint32_t)pixels.size());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

Bytes MakeIco(const std::vector<int>& sizes)
{
    std::vector<Bytes> images;
    for (int size : sizes) {
        Bytes image = DibHeader(size, 2 * size, 32, 0); // colour rows, then the mask rows
        Bytes colour = Pixels(size, size, 32), mask = Pixels(size, size, 1);
        image.insert(image.end(), colour.begin(), colour.end());
        image.insert(image.end(), mask.begin(), mask.end());
        images.push_back(image);
    }
    Bytes out;
    AppendU16(out, 0);
    AppendU16(out, 1);
    AppendU16(out, (uint16_t)sizes.size());
    uint32_t offset = 6 + 16 * (uint32_t)sizes.size();
    for (size_t i = 0; i < sizes.size(); i++) {
        out.insert(out.end(), {(uint8_t)sizes[i], (uint8_t)sizes[i], 0, 0});
        AppendU16(out, 1);
        AppendU16(out, 32);
        AppendU32(out, (uint32_t)images[i].size());
        AppendU32(out, offset);
        offset += (uint32_t)images[i].size();
    }
    for (const Bytes& image : images)
        out.insert(out.end(), image.begin(), image.end());
    return out;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes)
        out += digits[b >> 4], out += digits[b & 15];
    return out;
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
    return lines;
}
