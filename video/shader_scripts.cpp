// Shader scripts are read in one pass over a tokenizer that never looks past
// the length it was given, with an explicit mode instead of recursion, so a
// hostile script costs time and memory in proportion to its size. A fault
// drops the shader it is in and the reader skips ahead to where the next one
// can be trusted to start.
#include "video/shader_scripts.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

// Stages past this many in one shader are read and not kept: no stock
// shader comes near it, and it bounds a hostile shader's table entry.
constexpr size_t kMaxStagesPerShader = 64;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

bool IEndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && IEquals(text.substr(text.size() - suffix.size()), suffix);
}

// Some scripts were written on Windows tools that put '\' in paths; the
// archives always use '/'.
std::string Path(std::string_view text) {
    std::string path(text);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

// Control characters other than line breaks count as blanks: old editors left
// ^Z at the end of files and form feeds in the middle. NUL never gets here.
bool IsBlank(unsigned char c) { return c <= ' ' || c == 0x7F; }

bool IsControl(unsigned char c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f') || c == 0x7F;
}

// Lines as the tokenizer counts them: "\r\n", a lone '\r' (old Mac tools
// wrote those inside otherwise Windows files) and '\n' each end one.
int LineAt(const char* text, size_t position) {
    int line = 1;
    for (size_t i = 0; i < position; ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= position || text[i + 1] != '\n'))) ++line;
    }
    return line;
}

enum class TokenKind { kWord, kOpen, kClose, kEnd, kBad, kFatal };

struct Token {
    TokenKind kind = TokenKind::kEnd;
    std::string_view text;        // a word's characters, without its quotes
    const char* message = "";     // why a kBad or kFatal token is one
    int line = 1;
    bool firstOnLine = false;
};

class Tokenizer {
public:
    Tokenizer(const char* text, size_t length) : text_(text) {
        const void* nul = length > 0 ? std::memchr(text, 0, length) : nullptr;
        nulFound_ = nul != nullptr;
        end_ = nulFound_ ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
        if (end_ >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) pos_ = 3;  // a UTF-8 mark, not a name
    }

    const Token& Peek() {
        if (!peeked_) {
            peek_ = Scan();
            peeked_ = true;
        }
        return peek_;
    }

    Token Next() {
        if (peeked_) {
            peeked_ = false;
            return peek_;
        }
        return Scan();
    }

private:
    bool SkipLineBreak() {
        if (text_[pos_] == '\n') {
            ++pos_;
        } else if (text_[pos_] == '\r') {
            ++pos_;
            if (pos_ < end_ && text_[pos_] == '\n') ++pos_;
        } else {
            return false;
        }
        ++line_;
        return true;
    }

    bool CommentStartsAt(size_t at, char second) const {
        return text_[at] == '/' && at + 1 < end_ && text_[at + 1] == second;
    }

    Token Make(TokenKind kind, int line, const char* message = "") {
        Token token;
        token.kind = kind;
        token.line = line;
        token.message = message;
        if (kind == TokenKind::kFatal) done_ = true;
        return token;
    }

    // Where the readable text stops: a NUL means the rest cannot be trusted
    // to be text, and says so once.
    Token AtEnd() {
        if (nulFound_) return Make(TokenKind::kFatal, line_, "a NUL byte; the rest of the file is not read");
        done_ = true;
        return Make(TokenKind::kEnd, line_);
    }

    Token Scan();

    const char* text_;
    size_t end_ = 0;
    size_t pos_ = 0;
    int line_ = 1;
    int lastTokenLine_ = 0;
    bool nulFound_ = false;
    bool done_ = false;
    bool peeked_ = false;
    Token peek_;
};

