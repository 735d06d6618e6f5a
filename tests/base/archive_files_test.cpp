// Reading through the archives: what the content folder lacks comes from the
// .pk3 files of the data folders, in their override order, with the engine's
// path rules, and hostile archives are refused without harm.
#include <gtest/gtest.h>
#include <strings.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/archive_files.h"
#include "base/file_helpers.h"
#include "base/paths.h"
#include "console/config_script.h"
#include "support/test_support.h"
#include "support/zip_writer.h"

namespace {

std::string ReadAll(const char* path) {
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) return "<missing>";
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    std::fclose(file);
    return text;
}

// A scratch content folder with data folders beside it; everything mounted
// is unmounted again when the test ends.
class Archives : public ::testing::Test {
protected:
    void TearDown() override { UnmountDataFolders(); }

    std::string Data(const std::string& folder) const { return folder_.Path() + "/data/" + folder; }
    void WriteArchive(const std::string& folder, const std::string& name, const ZipWriter& zip) const {
        ASSERT_TRUE(zip.WriteTo(Data(folder) + "/" + name));
    }
    int Mount(const std::vector<std::string>& folders) {
        std::vector<std::string> paths;
        for (const std::string& folder : folders) paths.push_back(Data(folder));
        return MountDataFolders(paths);
    }

    ScratchFolder folder_;
};

}  // namespace

TEST_F(Archives, TheContentFolderComesFirstThenLaterArchivesOverrideEarlierOnes) {
    ZipWriter early, late, other;
    early.Add("scripts/a.cfg", "from pak0");
    early.Add("textures/base/wall.tga", "wall from pak0");
    early.Add("only/early.txt", "early");
    late.Add("scripts/a.cfg", "from pak1");
    other.Add("scripts/a.cfg", "from the second folder");
    other.Add("only/second.txt", "second");
    WriteArchive("base", "pak0.pk3", early);
    WriteArchive("base", "pak1.pk3", late);
    WriteArchive("second", "zz.pk3", other);
    folder_.Write("textures/base/wall.tga", "wall on disk");

    PrintCapture output;
    EXPECT_EQ(Mount({"base", "second"}), 3);
    EXPECT_TRUE(output.Lines().empty());
    EXPECT_EQ(ReadAll("scripts/a.cfg"), "from pak1");            // later name wins in a folder
    EXPECT_EQ(ReadAll("textures/base/wall.tga"), "wall on disk");  // the content folder wins
    EXPECT_EQ(ReadAll("only/early.txt"), "early");
    EXPECT_EQ(ReadAll("only/second.txt"), "second");
    EXPECT_EQ(ArchiveSourceOf("scripts/a.cfg"), Data("base") + "/pak1.pk3");
    EXPECT_EQ(MountedSources(), (std::vector<std::string>{Data("base") + "/pak1.pk3", Data("base") + "/pak0.pk3",
                                                          Data("second") + "/zz.pk3"}));

    // The first folder is searched first.
    UnmountDataFolders();
    Mount({"second", "base"});
    EXPECT_EQ(ReadAll("scripts/a.cfg"), "from the second folder");

    output.Clear();
    ReportDataFolders();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Archives: 1 from " + Data("second"),
                                                         "Archives: 2 from " + Data("base")}));
}

TEST_F(Archives, BackslashesAndAnyCaseFindEntries) {
    ZipWriter zip;
    zip.Add("Textures/Base_Wall/Metal.TGA", "metal");
    zip.Add("demos/DEMO001.dem", "demo");
    WriteArchive("base", "pak0.pk3", zip);
    Mount({"base"});
    EXPECT_EQ(ReadAll("textures\\base_wall\\metal.tga"), "metal");
    EXPECT_EQ(ReadAll("./TEXTURES//base_wall/metal.tga"), "metal");
    EXPECT_TRUE(FileExists("demos\\demo001.dem"));
    EXPECT_FALSE(FileExists("demos\\demo002.dem"));
    EXPECT_FALSE(FileExists("textures"));  // folders are not files
    EXPECT_EQ(ReadAll("textures"), "<missing>");
}

