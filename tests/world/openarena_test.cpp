// The engine over the real worlds of OpenArena, read straight from the
// installed archives with their textures, when the archives are installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "base/archive_files.h"
#include "base/paths.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "engine/game_system.h"
#include "engine/world.h"
#include "world/world_cvars.h"

namespace {

namespace fs = std::filesystem;

// The worlds of the installed archives, by the names `map` takes.
std::vector<std::string> InstalledWorlds() {
    std::vector<std::string> names;
    MountDataFolders(DefaultDataFolders());
    for (const ArchiveEntry& entry : ListArchiveFolder("maps")) {
        const fs::path path(entry.path);
        if (path.extension() == ".bsp") names.push_back(path.stem().string());
    }
    UnmountDataFolders();
    std::sort(names.begin(), names.end());
    if (names.empty()) names.push_back("");  // one skipped case says why
    return names;
}

// The counts a file's lump directory gives, read independently of the loader.
struct FileCounts {
    int32_t vertices, meshVertices, faces, textures, lightmaps;
};

FileCounts ReadCounts(const std::string& path) {
    BspHeader header{};
    BspLumpEntry lumps[kLumpCount]{};
    if (std::FILE* in = OpenFile(path.c_str(), "rb")) {
        EXPECT_EQ(std::fread(&header, sizeof header, 1, in), 1u);
        EXPECT_EQ(std::fread(lumps, sizeof lumps, 1, in), 1u);
        std::fclose(in);
    }
    auto count = [&](int lump, int size) { return static_cast<int32_t>(static_cast<uint32_t>(lumps[lump].length) / size); };
    return {count(kLumpVertices, 44), count(kLumpMeshVertices, 4), count(kLumpFaces, 104),
            count(kLumpTextures, 72), count(kLumpLightmaps, 49152)};
}

// A point inside the world: the centre of the first leaf that has a cluster
// and faces.
D3DXVECTOR3 InsidePoint(const World& world) {
    for (const BspLeaf& leaf : world.Data().leaves) {
        if (leaf.cluster >= 0 && leaf.numLeafFaces > 0) {
            return D3DXVECTOR3((leaf.mins[0] + leaf.maxs[0]) * 0.5f, (leaf.mins[1] + leaf.maxs[1]) * 0.5f,
                               (leaf.mins[2] + leaf.maxs[2]) * 0.5f);
        }
    }
    return D3DXVECTOR3(0.0f, 0.0f, 0.0f);
}

class OpenArenaWorld : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam().empty()) GTEST_SKIP() << "no OpenArena worlds are installed";
        // The world and its textures come from the archives, as the engine
        // reads them.
        folder_.CopyContent({"shaders.hlsl", "materials.hlsl", "noshader.jpg"});
        MountDataFolders(DefaultDataFolders());
        window_ = std::make_unique<HeadlessWindow>();
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        manager_.Initialise();
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 800.0f, 600.0f);
    }
    void TearDown() override {
        if (GetParam().empty()) return;
        g_videoSystem.shutdown(0);
        window_.reset();
        UnmountDataFolders();
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    CResourceManager manager_;
};

}  // namespace

TEST_P(OpenArenaWorld, LoadsGathersAndTraces) {
    const std::string path = "maps/" + GetParam() + ".bsp";
    const FileCounts counts = ReadCounts(path);
    PrintCapture output;
    std::unique_ptr<Resource> resource(manager_.LoadResource(path.c_str()));
    World* world = dynamic_cast<World*>(resource.get());
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(output.Lines());

    EXPECT_TRUE(output.Contains("BSP Vertices: " + std::to_string(counts.vertices)));
    EXPECT_TRUE(output.Contains("BSP Meshes: " + std::to_string(counts.meshVertices)));
    EXPECT_TRUE(output.Contains("BSP Faces: " + std::to_string(counts.faces)));
    EXPECT_TRUE(output.Contains("BSP Textures: " + std::to_string(counts.textures)));
    EXPECT_TRUE(output.Contains("BSP Lightmaps: " + std::to_string(counts.lightmaps)));
    // Some textures have no image of their own; nothing else may fail.
    for (const std::string& line : output.Lines()) {
        if (line.find("Error") != std::string::npos || line.find("Warning") != std::string::npos) {
            ADD_FAILURE() << line;
        }
    }
    EXPECT_FALSE(output.Contains("Loaded 0 textures"));
    world->loaded = 1;

    // A frame from inside the world gathers without error.
    bsp_noclip.intValue = 1;
    g_camera.SetPosition(InsidePoint(*world));
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    output.Clear();
    EXPECT_EQ(RunWorldFrame(&*world), 1);
    EXPECT_TRUE(output.Lines().empty()) << ::testing::PrintToString(output.Lines());
    g_renderer.EmptyCaches();

    // Random traces around that point all finish with a fraction in range.
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> offset(-1024.0f, 1024.0f);
    const D3DXVECTOR3 centre = InsidePoint(*world);
    for (int i = 0; i < 3000; ++i) {
        const D3DXVECTOR3 a(centre.x + offset(random), centre.y + offset(random), centre.z + offset(random));
        const D3DXVECTOR3 b(centre.x + offset(random), centre.y + offset(random), centre.z + offset(random));
        const float fraction = world->Trace(&a, &b, 1);
        ASSERT_GE(fraction, 0.0f);
        ASSERT_LE(fraction, 1.0f);
    }
    EXPECT_TRUE(output.Lines().empty()) << ::testing::PrintToString(output.Lines());
}

INSTANTIATE_TEST_SUITE_P(Installed, OpenArenaWorld, ::testing::ValuesIn(InstalledWorlds()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.empty() ? "none" : info.param;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });
