#include "video/d3d9/hlsl_globals.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

struct Token {
    std::string text;
    size_t begin;
    size_t end;
};

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Splits source into identifiers, numbers and one-character punctuation,
// dropping comments, string literals and preprocessor lines.
std::vector<Token> Tokenize(const std::string& src) {
    std::vector<Token> tokens;
    const size_t n = src.size();
    size_t i = 0;
    bool lineStart = true;
    while (i < n) {
        const char c = src[i];
        if (c == '\n') {
            lineStart = true;
            ++i;
            continue;
        }
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        if (c == '#' && lineStart) {
            // A directive runs to the end of the line, continued by a backslash.
            while (i < n && src[i] != '\n') {
                if (src[i] == '\\' && i + 1 < n && src[i + 1] == '\n') ++i;
                ++i;
            }
            continue;
        }
        lineStart = false;
        if (c == '/' && i + 1 < n && src[i + 1] == '/') {
            while (i < n && src[i] != '\n') ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && src[i + 1] == '*') {
            const size_t close = src.find("*/", i + 2);
            i = close == std::string::npos ? n : close + 2;
            continue;
        }
        if (c == '"') {
            ++i;
            while (i < n && src[i] != '"' && src[i] != '\n') i += src[i] == '\\' ? 2 : 1;
            i = std::min(n, i + 1);
            continue;
        }
        const size_t begin = i;
        if (IsIdentStart(c)) {
            while (i < n && IsIdentChar(src[i])) ++i;
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            while (i < n && (IsIdentChar(src[i]) || src[i] == '.')) ++i;
        } else {
            ++i;
        }
        tokens.push_back({src.substr(begin, i - begin), begin, i});
    }
    return tokens;
}

bool IsSamplerType(const std::string& lowerType) {
    return lowerType.rfind("sampler", 0) == 0 || lowerType.rfind("texture", 0) == 0;
}

bool IsOtherResourceType(const std::string& lowerType) {
    return lowerType.rfind("rw", 0) == 0 || lowerType.find("buffer") != std::string::npos ||
           lowerType == "sampler_state";
}

// Registers one element of a numeric type takes: one per vector, one per
// column of a column-major matrix, one per row of a row-major one.
int RegistersForType(const std::string& lowerType, const std::vector<int>& templateArgs, bool rowMajor) {
    int rows = 1;
    int cols = 1;
    bool matrix = false;
    if (lowerType == "matrix") {
        matrix = true;
        rows = templateArgs.size() >= 3 ? templateArgs[1] : 4;
        cols = templateArgs.size() >= 3 ? templateArgs[2] : 4;
    } else {
        static const char* const kScalars[] = {"min16float", "min10float", "min16uint", "min16int", "min12int",
                                               "float",      "half",       "double",    "dword",    "uint",
                                               "int",        "bool"};
        for (const char* scalar : kScalars) {
            const std::string prefix = scalar;
            if (lowerType.rfind(prefix, 0) != 0) continue;
            const std::string dims = lowerType.substr(prefix.size());
            if (dims.size() == 3 && std::isdigit(static_cast<unsigned char>(dims[0])) && dims[1] == 'x' &&
                std::isdigit(static_cast<unsigned char>(dims[2]))) {
                matrix = true;
                rows = dims[0] - '0';
                cols = dims[2] - '0';
            }
            break;
        }
    }
    if (!matrix) return 1;
    return std::max(1, rowMajor ? rows : cols);
}

