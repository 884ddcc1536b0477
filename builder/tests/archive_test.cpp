// The embedded-file archive: what the builder writes the launcher's reader reads back, and the
// reader never reads past the archive's end, whatever the bytes.
#include "archive.h"
#include "resources.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Bytes TwoFileArchive()
{
    return MakeArchive({{"a.jar", 0x01D9123456789ABCull, Bytes{1, 2, 3}},
                        {"b.jar", 0x0000000100000002ull, Bytes{}}});
}

} // namespace

TEST(Archive, NoFilesIsTheSingleZeroByte)
{
    Bytes archive = MakeArchive({});
    ASSERT_EQ(archive, Bytes{0});
    ArchiveReader reader;
    uint32_t count = 7;
    EXPECT_FALSE(OpenArchive(&reader, archive.data(), archive.size(), &count));
    EXPECT_EQ(count, 0u);
}

TEST(Archive, EntriesReadBackWithNamesTimesAndData)
{
    Bytes archive = TwoFileArchive();
    ASSERT_EQ(archive.size(), 4 + (6 + 12 + 3) + (6 + 12 + 0));
    ArchiveReader reader;
    uint32_t count = 0;
    ASSERT_TRUE(OpenArchive(&reader, archive.data(), archive.size(), &count));
    ASSERT_EQ(count, 2u);
    ArchiveEntry e;
    ASSERT_TRUE(NextArchiveEntry(&reader, &e));
    EXPECT_STREQ(e.Name, "a.jar");
    EXPECT_EQ(e.TimeLow, 0x56789ABCu);
    EXPECT_EQ(e.TimeHigh, 0x01D91234u);
    ASSERT_EQ(e.Size, 3u);
    EXPECT_EQ(Bytes(e.Data, e.Data + 3), (Bytes{1, 2, 3}));
    ASSERT_TRUE(NextArchiveEntry(&reader, &e));
    EXPECT_STREQ(e.Name, "b.jar");
    EXPECT_EQ(e.Size, 0u);
    EXPECT_EQ(e.TimeLow, 2u);
    EXPECT_FALSE(NextArchiveEntry(&reader, &e));
}

TEST(Archive, EveryTruncationStopsTheReaderInsideTheData)
{
    Bytes full = TwoFileArchive();
    for (size_t size = 0; size < full.size(); size++) {
        Bytes cut(full.begin(), full.begin() + size); // a copy exactly as long as the resource
        ArchiveReader reader;
        uint32_t count = 0;
        if (!OpenArchive(&reader, cut.data(), cut.size(), &count))
            continue;
        ArchiveEntry e;
        int read = 0;
        while (NextArchiveEntry(&reader, &e)) {
            EXPECT_LE(e.Data + e.Size, cut.data() + cut.size()) << "cut at " << size;
            read++;
        }
        EXPECT_LT(read, 2) << "cut at " << size;
    }
}

TEST(Archive, AnnouncedSizeLargerThanTheDataIsRejected)
{
    Bytes archive = TwoFileArchive();
    archive[4 + 6 + 8] = 0xFF; // a.jar's size low byte: 255 bytes that are not there
    ArchiveReader reader;
    uint32_t count = 0;
    ASSERT_TRUE(OpenArchive(&reader, archive.data(), archive.size(), &count));
    ArchiveEntry e;
    EXPECT_FALSE(NextArchiveEntry(&reader, &e));
}

TEST(Archive, NamesWithFolderPartsAreNeitherWrittenNorRead)
{
    unsigned char out[64];
    for (const char* name : {"../x.jar", "lib/a.jar", "c:a.jar", "lib\\a.jar", "", ".."})
        EXPECT_EQ(WriteArchiveEntry(out, sizeof(out), name, 0, 0, "", 0), 0u) << name;
    Bytes archive = MakeArchive({{"a.jar", 0, Bytes{}}});
    archive[4 + 1] = '/';
    ArchiveReader reader;
    uint32_t count = 0;
    ArchiveEntry e;
    ASSERT_TRUE(OpenArchive(&reader, archive.data(), archive.size(), &count));
    EXPECT_FALSE(NextArchiveEntry(&reader, &e));
    EXPECT_EQ(WriteArchiveEntry(out, 10, "a.jar", 0, 0, "xyz", 3), 0u); // does not fit
}

TEST(Archive, EntryNamesThatCouldLeaveTheFolderAreRefused)
{
    struct Case {
        std::string Name;
        bool Valid;
    };
    const Case cases[] = {
        {"a.jar", true}, {"lib-1.2.jar", true}, {"a b.jar", true}, {".hidden", true}, {"x.y.z", true},
        {std::string(255, 'n'), true}, {std::string(256, 'n'), false}, {"", false}, {".", false},
        {"..", false}, {"...", false}, {"a..jar", false}, {"..\\x.jar", false}, {"../x.jar", false},
        {"lib/a.jar", false}, {"lib\\a.jar", false}, {"c:a.jar", false}, {"a.jar:stream", false},
        {"a*.jar", false}, {"a?.jar", false}, {"a\".jar", false}, {"a<.jar", false}, {"a>.jar", false},
        {"a|.jar", false}, {"a\t.jar", false}, {"a.jar.", false}, {"a.jar ", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsArchiveEntryName(c.Name.c_str(), c.Name.size()), c.Valid) << "\"" << c.Name << "\"";
}

TEST(Archive, ReadingTellsTheEndFromADamagedEntry)
{
    Bytes good = TwoFileArchive();
    Bytes badName = good;
    badName[4 + 1] = '\\'; // a.jar -> a\jar
    Bytes overCount = good;
    overCount[0] = 3; // three announced, two present
    Bytes overSize = good;
    overSize[4 + 6 + 8] = 3 + 18 + 1; // a.jar's data would end one byte past the archive
    Bytes cutName = good;
    cutName.resize(4 + 21 + 3); // b.jar's name without its NUL
    Bytes cutFields = good;
    cutFields.resize(4 + 21 + 6 + 11); // b.jar's size field one byte short
    struct Case {
        const char* What;
        Bytes Archive;
        int EntriesRead;
        ArchiveStatus Last;
    };
    const Case cases[] = {
        {"intact", good, 2, ARCHIVE_END},       {"bad name", badName, 0, ARCHIVE_BAD_NAME},
        {"count", overCount, 2, ARCHIVE_TRUNCATED}, {"size", overSize, 0, ARCHIVE_TRUNCATED},
        {"name", cutName, 1, ARCHIVE_TRUNCATED}, {"fields", cutFields, 1, ARCHIVE_TRUNCATED},
    };
    for (const Case& c : cases) {
        ArchiveReader reader;
        uint32_t count = 0;
        ASSERT_TRUE(OpenArchive(&reader, c.Archive.data(), c.Archive.size(), &count)) << c.What;
        ArchiveEntry e;
        int read = 0;
        ArchiveStatus status;
        while ((status = ReadArchiveEntry(&reader, &e)) == ARCHIVE_ENTRY)
            read++;
        EXPECT_EQ(read, c.EntriesRead) << c.What;
        EXPECT_EQ(status, c.Last) << c.What;
        EXPECT_EQ(ReadArchiveEntry(&reader, &e), ARCHIVE_END) << c.What << ": nothing after a stop";
    }
}
