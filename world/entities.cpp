#include "world/entities.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

// The classes players start at, in the order the camera visits them:
// free-for-all and single-player starts first, then the teams' starts.
constexpr const char* kPrimaryClasses[] = {"info_player_deathmatch", "info_player_start"};
constexpr const char* kTeamClasses[] = {"team_CTF_redplayer", "team_CTF_blueplayer", "team_CTF_redspawn",
                                        "team_CTF_bluespawn"};

bool InList(const std::string& name, const char* const* list, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (::strcasecmp(name.c_str(), list[i]) == 0) return true;
    }
    return false;
}

bool IsPrimary(const std::string& name) { return InList(name, kPrimaryClasses, std::size(kPrimaryClasses)); }

class EntityText {
public:
    EntityText(const char* text, size_t length) : text_(text), end_(text + length) {
        // The text ends at its first zero byte, as the game writes it.
        for (const char* c = text_; c < end_; ++c) {
            if (*c == '\0') {
                end_ = c;
                break;
            }
        }
    }

    enum class Token { kEnd, kOpen, kClose, kText, kError };

    Token Next(std::string* text) {
        SkipSpaceAndComments();
        if (at_ >= end_) return Token::kEnd;
        const char c = *at_;
        if (c == '{' || c == '}') {
            ++at_;
            return c == '{' ? Token::kOpen : Token::kClose;
        }
        text->clear();
        if (c == '"') {
            const char* start = ++at_;
            while (at_ < end_ && *at_ != '"' && *at_ != '\n') ++at_;
            if (at_ >= end_ || *at_ != '"') {
                problem_ = "a quoted text does not end on its line";
                return Token::kError;
            }
            text->assign(start, at_);
            ++at_;
            return Token::kText;
        }
        const char* start = at_;
        while (at_ < end_ && !IsSpace(*at_) && *at_ != '{' && *at_ != '}' && *at_ != '"') ++at_;
        text->assign(start, at_);
        return Token::kText;
    }

    int Line() const {
        int line = 1;
        for (const char* c = text_; c < at_ && c < end_; ++c) line += *c == '\n' ? 1 : 0;
        return line;
    }
    const std::string& Problem() const { return problem_; }
    void SetProblem(std::string problem) { problem_ = std::move(problem); }

private:
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    void SkipSpaceAndComments() {
        while (at_ < end_) {
            if (IsSpace(*at_)) {
                ++at_;
            } else if (*at_ == '/' && at_ + 1 < end_ && at_[1] == '/') {
                while (at_ < end_ && *at_ != '\n') ++at_;
            } else {
                break;
            }
        }
    }

    const char* text_;
    const char* end_;
    const char* at_ = text_;
    std::string problem_;
};

// Three numbers; false unless all three are there and finite.
bool ReadOrigin(const std::string& text, D3DXVECTOR3* origin) {
    const char* at = text.c_str();
    float values[3];
    for (float& value : values) {
        char* end = nullptr;
        value = std::strtof(at, &end);
        if (end == at || !std::isfinite(value)) return false;
        at = end;
    }
    // The file's Z is the engine's Y.
    *origin = D3DXVECTOR3(values[0], values[2], values[1]);
    return true;
}

bool ReadAngle(const std::string& text, float* angle) {
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value)) return false;
    *angle = value;
    return true;
}

// "angles" is pitch, yaw, roll; the yaw is the facing.
bool ReadAnglesYaw(const std::string& text, float* angle) {
    const char* at = text.c_str();
    char* end = nullptr;
    std::strtof(at, &end);
    if (end == at) return false;
    return ReadAngle(end, angle);
}

}  // namespace

bool IsSpawnClass(const std::string& classname) {
    return IsPrimary(classname) || InList(classname, kTeamClasses, std::size(kTeamClasses));
}

bool ReadSpawnPoints(const char* text, size_t length, std::vector<SpawnPoint>* spawns, std::string* problem) {
    spawns->clear();
    problem->clear();
    if (text == nullptr) return true;
    EntityText reader(text, length);
    std::vector<SpawnPoint> primary;
    std::vector<SpawnPoint> team;
    bool ok = true;
    std::string token;
    std::string key;
    while (ok) {
        EntityText::Token next = reader.Next(&token);
        if (next == EntityText::Token::kEnd) break;
        if (next != EntityText::Token::kOpen) {
            if (next != EntityText::Token::kError) reader.SetProblem("an entity does not begin with '{'");
            ok = false;
            break;
        }
        SpawnPoint spawn;
        bool hasOrigin = false;
        bool originValid = true;
        while (true) {
            next = reader.Next(&key);
            if (next == EntityText::Token::kClose) break;
            if (next == EntityText::Token::kText) {
                next = reader.Next(&token);
                if (next == EntityText::Token::kText) {
                    if (::strcasecmp(key.c_str(), "classname") == 0) {
                        spawn.classname = token;
                    } else if (::strcasecmp(key.c_str(), "origin") == 0) {
                        hasOrigin = true;
                        originValid = ReadOrigin(token, &spawn.origin);
                    } else if (::strcasecmp(key.c_str(), "angle") == 0) {
                        ReadAngle(token, &spawn.angle);
                    } else if (::strcasecmp(key.c_str(), "angles") == 0) {
                        ReadAnglesYaw(token, &spawn.angle);
                    }
                    continue;
                }
                if (next != EntityText::Token::kError) reader.SetProblem("the key \"" + key + "\" has no value");
            } else if (next == EntityText::Token::kEnd) {
                reader.SetProblem("the last entity does not end with '}'");
            } else if (next == EntityText::Token::kOpen) {
                reader.SetProblem("an entity begins inside another");
            }
            ok = false;
            break;
        }
        if (!ok) break;
        if (!IsSpawnClass(spawn.classname) || !hasOrigin) continue;
        if (!originValid) {
            // One bad spawn point is left out; the others are still good.
            continue;
        }
        (IsPrimary(spawn.classname) ? primary : team).push_back(std::move(spawn));
    }
    if (!ok) *problem = reader.Problem() + " (line " + std::to_string(reader.Line()) + ")";
    spawns->reserve(primary.size() + team.size());
    for (SpawnPoint& spawn : primary) spawns->push_back(std::move(spawn));
    for (SpawnPoint& spawn : team) spawns->push_back(std::move(spawn));
    return ok;
}

float SpawnYaw(float angle) {
    // The camera looks along -Z at yaw 0 and turns towards +X as its yaw
    // grows; a spawn angle of 0 faces the file's +X.
    float yaw = std::fmod(angle + 90.0f, 360.0f);
    if (yaw < 0.0f) yaw += 360.0f;
    return yaw;
}
