// Screenshots on demand: the screenshot command asks the video subsystem for
// the next presented frame; these helpers choose where the picture goes.
#pragma once

#include <string>

constexpr const char* kScreenshotFolder = "screenshots";
constexpr int kScreenshotNumbers = 10000;  // shot0000.png to shot9999.png

// "screenshots/shotNNNN.png" with the lowest number no file has yet, the
// folder created in the content folder when it is missing. Empty, with the
// reason in *error, when the folder cannot be made or every number is taken.
std::string NextScreenshotPath(std::string* error);

// The file a name given to the command stands for: ".png" is added to a name
// without an extension. A name ending in ".jpg" or ".jpeg" is written as
// JPEG, any other as PNG.
std::string ScreenshotFileName(const std::string& given);
