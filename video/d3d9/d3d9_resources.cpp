// Textures, surfaces, vertex and index buffers. Lockable memory is kept on
// the CPU in Direct3D's byte order and uploaded when unlocked; GL's formats
// are chosen so that those bytes go up unchanged.
#include <algorithm>
#include <cstring>

#include "video/d3d9/d3d9_internal.h"

namespace d3d9 {

namespace {

// Direct3D's little-endian ARGB words read as GL's BGRA bytes; the 16-bit
// formats keep their bit layout with the packed GL types. A16B16G16R16 holds
// red in its lowest word, which is GL's RGBA order of 16-bit channels.
const FormatInfo kFormats[] = {
    {D3DFMT_A8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, false, false, false},
    {D3DFMT_X8R8G8B8, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE, 4, false, false, true},
    {D3DFMT_A4R4G4B4, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, 2, false, false, false},
    {D3DFMT_R5G6B5, GL_RGB565, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2, false, false, true},
    {D3DFMT_A16B16G16R16, GL_RGBA16, GL_RGBA, GL_UNSIGNED_SHORT, 8, false, false, false},
    {D3DFMT_D16, GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT, 2, true, false, false},
    {D3DFMT_D24X8, GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, 4, true, false, false},
    {D3DFMT_D24S8, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL, GL_UNSIGNED_INT_24_8, 4, true, true, false},
};

UINT MipChainLength(UINT width, UINT height) {
    UINT levels = 1;
    while (width > 1 || height > 1) {
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
        ++levels;
    }
    return levels;
}

HRESULT ReturnDevice(const DeviceLinkPtr& link, IDirect3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *device = link->device;
    if (link->device == nullptr) return D3DERR_INVALIDCALL;
    link->device->AddRef();
    return D3D_OK;
}

}  // namespace

const FormatInfo* FindTextureFormat(D3DFORMAT format) {
    for (const FormatInfo& info : kFormats) {
        if (info.format == format) return &info;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Surface
// ---------------------------------------------------------------------------
ULONG Surface::AddRef() { return owner_->AddRef(); }
ULONG Surface::Release() { return owner_->Release(); }
HRESULT Surface::GetDevice(IDirect3DDevice9** device) { return owner_->GetDevice(device); }
HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    if (desc == nullptr) return D3DERR_INVALIDCALL;
    owner_->GetLevelDesc(level_, desc);
    desc->Type = D3DRTYPE_SURFACE;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Texture
// ---------------------------------------------------------------------------
HRESULT Texture::Create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                        const FormatInfo* format, D3DPOOL pool, Texture** texture) {
    std::unique_ptr<Texture> result(new Texture());
    const UINT chain = MipChainLength(width, height);
    result->link_ = device->Link();
    result->width_ = width;
    result->height_ = height;
    result->levels_ = levels == 0 ? chain : std::min(levels, chain);
    // A depth format is a depth-stencil texture whatever the usage says.
    result->usage_ = format->depth ? ((usage & ~D3DUSAGE_RENDERTARGET) | D3DUSAGE_DEPTHSTENCIL) : usage;
    result->pool_ = pool;
    result->format_ = format;

    device->MakeCurrent();
    while (glGetError() != GL_NO_ERROR) {
    }
    glGenTextures(1, &result->name_);
    glBindTexture(GL_TEXTURE_2D, result->name_);
    if (epoxy_gl_version() >= 42 || epoxy_has_gl_extension("GL_ARB_texture_storage")) {
        // The whole chain in one allocation: the driver never has to gather
        // separately made levels into one texture at the first draw.
        glTexStorage2D(GL_TEXTURE_2D, static_cast<GLsizei>(result->levels_), format->internalFormat,
                       static_cast<GLsizei>(width), static_cast<GLsizei>(height));
    } else {
        for (UINT level = 0; level < result->levels_; ++level) {
            glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), static_cast<GLint>(format->internalFormat),
                         static_cast<GLsizei>(result->LevelWidth(level)),
                         static_cast<GLsizei>(result->LevelHeight(level)), 0, format->uploadFormat,
                         format->uploadType, nullptr);
        }
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(result->levels_ - 1));
    if (format->depth) {
        // Sampled depth reads as a float 0..1 in every channel, as shaders
        // written for Direct3D's depth textures expect.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_NONE);
        const GLint swizzle[] = {GL_RED, GL_RED, GL_RED, GL_ONE};
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
    } else if (format->opaque) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    device->TextureUnitCleared();
    if (glGetError() != GL_NO_ERROR) {
        return D3DERR_OUTOFVIDEOMEMORY;  // the destructor deletes the name
    }

