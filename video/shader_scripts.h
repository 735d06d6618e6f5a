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

// A periodic function of time: base + amplitude * f(phase + seconds *
// frequency), f repeating every 1 in its argument. kNoise is a smooth
// pseudo-random wobble in [-1, 1].
enum class WaveForm : unsigned char { kSin, kTriangle, kSquare, kSawtooth, kInverseSawtooth, kNoise };
struct Wave {
    WaveForm form = WaveForm::kSin;
    float base = 0.0f;
    float amplitude = 0.0f;
    float phase = 0.0f;
    float frequency = 0.0f;
};
// The wave's value at a time, in seconds.
float WaveValue(const Wave& wave, double seconds);
// f alone, at an argument (its period is 1); kNoise is f(x) of a fixed
// random curve.
float WaveShape(WaveForm form, double x);

// One tcMod of a stage, applied to the texture coordinates in written order:
//   scale      s, t multiply them;
//   scroll     s, t added per second;
//   rotate     s degrees per second around (0.5, 0.5);
//   stretch    wave: scaled by 1 / value around (0.5, 0.5);
//   turb       wave: base and amplitude move them along a sine of the
//              position, phase and frequency as for any wave;
//   transform  matrix: s' = m00 s + m10 t + t0, t' = m01 s + m11 t + t1,
//              with matrix {m00, m01, m10, m11, t0, t1}.
struct TexCoordMotion {
    enum class Kind { kScale, kScroll, kRotate, kStretch, kTurb, kTransform } kind = Kind::kScale;
    float s = 1.0f;
    float t = 1.0f;
    Wave wave;
    float matrix[6] = {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
};

// Where a stage's colour and alpha come from.
enum class ColourSource : unsigned char {
    kIdentity,          // white (also identityLighting, and what no rgbGen means)
    kVertex,            // the vertex colours at the light they mean (vertex, exactVertex)
    kOneMinusVertex,    // one minus those
    kWave,              // rgbGen wave: grey at the wave's value, clamped to [0, 1]
    kConst,             // the stage's colour
    kLightingDiffuse,   // the light at the surface, approximated by its vertex colours
    kEntity,            // an entity's colour: white for the world's own surfaces
    kOneMinusEntity,    // black for the world's own surfaces
};
enum class AlphaSource : unsigned char {
    kIdentity,          // opaque (no alphaGen)
    kConst,
    kWave,
    kVertex,
    kOneMinusVertex,
    kLightingSpecular,  // a highlight from a fixed light over the eye's reflection
    kPortal,            // rises with the distance from the eye, up to portalRange
    kEntity,            // opaque for the world's own surfaces
    kOneMinusEntity,    // clear for the world's own surfaces
};
enum class TexCoordSource : unsigned char { kBase, kLightmap, kEnvironment, kVector };
enum class AlphaTest : unsigned char { kNone, kGreaterThanZero, kLessThanHalf, kAtLeastHalf };

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
    bool clamp = false;         // clampMap: the image does not repeat
    // animMap: its frames (the first is also map), shown in turn at
    // framesPerSecond; empty for other stages.
    static constexpr int kMaxFrames = 8;
    std::vector<std::string> frames;
    float framesPerSecond = 0.0f;
    BlendKind blend = BlendKind::kOpaque;
    // blendFunc's factors: one and zero (no blend) unless it names others.
    BlendFactor sourceFactor = BlendFactor::kOne;
    BlendFactor destinationFactor = BlendFactor::kZero;
    bool blendGiven = false;    // the stage has a blendFunc line
    AlphaTest alphaTest = AlphaTest::kNone;
    // depthWrite: the stage writes depth even though it blends (a stage
    // without a blend always writes it).
    bool depthWrite = false;
    bool depthEqual = false;    // depthFunc equal (lequal otherwise)
    bool detail = false;        // a detail layer
    // tcMods in their written order, at most kMaxMotions of them; more are
    // read and left out.
    static constexpr int kMaxMotions = 4;
    TexCoordMotion motions[kMaxMotions];
    int motionCount = 0;
    ColourSource colourSource = ColourSource::kIdentity;
    AlphaSource alphaSource = AlphaSource::kIdentity;
    // rgbGen const / alphaGen const values; white and opaque otherwise.
    float colour[3] = {1.0f, 1.0f, 1.0f};
    float alpha = 1.0f;
    Wave colourWave;            // rgbGen wave
    Wave alphaWave;             // alphaGen wave
    float portalRange = 256.0f; // alphaGen portal (from the shader's portal range)
    TexCoordSource texCoordSource = TexCoordSource::kBase;  // $lightmap stages: kLightmap
    float texCoordVectors[2][3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}};  // tcGen vector, as written
    bool vertexLight = false;   // rgbGen vertex, exactVertex or oneMinusVertex
};

