// The resource manager: turns a file name into a loaded resource by the
// format registered for the name's extension, and keeps a list per format of
// what it loaded.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <list>
#include <string>
#include <vector>

#include "video/d3d9/d3d9.h"

class CResourceManager;

class Resource {
public:
    Resource() = default;
    // Tells the manager the resource is gone, so its listing never reads it.
    virtual ~Resource();
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    void SetName(const char* name);
    const char* Name() const { return name_; }
    // Bytes the resource holds, for the manager's totals.
    virtual uint64_t SizeInBytes() const { return 0; }

    int32_t formatIndex = -1;
    int32_t registered = 0;

private:
    friend class CResourceManager;
    char* name_ = nullptr;
    CResourceManager* manager_ = nullptr;  // the manager listing it, if any
};

// An image loaded as a Direct3D texture.
class TextureResource : public Resource {
public:
    explicit TextureResource(IDirect3DTexture9* loaded) : texture(loaded) {}
    ~TextureResource() override;
    uint64_t SizeInBytes() const override;

    IDirect3DTexture9* texture = nullptr;
};

class ResourceFormat {
public:
    ResourceFormat() = default;
    virtual ~ResourceFormat();
    ResourceFormat(const ResourceFormat&) = delete;
    ResourceFormat& operator=(const ResourceFormat&) = delete;

    // A new resource loaded from path, or null.
    virtual Resource* Load(const char* path) = 0;
    // Writing resources back is not supported by any format.
    virtual int32_t FormatWrite(void* destination, const void* source) = 0;

    const char* Extension() const { return extension_; }

protected:
    void SetExtension(const char* extension);

private:
    char* extension_ = nullptr;
};

// The three image formats share one texture loader.
class CImageFormat_t : public ResourceFormat {
public:
    Resource* Load(const char* path) override;
};

class CBMPFormat_t : public CImageFormat_t {
public:
    CBMPFormat_t() { SetExtension("bmp"); }
    int32_t FormatWrite(void* destination, const void* source) override;
};

class CTGAFormat_t : public CImageFormat_t {
public:
    CTGAFormat_t() { SetExtension("tga"); }
    int32_t FormatWrite(void* destination, const void* source) override;
};

class CJPGFormat_t : public CImageFormat_t {
public:
    CJPGFormat_t() { SetExtension("jpg"); }
    int32_t FormatWrite(void* destination, const void* source) override;
};

// Formats of resources owned above the video layer (worlds) register
// themselves through one of these, made at static initialisation; each
// manager's Initialise registers them after its image formats, in the order
// they were made.
class FormatRegistration {
public:
    explicit FormatRegistration(std::initializer_list<ResourceFormat*> formats);
};

class CResourceManager {
public:
    CResourceManager() = default;
    ~CResourceManager();

    // Registers the engine's formats (the images, then the registered
    // ones); called once at start-up.
    void Initialise();
    // The new number of formats, or 0 when refused.
    uint32_t RegisterFormat(ResourceFormat* format);
    // The format is chosen by the name's extension (FileExtension); a name
    // whose folders hold dots falls back to the extension of its last
    // component. The comparison is case-sensitive either way.
    Resource* LoadResource(const char* name);
    // The listing printed by res_totals.
    void ListResources() const;

    // Called by every resource as it is deleted.
    void Forget(Resource* resource);

    uint32_t FormatCount() const { return static_cast<uint32_t>(formats_.size()); }
    const std::list<Resource*>& List(uint32_t index) const { return lists_[index]; }
    int32_t TotalBytes() const { return totalBytes_; }
    int32_t TotalResources() const { return totalResources_; }
    int32_t AverageSize() const { return averageSize_; }

private:
    void UpdateTotals();
    int32_t FindFormat(const std::string& extension) const;

    std::vector<ResourceFormat*> formats_;
    std::vector<std::list<Resource*>> lists_;
    int32_t totalBytes_ = 0;
    int32_t totalResources_ = 0;
    int32_t averageSize_ = 0;
};

extern CResourceManager g_resourceManager;
