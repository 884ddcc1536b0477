// The launcher's archive reader on archives from the product's writer, then damaged: it stops at the
// damaged entry, reads nothing past the end and refuses every name that could leave its folder.
#include "archive.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// "a.jar" (time 1 2, data "abc") at offset 4, then second (time 0 0, data "de") at offset 25.
Bytes Archive(const std::string& second)
{
    Bytes out(4 + ArchiveEntrySize(5, 3) + ArchiveEntrySize(second.size(), 2));
    size_t at = WriteArchiveCount(out.data(), out.size(), 2);
    at += WriteArchiveEntry(&out[at], out.size() - at, "a.jar", 1, 2, "abc", 3);
    at += WriteArchiveEntry(&out[at], out.size() - at, second.c_str(), 0, 0, "de", 2);
    EXPECT_EQ(at, out.size()) << "not written: " << second;
    return out;
}

Bytes Damaged(Bytes archive, size_t offset, const std::string& bytes)
{
    std::copy(bytes.begin(), bytes.end(), archive.begin() + offset);
    return archive;
}

// Reads a copy exactly as long as the archive: "name timeLow timeHigh data|" per entry (each must
// lie inside the archive), then how the reading ended.
std::string ReadAll(const Bytes& archive)
{
    ArchiveReader reader;
    ArchiveEntry e;
    uint32_t count = 0;
    std::string read = OpenArchive(&reader, archive.data(), archive.size(), &count) ? "" : "closed ";
    ArchiveStatus status;
    while ((status = ReadArchiveEntry(&reader, &e)) == ARCHIVE_ENTRY) {
        EXPECT_LE(e.Data + e.Size, archive.data() + archive.size());
        read += std::string(e.Name) + " " + std::to_string(e.TimeLow) + " " + std::to_string(e.TimeHigh) + " " +
                std::string((const char*)e.Data, e.Size) + "|";
    }
    EXPECT_EQ(ReadArchiveEntry(&reader, &e), ARCHIVE_END) << "read on after a stop";
    return read + (status == ARCHIVE_END ? "end" : status == ARCHIVE_TRUNCATED ? "truncated" : "bad name");
}

} // namespace

TEST(Archive, DamageStopsTheReaderAtTheDamagedEntry)
{
    const Bytes good = Archive("b.jar"); // 45 bytes
    for (size_t size = 0; size < good.size(); size++)
        EXPECT_EQ(ReadAll(Bytes(good.begin(), good.begin() + size)),
                  size < 4 ? "closed end" : size < 25 ? "truncated" : "a.jar 1 2 abc|truncated") << size;
    struct Case { const char* What; Bytes Archive; std::string Read; };
    const Case cases[] = {
        {"intact", good, "a.jar 1 2 abc|b.jar 0 0 de|end"},
        {"no files", Bytes{0}, "closed end"},
        {"count 2^32-1", Damaged(good, 0, "\xFF\xFF\xFF\xFF"), "a.jar 1 2 abc|b.jar 0 0 de|truncated"},
        {"second size 1 past the end", Damaged(good, 25 + 6 + 8, "\3"), "a.jar 1 2 abc|truncated"},
        {"first size 2^32-1", Damaged(good, 4 + 6 + 8, "\xFF\xFF\xFF\xFF"), "truncated"},
        {"first name runs to the end", Damaged(good, 4, std::string(41, 'n')), "truncated"},
        {"first name unsafe", Damaged(good, 4, "/"), "bad name"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadAll(c.Archive), c.Read) << c.What;
}

TEST(Archive, UnsafeEntryNamesAreNeitherWrittenNorRead)
{
    const std::string unsafe[] = {
        "..", ".", "...", "a..b", "../x.jar", "..\\x.jar", "x/../../y", "lib/a.jar", "lib\\a.jar", "/x.jar",
        "/etc/passwd", "\\x.jar", "\\\\server\\share\\x.jar", "c:a.jar", "C:\\x.jar", "C:/x.jar", "a.jar:stream",
        "a*.jar", "a?.jar", "a\".jar", "a<.jar", "a>.jar", "a|.jar", "a\t.jar", "a\x1F.jar", "a.jar.", "a.jar ",
        std::string(256, 'x'), "",
    };
    unsigned char out[512];
    for (const std::string& name : unsafe)
        EXPECT_EQ(WriteArchiveEntry(out, sizeof(out), name.c_str(), 0, 0, "", 0), 0u) << name;
    for (size_t i = 0; i < std::size(unsafe) - 2; i++)
        EXPECT_EQ(ReadAll(Damaged(Archive(std::string(unsafe[i].size(), 'x')), 25, unsafe[i])),
                  "a.jar 1 2 abc|bad name") << unsafe[i];
    // Empty: the name's first byte made NUL; 256 bytes: the longest name's NUL made 'x', running
    // on into the zero time.
    EXPECT_EQ(ReadAll(Damaged(Archive("x"), 25, std::string(1, '\0'))), "a.jar 1 2 abc|bad name");
    EXPECT_EQ(ReadAll(Damaged(Archive(std::string(255, 'x')), 25 + 255, "x")), "a.jar 1 2 abc|bad name");
    for (const std::string& name : {std::string("lib-1.2.jar"), std::string(".hidden"), std::string("a b.jar"),
                                    std::string(255, 'x')})
        EXPECT_EQ(ReadAll(Archive(name)), "a.jar 1 2 abc|" + name + " 0 0 de|end");
}
