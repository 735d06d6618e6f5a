// Font files by family name, through fontconfig: the overlay and the
// start-up dialog both draw with outline fonts the system provides.
#pragma once

#include <string>

struct FontFile {
    std::string path;
    int index = 0;  // the face within the file
};

// The outline font fontconfig matches to family (its closest face when the
// family is missing); false when none is found.
bool FindOutlineFont(const char* family, FontFile* font);

// Gives back fontconfig's configuration and caches (a later lookup loads
// them again). Call when no font lookup is in progress.
void ReleaseFontLookup();