    // Lockable levels get their CPU memory only while locked (see LockRect).
    result->lockable_ = !format->depth && (result->usage_ & D3DUSAGE_RENDERTARGET) == 0;
    result->shadow_.resize(result->levels_);
    for (UINT level = 0; level < result->levels_; ++level) {
        result->surfaces_.push_back(std::make_unique<Surface>(result.get(), level));
    }
    *texture = result.release();
    return D3D_OK;
}

Texture::~Texture() {
    if (name_ != 0 && link_->device != nullptr) {
        link_->device->MakeCurrent();
        glDeleteTextures(1, &name_);
        link_->device->TextureDeleted(name_);
    }
}

UINT Texture::LevelWidth(UINT level) const { return std::max(1u, width_ >> level); }
UINT Texture::LevelHeight(UINT level) const { return std::max(1u, height_ >> level); }

HRESULT Texture::GetDevice(IDirect3DDevice9** device) { return ReturnDevice(link_, device); }

HRESULT Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (desc == nullptr || level >= levels_) return D3DERR_INVALIDCALL;
    desc->Format = format_->format;
    desc->Type = D3DRTYPE_TEXTURE;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = LevelWidth(level);
    desc->Height = LevelHeight(level);
    return D3D_OK;
}

HRESULT Texture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (level >= levels_) return D3DERR_INVALIDCALL;
    AddRef();
    *surface = surfaces_[level].get();
    return D3D_OK;
}

HRESULT Texture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    Device* device = link_->device;
    if (device != nullptr) device->Trace("IDirect3DTexture9::LockRect(%u, 0x%X)", level, flags);
    const auto fail = [&](const char* why) {
        return device != nullptr ? device->Invalid("LockRect: %s", why) : D3DERR_INVALIDCALL;
    };
    if (locked == nullptr) return fail("no D3DLOCKED_RECT to fill");
    if (level >= levels_) return fail("level is past the texture's level count");
    if (!lockable_) return fail("render-target and depth textures cannot be locked");
    if ((lockedLevels_ & (1u << level)) != 0) return fail("level is already locked");
    const UINT pitch = LevelWidth(level) * format_->bytesPerPixel;
    size_t offset = 0;
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
            static_cast<UINT>(rect->right) > LevelWidth(level) || static_cast<UINT>(rect->bottom) > LevelHeight(level)) {
            return fail("rectangle is outside the level");
        }
        offset = static_cast<size_t>(rect->top) * pitch + static_cast<size_t>(rect->left) * format_->bytesPerPixel;
    }
    // The level's memory exists only while it is locked: loading a world
    // would otherwise keep a second copy of every image. It starts as the
    // level's present contents (zero for a level never written).
    std::vector<uint8_t>& memory = shadow_[level];
    memory.assign(static_cast<size_t>(pitch) * LevelHeight(level), 0);
    if ((writtenLevels_ & (1u << level)) != 0 && device != nullptr) {
        device->MakeCurrent();
        glBindTexture(GL_TEXTURE_2D, name_);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, static_cast<GLint>(level), format_->uploadFormat, format_->uploadType,
                      memory.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        device->TextureUnitCleared();
    }
    lockedLevels_ |= 1u << level;
    // Read-only locks upload nothing: remember that in a second bit set.
    if ((flags & D3DLOCK_READONLY) != 0) lockedLevels_ |= 1u << (level + 16);
    locked->Pitch = static_cast<INT>(pitch);
    locked->pBits = shadow_[level].data() + offset;
    return D3D_OK;
}

