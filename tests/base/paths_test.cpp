#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "base/paths.h"
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

TEST(PathLayer, PipesAndDevicesAreRefusedAtOnceForReadingAndWriting) {
    ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder.Path() + "/fifo.cfg").c_str(), 0600), 0);
    // Opening a pipe that nobody writes would wait for ever: run it aside,
    // and free it by writing if it does wait.
    for (const char* mode : {"rb", "wb", "r+b"}) {
        SCOPED_TRACE(mode);
        auto opened = std::async(std::launch::async, [mode] { return OpenFile("FIFO.cfg", mode); });
        if (opened.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            const int unblock = ::open((folder.Path() + "/fifo.cfg").c_str(), O_RDWR | O_NONBLOCK);
            std::FILE* file = opened.get();
            if (file != nullptr) std::fclose(file);
            if (unblock >= 0) ::close(unblock);
            FAIL() << "opening a pipe waited";
        }
        std::FILE* file = opened.get();
        EXPECT_EQ(file, nullptr);
        if (file != nullptr) std::fclose(file);
    }
    EXPECT_FALSE(FileExists("fifo.cfg"));
    // A device, by its absolute name.
    EXPECT_EQ(OpenFile("/dev/null", "rb"), nullptr);
    EXPECT_EQ(OpenFile("/dev/zero", "wb"), nullptr);
    // Regular files still open both ways.
    folder.Write("plain.cfg", "bind x y");
    std::FILE* file = OpenFile("plain.cfg", "rb");
    ASSERT_NE(file, nullptr);
    char text[16] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 8u);
    std::fclose(file);
    file = OpenFile("plain.cfg", "ab");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
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
