#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "support/test_support.h"

TEST(PathLayer, BackslashesAreSeparators) {
    ScratchFolder folder;
    folder.Write("demos/demo001.dem", "x");
    EXPECT_EQ(ResolvePath("demos\\demo001.dem"), "demos/demo001.dem");
    EXPECT_TRUE(FileExists("demos\\demo001.dem"));
}

TEST(PathLayer, MissingExactPathFallsBackToAnyCase) {
    ScratchFolder folder;
    folder.Write("Textures/Base_Wall/Metal.TGA", "x");
    EXPECT_EQ(ResolvePath("textures\\base_wall\\metal.tga"), "Textures/Base_Wall/Metal.TGA");
    std::FILE* file = OpenFile("TEXTURES/base_wall/metal.tga", "rb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_FALSE(FileExists("textures/base_wall/other.tga"));
}

TEST(PathLayer, ExactMatchWinsOverOtherSpellings) {
    ScratchFolder folder;
    folder.Write("a/File.txt", "upper");
    folder.Write("a/file.txt", "lower");
    EXPECT_EQ(ResolvePath("a/file.txt"), "a/file.txt");
    EXPECT_EQ(ResolvePath("a/File.txt"), "a/File.txt");
}

TEST(PathLayer, NewFilesGoIntoExistingFoldersOfAnyCase) {
    ScratchFolder folder;
    folder.Write("Demos/keep", "");
    std::FILE* file = OpenFile("demos\\new.dem", "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_TRUE(folder.Exists("Demos/new.dem"));
}

TEST(PathLayer, FoldersDoNotOpenAsFiles) {
    ScratchFolder folder;
    folder.Write("maps/inner", "");
    EXPECT_EQ(OpenFile("maps", "rb"), nullptr);
    EXPECT_FALSE(FileExists("maps"));
    EXPECT_EQ(OpenFile(nullptr, "rb"), nullptr);
}

TEST(PathLayer, MakeFolderCreatesOnceAndKeepsExistingSpellings) {
    ScratchFolder folder;
    EXPECT_TRUE(MakeFolder("shots"));
    EXPECT_TRUE(MakeFolder("shots"));  // already there: still a folder
    folder.Write("shots/a.png", "x");
    EXPECT_TRUE(folder.Exists("shots/a.png"));
    // A folder of another case is the one used, as for files.
    folder.Write("Pictures/keep", "");
    EXPECT_TRUE(MakeFolder("pictures"));
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "/pictures"));
    // A file in the way, or a parent that is missing, is no folder.
    folder.Write("taken", "x");
    EXPECT_FALSE(MakeFolder("taken"));
    EXPECT_FALSE(MakeFolder("missing/inner"));
    EXPECT_FALSE(MakeFolder(""));
}
