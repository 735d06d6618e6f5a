// Writes the images the engine's content folder needs and that we make
// ourselves: the fallback texture, the test texture, the five sky faces and
// the loading screen.
//   osprel_make_content FOLDER
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Magenta and black squares: the look of a surface whose texture is missing.
std::vector<uint8_t> Checker(int size, int square) {
    std::vector<uint8_t> rgb(static_cast<size_t>(size) * size * 3);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool lit = ((x / square) + (y / square)) % 2 == 0;
            uint8_t* p = &rgb[(static_cast<size_t>(y) * size + x) * 3];
            p[0] = lit ? 255 : 0;
            p[1] = 0;
            p[2] = lit ? 255 : 0;
        }
    }
    return rgb;
}

// A colour ramp with an opaque frame, to check that images arrive the right
// way up and in the right colours.
std::vector<uint8_t> TestPattern(int size) {
    std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * size + x) * 4];
            const bool frame = x < 4 || y < 4 || x >= size - 4 || y >= size - 4;
            p[0] = frame ? 255 : static_cast<uint8_t>(x * 255 / (size - 1));
            p[1] = frame ? 255 : static_cast<uint8_t>(y * 255 / (size - 1));
            p[2] = frame ? 255 : 128;
            p[3] = 255;
        }
    }
    return rgba;
}

// Smooth value noise in 0..1, tileable over period cells.
float Noise(float x, float y, int period) {
    auto hash = [period](int ix, int iy) {
        ix = ((ix % period) + period) % period;
        iy = ((iy % period) + period) % period;
        uint32_t h = static_cast<uint32_t>(ix) * 374761393u + static_cast<uint32_t>(iy) * 668265263u;
        h = (h ^ (h >> 13)) * 1274126177u;
        return static_cast<float>((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
    };
    const int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
    const float fx = x - ix, fy = y - iy;
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const float top = hash(ix, iy) + (hash(ix + 1, iy) - hash(ix, iy)) * sx;
    const float bottom = hash(ix, iy + 1) + (hash(ix + 1, iy + 1) - hash(ix, iy + 1)) * sx;
    return top + (bottom - top) * sy;
}

float Clouds(float u, float v, int seed) {
    float sum = 0.0f, amplitude = 0.5f;
    for (int octave = 0; octave < 5; ++octave) {
        const int period = 4 << octave;
        sum += Noise(u * period + seed * 17.0f, v * period + seed * 31.0f, period + seed * 0) * amplitude;
        amplitude *= 0.5f;
    }
    return std::clamp((sum - 0.45f) * 2.2f, 0.0f, 1.0f);
}

struct Colour {
    float r, g, b;
};

Colour Mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A side of the sky box: zenith blue at the top, pale at the horizon (the
// middle row), dusky haze below it; clouds thin out towards the horizon.
std::vector<uint8_t> SkySide(int size, int seed) {
    const Colour zenith{0.20f, 0.38f, 0.72f}, horizon{0.78f, 0.86f, 0.95f}, below{0.35f, 0.38f, 0.45f};
    std::vector<uint8_t> rgb(static_cast<size_t>(size) * size * 3);
    for (int y = 0; y < size; ++y) {
        const float v = (y + 0.5f) / size;
        for (int x = 0; x < size; ++x) {
            const float u = (x + 0.5f) / size;
            Colour c;
            if (v < 0.5f) {
                const float height = (0.5f - v) * 2.0f;  // 0 at the horizon, 1 at the top
                c = Mix(horizon, zenith, std::pow(height, 0.6f));
                const float cloud = Clouds(u, v * 0.5f, seed) * std::min(1.0f, height * 3.0f);
                c = Mix(c, Colour{0.97f, 0.97f, 0.98f}, cloud * 0.8f);
            } else {
                c = Mix(horizon, below, std::min(1.0f, (v - 0.5f) * 4.0f));
            }
            uint8_t* p = &rgb[(static_cast<size_t>(y) * size + x) * 3];
            p[0] = static_cast<uint8_t>(c.r * 255.0f);
            p[1] = static_cast<uint8_t>(c.g * 255.0f);
            p[2] = static_cast<uint8_t>(c.b * 255.0f);
        }
    }
    return rgb;
}

std::vector<uint8_t> SkyTop(int size) {
    const Colour zenith{0.20f, 0.38f, 0.72f};
    std::vector<uint8_t> rgb(static_cast<size_t>(size) * size * 3);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float u = (x + 0.5f) / size, v = (y + 0.5f) / size;
            const Colour c = Mix(zenith, Colour{0.97f, 0.97f, 0.98f}, Clouds(u, v, 9) * 0.8f);
            uint8_t* p = &rgb[(static_cast<size_t>(y) * size + x) * 3];
            p[0] = static_cast<uint8_t>(c.r * 255.0f);
            p[1] = static_cast<uint8_t>(c.g * 255.0f);
            p[2] = static_cast<uint8_t>(c.b * 255.0f);
        }
    }
    return rgb;
}

// The loading screen's backdrop: a dark blue-grey gradient with a faint grid.
std::vector<uint8_t> LoadingBackdrop(int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float t = static_cast<float>(y) / height;
            const bool grid = x % 32 == 0 || y % 32 == 0;
            const float light = (grid ? 0.08f : 0.0f);
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>((0.10f + 0.05f * t + light) * 255.0f);
            p[1] = static_cast<uint8_t>((0.12f + 0.06f * t + light) * 255.0f);
            p[2] = static_cast<uint8_t>((0.18f + 0.10f * t + light) * 255.0f);
        }
    }
    return rgb;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: osprel_make_content FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<uint8_t> checker = Checker(64, 8);
    const std::vector<uint8_t> pattern = TestPattern(64);
    bool ok = stbi_write_jpg((folder + "/noshader.jpg").c_str(), 64, 64, 3, checker.data(), 95) != 0;
    ok = stbi_write_tga((folder + "/test.tga").c_str(), 64, 64, 4, pattern.data()) != 0 && ok;

    std::error_code ignored;
    std::filesystem::create_directories(folder + "/textures", ignored);
    const char* sides[] = {"negz", "posz", "posx", "negx"};
    for (int i = 0; i < 4; ++i) {
        const std::vector<uint8_t> side = SkySide(256, i + 1);
        const std::string name = folder + "/textures/" + sides[i] + ".jpg";
        ok = stbi_write_jpg(name.c_str(), 256, 256, 3, side.data(), 90) != 0 && ok;
    }
    const std::vector<uint8_t> top = SkyTop(256);
    ok = stbi_write_jpg((folder + "/textures/posy.jpg").c_str(), 256, 256, 3, top.data(), 90) != 0 && ok;
    const std::vector<uint8_t> backdrop = LoadingBackdrop(512, 512);
    ok = stbi_write_jpg((folder + "/loading.jpg").c_str(), 512, 512, 3, backdrop.data(), 90) != 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "osprel_make_content: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