void ParseDeclaration(const std::vector<Token>& t, size_t begin, size_t end, std::vector<HlslGlobal>* out) {
    size_t i = begin;
    bool rowMajor = false;
    for (; i < end; ++i) {
        const std::string word = Lower(t[i].text);
        if (word == "static" || word == "const" || word == "typedef" || word == "groupshared" || word == "struct" ||
            word == "cbuffer" || word == "tbuffer" || word == "namespace")
            return;
        if (word == "row_major") {
            rowMajor = true;
        } else if (word == "column_major") {
            rowMajor = false;
        } else if (word != "uniform" && word != "extern" && word != "volatile" && word != "shared" &&
                   word != "precise") {
            break;
        }
    }
    if (i >= end || !IsIdentStart(t[i].text[0])) return;
    const std::string type = Lower(t[i].text);
    ++i;
    std::vector<int> templateArgs;
    if (i < end && t[i].text == "<") {
        for (++i; i < end && t[i].text != ">"; ++i) templateArgs.push_back(std::atoi(t[i].text.c_str()));
        ++i;
    }
    if (IsOtherResourceType(type)) return;
    const bool sampler = IsSamplerType(type);
    const int elementRegisters = RegistersForType(type, templateArgs, rowMajor);

    while (i < end) {
        if (!IsIdentStart(t[i].text[0])) return;
        HlslGlobal g;
        g.name = t[i].text;
        g.isSampler = sampler;
        g.annotationPos = t[i].end;
        ++i;
        if (i < end && t[i].text == "(") return;  // a function prototype
        int elements = 1;
        while (i < end && t[i].text == "[") {
            const int dim = i + 1 < end ? std::atoi(t[i + 1].text.c_str()) : 0;
            elements *= std::max(1, dim);
            while (i < end && t[i].text != "]") ++i;
            if (i < end) g.annotationPos = t[i].end;
            ++i;
        }
        g.registerCount = elementRegisters * elements;
        while (i < end && t[i].text == ":") {
            ++i;
            if (i + 1 < end && Lower(t[i].text) == "register" && t[i + 1].text == "(") {
                // register(c5) or register(vs, c5): the last register name counts.
                for (i += 2; i < end && t[i].text != ")"; ++i) {
                    const std::string& r = t[i].text;
                    if (r.size() >= 2 && std::isalpha(static_cast<unsigned char>(r[0])) &&
                        std::all_of(r.begin() + 1, r.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
                        g.registerClass = static_cast<char>(std::tolower(static_cast<unsigned char>(r[0])));
                        g.registerNumber = std::atoi(r.c_str() + 1);
                    }
                }
                ++i;
            } else {
                g.hasOtherAnnotation = true;
                int depth = 0;
                for (; i < end; ++i) {
                    const std::string& x = t[i].text;
                    if (x == "(") ++depth;
                    if (x == ")") --depth;
                    if (depth == 0 && (x == ":" || x == "=" || x == "," || x == "<")) break;
                }
            }
        }
        if (i < end && t[i].text == "<") {  // an annotation block <...>
            while (i < end && t[i].text != ">") ++i;
            ++i;
        }
        if (i < end && t[i].text == "=") {
            int depth = 0;
            for (++i; i < end; ++i) {
                const std::string& x = t[i].text;
                if (x == "(" || x == "{" || x == "[") ++depth;
                if (x == ")" || x == "}" || x == "]") --depth;
                if (depth == 0 && x == ",") break;
            }
        }
        out->push_back(g);
        if (i < end && t[i].text == ",") {
            ++i;
            continue;
        }
        return;
    }
}

}  // namespace

std::vector<HlslGlobal> ScanHlslGlobals(const std::string& source) {
    const std::vector<Token> t = Tokenize(source);
    std::vector<HlslGlobal> globals;
    size_t i = 0;
    while (i < t.size()) {
        const size_t begin = i;
        int paren = 0;
        int brace = 0;
        bool assigned = false;
        bool block = false;
        for (; i < t.size(); ++i) {
            const std::string& x = t[i].text;
            if (x == "(") ++paren;
            if (x == ")") paren = std::max(0, paren - 1);
            if (paren > 0) continue;
            if (x == "=" && brace == 0) assigned = true;
            if (x == "{") {
                if (!assigned && brace == 0) {
                    block = true;
                    break;
                }
                ++brace;
            }
            if (x == "}") brace = std::max(0, brace - 1);
            if (x == ";" && brace == 0) break;
        }
        const size_t end = std::min(i, t.size());
        if (!block) {
            ParseDeclaration(t, begin, end, &globals);
            ++i;
            continue;
        }
        // A function body, struct, cbuffer or the like: skip to its closing
        // brace; "struct S {...} s;" also takes the declarators up to ';'.
        const bool isStruct = Lower(t[begin].text) == "struct";
        int depth = 0;
        for (; i < t.size(); ++i) {
            if (t[i].text == "{") ++depth;
            if (t[i].text == "}" && --depth == 0) break;
        }
        ++i;
        if (isStruct) {
            while (i < t.size() && t[i].text != ";") ++i;
            ++i;
        }
    }
    return globals;
}

std::string AssignConstantRegisters(const std::string& source, const std::vector<HlslGlobal>& globals) {
    int next = 0;
    for (const HlslGlobal& g : globals) {
        if (!g.isSampler && g.registerClass == 'c') next = std::max(next, g.registerNumber + g.registerCount);
    }
    struct Insertion {
        size_t pos;
        std::string text;
    };
    std::vector<Insertion> insertions;
    for (const HlslGlobal& g : globals) {
        if (g.isSampler || g.registerClass != 0 || g.hasOtherAnnotation) continue;
        insertions.push_back({g.annotationPos, " : register(c" + std::to_string(next) + ")"});
        next += g.registerCount;
    }
    std::string result = source;
    for (auto it = insertions.rbegin(); it != insertions.rend(); ++it) result.insert(it->pos, it->text);
    return result;
}