HRESULT Texture::WriteLevel(UINT level, const void* pixels) {
    Device* device = link_->device;
    if (device == nullptr || pixels == nullptr || level >= levels_ || !lockable_ ||
        (lockedLevels_ & (1u << level)) != 0) {
        return D3DERR_INVALIDCALL;
    }
    device->MakeCurrent();
    glBindTexture(GL_TEXTURE_2D, name_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), 0, 0, static_cast<GLsizei>(LevelWidth(level)),
                    static_cast<GLsizei>(LevelHeight(level)), format_->uploadFormat, format_->uploadType, pixels);
    glBindTexture(GL_TEXTURE_2D, 0);
    device->TextureUnitCleared();
    writtenLevels_ |= 1u << level;
    return D3D_OK;
}

HRESULT Texture::UnlockRect(UINT level) {
    Device* device = link_->device;
    if (device != nullptr) device->Trace("IDirect3DTexture9::UnlockRect(%u)", level);
    if (level >= levels_ || (lockedLevels_ & (1u << level)) == 0) {
        return device != nullptr ? device->Invalid("UnlockRect: level %u is not locked", level) : D3DERR_INVALIDCALL;
    }
    const bool readOnly = (lockedLevels_ & (1u << (level + 16))) != 0;
    lockedLevels_ &= ~((1u << level) | (1u << (level + 16)));
    if (!readOnly && device != nullptr) {
        device->MakeCurrent();
        glBindTexture(GL_TEXTURE_2D, name_);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), 0, 0, static_cast<GLsizei>(LevelWidth(level)),
                        static_cast<GLsizei>(LevelHeight(level)), format_->uploadFormat, format_->uploadType,
                        shadow_[level].data());
        glBindTexture(GL_TEXTURE_2D, 0);
        device->TextureUnitCleared();
        writtenLevels_ |= 1u << level;
    }
    std::vector<uint8_t>().swap(shadow_[level]);
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------
VertexBuffer::~VertexBuffer() {
    if (link_->device != nullptr) link_->device->BufferDeleted(store_.Name());
    store_.Destroy(link_->device != nullptr);
}

IndexBuffer::~IndexBuffer() {
    if (link_->device != nullptr) link_->device->BufferDeleted(store_.Name());
    store_.Destroy(link_->device != nullptr);
}