TEST_F(Archives, EveryReaderOfTheEngineReadsArchiveEntries) {
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 1000);
    ZipWriter zip;
    zip.Add("demos/demo009.dem", big);
    zip.Add("stored.bin", "0123456789", false);
    zip.Add("autoexec2.cfg", "set_from_archive 1\n");
    WriteArchive("base", "pak0.pk3", zip);
    Mount({"base"});

    MemoryFile file;
    ASSERT_EQ(file.LoadFromFile("demos\\demo009.dem"), big.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.Data()), file.Size()), big);
    EXPECT_EQ(FileSize("demos/demo009.dem"), big.size());
    EXPECT_EQ(FileSize("stored.bin"), 10u);

    // Seeking inside an entry, as the world loader does.
    std::FILE* stream = OpenFile("stored.bin", "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(StreamLength(stream), 10u);
    ASSERT_EQ(std::fseek(stream, 6, SEEK_SET), 0);
    char text[5] = {};
    EXPECT_EQ(std::fread(text, 1, 4, stream), 4u);
    EXPECT_STREQ(text, "6789");
    ASSERT_EQ(std::fseek(stream, -3, SEEK_END), 0);
    EXPECT_EQ(std::fgetc(stream), '7');
    std::fclose(stream);

    PrintCapture output;
    LoadConfigFile("autoexec2.cfg");
    EXPECT_TRUE(output.Contains("set_from_archive 1: Unknown command.")) << ::testing::PrintToString(output.Lines());
}

TEST_F(Archives, WritingGoesToTheContentFolderOnly) {
    ZipWriter zip;
    zip.Add("config.cfg", "archived");
    WriteArchive("base", "pak0.pk3", zip);
    Mount({"base"});
    std::FILE* file = OpenFile("config.cfg", "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("written", file);
    std::fclose(file);
    EXPECT_EQ(folder_.Read("config.cfg"), "written");
    EXPECT_EQ(ReadAll("config.cfg"), "written");
    EXPECT_EQ(OpenFile("config.cfg", "r+b") != nullptr, true);  // the disk copy, for update
    EXPECT_EQ(OpenFile("missing.cfg", "r+b"), nullptr);          // never an archive entry
}

TEST_F(Archives, DamagedArchivesAreSkippedWithOneLineEach) {
    ZipWriter good;
    good.Add("good.txt", "good");
    WriteArchive("base", "pak0.pk3", good);
    folder_.Write(Data("base") + "/pak1.pk3", "this is not a zip file at all");
    const std::vector<uint8_t> bytes = good.Bytes();
    folder_.Write(Data("base") + "/pak2.pk3", std::string(bytes.begin(), bytes.begin() + bytes.size() / 2));
    folder_.Write(Data("base") + "/pak3.pk3", "");

    PrintCapture output;
    EXPECT_EQ(Mount({"base"}), 1);
    ASSERT_EQ(output.Lines().size(), 3u) << ::testing::PrintToString(output.Lines());
    EXPECT_EQ(output.Lines()[0].rfind("Warning: skipping archive " + Data("base") + "/pak3.pk3: ", 0), 0u);
    EXPECT_EQ(output.Lines()[1].rfind("Warning: skipping archive " + Data("base") + "/pak2.pk3: ", 0), 0u);
    EXPECT_EQ(output.Lines()[2].rfind("Warning: skipping archive " + Data("base") + "/pak1.pk3: ", 0), 0u);
    EXPECT_EQ(ReadAll("good.txt"), "good");
}

TEST_F(Archives, HostileEntriesNeitherEscapeNorExhaustMemory) {
    ZipWriter zip;
    zip.Add("../escape.cfg", "climbed out");
    zip.Add("maps/../../x.cfg", "climbed out too");
    // Declares 3 GB after inflating: refused before anything is read.
    zip.AddWithDeclaredSize("huge.bin", "tiny", 3000000000u);
    // 64 MB of zeros deflate to a few tens of KB; the entry says so honestly
    // but still stays inside the limit, and reads in bounded time.
    zip.Add("zeros.bin", std::string(64u << 20, '\0'));
    // Declares less than its data inflates to: reading stops at the
    // declared size.
    zip.AddWithDeclaredSize("short.bin", std::string(100000, 'z'), 10);
    WriteArchive("base", "pak0.pk3", zip);
    folder_.Write("inside/keep", "");
    Mount({"base"});

    PrintCapture output;
    EXPECT_EQ(ReadAll("../escape.cfg"), "<missing>");
    EXPECT_EQ(ReadAll("inside/../escape.cfg"), "<missing>");
    EXPECT_EQ(ReadAll("/escape.cfg"), "<missing>");
    EXPECT_FALSE(FileExists("../x.cfg"));

    EXPECT_EQ(OpenFile("huge.bin", "rb"), nullptr);
    ASSERT_EQ(output.Lines().size(), 1u);
    EXPECT_NE(output.Last().find("huge.bin"), std::string::npos);
    EXPECT_NE(output.Last().find("3000000000 bytes"), std::string::npos);
    MemoryFile file;
    EXPECT_EQ(file.LoadFromFile("huge.bin"), 0u);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(file.LoadFromFile("zeros.bin"), 64u << 20);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_LE(ReadAll("short.bin").size(), 10u);
}

TEST_F(Archives, FoldersListEachNameOnceAsTheSearchOrderResolvesIt) {
    ZipWriter early, late;
    early.Add("maps/one.bsp", "1");
    early.Add("maps/two.bsp", "2 early");
    early.Add("maps/sub/deeper.bsp", "not directly inside");
    late.Add("maps/two.bsp", "2 late");
    late.Add("Maps/Three.BSP", "3");
    late.Add("textures/x.tga", "x");
    WriteArchive("base", "pak0.pk3", early);
    WriteArchive("base", "pak1.pk3", late);
    Mount({"base"});
    const std::vector<ArchiveEntry> entries = ListArchiveFolder("maps");
    std::vector<std::string> listed;
    for (const ArchiveEntry& entry : entries) listed.push_back(entry.path + " " + entry.source);
    EXPECT_EQ(listed, (std::vector<std::string>{"Maps/Three.BSP " + Data("base") + "/pak1.pk3",
                                                "maps/one.bsp " + Data("base") + "/pak0.pk3",
                                                "maps/two.bsp " + Data("base") + "/pak1.pk3"}));
    EXPECT_TRUE(ListArchiveFolder("nothing").empty());
}

TEST_F(Archives, AnEntryEndingBeforeItsDeclaredSizeReadsAsAnError) {
    ZipWriter zip;
    zip.AddWithDeclaredSize("cut.cfg", "only this", 5000);
    zip.Add("whole.cfg", "all of it");
    WriteArchive("base", "pak0.pk3", zip);
    Mount({"base"});
    for (const char* name : {"cut.cfg", "whole.cfg"}) {
        std::FILE* stream = OpenArchiveFile(name);
        ASSERT_NE(stream, nullptr) << name;
        char buffer[8192];
        size_t total = 0, got;
        while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) total += got;
        const bool failed = std::ferror(stream) != 0;
        std::fclose(stream);
        if (std::string(name) == "cut.cfg") {
            EXPECT_TRUE(failed);
            EXPECT_LE(total, 9u);
        } else {
            EXPECT_FALSE(failed);
            EXPECT_EQ(total, 9u);
        }
    }
}