Token Tokenizer::Scan() {
    if (done_) return Make(TokenKind::kEnd, line_);
    while (pos_ < end_) {
        const unsigned char c = static_cast<unsigned char>(text_[pos_]);
        if (SkipLineBreak()) continue;
        if (IsBlank(c)) {
            ++pos_;
        } else if (CommentStartsAt(pos_, '/')) {
            while (pos_ < end_ && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
        } else if (CommentStartsAt(pos_, '*')) {
            const int opened = line_;
            pos_ += 2;
            bool closed = false;
            while (pos_ < end_ && !closed) {
                if (text_[pos_] == '*' && pos_ + 1 < end_ && text_[pos_ + 1] == '/') {
                    pos_ += 2;
                    closed = true;
                } else if (!SkipLineBreak()) {
                    ++pos_;
                }
            }
            if (!closed) {
                if (nulFound_) return AtEnd();
                return Make(TokenKind::kFatal, opened,
                            "a /* comment that never ends; the rest of the file is not read");
            }
        } else {
            break;
        }
    }
    if (pos_ >= end_) return AtEnd();

    Token token = Make(TokenKind::kWord, line_);
    token.firstOnLine = line_ != lastTokenLine_;
    lastTokenLine_ = line_;
    const char c = text_[pos_];
    if (c == '{' || c == '}') {
        token.kind = c == '{' ? TokenKind::kOpen : TokenKind::kClose;
        ++pos_;
        return token;
    }
    size_t start = pos_;
    if (c == '"') {
        start = ++pos_;
        while (pos_ < end_ && text_[pos_] != '"' && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
        if (pos_ >= end_ && nulFound_) return AtEnd();
        if (pos_ >= end_ || text_[pos_] != '"') {
            token.kind = TokenKind::kBad;
            token.message = "a quoted token not closed on its line";
            return token;
        }
        token.text = std::string_view(text_ + start, pos_ - start);
        ++pos_;
    } else {
        // Braces and comments end a bare token even without a blank before
        // them: "name{" and "identity//note" both occur in hand-edited files.
        while (pos_ < end_) {
            const unsigned char d = static_cast<unsigned char>(text_[pos_]);
            if (IsBlank(d) || d == '{' || d == '}' || CommentStartsAt(pos_, '/') || CommentStartsAt(pos_, '*')) break;
            ++pos_;
        }
        token.text = std::string_view(text_ + start, pos_ - start);
    }
    if (token.text.size() > ShaderTable::kMaxTokenLength) {
        token.kind = TokenKind::kBad;
        token.message = "a token longer than 1024 characters";
    }
    return token;
}

BlendKind BlendOf(const std::vector<std::string_view>& args, BlendKind current) {
    if (args.empty()) return current;
    if (args.size() == 1) return IEquals(args[0], "add") ? BlendKind::kAdditive : BlendKind::kOther;
    if (IEquals(args[0], "gl_one") && IEquals(args[1], "gl_one")) return BlendKind::kAdditive;
    // Source times one plus destination times zero is no blend at all.
    if (IEquals(args[0], "gl_one") && IEquals(args[1], "gl_zero")) return BlendKind::kOpaque;
    return BlendKind::kOther;
}

// A number as the scripts write them ("0.05", "-.01", "2"); fallback when the
// token is not one or is not finite. Tokens are at most kMaxTokenLength long.
float Number(std::string_view text, float fallback) {
    char buffer[ShaderTable::kMaxTokenLength + 1];
    if (text.empty() || text.size() > ShaderTable::kMaxTokenLength) return fallback;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    char* end = nullptr;
    const float value = std::strtof(buffer, &end);
    if (end == buffer || *end != '\0' || !std::isfinite(value)) return fallback;
    return value;
}

bool FactorOf(std::string_view name, BlendFactor* factor) {
    static constexpr std::pair<const char*, BlendFactor> kFactors[] = {
        {"gl_zero", BlendFactor::kZero},
        {"gl_one", BlendFactor::kOne},
        {"gl_src_color", BlendFactor::kSourceColor},
        {"gl_one_minus_src_color", BlendFactor::kOneMinusSourceColor},
        {"gl_src_alpha", BlendFactor::kSourceAlpha},
        {"gl_one_minus_src_alpha", BlendFactor::kOneMinusSourceAlpha},
        {"gl_dst_color", BlendFactor::kDestinationColor},
        {"gl_one_minus_dst_color", BlendFactor::kOneMinusDestinationColor},
        {"gl_dst_alpha", BlendFactor::kDestinationAlpha},
        {"gl_one_minus_dst_alpha", BlendFactor::kOneMinusDestinationAlpha},
        {"gl_src_alpha_saturate", BlendFactor::kSourceAlphaSaturate},
    };
    for (const auto& [word, value] : kFactors) {
        if (IEquals(name, word)) {
            *factor = value;
            return true;
        }
    }
    return false;
}

// blendFunc's factors: the three short names or an explicit pair; anything
// else leaves the stage as it was.
void ReadBlendFactors(const std::vector<std::string_view>& args, ShaderScriptStage* stage) {
    if (args.size() == 1) {
        if (IEquals(args[0], "add")) {
            stage->sourceFactor = BlendFactor::kOne;
            stage->destinationFactor = BlendFactor::kOne;
        } else if (IEquals(args[0], "filter")) {
            stage->sourceFactor = BlendFactor::kDestinationColor;
            stage->destinationFactor = BlendFactor::kZero;
        } else if (IEquals(args[0], "blend")) {
            stage->sourceFactor = BlendFactor::kSourceAlpha;
            stage->destinationFactor = BlendFactor::kOneMinusSourceAlpha;
        }
        return;
    }
    BlendFactor source = BlendFactor::kOne;
    BlendFactor destination = BlendFactor::kZero;
    if (args.size() >= 2 && FactorOf(args[0], &source) && FactorOf(args[1], &destination)) {
        stage->sourceFactor = source;
        stage->destinationFactor = destination;
    }
}

// The numbers of "( r g b )" however the brackets are spaced: "(1 0 0)" and
// "( 1 0 0 )" both occur. Returns how many it read, up to count.
int BracketedNumbers(const std::vector<std::string_view>& args, size_t first, float* out, int count) {
    int read = 0;
    for (size_t i = first; i < args.size() && read < count; ++i) {
        std::string_view word = args[i];
        while (!word.empty() && word.front() == '(') word.remove_prefix(1);
        while (!word.empty() && word.back() == ')') word.remove_suffix(1);
        if (word.empty()) continue;
        const float value = Number(word, NAN);
        if (std::isnan(value)) return read;
        out[read++] = value;
    }
    return read;
}

float Unit(float value) { return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value); }

// The argument at `index`, or "" past the end (which every reader below takes
// as "not given").
std::string_view Arg(const std::vector<std::string_view>& args, size_t index) {
    return index < args.size() ? args[index] : std::string_view();
}

bool WaveFormOf(std::string_view name, WaveForm* form) {
    static constexpr std::pair<const char*, WaveForm> kForms[] = {
        {"sin", WaveForm::kSin},           {"triangle", WaveForm::kTriangle},
        {"square", WaveForm::kSquare},     {"sawtooth", WaveForm::kSawtooth},
        {"inversesawtooth", WaveForm::kInverseSawtooth}, {"noise", WaveForm::kNoise},
    };
    for (const auto& [word, value] : kForms) {
        if (IEquals(name, word)) {
            *form = value;
            return true;
        }
    }
    return false;
}

// "FORM base amplitude phase frequency" from args[first] on; a number that is
// missing or is not one counts as 0. False (and the wave untouched) when the
// form is not one the engine draws.
// "base amplitude phase frequency" from args[first] on.
void ReadWaveNumbers(const std::vector<std::string_view>& args, size_t first, Wave* wave) {
    wave->base = Number(Arg(args, first), 0.0f);
    wave->amplitude = Number(Arg(args, first + 1), 0.0f);
    wave->phase = Number(Arg(args, first + 2), 0.0f);
    wave->frequency = Number(Arg(args, first + 3), 0.0f);
}

bool ReadWave(const std::vector<std::string_view>& args, size_t first, Wave* wave) {
    WaveForm form = WaveForm::kSin;
    if (!WaveFormOf(Arg(args, first), &form)) return false;
    wave->form = form;
    ReadWaveNumbers(args, first + 1, wave);
    return true;
}

// Each reader below returns false when its first argument names nothing it
// knows, so that the shader's note can name it; arguments that are not
// numbers where numbers belong only take their defaults.
bool ReadTexCoordMod(const std::vector<std::string_view>& args, ShaderScriptStage* stage) {
    const std::string_view kind = Arg(args, 0);
    TexCoordMotion motion;
    if (IEquals(kind, "scale")) {
        motion.kind = TexCoordMotion::Kind::kScale;
        motion.s = Number(Arg(args, 1), 1.0f);
        motion.t = Number(Arg(args, 2), 1.0f);
    } else if (IEquals(kind, "scroll")) {
        motion.kind = TexCoordMotion::Kind::kScroll;
        motion.s = Number(Arg(args, 1), 0.0f);
        motion.t = Number(Arg(args, 2), 0.0f);
    } else if (IEquals(kind, "rotate")) {
        motion.kind = TexCoordMotion::Kind::kRotate;
        motion.s = Number(Arg(args, 1), 0.0f);
        motion.t = 0.0f;
    } else if (IEquals(kind, "stretch")) {
        motion.kind = TexCoordMotion::Kind::kStretch;
        if (!ReadWave(args, 1, &motion.wave)) return false;
    } else if (IEquals(kind, "turb")) {
        // The form is optional and a sine when left out.
        motion.kind = TexCoordMotion::Kind::kTurb;
        if (!ReadWave(args, 1, &motion.wave)) {
            motion.wave.form = WaveForm::kSin;
            ReadWaveNumbers(args, 1, &motion.wave);
        }
    } else if (IEquals(kind, "transform")) {
        motion.kind = TexCoordMotion::Kind::kTransform;
        for (size_t i = 0; i < 6; ++i) motion.matrix[i] = Number(Arg(args, 1 + i), motion.matrix[i]);
    } else {
        return false;
    }
    if (stage->motionCount < ShaderScriptStage::kMaxMotions) stage->motions[stage->motionCount++] = motion;
    return true;
}

bool ReadRgbGen(const std::vector<std::string_view>& args, ShaderScriptStage* stage) {
    const std::string_view how = Arg(args, 0);
    // Any rgbGen line decides afresh whether the stage is lit by its vertices.
    stage->vertexLight = IEquals(how, "vertex") || IEquals(how, "exactvertex") || IEquals(how, "oneminusvertex");
    if (IEquals(how, "identity") || IEquals(how, "identitylighting")) {
        stage->colourSource = ColourSource::kIdentity;
        for (float& c : stage->colour) c = 1.0f;
    } else if (IEquals(how, "vertex") || IEquals(how, "exactvertex")) {
        stage->colourSource = ColourSource::kVertex;
    } else if (IEquals(how, "oneminusvertex")) {
        stage->colourSource = ColourSource::kOneMinusVertex;
    } else if (IEquals(how, "wave")) {
        if (!ReadWave(args, 1, &stage->colourWave)) return false;
        stage->colourSource = ColourSource::kWave;
    } else if (IEquals(how, "const") || IEquals(how, "constant")) {
        // A colour that is not three numbers leaves the stage as it was.
        float rgb[3];
        if (BracketedNumbers(args, 1, rgb, 3) == 3) {
            for (int i = 0; i < 3; ++i) stage->colour[i] = Unit(rgb[i]);
            stage->colourSource = ColourSource::kConst;
        }
    } else if (IEquals(how, "lightingdiffuse")) {
        stage->colourSource = ColourSource::kLightingDiffuse;
    } else if (IEquals(how, "entity")) {
        stage->colourSource = ColourSource::kEntity;
    } else if (IEquals(how, "oneminusentity")) {
        stage->colourSource = ColourSource::kOneMinusEntity;
    } else {
        return false;
    }
    return true;
}

bool ReadAlphaGen(const std::vector<std::string_view>& args, ShaderScriptStage* stage) {
    const std::string_view how = Arg(args, 0);
    if (IEquals(how, "const") || IEquals(how, "constant")) {
        float a = 1.0f;
        if (BracketedNumbers(args, 1, &a, 1) == 1) {
            stage->alpha = Unit(a);
            stage->alphaSource = AlphaSource::kConst;
        }
    } else if (IEquals(how, "wave")) {
        if (!ReadWave(args, 1, &stage->alphaWave)) return false;
        stage->alphaSource = AlphaSource::kWave;
    } else if (IEquals(how, "vertex")) {
        stage->alphaSource = AlphaSource::kVertex;
    } else if (IEquals(how, "oneminusvertex")) {
        stage->alphaSource = AlphaSource::kOneMinusVertex;
    } else if (IEquals(how, "lightingspecular")) {
        stage->alphaSource = AlphaSource::kLightingSpecular;
    } else if (IEquals(how, "portal")) {
        stage->alphaSource = AlphaSource::kPortal;
        const float range = Number(Arg(args, 1), 0.0f);
        if (range > 0.0f) stage->portalRange = range;
    } else if (IEquals(how, "entity")) {
        stage->alphaSource = AlphaSource::kEntity;
    } else if (IEquals(how, "oneminusentity")) {
        stage->alphaSource = AlphaSource::kOneMinusEntity;
    } else {
        return false;
    }
    return true;
}

// tcGen; the two vectors of `vector` are six numbers however bracketed, and
// fewer leave the stage as it was.
bool ReadTexCoordGen(const std::vector<std::string_view>& args, ShaderScriptStage* stage) {
    const std::string_view how = Arg(args, 0);
    if (IEquals(how, "base") || IEquals(how, "texture")) {
        stage->texCoordSource = TexCoordSource::kBase;
    } else if (IEquals(how, "lightmap")) {
        stage->texCoordSource = TexCoordSource::kLightmap;
    } else if (IEquals(how, "environment")) {
        stage->texCoordSource = TexCoordSource::kEnvironment;
    } else if (IEquals(how, "vector")) {
        float vectors[6];
        if (BracketedNumbers(args, 1, vectors, 6) == 6) {
            for (int i = 0; i < 6; ++i) stage->texCoordVectors[i / 3][i % 3] = vectors[i];
            stage->texCoordSource = TexCoordSource::kVector;
        }
    } else {
        return false;
    }
    return true;
}

bool ReadAlphaFunc(std::string_view how, ShaderScriptStage* stage) {
    if (IEquals(how, "gt0")) {
        stage->alphaTest = AlphaTest::kGreaterThanZero;
    } else if (IEquals(how, "lt128")) {
        stage->alphaTest = AlphaTest::kLessThanHalf;
    } else if (IEquals(how, "ge128")) {
        stage->alphaTest = AlphaTest::kAtLeastHalf;
    } else {
        return false;
    }
    return true;
}

// sort: a name, or a number kept within the orders there are.
bool ReadSort(std::string_view how, float* sort) {
    static constexpr std::pair<const char*, ShaderSort> kSorts[] = {
        {"portal", kSortPortal},   {"sky", kSortSky},       {"opaque", kSortOpaque},
        {"decal", kSortDecal},     {"seethrough", kSortSeeThrough}, {"banner", kSortBanner},
        {"underwater", kSortUnderwater}, {"additive", kSortAdditive}, {"nearest", kSortNearest},
    };
    for (const auto& [word, value] : kSorts) {
        if (IEquals(how, word)) {
            *sort = static_cast<float>(value);
            return true;
        }
    }
    const float number = Number(how, NAN);
    if (std::isnan(number)) return false;
    const float lowest = static_cast<float>(kSortPortal);
    const float highest = static_cast<float>(kSortNearest);
    *sort = number < lowest ? lowest : (number > highest ? highest : number);
    return true;
}

// deformVertexes; past kMaxDeforms they are read and dropped. Kinds the
// engine deliberately does not draw (shadows cast on the floor, the text of
// a model's name) are known and ignored.
bool ReadDeform(const std::vector<std::string_view>& args, ShaderDefinition* shader) {
    const std::string_view kind = Arg(args, 0);
    VertexDeform deform;
    if (IEquals(kind, "wave")) {
        // The script writes the spread as a divisor of the position.
        deform.kind = VertexDeform::Kind::kWave;
        const float divisor = Number(Arg(args, 1), 0.0f);
        deform.spread = divisor != 0.0f ? 1.0f / divisor : 0.0f;
        if (!std::isfinite(deform.spread)) deform.spread = 0.0f;
        if (!ReadWave(args, 2, &deform.wave)) return false;
    } else if (IEquals(kind, "normal")) {
        deform.kind = VertexDeform::Kind::kNormal;
        deform.wave.amplitude = Number(Arg(args, 1), 0.0f);
        deform.wave.frequency = Number(Arg(args, 2), 0.0f);
    } else if (IEquals(kind, "bulge")) {
        deform.kind = VertexDeform::Kind::kBulge;
        deform.bulgeWidth = Number(Arg(args, 1), 0.0f);
        deform.bulgeHeight = Number(Arg(args, 2), 0.0f);
        deform.bulgeSpeed = Number(Arg(args, 3), 0.0f);
    } else if (IEquals(kind, "move")) {
        deform.kind = VertexDeform::Kind::kMove;
        for (size_t i = 0; i < 3; ++i) deform.moveVector[i] = Number(Arg(args, 1 + i), 0.0f);
        if (!ReadWave(args, 4, &deform.wave)) return false;
    } else if (IEquals(kind, "autosprite")) {
        deform.kind = VertexDeform::Kind::kAutosprite;
    } else if (IEquals(kind, "autosprite2")) {
        deform.kind = VertexDeform::Kind::kAutosprite2;
    } else if (IEquals(kind, "projectionshadow") ||
               (kind.size() == 5 && IEquals(kind.substr(0, 4), "text") && kind[4] >= '0' && kind[4] <= '7')) {
        return true;
    } else {
        return false;
    }
    if (shader->deformCount < ShaderDefinition::kMaxDeforms) shader->deforms[shader->deformCount++] = deform;
    return true;
}

// Keywords for the map compiler and the level editor, and the stage's
// videoMap: known, and not what the engine draws, so skipped without a word.
bool IsUndrawnKeyword(std::string_view keyword) {
    static constexpr const char* kPrefixes[] = {"q3map_", "qer_"};
    for (const char* prefix : kPrefixes) {
        const size_t length = std::strlen(prefix);
        if (keyword.size() > length && IEquals(keyword.substr(0, length), prefix)) return true;
    }
    static constexpr const char* kWords[] = {
        "light", "light1", "tesssize", "surfacelight", "entitymergable", "fogonly", "nocompress", "videomap",
    };
    for (const char* word : kWords) {
        if (IEquals(keyword, word)) return true;
    }
    return false;
}

// map, clampMap and animMap's first frame; the last of them in a stage wins.
// A $lightmap image takes the lightmap's coordinates unless tcGen says
// otherwise.
void SetMap(ShaderScriptStage* stage, std::string_view image, bool texCoordsGiven) {
    stage->map = Path(image);
    stage->isLightmap = IEquals(image, "$lightmap");
    stage->isWhiteImage = IEquals(image, "$whiteimage") || IEquals(image, "*white");
    if (!texCoordsGiven) stage->texCoordSource = stage->isLightmap ? TexCoordSource::kLightmap : TexCoordSource::kBase;
}

class ScriptReader {
public:
    ScriptReader(std::string file, std::unordered_map<std::string, ShaderDefinition>* shaders,
                 std::vector<std::string>* problems)
        : file_(std::move(file)), shaders_(shaders), problems_(problems) {}

    void Read(const char* text, size_t length);
    int Added() const { return added_; }

private:
    enum class Mode { kTop, kBody, kStage, kSkip };

    void Top(const Token& token);
    void Body(const Token& token);
    void Stage(const Token& token);
    void Skip(const Token& token);

    void BeginShader(const Token& name);
    void FinishShader();
    void Report(int line, const std::string& message);
    void Unknown(const Token& keyword, std::string_view argument);
    void NoteUnknown();
    void Fault(int line, const std::string& message, size_t depth);
    bool Count(const Token& token);
    bool GatherArguments(const Token& keyword);
    bool StartsNextShader(const Token& token);
    void BodyDirective(const Token& keyword);
    void StageDirective(const Token& keyword);
    std::string Current() const { return "shader '" + current_.name + "'"; }

    std::string file_;
    std::unordered_map<std::string, ShaderDefinition>* shaders_;
    std::vector<std::string>* problems_;
    Tokenizer* tokens_ = nullptr;
    Mode mode_ = Mode::kTop;
    size_t skipDepth_ = 0;
    ShaderDefinition current_;
    ShaderScriptStage stage_;
    bool texCoordsGiven_ = false;  // the stage has a tcGen line
    int shaderTokens_ = 0;
    // The current shader's unknown keywords: the first (with its line) and
    // how many, which is all its one note says.
    std::string unknownFirst_;
    int unknownLine_ = 0;
    int unknownCount_ = 0;
    int notes_ = 0;
    std::vector<std::string_view> args_;
    int problemCount_ = 0;
    bool stopped_ = false;
    bool strayClose_ = false;
    int begun_ = 0;
    int added_ = 0;
};

void ScriptReader::Report(int line, const std::string& message) {
    if (stopped_ || problems_ == nullptr) return;
    if (problemCount_ == ShaderTable::kMaxProblemsPerScript) {
        problems_->push_back(file_ + ":" + std::to_string(line) +
                             ": too many problems; the rest of the file is not read");
        stopped_ = true;
        return;
    }
    ++problemCount_;
    problems_->push_back(file_ + ":" + std::to_string(line) + ": " + message);
}

// Words it does not know cost the shader nothing but a note when it ends;
// each one is counted, and only the first is kept (cut short, so a hostile
// one costs no more than a name).
void ScriptReader::Unknown(const Token& keyword, std::string_view argument) {
    if (unknownCount_++ > 0) return;
    constexpr size_t kShown = 64;
    unknownFirst_.assign(keyword.text.substr(0, kShown));
    if (!argument.empty()) {
        unknownFirst_ += ' ';
        unknownFirst_.append(argument.substr(0, kShown));
    }
    unknownLine_ = keyword.line;
}

// One line per shader with unknown keywords, at most kMaxNoteLinesPerScript
// of them and then one that says the rest go unlisted. Notes are not faults:
// they never stop the reading.
void ScriptReader::NoteUnknown() {
    if (unknownCount_ == 0 || stopped_ || problems_ == nullptr) return;
    const int note = notes_++;
    if (note > ShaderTable::kMaxNoteLinesPerScript) return;
    std::string message;
    if (note == ShaderTable::kMaxNoteLinesPerScript) {
        message = "more shaders have unknown keywords; they are not listed";
    } else {
        message = Current() + " has unknown keywords, skipped: '" + unknownFirst_ + "'";
        if (unknownCount_ > 1) message += " (and " + std::to_string(unknownCount_ - 1) + " more)";
    }
    problems_->push_back(file_ + ":" + std::to_string(unknownLine_) + ": " + message);
}

void ScriptReader::Read(const char* text, size_t length) {
    Tokenizer tokens(text, length);
    tokens_ = &tokens;
    while (!stopped_) {
        const Token token = tokens.Next();
        if (token.kind == TokenKind::kEnd) {
            if (mode_ == Mode::kBody || mode_ == Mode::kStage) {
                Report(current_.sourceLine, Current() + " has no closing '}' before the end of the file");
            }
            break;
        }
        if (token.kind == TokenKind::kFatal) {
            const bool inShader = mode_ == Mode::kBody || mode_ == Mode::kStage;
            Report(token.line, std::string(token.message) + (inShader ? " (" + Current() + " is dropped)" : ""));
            break;
        }
        switch (mode_) {
        case Mode::kTop: Top(token); break;
        case Mode::kBody: Body(token); break;
        case Mode::kStage: Stage(token); break;
        case Mode::kSkip: Skip(token); break;
        }
    }
    tokens_ = nullptr;
}

// Enters skipping at `depth` braces inside the dropped shader; Skip finds
// where reading can start again.
void ScriptReader::Fault(int line, const std::string& message, size_t depth) {
    Report(line, message);
    mode_ = Mode::kSkip;
    skipDepth_ = depth;
}

// A name on a line of its own, holding a '/' and followed by '{', is where the
// next shader starts even when the one before it lost a brace: no directive is
// spelt with a '/', and every stock surface name has one.
bool ScriptReader::StartsNextShader(const Token& token) {
    if (token.kind != TokenKind::kWord || !token.firstOnLine) return false;
    if (token.text.find_first_of("/\\") == std::string_view::npos) return false;
    return tokens_->Peek().kind == TokenKind::kOpen;
}

void ScriptReader::BeginShader(const Token& name) {
    // A table entry costs some 200 bytes against a dozen of text at the least,
    // so the count, not the file size, is what bounds the memory.
    if (begun_ == ShaderTable::kMaxShadersPerScript) {
        Report(name.line, "more than " + std::to_string(ShaderTable::kMaxShadersPerScript) +
                              " shaders; the rest of the file is not read");
        stopped_ = true;
        return;
    }
    ++begun_;
    tokens_->Next();  // its '{'
    current_ = ShaderDefinition();
    current_.name = Path(name.text);
    current_.sourceFile = file_;
    current_.sourceLine = name.line;
    shaderTokens_ = 2;
    unknownFirst_.clear();
    unknownCount_ = 0;
    mode_ = Mode::kBody;
}

void ScriptReader::FinishShader() {
    NoteUnknown();
    std::string key = ShaderNameKey(current_.name);
    if (shaders_->try_emplace(std::move(key), std::move(current_)).second) ++added_;
    mode_ = Mode::kTop;
}

// The caps turn a runaway shader (a lost brace swallowing the file, or a
// generated monster) into one line instead of unbounded work per shader.
bool ScriptReader::Count(const Token& token) {
    ++shaderTokens_;
    const size_t depth = mode_ == Mode::kStage ? 2 : 1;
    if (shaderTokens_ > ShaderTable::kMaxShaderTokens) {
        const std::string cap = std::to_string(ShaderTable::kMaxShaderTokens);
        Fault(token.line, Current() + " has more than " + cap + " tokens; it is skipped", depth);
        return false;
    }
    if (token.line - current_.sourceLine >= ShaderTable::kMaxShaderLines) {
        const std::string cap = std::to_string(ShaderTable::kMaxShaderLines);
        Fault(token.line, Current() + " runs over more than " + cap + " lines; it is skipped", depth);
        return false;
    }
    return true;
}

bool ScriptReader::GatherArguments(const Token& keyword) {
    args_.clear();
    for (;;) {
        const Token& next = tokens_->Peek();
        if (next.kind != TokenKind::kWord || next.line != keyword.line) return true;
        const Token argument = tokens_->Next();
        if (!Count(argument)) return false;
        args_.push_back(argument.text);
    }
}

void ScriptReader::Top(const Token& token) {
    const bool afterStrayClose = strayClose_;
    strayClose_ = false;
    switch (token.kind) {
    case TokenKind::kOpen:
        Fault(token.line, "'{' without a shader name before it", 1);
        break;
    case TokenKind::kClose:
        // A run of extra braces is one mistake.
        if (!afterStrayClose) Report(token.line, "'}' outside any shader");
        strayClose_ = true;
        break;
    case TokenKind::kBad:
        Fault(token.line, token.message, 0);
        break;
    case TokenKind::kWord:
        if (token.text.empty()) {
            Fault(token.line, "an empty shader name", 0);
        } else if (tokens_->Peek().kind == TokenKind::kOpen) {
            BeginShader(token);
        } else {
            // Most likely its '{' was forgotten: skip as if it were there.
            Fault(token.line, "shader name '" + Path(token.text) + "' is not followed by '{'", 1);
        }
        break;
    default:
        break;
    }
}

void ScriptReader::Body(const Token& token) {
    if (!Count(token)) {
        Skip(token);
        return;
    }
    switch (token.kind) {
    case TokenKind::kOpen:
        stage_ = ShaderScriptStage();
        texCoordsGiven_ = false;
        mode_ = Mode::kStage;
        break;
    case TokenKind::kClose:
        FinishShader();
        break;
    case TokenKind::kBad:
        Fault(token.line, Current() + ": " + token.message, 1);
        break;
    case TokenKind::kWord:
        if (StartsNextShader(token)) {
            Report(current_.sourceLine, Current() + " is not closed before '" + Path(token.text) + "' on line " +
                                            std::to_string(token.line));
            BeginShader(token);
        } else if (GatherArguments(token)) {
            BodyDirective(token);
        }
        break;
    default:
        break;
    }
}

void ScriptReader::Stage(const Token& token) {
    if (!Count(token)) {
        Skip(token);
        return;
    }
    switch (token.kind) {
    case TokenKind::kOpen:
        Fault(token.line, Current() + " has a stage inside a stage; it is skipped", 3);
        break;
    case TokenKind::kClose:
        if (current_.stages.size() < kMaxStagesPerShader) {
            current_.stages.push_back(std::move(stage_));
        }
        mode_ = Mode::kBody;
        break;
    case TokenKind::kBad:
        Fault(token.line, Current() + ": " + token.message, 2);
        break;
    case TokenKind::kWord:
        if (GatherArguments(token)) StageDirective(token);
        break;
    default:
        break;
    }
}

// Reading starts again after the brace that balances the dropped shader, or
// earlier at a line that plainly starts the next shader (when the fault was a
// lost '}', the balancing brace never comes).
void ScriptReader::Skip(const Token& token) {
    switch (token.kind) {
    case TokenKind::kOpen:
        ++skipDepth_;
        break;
    case TokenKind::kClose:
        if (skipDepth_ <= 1) {
            skipDepth_ = 0;
            mode_ = Mode::kTop;
        } else {
            --skipDepth_;
        }
        break;
    case TokenKind::kWord:
        if (skipDepth_ <= 1 && StartsNextShader(token)) BeginShader(token);
        break;
    default:
        break;
    }
}

void ScriptReader::BodyDirective(const Token& token) {
    const std::string_view keyword = token.text;
    if (IEquals(keyword, "qer_editorimage")) {
        if (!args_.empty()) current_.editorImage = Path(args_[0]);
    } else if (IEquals(keyword, "surfaceparm")) {
        // Most surfaceparms are for the map compiler and the game; only these
        // change what is drawn.
        if (args_.empty()) return;
        if (IEquals(args_[0], "sky")) current_.sky = true;
        if (IEquals(args_[0], "nodraw")) current_.nodraw = true;
        if (IEquals(args_[0], "fog")) current_.fog = true;
        if (IEquals(args_[0], "portal")) current_.portal = true;
        if (IEquals(args_[0], "nolightmap")) current_.noLightmap = true;
        if (IEquals(args_[0], "trans")) current_.trans = true;
    } else if (IEquals(keyword, "skyparms")) {
        current_.skyParms = true;
        if (!args_.empty()) current_.skyBox = args_[0] == "-" ? std::string() : Path(args_[0]);
        if (args_.size() >= 2) {
            const float height = Number(args_[1], 0.0f);
            if (height > 0.0f) current_.cloudHeight = height;
        }
        if (args_.size() >= 3) current_.skyNearBox = args_[2] == "-" ? std::string() : Path(args_[2]);
    } else if (IEquals(keyword, "cull")) {
        // An argument it does not know leaves the front drawn.
        if (args_.empty()) return;
        if (IEquals(args_[0], "front")) {
            current_.sides = FaceSides::kFront;
        } else if (IEquals(args_[0], "back")) {
            current_.sides = FaceSides::kBack;
        } else if (IEquals(args_[0], "none") || IEquals(args_[0], "disable") || IEquals(args_[0], "twosided")) {
            current_.sides = FaceSides::kBoth;
        }
    } else if (IEquals(keyword, "fogparms")) {
        // "( r g b ) distance"; what is missing keeps its default.
        current_.fog = true;
        float values[4];
        const int read = BracketedNumbers(args_, 0, values, 4);
        if (read >= 3) {
            for (int i = 0; i < 3; ++i) current_.fogColour[i] = Unit(values[i]);
        }
        if (read == 4) current_.fogOpaqueDistance = values[3] > 0.0f ? values[3] : 0.0f;
    } else if (IEquals(keyword, "portal")) {
        current_.portal = true;
    } else if (IEquals(keyword, "sort")) {
        if (!ReadSort(Arg(args_, 0), &current_.sort)) Unknown(token, Arg(args_, 0));
    } else if (IEquals(keyword, "polygonoffset")) {
        current_.polygonOffset = true;
    } else if (IEquals(keyword, "nopicmip")) {
        current_.noPicmip = true;
    } else if (IEquals(keyword, "nomipmaps")) {
        current_.noMipmaps = true;
    } else if (IEquals(keyword, "deformvertexes")) {
        if (!ReadDeform(args_, &current_)) Unknown(token, Arg(args_, 0));
    } else if (!IsUndrawnKeyword(keyword)) {
        Unknown(token, {});
    }
}

void ScriptReader::StageDirective(const Token& token) {
    const std::string_view keyword = token.text;
    if (IEquals(keyword, "map") || IEquals(keyword, "clampmap")) {
        if (args_.empty()) return;
        SetMap(&stage_, args_[0], texCoordsGiven_);
        stage_.clamp = IEquals(keyword, "clampmap");
        stage_.frames.clear();
        stage_.framesPerSecond = 0.0f;
    } else if (IEquals(keyword, "animmap")) {
        // The frequency, then the frames; past kMaxFrames they are dropped.
        if (args_.size() < 2) return;
        const float frequency = Number(args_[0], 0.0f);
        stage_.framesPerSecond = frequency > 0.0f ? frequency : 0.0f;
        stage_.frames.clear();
        for (size_t i = 1; i < args_.size() && stage_.frames.size() < ShaderScriptStage::kMaxFrames; ++i) {
            stage_.frames.push_back(Path(args_[i]));
        }
        SetMap(&stage_, args_[1], texCoordsGiven_);
        stage_.clamp = false;
    } else if (IEquals(keyword, "blendfunc")) {
        stage_.blendGiven = true;
        stage_.blend = BlendOf(args_, stage_.blend);
        ReadBlendFactors(args_, &stage_);
    } else if (IEquals(keyword, "alphafunc")) {
        if (!ReadAlphaFunc(Arg(args_, 0), &stage_)) Unknown(token, Arg(args_, 0));
    } else if (IEquals(keyword, "depthwrite")) {
        stage_.depthWrite = true;
    } else if (IEquals(keyword, "depthfunc")) {
        if (IEquals(Arg(args_, 0), "equal")) {
            stage_.depthEqual = true;
        } else if (IEquals(Arg(args_, 0), "lequal")) {
            stage_.depthEqual = false;
        } else {
            Unknown(token, Arg(args_, 0));
        }
    } else if (IEquals(keyword, "detail")) {
        stage_.detail = true;
    } else if (IEquals(keyword, "tcmod")) {
        if (!ReadTexCoordMod(args_, &stage_)) Unknown(token, Arg(args_, 0));
    } else if (IEquals(keyword, "tcgen")) {
        if (ReadTexCoordGen(args_, &stage_)) {
            texCoordsGiven_ = true;
        } else {
            Unknown(token, Arg(args_, 0));
        }
    } else if (IEquals(keyword, "rgbgen")) {
        if (!ReadRgbGen(args_, &stage_)) Unknown(token, Arg(args_, 0));
    } else if (IEquals(keyword, "alphagen")) {
        if (!ReadAlphaGen(args_, &stage_)) Unknown(token, Arg(args_, 0));
    } else if (!IsUndrawnKeyword(keyword)) {
        Unknown(token, {});
    }
}

void AddProblem(std::vector<std::string>* problems, std::string_view file, int line, std::string_view message) {
    if (problems == nullptr) return;
    try {
        problems->push_back(std::string(file) + ":" + std::to_string(line) + ": " + std::string(message));
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

std::string ShaderNameKey(std::string_view name) {
    for (const std::string_view extension : {".tga", ".jpg", ".jpeg", ".png"}) {
        if (name.size() > extension.size() && IEndsWith(name, extension)) {
            name.remove_suffix(extension.size());
            break;
        }
    }
    std::string key(name);
    for (char& c : key) c = c == '\\' ? '/' : Lower(c);
    return key;
}

int ShaderTable::AddScript(const char* fileName, const char* text, size_t length, std::vector<std::string>* problems) {
    int added = 0;
    try {
        const std::string file = fileName != nullptr ? fileName : "(unnamed script)";
        if (text == nullptr) length = 0;
        if (length > kMaxScriptBytes) {
            const std::string message = "the script is " + std::to_string(length) +
                                        " bytes, more than the 16 MB a script may have; it is not read";
            AddProblem(problems, file, 1, message);
            return 0;
        }
        // A binary file renamed to .shader would otherwise become a swarm of
        // nonsense names; real scripts have no control characters at all.
        size_t controls = 0;
        size_t firstControl = 0;
        for (size_t i = 0; i < length; ++i) {
            if (IsControl(static_cast<unsigned char>(text[i])) && controls++ == 0) firstControl = i;
        }
        if (controls > 0 && controls > length / 32) {
            const std::string message = "binary data, not a shader script (" + std::to_string(controls) + " of " +
                                        std::to_string(length) + " bytes are control characters); it is not read";
            AddProblem(problems, file, LineAt(text, firstControl), message);
            return 0;
        }
        ScriptReader reader(file, &shaders_, problems);
        try {
            reader.Read(text, length);
        } catch (const std::bad_alloc&) {
            AddProblem(problems, file, 1, "out of memory; the rest of the file is not read");
        }
        added = reader.Added();
    } catch (const std::bad_alloc&) {
        AddProblem(problems, fileName != nullptr ? fileName : "(unnamed script)", 1, "out of memory");
    }
    return added;
}

const ShaderDefinition* ShaderTable::Find(std::string_view name) const {
    try {
        const auto found = shaders_.find(ShaderNameKey(name));
        return found == shaders_.end() ? nullptr : &found->second;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::string ShaderImage(const ShaderDefinition& shader) {
    for (const ShaderScriptStage& stage : shader.stages) {
        if (!stage.map.empty() && !stage.isLightmap && !stage.isWhiteImage) return stage.map;
    }
    return shader.editorImage;
}

BlendKind FirstDrawnStageBlend(const ShaderDefinition& shader) {
    for (const ShaderScriptStage& stage : shader.stages) {
        if (!stage.map.empty() && !stage.isLightmap) return stage.blend;
    }
    return BlendKind::kOpaque;
}

bool AsksForVertexLight(const ShaderDefinition& shader) {
    for (const ShaderScriptStage& stage : shader.stages) {
        if (stage.vertexLight) return true;
    }
    return false;
}

namespace {

// The fraction of x past the whole number below it, in [0, 1); exact for any
// double, and 0 for numbers too large to have a fraction.
double Fraction(double x) {
    const double fraction = x - std::floor(x);
    return fraction < 1.0 ? fraction : 0.0;
}

constexpr double kTwoPi = 6.283185307179586;

// A well-mixed 32-bit hash: neighbouring inputs give unrelated outputs.
uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

// A random value in [-1, 1] at every whole number, eased from one to the
// next. The whole numbers wrap every 2^32, so huge arguments still land on
// a value.
double Noise(double x) {
    const double whole = std::floor(x);
    double wrapped = std::fmod(whole, 4294967296.0);
    if (wrapped < 0.0) wrapped += 4294967296.0;
    const uint32_t cell = wrapped < 4294967296.0 ? static_cast<uint32_t>(wrapped) : 0u;
    const double here = Mix(cell) / 4294967295.0 * 2.0 - 1.0;
    const double next = Mix(cell + 1u) / 4294967295.0 * 2.0 - 1.0;
    const double f = Fraction(x);
    const double eased = f * f * (3.0 - 2.0 * f);
    return here + (next - here) * eased;
}

}  // namespace

float WaveShape(WaveForm form, double x) {
    if (!std::isfinite(x)) return 0.0f;
    const double f = Fraction(x);
    switch (form) {
    case WaveForm::kSin:
        return static_cast<float>(std::sin(f * kTwoPi));
    case WaveForm::kTriangle:
        // Up from 0 to 1 at a quarter, down to -1 at three quarters, back to 0.
        if (f < 0.25) return static_cast<float>(4.0 * f);
        if (f < 0.75) return static_cast<float>(2.0 - 4.0 * f);
        return static_cast<float>(4.0 * f - 4.0);
    case WaveForm::kSquare:
        return f < 0.5 ? 1.0f : -1.0f;
    case WaveForm::kSawtooth:
        return static_cast<float>(f);
    case WaveForm::kInverseSawtooth:
        return static_cast<float>(1.0 - f);
    case WaveForm::kNoise:
        return static_cast<float>(Noise(x));
    }
    return 0.0f;
}

float WaveValue(const Wave& wave, double seconds) {
    const double x = static_cast<double>(wave.phase) + seconds * static_cast<double>(wave.frequency);
    const double value = wave.base + static_cast<double>(wave.amplitude) * WaveShape(wave.form, x);
    // Kept within what a float holds, however large the script's numbers.
    constexpr double kLargest = 3.4e38;
    if (!(value > -kLargest)) return static_cast<float>(-kLargest);
    if (!(value < kLargest)) return static_cast<float>(kLargest);
    return static_cast<float>(value);
}

float ShaderSortOf(const ShaderDefinition& shader) {
    if (shader.sort > 0.0f) return shader.sort;
    if (shader.sky) return kSortSky;
    if (shader.fog) return kSortFog;
    if (shader.polygonOffset) return kSortDecal;
    if (!shader.stages.empty()) {
        const ShaderScriptStage& first = shader.stages.front();
        const bool blends =
            first.sourceFactor != BlendFactor::kOne || first.destinationFactor != BlendFactor::kZero;
        if (blends && !first.depthWrite) return kSortBlended;
    }
    return kSortOpaque;
}