// One deformVertexes of a shader, moving its vertices each frame:
//   wave      along the normal by the wave, its phase advanced by
//             spread times the vertex's position (x + y + z); the script
//             writes the spread's inverse, so spread is 1 / that (0 for 0);
//   normal    the normals wobble by the wave's amplitude and frequency;
//   bulge     along the normal by bulgeHeight * sin(s * bulgeWidth +
//             seconds * bulgeSpeed);
//   move      along moveVector (as written) by the wave;
//   autosprite, autosprite2: quads turned to face the eye (all axes, or
//             about their long axis).
struct VertexDeform {
    enum class Kind : unsigned char { kWave, kNormal, kBulge, kMove, kAutosprite, kAutosprite2 } kind = Kind::kWave;
    float spread = 0.0f;
    Wave wave;
    float bulgeWidth = 0.0f;
    float bulgeHeight = 0.0f;
    float bulgeSpeed = 0.0f;
    float moveVector[3] = {0.0f, 0.0f, 0.0f};
};

// What sort a shader names, and what a shader without one gets: the
// order in which surfaces are drawn, lowest first.
enum ShaderSort : int {
    kSortPortal = 1,
    kSortSky = 2,
    kSortOpaque = 3,
    kSortDecal = 4,
    kSortSeeThrough = 5,
    kSortBanner = 6,
    kSortFog = 7,
    kSortUnderwater = 8,
    kSortBlended = 9,
    kSortAdditive = 10,
    kSortNearest = 16,
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
    // sort: a name or a number, 0 when not given (see ShaderSortOf).
    float sort = 0.0f;
    bool polygonOffset = false;
    bool noPicmip = false;    // nopicmip
    bool noMipmaps = false;   // nomipmaps
    bool noLightmap = false;  // surfaceparm nolightmap
    bool trans = false;       // surfaceparm trans
    static constexpr int kMaxDeforms = 3;
    VertexDeform deforms[kMaxDeforms];
    int deformCount = 0;
    // fogParms: the colour and the depth at which the fog hides everything.
    float fogColour[3] = {0.0f, 0.0f, 0.0f};
    float fogOpaqueDistance = 0.0f;
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
    // Shaders with keywords the engine does not know get one note line each,
    // apart from the faults: this many, then one line saying the rest are
    // not listed.
    static constexpr int kMaxNoteLinesPerScript = 16;

    // Reads one script of `length` bytes (it need not end in a NUL) and returns
    // how many shaders it added. A name already in the table keeps its first
    // definition, so feed scripts from the highest priority down: the content
    // folder first, then the archives from the last to the first. Each fault
    // appends one "file:line: ..." line to problems (may be null) and costs
    // only the shader it is in; a shader with unknown keywords is kept and
    // appends one line naming the first of them.
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

// The order the shader's surfaces are drawn in: its sort when it names one,
// else by what it is: kSortSky for sky surfaces, kSortFog for fog, kSortDecal
// with polygonOffset, kSortBlended when its first stage blends without
// writing depth, kSortOpaque otherwise.
float ShaderSortOf(const ShaderDefinition& shader);