TEST_F(Archives, SubfoldersAndTheTopFolderCanBeWalked) {
    ZipWriter early, late;
    early.Add("top.txt", "t");
    early.Add("maps/one.bsp", "1");
    early.Add("maps/sub/deeper.bsp", "d");
    late.Add("MAPS/Other/x.bsp", "x");
    late.Add("textures/y.tga", "y");
    WriteArchive("base", "pak0.pk3", early);
    WriteArchive("base", "pak1.pk3", late);
    Mount({"base"});
    const std::vector<std::string> top = ListArchiveSubfolders("");
    // "maps" and "MAPS" are one folder.
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(::strcasecmp(top[0].c_str(), "maps"), 0);
    EXPECT_EQ(top[1], "textures");
    const std::vector<std::string> inMaps = ListArchiveSubfolders("maps");
    EXPECT_EQ(inMaps.size(), 2u);
    const std::vector<ArchiveEntry> topFiles = ListArchiveFolder("");
    ASSERT_EQ(topFiles.size(), 1u);
    EXPECT_EQ(topFiles[0].path, "top.txt");
    // Names outside the sources stay unnamed.
    EXPECT_TRUE(ListArchiveSubfolders("..").empty());
    EXPECT_TRUE(ListArchiveFolder("../maps").empty());
    EXPECT_TRUE(ListArchiveSubfolders("maps/one.bsp").empty());
}

TEST_F(Archives, NothingMountedReadsTheContentFolderAlone) {
    folder_.Write("a.txt", "disk");
    EXPECT_EQ(ReadAll("a.txt"), "disk");
    EXPECT_EQ(ReadAll("b.txt"), "<missing>");
    EXPECT_TRUE(ListArchiveFolder("maps").empty());
    EXPECT_TRUE(MountedSources().empty());
    EXPECT_EQ(Mount({"no such folder"}), 0);
    EXPECT_EQ(ReadAll("b.txt"), "<missing>");
}
