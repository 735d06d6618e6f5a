#include "video/resource_manager.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "console/console_object.h"
#include "base/file_helpers.h"
#include "base/message_output.h"
#include "video/d3d9/d3dx9.h"
#include "video/video_system.h"

namespace {

CBMPFormat_t s_bmpFormat;
CTGAFormat_t s_tgaFormat;
CJPGFormat_t s_jpgFormat;

// The formats registered from above, in the order they were made.
std::vector<ResourceFormat*>& RegisteredFormats() {
    static std::vector<ResourceFormat*> formats;
    return formats;
}

// The extension of the last component of name (after its last dot): a name
// whose folders hold dots ("./maps/x.lmf", "/home/me/q3.maps/x.bsp") still
// names a format by what it ends in.
std::string LastExtension(const char* name) {
    const char* base = name;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c == '/' || *c == '\\') base = c + 1;
    }
    const char* dot = std::strrchr(base, '.');
    return dot != nullptr ? std::string(dot + 1) : std::string();
}

int32_t ListResourceTotals(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    g_resourceManager.ListResources();
    return 0;
}

ConsoleCommand res_totals("res_totals", ListResourceTotals);

uint32_t BytesPerPixel(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_A4R4G4B4:
        case D3DFMT_R5G6B5:
        case D3DFMT_D16:
            return 2;
        default:
            return 4;
    }
}

int32_t Clamp32(uint64_t value) {
    return value > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

}  // namespace

CResourceManager g_resourceManager;

Resource::~Resource() {
    if (manager_ != nullptr) manager_->Forget(this);
    std::free(name_);
}

void Resource::SetName(const char* name) {
    char* copy = ::strdup(name != nullptr ? name : "");
    std::free(name_);
    name_ = copy;
}

TextureResource::~TextureResource() {
    if (texture != nullptr) texture->Release();
    texture = nullptr;
}

uint64_t TextureResource::SizeInBytes() const {
    if (texture == nullptr) return 0;
    uint64_t bytes = 0;
    const DWORD levels = texture->GetLevelCount();
    for (DWORD level = 0; level < levels; ++level) {
        D3DSURFACE_DESC description{};
        if (FAILED(texture->GetLevelDesc(level, &description))) break;
        bytes += static_cast<uint64_t>(description.Width) * description.Height *
                 BytesPerPixel(description.Format);
    }
    return bytes;
}

ResourceFormat::~ResourceFormat() { std::free(extension_); }

void ResourceFormat::SetExtension(const char* extension) {
    char* copy = ::strdup(extension);
    std::free(extension_);
    extension_ = copy;
}

Resource* CImageFormat_t::Load(const char* path) {
    if (path == nullptr) return nullptr;
    IDirect3DTexture9* texture = nullptr;
    IDirect3DDevice9* device = GetDevice();
    if (device == nullptr || FAILED(D3DXCreateTextureFromFileA(device, path, &texture))) {
        PrintLine("Resource Manager - failed to load texture file %s", path);
        return nullptr;
    }
    TextureResource* resource = new TextureResource(texture);
    resource->SetName(path);
    resource->formatIndex = 0;
    resource->registered = 0;
    return resource;
}

int32_t CBMPFormat_t::FormatWrite(void*, const void*) {
    PrintLine("Warning: CBMPFormat_t::FormatWrite is not implemented.");
    return 0;
}

int32_t CTGAFormat_t::FormatWrite(void*, const void*) {
    PrintLine("Warning: CTGAFormat_t::FormatWrite is not implemented.");
    return 0;
}

int32_t CJPGFormat_t::FormatWrite(void*, const void*) {
    PrintLine("Warning: CJPGFormat_t::FormatWrite is not implemented.");
    return 0;
}

CResourceManager::~CResourceManager() {
    // Resources outliving the manager have nobody left to tell.
    for (std::list<Resource*>& list : lists_) {
        for (Resource* resource : list) {
            resource->manager_ = nullptr;
            resource->registered = 0;
        }
    }
}

FormatRegistration::FormatRegistration(std::initializer_list<ResourceFormat*> formats) {
    for (ResourceFormat* format : formats) RegisteredFormats().push_back(format);
}

void CResourceManager::Initialise() {
    PrintLine("-- Resource Manager Initializing");
    RegisterFormat(&s_bmpFormat);
    RegisterFormat(&s_tgaFormat);
    RegisterFormat(&s_jpgFormat);
    for (ResourceFormat* format : RegisteredFormats()) RegisterFormat(format);
    lists_.resize(formats_.size());
}

uint32_t CResourceManager::RegisterFormat(ResourceFormat* format) {
    if (format == nullptr || format->Extension() == nullptr) {
        PrintLine("RegisterFormat: Invalid extension");
        return 0;
    }
    formats_.push_back(format);
    lists_.resize(formats_.size());
    return static_cast<uint32_t>(formats_.size());
}

int32_t CResourceManager::FindFormat(const std::string& extension) const {
    for (size_t i = 0; i < formats_.size(); ++i) {
        if (extension == formats_[i]->Extension()) return static_cast<int32_t>(i);
    }
    return -1;
}

Resource* CResourceManager::LoadResource(const char* name) {
    int32_t index = -1;
    if (name != nullptr) {
        index = FindFormat(FileExtension(name));
        if (index < 0) index = FindFormat(LastExtension(name));
    }
    if (index < 0) {
        PrintLine("LoadResource: Unable to find resource %i", -1);
        return nullptr;
    }
    PrintLine("Loading resource (%i), %s", index, name);
    Resource* resource = formats_[static_cast<size_t>(index)]->Load(name);
    if (resource == nullptr) {
        // The format's own lines above give the reason; this one names what
        // was asked for, which the fixed line after it does not.
        PrintLine("Could not load %s with the .%s format", name, formats_[static_cast<size_t>(index)]->Extension());
        PrintLine("Unable to load NULL resource");
        return nullptr;
    }
    resource->formatIndex = index;
    resource->registered = 1;
    resource->manager_ = this;
    lists_[static_cast<size_t>(index)].push_back(resource);
    UpdateTotals();
    return resource;
}

void CResourceManager::Forget(Resource* resource) {
    for (std::list<Resource*>& list : lists_) list.remove(resource);
    resource->registered = 0;
    resource->manager_ = nullptr;
    UpdateTotals();
}

void CResourceManager::UpdateTotals() {
    uint64_t bytes = 0;
    uint64_t count = 0;
    for (const std::list<Resource*>& list : lists_) {
        for (const Resource* resource : list) {
            bytes += resource->SizeInBytes();
            ++count;
        }
    }
    totalBytes_ = Clamp32(bytes);
    totalResources_ = Clamp32(count);
    averageSize_ = count > 0 ? Clamp32(bytes / count) : 0;
}

void CResourceManager::ListResources() const {
    PrintLine("Listing allocated resources...");
    for (size_t i = 0; i < lists_.size(); ++i) {
        for (const Resource* resource : lists_[i]) {
            if (resource->Name() != nullptr) {
                PrintLine("%i    %s", static_cast<int32_t>(i), resource->Name());
            }
        }
    }
    PrintLine("-------------------------------------");
    PrintLine("Total Bytes Allocated: %i", totalBytes_);
    PrintLine("Total Resources Allocated: %i", totalResources_);
    PrintLine("Average Size: %i", averageSize_);
}
