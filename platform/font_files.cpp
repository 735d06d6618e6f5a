#include "platform/font_files.h"

#include <fontconfig/fontconfig.h>

bool FindOutlineFont(const char* family, FontFile* font) {
    if (family == nullptr || font == nullptr) return false;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
    if (pattern == nullptr) return false;
    // The rasterisers read outline fonts only.
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* file = nullptr;
    font->path.clear();
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr) {
        font->path = reinterpret_cast<const char*>(file);
    }
    if (FcPatternGetInteger(match, FC_INDEX, 0, &font->index) != FcResultMatch) font->index = 0;
    FcPatternDestroy(match);
    return !font->path.empty();
}

void ReleaseFontLookup() { FcFini(); }
