// Spawn points from the world's entity text, which comes from the file and
// may be damaged.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "world/entities.h"

namespace {

struct Read {
    bool ok;
    std::vector<SpawnPoint> spawns;
    std::string problem;
};

Read ReadText(const std::string& text) {
    // Exactly as long as the text, without a terminating zero after it.
    std::vector<char> bytes(text.begin(), text.end());
    Read result;
    result.ok = ReadSpawnPoints(bytes.data(), bytes.size(), &result.spawns, &result.problem);
    return result;
}

std::vector<std::string> Classes(const std::vector<SpawnPoint>& spawns) {
    std::vector<std::string> names;
    for (const SpawnPoint& spawn : spawns) names.push_back(spawn.classname);
    return names;
}

}  // namespace

TEST(SpawnPoints, StartsAreReadWithOriginInTheEnginesSpaceAndTheirAngle) {
    const Read read = ReadText(
        "{\n\"classname\" \"worldspawn\"\n\"message\" \"A {braced} // title\"\n}\n"
        "{\n\"origin\" \"100 -200 24\"\n\"classname\" \"info_player_deathmatch\"\n\"angle\" \"90\"\n}\n"
        "{\n\"classname\" \"team_CTF_redspawn\"\n\"origin\" \"1 2 3\"\n}\n"
        "{\n\"classname\" \"light\"\n\"origin\" \"5 5 5\"\n}\n"
        "{\n\"classname\" \"INFO_PLAYER_START\"\n\"origin\" \"-8 16 40\"\n\"angles\" \"0 270 0\"\n}\n"
        "// a comment between entities\n"
        "{ classname team_CTF_blueplayer origin \"7 8 9\" angle -45 }\n");
    ASSERT_TRUE(read.ok) << read.problem;
    // Free-for-all and single-player starts first, then team starts, each in
    // file order; other entities are not spawn points.
    EXPECT_EQ(Classes(read.spawns), (std::vector<std::string>{"info_player_deathmatch", "INFO_PLAYER_START",
                                                              "team_CTF_redspawn", "team_CTF_blueplayer"}));
    const SpawnPoint& first = read.spawns[0];
    EXPECT_FLOAT_EQ(first.origin.x, 100.0f);
    EXPECT_FLOAT_EQ(first.origin.y, 24.0f);  // the file's Z is up
    EXPECT_FLOAT_EQ(first.origin.z, -200.0f);
    EXPECT_FLOAT_EQ(first.angle, 90.0f);
    EXPECT_FLOAT_EQ(read.spawns[1].angle, 270.0f);  // the yaw of "angles"
    EXPECT_FLOAT_EQ(read.spawns[2].angle, 0.0f);    // no angle faces +X
    EXPECT_FLOAT_EQ(read.spawns[3].angle, -45.0f);
}

TEST(SpawnPoints, TheYawLooksAlongTheSpawnAngle) {
    // The camera looks along (sin yaw, 0, -cos yaw); a spawn angle a faces
    // the file's (cos a, sin a), the engine's (cos a, 0, sin a).
    for (float angle : {0.0f, 45.0f, 90.0f, 180.0f, 270.0f, -90.0f, 720.0f + 30.0f}) {
        const float yaw = SpawnYaw(angle) * 0.017453292519943295f;
        const float a = angle * 0.017453292519943295f;
        EXPECT_NEAR(std::sin(yaw), std::cos(a), 1e-4f) << angle;
        EXPECT_NEAR(-std::cos(yaw), std::sin(a), 1e-4f) << angle;
        EXPECT_GE(SpawnYaw(angle), 0.0f);
        EXPECT_LT(SpawnYaw(angle), 360.0f);
    }
}

TEST(SpawnPoints, DamagedTextKeepsWhatCameBeforeTheFaultAndSaysWhere) {
    const std::string good = "{\n\"classname\" \"info_player_deathmatch\"\n\"origin\" \"0 0 0\"\n}\n";
    struct Case {
        std::string text;
        std::string problem;
    };
    const Case cases[] = {
        {good + "{\n\"classname\" \"info_player_start\n\"origin\" \"1 1 1\"\n}\n",
         "a quoted text does not end on its line (line 6)"},
        {good + "{\n\"classname\" \"info_player_start\"\n", "the last entity does not end with '}' (line 7)"},
        {good + "{ \"a\" \"b\" { \"c\" \"d\" } }", "an entity begins inside another (line 5)"},
        {good + "\"classname\" \"info_player_start\"", "an entity does not begin with '{' (line 5)"},
        {good + "{ \"lonely\" }", "the key \"lonely\" has no value (line 5)"},
        {good + "}", "an entity does not begin with '{' (line 5)"},
        {good + "{ \"open", "a quoted text does not end on its line (line 5)"},
    };
    for (const Case& c : cases) {
        const Read read = ReadText(c.text);
        EXPECT_FALSE(read.ok) << c.text;
        EXPECT_EQ(read.problem, c.problem) << c.text;
        EXPECT_EQ(read.spawns.size(), 1u) << c.text;
    }
}

TEST(SpawnPoints, BadNumbersAndHostileBytesNeverGiveASpawnPoint) {
    const Read read = ReadText(
        "{ \"classname\" \"info_player_deathmatch\" \"origin\" \"1 2\" }\n"
        "{ \"classname\" \"info_player_deathmatch\" \"origin\" \"nan 0 0\" }\n"
        "{ \"classname\" \"info_player_deathmatch\" \"origin\" \"1e39 0 0\" }\n"
        "{ \"classname\" \"info_player_deathmatch\" }\n"
        "{ \"classname\" \"info_player_deathmatch\" \"origin\" \"4 5 6\" \"angle\" \"inf\" }\n");
    ASSERT_TRUE(read.ok) << read.problem;
    ASSERT_EQ(read.spawns.size(), 1u);
    EXPECT_FLOAT_EQ(read.spawns[0].origin.x, 4.0f);
    EXPECT_FLOAT_EQ(read.spawns[0].angle, 0.0f);

    // The text ends at its first zero byte, and nothing past the length is read.
    std::string text = "{ \"classname\" \"info_player_start\" \"origin\" \"1 1 1\" }";
    text += '\0';
    text += "{ garbage never read";
    const Read zero = ReadText(text);
    EXPECT_TRUE(zero.ok);
    EXPECT_EQ(zero.spawns.size(), 1u);

    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 131 + 7) % 255 + 1);
    const Read noise = ReadText(binary);
    EXPECT_FALSE(noise.ok);
    EXPECT_TRUE(noise.spawns.empty());

    EXPECT_TRUE(ReadText("").ok);
    EXPECT_TRUE(ReadText("   \n// only a comment").ok);
    std::vector<SpawnPoint> spawns;
    std::string problem;
    EXPECT_TRUE(ReadSpawnPoints(nullptr, 10, &spawns, &problem));
    EXPECT_TRUE(spawns.empty());
}