bool BufferStore::Create(UINT size) {
    data_.assign(size, 0);
    definedBegin_ = 0;
    definedEnd_ = size;
    glGenBuffers(1, &name_);
    glBindBuffer(GL_ARRAY_BUFFER, name_);
    glBufferData(GL_ARRAY_BUFFER, size, nullptr, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return glGetError() == GL_NO_ERROR;
}

void BufferStore::Destroy(bool contextAlive) {
    if (name_ != 0 && contextAlive) glDeleteBuffers(1, &name_);
    name_ = 0;
}

HRESULT BufferStore::Lock(Device* device, const char* what, UINT offset, UINT size, void** data, DWORD flags) {
    const auto fail = [&](const char* why) {
        return device != nullptr ? device->Invalid("%s::Lock: %s", what, why) : D3DERR_INVALIDCALL;
    };
    if (data == nullptr) return fail("no pointer to receive the memory");
    *data = nullptr;
    if (locked_) return fail("the buffer is already locked");
    if (offset > Size()) return fail("offset is past the end of the buffer");
    if (size == 0) size = Size() - offset;
    if (size > Size() - offset) return fail("offset + size is past the end of the buffer");
    locked_ = true;
    lockOffset_ = offset;
    lockSize_ = size;
    lockFlags_ = flags;
    *data = data_.data() + offset;
    return D3D_OK;
}

HRESULT BufferStore::Unlock(Device* device, const char* what) {
    if (!locked_) return device != nullptr ? device->Invalid("%s::Unlock: the buffer is not locked", what)
                                           : D3DERR_INVALIDCALL;
    locked_ = false;
    if ((lockFlags_ & D3DLOCK_READONLY) != 0 || device == nullptr || lockSize_ == 0) return D3D_OK;
    device->MakeCurrent();
    glBindBuffer(GL_ARRAY_BUFFER, name_);
    if ((lockFlags_ & D3DLOCK_DISCARD) != 0) {
        // A fresh store (the GPU may still read the old one) that holds only
        // what was locked: a buffer refilled in part each frame sends that
        // part, not the whole buffer.
        glBufferData(GL_ARRAY_BUFFER, Size(), nullptr, GL_DYNAMIC_DRAW);
        glBufferSubData(GL_ARRAY_BUFFER, lockOffset_, lockSize_, data_.data() + lockOffset_);
        definedBegin_ = lockOffset_;
        definedEnd_ = lockOffset_ + lockSize_;
    } else {
        glBufferSubData(GL_ARRAY_BUFFER, lockOffset_, lockSize_, data_.data() + lockOffset_);
        definedBegin_ = std::min(definedBegin_, lockOffset_);
        definedEnd_ = std::max(definedEnd_, lockOffset_ + lockSize_);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return D3D_OK;
}

HRESULT VertexBuffer::GetDevice(IDirect3DDevice9** device) { return ReturnDevice(link_, device); }

HRESULT VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (link_->device != nullptr) {
        link_->device->Trace("IDirect3DVertexBuffer9::Lock(%u, %u, 0x%X)", offset, size, flags);
    }
    return store_.Lock(link_->device, "IDirect3DVertexBuffer9", offset, size, data, flags);
}

HRESULT VertexBuffer::Unlock() {
    if (link_->device != nullptr) link_->device->Trace("IDirect3DVertexBuffer9::Unlock()");
    return store_.Unlock(link_->device, "IDirect3DVertexBuffer9");
}

HRESULT VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (desc == nullptr) return D3DERR_INVALIDCALL;
    desc->Format = D3DFMT_VERTEXDATA;
    desc->Type = D3DRTYPE_VERTEXBUFFER;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->Size = store_.Size();
    desc->FVF = fvf_;
    return D3D_OK;
}

HRESULT IndexBuffer::GetDevice(IDirect3DDevice9** device) { return ReturnDevice(link_, device); }

HRESULT IndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (link_->device != nullptr) {
        link_->device->Trace("IDirect3DIndexBuffer9::Lock(%u, %u, 0x%X)", offset, size, flags);
    }
    return store_.Lock(link_->device, "IDirect3DIndexBuffer9", offset, size, data, flags);
}

// Widens [lowest, highest] to hold the count indices at data.
void WidenIndexRange(const uint8_t* data, UINT count, UINT indexSize, uint32_t* lowest, uint32_t* highest) {
    for (UINT i = 0; i < count; ++i) {
        uint32_t index;
        if (indexSize == 2) {
            uint16_t small;
            std::memcpy(&small, data + i * 2, 2);
            index = small;
        } else {
            std::memcpy(&index, data + i * 4, 4);
        }
        *lowest = std::min(*lowest, index);
        *highest = std::max(*highest, index);
    }
}

void IndexBuffer::WholeRange(uint32_t* lowest, uint32_t* highest) {
    if (!rangeKnown_) {
        lowest_ = 0xFFFFFFFFu;
        highest_ = 0;
        WidenIndexRange(store_.Data(), store_.Size() / IndexSize(), IndexSize(), &lowest_, &highest_);
        rangeKnown_ = true;
    }
    *lowest = lowest_;
    *highest = highest_;
}

