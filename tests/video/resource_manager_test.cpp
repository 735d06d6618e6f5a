#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "video/resource_manager.h"

namespace {

class SizedResource : public Resource {
public:
    explicit SizedResource(uint64_t bytes) : bytes_(bytes) {}
    uint64_t SizeInBytes() const override { return bytes_; }

private:
    uint64_t bytes_;
};

// A format whose loader makes resources of a set size, or fails.
class TestFormat : public ResourceFormat {
public:
    TestFormat(const char* extension, uint64_t bytes) : bytes_(bytes) { SetExtension(extension); }
    Resource* Load(const char* path) override {
        if (fail) return nullptr;
        auto* resource = new SizedResource(bytes_);
        resource->SetName(path);
        return resource;
    }
    int32_t FormatWrite(void*, const void*) override { return 0; }
    bool fail = false;

private:
    uint64_t bytes_;
};

class NamelessFormat : public ResourceFormat {
public:
    Resource* Load(const char*) override { return nullptr; }
    int32_t FormatWrite(void*, const void*) override { return 0; }
};

}  // namespace

TEST(ResourceManagerTest, EmptyListingShowsHeaderLineAndZeroTotals) {
    CResourceManager manager;
    PrintCapture output;
    manager.Initialise();
    manager.ListResources();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{
                                  "-- Resource Manager Initializing",
                                  "Listing allocated resources...",
                                  "-------------------------------------",
                                  "Total Bytes Allocated: 0",
                                  "Total Resources Allocated: 0",
                                  "Average Size: 0",
                              }));
    EXPECT_EQ(manager.FormatCount(), 5u);  // bmp, tga, jpg, lmf, bsp
}

TEST(ResourceManagerTest, ExtensionsMatchExactlyAndCaseSensitively) {
    CResourceManager manager;
    TestFormat world("lmf", 10);
    manager.RegisterFormat(&world);
    PrintCapture output;
    EXPECT_EQ(manager.LoadResource("maps/arena.LMF"), nullptr);
    EXPECT_EQ(manager.LoadResource("README"), nullptr);
    EXPECT_EQ(manager.LoadResource("./maps/arena.Lmf"), nullptr);
    EXPECT_EQ(manager.LoadResource("/home/me/q3.maps/arena.LMF"), nullptr);
    EXPECT_EQ(manager.LoadResource(nullptr), nullptr);
    for (const std::string& line : output.Lines()) {
        EXPECT_EQ(line, "LoadResource: Unable to find resource -1");
    }
    EXPECT_EQ(output.Lines().size(), 5u);
}

TEST(ResourceManagerTest, FoldersWithDotsStillNameTheFormatByTheLastExtension) {
    CResourceManager manager;
    TestFormat world("lmf", 10), archive("bsp", 20);
    manager.RegisterFormat(&world);
    manager.RegisterFormat(&archive);
    PrintCapture output;
    std::unique_ptr<Resource> relative(manager.LoadResource("./maps/arena.lmf"));
    ASSERT_NE(relative, nullptr);
    EXPECT_EQ(relative->formatIndex, 0);
    std::unique_ptr<Resource> outside(manager.LoadResource("../my.worlds/q3dm17.bsp"));
    ASSERT_NE(outside, nullptr);
    EXPECT_EQ(outside->formatIndex, 1);
    EXPECT_EQ(output.Last(), "Loading resource (1), ../my.worlds/q3dm17.bsp");
    // A name whose first dot already names a format keeps that format.
    std::unique_ptr<Resource> first(manager.LoadResource("maps/x.lmf"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->formatIndex, 0);
}

TEST(ResourceManagerTest, LoadedResourcesAreListedUnderTheirFormatWithRealTotals) {
    CResourceManager manager;
    TestFormat small("aaa", 100), large("bbb", 300);
    EXPECT_EQ(manager.RegisterFormat(&small), 1u);
    EXPECT_EQ(manager.RegisterFormat(&large), 2u);
    PrintCapture output;
    Resource* first = manager.LoadResource("one.aaa");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(output.Last(), "Loading resource (0), one.aaa");
    Resource* second = manager.LoadResource("two.bbb");
    Resource* third = manager.LoadResource("three.bbb");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->formatIndex, 1);
    EXPECT_EQ(second->registered, 1);
    EXPECT_EQ(manager.List(1).size(), 2u);
    EXPECT_EQ(manager.TotalBytes(), 700);
    EXPECT_EQ(manager.TotalResources(), 3);
    EXPECT_EQ(manager.AverageSize(), 233);

    output.Clear();
    manager.ListResources();
    EXPECT_EQ(std::vector<std::string>(output.Lines().begin(), output.Lines().begin() + 4),
              (std::vector<std::string>{"Listing allocated resources...", "0    one.aaa",
                                        "1    two.bbb", "1    three.bbb"}));
    delete first;
    delete second;
    delete third;
}

