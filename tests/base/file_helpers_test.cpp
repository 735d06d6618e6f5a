#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/file_helpers.h"
#include "support/test_support.h"

TEST(MemoryFileRead, ClampsAtTheEndOfTheContents) {
    ScratchFolder folder;
    folder.Write("ten.bin", "0123456789");
    MemoryFile file;
    ASSERT_EQ(file.LoadFromFile("ten.bin"), 10u);
    EXPECT_EQ(file.Name(), "ten.bin");

    char out[16] = {};
    file.Seek(file.Size() - 4);
    EXPECT_EQ(file.Read(out, 10), 4u);
    EXPECT_STREQ(out, "6789");
    EXPECT_EQ(file.Position(), file.Size());
    EXPECT_EQ(file.Read(out, 10), 0u);

    file.Seek(100);  // seeking is unchecked; reads past the end copy nothing
    EXPECT_EQ(file.Read(out, 1), 0u);
    EXPECT_EQ(file.Read(nullptr, 4), 0u);
    file.Seek(0);
    EXPECT_EQ(file.Read(out, 0), 0u);
    EXPECT_EQ(file.Position(), 0u);
}

TEST(MemoryFileLoad, TextIsTerminatedAndEmptyFileGivesZero) {
    ScratchFolder folder;
    folder.Write("text.cfg", "abc");
    folder.Write("empty.cfg", "");
    MemoryFile file;
    ASSERT_EQ(file.LoadFromFile("text.cfg"), 3u);
    EXPECT_STREQ(reinterpret_cast<const char*>(file.Data()), "abc");

    EXPECT_EQ(file.LoadFromFile("empty.cfg"), 0u);
    ASSERT_NE(file.Data(), nullptr);
    EXPECT_EQ(file.Data()[0], 0);
}

TEST(MemoryFileLoad, MissingFileAndFoldersAreReported) {
    ScratchFolder folder;
    folder.Write("sub/x", "");
    PrintCapture output;
    MemoryFile file;
    EXPECT_EQ(file.LoadFromFile("missing.dem"), 0u);
    EXPECT_EQ(file.LoadFromFile("sub"), 0u);
    EXPECT_EQ(file.LoadFromFile(nullptr), 0u);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Couldn't open file missing.dem",
                                                        "Couldn't open file sub"}));
    EXPECT_EQ(file.Size(), 0u);
}

TEST(MemoryFileSave, BuildsInMemoryAndWritesInOneCall) {
    ScratchFolder folder;
    MemoryFile file;
    EXPECT_EQ(file.Allocate(0), 0u);
    ASSERT_EQ(file.Allocate(6), 6u);
    EXPECT_EQ(file.Write("abcd", 4), 4u);
    EXPECT_EQ(file.Write("efgh", 4), 2u);  // clamped at the allocated size
    EXPECT_EQ(file.SaveToFile("out.dem"), 6u);
    EXPECT_EQ(file.Position(), 0u);
    EXPECT_EQ(folder.Read("out.dem"), "abcdef");
    EXPECT_EQ(FileSize("out.dem"), 6u);

    PrintCapture output;
    EXPECT_EQ(file.SaveToFile("no/folder/out.dem"), 0u);
    EXPECT_EQ(output.Last(), "Couldn't open file no/folder/out.dem");
    EXPECT_EQ(file.SaveToFile(nullptr), 0u);
}

TEST(MemoryFileReset, EmptiesEverything) {
    MemoryFile file;
    file.Allocate(8);
    file.Seek(3);
    file.Reset();
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_EQ(file.Position(), 0u);
    EXPECT_EQ(file.Data(), nullptr);
    EXPECT_EQ(file.Name(), "");
    char c;
    EXPECT_EQ(file.Read(&c, 1), 0u);
}

TEST(FileSizeTest, MissingFilesAndFoldersHaveSizeZero) {
    ScratchFolder folder;
    folder.Write("maps/x.lmf", "IBSP");
    EXPECT_EQ(FileSize("maps/x.lmf"), 4u);
    EXPECT_EQ(FileSize("maps"), 0u);
    EXPECT_EQ(FileSize("nothing"), 0u);
    EXPECT_EQ(FileSize(nullptr), 0u);
}

TEST(FileExtensionTest, EverythingAfterTheFirstDot) {
    EXPECT_EQ(FileExtension("shot.jpg"), "jpg");
    EXPECT_EQ(FileExtension("maps/tower.lmf"), "lmf");
    EXPECT_EQ(FileExtension("textures/a.tga"), "tga");
    EXPECT_EQ(FileExtension("a.b.c"), "b.c");
    EXPECT_EQ(FileExtension("a.tar.gz"), "NOP");
    EXPECT_EQ(FileExtension("./maps/tower.lmf"), "NOP");
    EXPECT_EQ(FileExtension("name."), "");
    EXPECT_EQ(FileExtension("README"), "");
    EXPECT_EQ(FileExtension(nullptr), "");
}