HRESULT IndexBuffer::Unlock() {
    if (link_->device != nullptr) link_->device->Trace("IDirect3DIndexBuffer9::Unlock()");
    // Only what this lock may have written can move the known bounds: a
    // dynamic buffer refilled every frame costs a scan of what was written,
    // not of the whole buffer, and read-only locks cost nothing.
    if (store_.Locked() && (store_.LockFlags() & (D3DLOCK_READONLY | D3DLOCK_DISCARD)) == D3DLOCK_DISCARD) {
        // Nothing outside this lock is defined any more (draws that read
        // there are refused), so its range is the buffer's.
        rangeKnown_ = true;
        lowest_ = 0xFFFFFFFFu;
        highest_ = 0;
    }
    if (store_.Locked() && rangeKnown_ && (store_.LockFlags() & D3DLOCK_READONLY) == 0) {
        const UINT size = IndexSize();
        const UINT first = (store_.LockOffset() + size - 1) / size;
        const UINT end = (store_.LockOffset() + store_.LockSize()) / size;
        if (store_.LockOffset() % size != 0 || store_.LockSize() % size != 0) {
            rangeKnown_ = false;  // a lock that splits indices: scan everything again
        } else if (end > first) {
            WidenIndexRange(store_.Data() + static_cast<size_t>(first) * size, end - first, size, &lowest_, &highest_);
        }
    }
    return store_.Unlock(link_->device, "IDirect3DIndexBuffer9");
}

HRESULT IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (desc == nullptr) return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Type = D3DRTYPE_INDEXBUFFER;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->Size = store_.Size();
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Device: resource creation
// ---------------------------------------------------------------------------
HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE*) {
    if (Tracing()) Trace("CreateTexture(%u, %u, %u, 0x%X, %s, %s)", width, height, levels, usage, FormatName(format).c_str(),
          PoolName(pool).c_str());
    if (texture == nullptr) return Invalid("CreateTexture: no pointer to receive the texture");
    *texture = nullptr;
    const FormatInfo* info = FindTextureFormat(format);
    if (info == nullptr) return Invalid("CreateTexture: format %s is not supported", FormatName(format).c_str());
    if (width == 0 || height == 0 || width > caps_.MaxTextureWidth || height > caps_.MaxTextureHeight) {
        return Invalid("CreateTexture: size %ux%u is outside 1..%u", width, height, caps_.MaxTextureWidth);
    }
    if ((usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) != 0 && pool != D3DPOOL_DEFAULT) {
        return Invalid("CreateTexture: render-target and depth-stencil textures must be in D3DPOOL_DEFAULT");
    }
    if ((usage & D3DUSAGE_RENDERTARGET) != 0 && info->depth) {
        return Invalid("CreateTexture: %s cannot be a render target", FormatName(format).c_str());
    }
    if ((usage & D3DUSAGE_DEPTHSTENCIL) != 0 && !info->depth) {
        return Invalid("CreateTexture: %s is not a depth format", FormatName(format).c_str());
    }
    Texture* created = nullptr;
    const HRESULT result = Texture::Create(this, width, height, levels, usage, info, pool, &created);
    if (FAILED(result)) return result;
    *texture = created;
    return D3D_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                                   HANDLE*) {
    if (Tracing()) Trace("CreateVertexBuffer(%u, 0x%X, %s, %s)", length, usage, FvfText(fvf).c_str(), PoolName(pool).c_str());
    if (buffer == nullptr) return Invalid("CreateVertexBuffer: no pointer to receive the buffer");
    *buffer = nullptr;
    if (length == 0) return Invalid("CreateVertexBuffer: length is 0");
    MakeCurrent();
    auto* created = new VertexBuffer(link_, usage, fvf, pool);
    if (!created->Store().Create(length)) {
        created->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = created;
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE*) {
    if (Tracing()) Trace("CreateIndexBuffer(%u, 0x%X, %s, %s)", length, usage, FormatName(format).c_str(), PoolName(pool).c_str());
    if (buffer == nullptr) return Invalid("CreateIndexBuffer: no pointer to receive the buffer");
    *buffer = nullptr;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) {
        return Invalid("CreateIndexBuffer: format %s is not D3DFMT_INDEX16 or D3DFMT_INDEX32", FormatName(format).c_str());
    }
    if (length == 0) return Invalid("CreateIndexBuffer: length is 0");
    MakeCurrent();
    auto* created = new IndexBuffer(link_, usage, format, pool);
    if (!created->Store().Create(length)) {
        created->Release();
        return D3DERR_OUTOFVIDEOMEMORY;
    }
    *buffer = created;
    return D3D_OK;
}

}  // namespace d3d9
