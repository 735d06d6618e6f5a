// The worlds' shader scripts (scripts/*.shader inside the .pk3 archives): what
// each named surface draws, read from untrusted text into a table looked up by
// name. Only what the renderer uses is kept: the images of the stages, their
// blend, and the surface flags that change how a face is drawn or skipped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

enum class BlendKind { kOpaque, kAdditive, kOther };

// The factors of a stage's blendFunc, as the device's blend states name them.
enum class BlendFactor {
    kZero,
    kOne,
    kSourceColor,
    kOneMinusSourceColor,
    kSourceAlpha,
    kOneMinusSourceAlpha,
    kDestinationColor,
    kOneMinusDestinationColor,
    kDestinationAlpha,
    kOneMinusDestinationAlpha,
    kSourceAlphaSaturate,
};

// One tcMod of a stage that moves its image: scale multiplies the texture
// coordinates, scroll adds (s, t) per second. Kept in their written order.
struct TexCoordMotion {
    enum class Kind { kScale, kScroll } kind = Kind::kScale;
    float s = 1.0f;
    float t = 1.0f;
};
// The sides of a face that are drawn, from the shader's `cull`: the front
// (where the face's normal points; `cull front`, and no `cull` at all), the
// back only (`cull back`), or both (`cull none`, `disable`, `twosided`).
enum class FaceSides : unsigned char { kFront, kBack, kBoth };

// One `{ }` block inside a shader. Named apart from the HLSL compiler's
// ShaderStage, which is a vertex/pixel enum.
struct ShaderScriptStage {
    std::string map;            // map / clampMap argument, or animMap's first frame; "" if none
    bool isLightmap = false;    // map is $lightmap
    bool isWhiteImage = false;  // map is $whiteimage or *white
    BlendKind blend = BlendKind::kOpaque;
    // blendFunc's factors: one and zero (no blend) unless it names others.
    BlendFactor sourceFactor = BlendFactor::kOne;
    BlendFactor destinationFactor = BlendFactor::kZero;
    // tcMod scale and scroll, at most kMaxMotions of them; other tcMods are
    // read and left out.
    static constexpr int kMaxMotions = 4;
    TexCoordMotion motions[kMaxMotions];
    int motionCount = 0;
    // rgbGen identity / identityLighting / const and alphaGen const; white
    // and opaque otherwise.
    float colour[3] = {1.0f, 1.0f, 1.0f};
    float alpha = 1.0f;
    bool vertexLight = false;   // rgbGen vertex, exactVertex or oneMinusVertex
};

struct ShaderDefinition {
    std::string name;         // as written, backslashes turned into '/'
    std::string editorImage;  // qer_editorimage argument, or ""
    std::vector<ShaderScriptStage> stages;
    bool sky = false;         // surfaceparm sky
    bool nodraw = false;      // surfaceparm nodraw
    bool fog = false;         // surfaceparm fog, or fogParms
    bool portal = false;      // surfaceparm portal, or portal
    FaceSides sides = FaceSides::kFront;  // cull
    std::string skyBox;       // skyParms' first argument unless it is "-"; "" otherwise
    bool skyParms = false;    // the shader has a skyParms line
    float cloudHeight = 128;  // skyParms' second argument when it is a number above 0
    std::string skyNearBox;   // skyParms' third argument unless it is "-"; "" otherwise
    std::string sourceFile;   // the script it came from
    int sourceLine = 0;       // the line of its name
};

// What Find and the table compare: lower case, '\' as '/', and an image
// extension (.tga .jpg .jpeg .png) dropped, since the BSP's texture names and
// the scripts disagree on all three.
std::string ShaderNameKey(std::string_view name);

class ShaderTable {
public:
    // Limits that keep a hostile script from costing more than its size.
    static constexpr size_t kMaxScriptBytes = 16u * 1024u * 1024u;
    static constexpr size_t kMaxTokenLength = 1024;
    static constexpr int kMaxShaderTokens = 16384;
    static constexpr int kMaxShaderLines = 65536;
    static constexpr int kMaxShadersPerScript = 65536;
    static constexpr int kMaxProblemsPerScript = 64;

    // Reads one script of `length` bytes (it need not end in a NUL) and returns
    // how many shaders it added. A name already in the table keeps its first
    // definition, so feed scripts from the highest priority down: the content
    // folder first, then the archives from the last to the first. Each fault
    // appends one "file:line: ..." line to problems (may be null) and costs
    // only the shader it is in.
    int AddScript(const char* fileName, const char* text, size_t length, std::vector<std::string>* problems);

    // Case-insensitive; '\' and '/' match and an image extension is ignored.
    const ShaderDefinition* Find(std::string_view name) const;
    size_t Size() const { return shaders_.size(); }
    void Clear() { shaders_.clear(); }

private:
    std::unordered_map<std::string, ShaderDefinition> shaders_;  // by ShaderNameKey
};

// The image a face using the shader shows: the map of the first stage whose map
// is neither $lightmap nor a white image (clampMap and animMap's first frame
// count), else the qer_editorimage, else "".
std::string ShaderImage(const ShaderDefinition& shader);

// The blend of the first stage that draws something other than the lightmap;
// kOpaque when there is none. Decides whether the face is drawn additively.
BlendKind FirstDrawnStageBlend(const ShaderDefinition& shader);

// Whether any stage takes its colour from the vertices (rgbGen vertex,
// exactVertex or oneMinusVertex).
bool AsksForVertexLight(const ShaderDefinition& shader);
