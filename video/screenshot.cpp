#include "video/screenshot.h"

#include <sys/stat.h>

#include <cstdio>

#include "base/message_output.h"
#include "base/paths.h"
#include "console/command_interpreter.h"
#include "console/console_object.h"
#include "video/video_system.h"

namespace {

// screenshot [FILE]: the picture is taken when the frame under way is
// presented, so it shows what the user sees, effects and overlay included.
int32_t ScreenshotCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    CVideoSystem* video = GetVideoSystem();
    if (video == nullptr) {
        PrintLine("Error: no video device to take a screenshot with");
        return 0;
    }
    // Lines are split at spaces outside double quotes, so a name in several
    // unquoted words would lose all but its first: refused rather than
    // written under a name nobody asked for.
    if (argc > 1 && argv != nullptr) {
        PrintLine("usage: screenshot [FILE], FILE one word or in double quotes (.jpg or .jpeg: JPEG, else PNG)");
        return 0;
    }
    // From a key there is no argument list: the next free number is used.
    const std::string name =
        argc >= 1 && argv != nullptr && argv[0].text != nullptr ? UnquotedArgument(argv[0].text) : std::string();
    video->RequestScreenshot(name.empty() ? std::string() : ScreenshotFileName(name.c_str()));
    return 1;
}

// A held key takes one picture, not one per frame.
ConsoleCommand screenshot("screenshot", ScreenshotCommand, KeyRepeat::kOncePerPress);

}  // namespace

std::string NextScreenshotPath(std::string* error) {
    if (!MakeFolder(kScreenshotFolder)) {
        *error = std::string("cannot make the folder ") + kScreenshotFolder;
        return {};
    }
    char path[64];
    for (int number = 0; number < kScreenshotNumbers; ++number) {
        std::snprintf(path, sizeof path, "%s/shot%04d.png", kScreenshotFolder, number);
        // Any entry of that name in any case, a folder included, keeps the
        // number taken: writing there would replace or fail.
        struct stat info;
        if (::stat(ResolvePath(path).c_str(), &info) != 0) return path;
    }
    *error = std::string("every name from shot0000.png to shot9999.png in ") + kScreenshotFolder +
             " is taken";
    return {};
}

std::string ScreenshotFileName(const std::string& given) {
    const size_t folderEnd = given.find_last_of("/\\");
    const size_t dot = given.rfind('.');
    const bool hasExtension = dot != std::string::npos && (folderEnd == std::string::npos || dot > folderEnd + 1);
    return hasExtension ? given : given + ".png";
}
