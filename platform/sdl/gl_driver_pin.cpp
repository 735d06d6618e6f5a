#include "platform/sdl/gl_driver_pin.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

bool IsGlDriver(const char* path) {
    const char* name = std::strrchr(path, '/');
    name = name != nullptr ? name + 1 : path;
    const size_t length = std::strlen(name);
    return (length > 7 && std::strcmp(name + length - 7, "_dri.so") == 0) ||
           std::strncmp(name, "libgallium", 10) == 0;
}

}  // namespace

void KeepGlDriversLoaded() {
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* context) {
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' && IsGlDriver(info->dlpi_name)) {
                static_cast<std::vector<std::string>*>(context)->emplace_back(info->dlpi_name);
            }
            return 0;
        },
        &drivers);
    // Reopened without loading anything: the flag is added to the module
    // already there, and the reference taken here is never given back.
    for (const std::string& driver : drivers) dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