TEST(ResourceManagerTest, DeletedResourcesLeaveTheListing) {
    CResourceManager manager;
    TestFormat format("aaa", 50);
    manager.RegisterFormat(&format);
    Resource* kept = manager.LoadResource("kept.aaa");
    Resource* gone = manager.LoadResource("gone.aaa");
    delete gone;
    EXPECT_EQ(manager.List(0).size(), 1u);
    EXPECT_EQ(manager.TotalResources(), 1);
    EXPECT_EQ(manager.TotalBytes(), 50);
    PrintCapture output;
    manager.ListResources();
    EXPECT_FALSE(output.Contains("0    gone.aaa"));
    EXPECT_TRUE(output.Contains("0    kept.aaa"));
    delete kept;
}

TEST(ResourceManagerTest, ListsEveryResourceNotOnlyTheFirstFew) {
    CResourceManager manager;
    TestFormat format("aaa", 1);
    manager.RegisterFormat(&format);
    std::vector<Resource*> loaded;
    for (int i = 0; i < 9; ++i) loaded.push_back(manager.LoadResource(("r" + std::to_string(i) + ".aaa").c_str()));
    PrintCapture output;
    manager.ListResources();
    EXPECT_TRUE(output.Contains("0    r8.aaa"));
    for (Resource* r : loaded) delete r;
}

TEST(ResourceManagerTest, ResourcesMayOutliveTheManager) {
    Resource* survivor = nullptr;
    {
        CResourceManager manager;
        TestFormat format("aaa", 1);
        manager.RegisterFormat(&format);
        survivor = manager.LoadResource("x.aaa");
    }
    EXPECT_EQ(survivor->registered, 0);
    delete survivor;  // must not reach the manager that is gone
}

TEST(ResourceManagerTest, FailedLoadsAndBadFormatsAreReported) {
    CResourceManager manager;
    TestFormat format("aaa", 1);
    format.fail = true;
    NamelessFormat nameless;
    PrintCapture output;
    EXPECT_EQ(manager.RegisterFormat(&nameless), 0u);
    EXPECT_EQ(output.Last(), "RegisterFormat: Invalid extension");
    manager.RegisterFormat(&format);
    EXPECT_EQ(manager.LoadResource("bad.aaa"), nullptr);
    EXPECT_EQ(output.Last(), "Unable to load NULL resource");
    // The line before it says what was asked for.
    const std::vector<std::string>& lines = output.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Could not load bad.aaa with the .aaa format");
    EXPECT_TRUE(manager.List(0).empty());
}

TEST(ResourceManagerTest, ImagesNeedTheVideoDevice) {
    ScratchFolder folder;
    folder.Write("shot.jpg", "not really a jpeg");
    CResourceManager manager;
    PrintCapture output;
    manager.Initialise();
    EXPECT_EQ(manager.LoadResource("shot.jpg"), nullptr);
    EXPECT_TRUE(output.Contains("Loading resource (2), shot.jpg"));
    EXPECT_TRUE(output.Contains("Resource Manager - failed to load texture file shot.jpg"));
    EXPECT_EQ(output.Last(), "Unable to load NULL resource");
}

TEST(ImageFormats, WritingIsNotImplemented) {
    CJPGFormat_t jpg;
    CTGAFormat_t tga;
    CBMPFormat_t bmp;
    PrintCapture output;
    EXPECT_EQ(jpg.FormatWrite(nullptr, nullptr), 0);
    EXPECT_EQ(tga.FormatWrite(nullptr, nullptr), 0);
    EXPECT_EQ(bmp.FormatWrite(nullptr, nullptr), 0);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{
                                  "Warning: CJPGFormat_t::FormatWrite is not implemented.",
                                  "Warning: CTGAFormat_t::FormatWrite is not implemented.",
                                  "Warning: CBMPFormat_t::FormatWrite is not implemented.",
                              }));
}
