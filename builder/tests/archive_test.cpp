// The launcher's archive reader on archives from the product's writer, then damaged: it stops at the
// damaged entry, reads nothing past the end and refuses every name that could leave its folder.
#include "archive.h"
#include "bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

// "a.jar" (time 1 2, data "abc") at offset 4, then second (time 0 0, data "de") at offset 25.
static Bytes Archive(const std::string& second)
{
    Bytes out(4 + ArchiveEntrySize(5, 3) + ArchiveEntrySize(second.size(), 2));
    size_t at = WriteArchiveCount(out.data(), out.size(), 2);
    at += WriteArchiveEntry(&out[at], out.size() - at, "a.jar", 1, 2, "abc", 3);
    WriteArchiveEntry(&out[at], out.size() - at, second.c_str(), 0, 0, "de", 2);
    return out;
}

static Bytes Damaged(Bytes archive, size_t offset, const std::string& bytes)
{
    std::copy(bytes.begin(), bytes.end(), archive.begin() + offset);
    return archive;
}

// Reads the archive, whose vector is exactly as long: "name timeLow timeHigh data|" per entry (each
// must lie inside the archive), then how the reading ended.
static std::string ReadAll(const Bytes& archive)
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

TEST(Archive, DamageStopsTheReaderAtTheDamagedEntry)
{
    const Bytes good = Archive("b.jar"); // 45 bytes
    EXPECT_EQ(ReadAll(good), "a.jar 1 2 abc|b.jar 0 0 de|end");
    for (size_t size = 0; size < good.size(); size++)
        EXPECT_EQ(ReadAll(Bytes(good.begin(), good.begin() + size)),
                  size < 4 ? "closed end" : size < 25 ? "truncated" : "a.jar 1 2 abc|truncated") << size;
    EXPECT_EQ(ReadAll(Damaged(good, 0, "\xFF\xFF\xFF\xFF")), "a.jar 1 2 abc|b.jar 0 0 de|truncated") << "count 2^32-1";
    EXPECT_EQ(ReadAll(Damaged(good, 4 + 6 + 8, "\xFF\xFF\xFF\xFF")), "truncated") << "first size 2^32-1";
}

TEST(Archive, UnsafeEntryNamesAreNeitherWrittenNorRead)
{
    const std::string unsafe[] = {
        "../x.jar", "a..b", ".", "lib/a.jar", "lib\\a.jar", "c:a.jar", "a*.jar", "a?.jar", "a\".jar", "a<.jar",
        "a>.jar", "a|.jar", "a\x1F.jar", "a.jar ", std::string(256, 'x'), "",
        "..", "..\\evil.txt", "\\evil.txt", "C:evil.txt", "C:\\evil.txt", "NUL", "con", "aux.jar", "Com1.tar.gz",
        "lpt9", "PRN .txt", "CONIN$", "conout$.log",
    };
    unsigned char out[512];
    for (const std::string& name : unsafe) {
        EXPECT_EQ(WriteArchiveEntry(out, sizeof(out), name.c_str(), 0, 0, "", 0), 0u) << name;
        // The name and its NUL over a second name of 1 to 255 bytes (256 bytes run on into the zero time).
        Bytes archive = Archive(std::string(std::clamp<size_t>(name.size(), 1, 255), 'x'));
        EXPECT_EQ(ReadAll(Damaged(archive, 25, name + '\0')), "a.jar 1 2 abc|bad name") << name;
    }
    for (const std::string& name : {std::string("lib-1.2.jar"), std::string(".hidden"), std::string("a b.jar"),
                                    std::string(255, 'x'), std::string("console.jar"), std::string("com10.jar")})
        EXPECT_EQ(ReadAll(Archive(name)), "a.jar 1 2 abc|" + name + " 0 0 de|end");
}
