// The device: its context and back buffer, frames, render targets, clears
// and draws. The back buffer is always an offscreen framebuffer; Present
// copies it to the window (flipped, since GL windows count rows from the
// bottom) and keeps it as the last presented frame.
#include <stb_image_write.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "video/d3d9/d3d9_internal.h"
#include "video/d3d9/jpeg_encoder.h"

namespace d3d9 {

namespace {

template <class Object>
void Drop(Object* object) {
    if (object != nullptr) object->Release();
}

// Saved frames are JPEG when the name says so, PNG otherwise.
constexpr int kScreenshotJpegQuality = 95;

bool NamesJpeg(const char* path) {
    const size_t length = std::strlen(path);
    const auto endsWith = [&](const char* extension) {
        const size_t n = std::strlen(extension);
        return length >= n && ::strcasecmp(path + length - n, extension) == 0;
    };
    return endsWith(".jpg") || endsWith(".jpeg");
}

}  // namespace

HRESULT Device::Create(Direct3D* direct3d, HWND window, const D3DPRESENT_PARAMETERS& parameters, Device** device,
                       std::string* error) {
    auto* created = new Device();
    created->link_ = std::make_shared<DeviceLink>();
    created->link_->device = created;
    created->direct3d_ = direct3d;
    direct3d->AddRef();
    if (!created->Initialise(window, parameters, error)) {
        created->Release();
        return D3DERR_NOTAVAILABLE;
    }
    *device = created;
    return D3D_OK;
}

bool Device::Initialise(HWND window, const D3DPRESENT_PARAMETERS& parameters, std::string* error) {
    context_ = window->HasDisplay() ? GlContext::CreateOnWindow(window, error) : GlContext::CreateOffscreen(error);
    if (!context_) return false;
    context_->MakeCurrent();
    if (epoxy_gl_version() < 33) {
        *error = "OpenGL 3.3 is needed";
        return false;
    }
    if (epoxy_gl_version() < 45 && !epoxy_has_gl_extension("GL_ARB_clip_control")) {
        *error = "GL_ARB_clip_control is needed for Direct3D's depth range and row order";
        return false;
    }
    // Clip depth 0..1 as in Direct3D, and clip y = +1 on the first stored row
    // so that every surface is stored top row first.
    glClipControl(GL_UPPER_LEFT, GL_ZERO_TO_ONE);

    AdapterInfo adapter;
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    adapter.maxTextureSize = maxSize;
    FillCaps(adapter, &caps_);

    parameters_ = parameters;
    if (parameters_.BackBufferWidth == 0) parameters_.BackBufferWidth = static_cast<UINT>(std::max(1, window->Width()));
    if (parameters_.BackBufferHeight == 0) {
        parameters_.BackBufferHeight = static_cast<UINT>(std::max(1, window->Height()));
    }
    if (parameters_.BackBufferFormat == D3DFMT_UNKNOWN) parameters_.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters_.hDeviceWindow = window;
    const FormatInfo* colorFormat = FindTextureFormat(parameters_.BackBufferFormat);
    if (colorFormat == nullptr || colorFormat->depth) {
        *error = "back-buffer format " + FormatName(parameters_.BackBufferFormat) + " is not supported";
        return false;
    }
    if (!CreateSwapBuffers(error)) return false;

    glGenFramebuffers(1, &framebuffer_);
    glGenFramebuffers(1, &readFramebuffer_);
    glGenFramebuffers(1, &lastFrameFramebuffer_);
    AttachSwapBuffers();
    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    glGenBuffers(1, &upBuffer_);
    glGenBuffers(2, constantBuffers_.data());
    glGenSamplers(kMaxStages, samplers_.data());

    renderTarget_ = backBuffer_->SurfaceAt(0);
    renderTarget_->AddRef();
    if (autoDepth_ != nullptr) {
        depthStencil_ = autoDepth_->SurfaceAt(0);
        depthStencil_->AddRef();
    }
    SetDefaultStates(&state_, autoDepth_ != nullptr);
    ResetViewportToTarget();
    if (!BuildFixedFunctionProgram(&fixedProgram_, error)) return false;
    if (glGetError() != GL_NO_ERROR) {
        *error = "OpenGL reported an error while the device was set up";
        return false;
    }
    return true;
}

bool Device::CreateSwapBuffers(std::string* error) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const FormatInfo* colorFormat = FindTextureFormat(parameters_.BackBufferFormat);
    if (colorFormat == nullptr || colorFormat->depth) {
        *error = "back-buffer format " + FormatName(parameters_.BackBufferFormat) + " is not supported";
        return false;
    }
    const UINT width = parameters_.BackBufferWidth;
    const UINT height = parameters_.BackBufferHeight;
    if (width > static_cast<UINT>(maxSize) || height > static_cast<UINT>(maxSize)) {
        *error = "back buffer is larger than GL_MAX_TEXTURE_SIZE";
        return false;
    }
    if (FAILED(Texture::Create(this, width, height, 1, D3DUSAGE_RENDERTARGET, colorFormat, D3DPOOL_DEFAULT,
                               &backBuffer_)) ||
        FAILED(Texture::Create(this, width, height, 1, D3DUSAGE_RENDERTARGET, colorFormat, D3DPOOL_DEFAULT,
                               &lastFrame_))) {
        *error = "could not create the back buffer";
        return false;
    }
    if (parameters_.EnableAutoDepthStencil) {
        const FormatInfo* depthFormat = FindTextureFormat(parameters_.AutoDepthStencilFormat);
        if (depthFormat == nullptr || !depthFormat->depth ||
            FAILED(Texture::Create(this, width, height, 1, D3DUSAGE_DEPTHSTENCIL, depthFormat, D3DPOOL_DEFAULT,
                                   &autoDepth_))) {
            *error = "could not create the depth-stencil buffer " + FormatName(parameters_.AutoDepthStencilFormat);
            return false;
        }
    }
    return true;
}

void Device::AttachSwapBuffers() {
    ForgetGlState();
    glBindFramebuffer(GL_FRAMEBUFFER, readFramebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, backBuffer_->Name(), 0);
    glBindFramebuffer(GL_FRAMEBUFFER, lastFrameFramebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, lastFrame_->Name(), 0);
    framebufferDirty_ = true;
}

Device::~Device() {
    if (context_) {
        MakeCurrent();
        if (recording_ != nullptr) recording_->Release();
        ReleaseStateReferences(&state_);
        Drop(renderTarget_);
        for (Surface*& target : moreTargets_) Drop(target);
        Drop(depthStencil_);
        Drop(stream_);
        Drop(indices_);
        Drop(backBuffer_);
        Drop(autoDepth_);
        Drop(lastFrame_);
        for (auto& entry : programs_) {
            glDeleteProgram(entry.second.name);
            for (Program::ConstantBlock& block : entry.second.blocks) glDeleteBuffers(1, &block.buffer);
        }
        if (fixedProgram_.name != 0) glDeleteProgram(fixedProgram_.name);
        glDeleteFramebuffers(1, &framebuffer_);
        glDeleteFramebuffers(1, &readFramebuffer_);
        glDeleteFramebuffers(1, &lastFrameFramebuffer_);
        glDeleteVertexArrays(1, &vertexArray_);
        glDeleteBuffers(1, &upBuffer_);
        glDeleteBuffers(2, constantBuffers_.data());
        glDeleteSamplers(kMaxStages, samplers_.data());
        if (sampleQuery_ != 0) glDeleteQueries(1, &sampleQuery_);
        glDeleteQueries(static_cast<GLsizei>(pendingQueries_.size()), pendingQueries_.data());
        glDeleteQueries(static_cast<GLsizei>(freeQueries_.size()), freeQueries_.data());
    }
    // Whatever is still referenced elsewhere lives on without GL names.
    link_->device = nullptr;
    context_.reset();
    if (direct3d_ != nullptr) direct3d_->Release();
}

void Device::MakeCurrent() {
    if (context_) context_->MakeCurrent();
}

// Counting does not wait for the draws it counts: each count's result is
// read once it is ready, a few frames later, or when the counters are read.
bool Device::CountSamples(bool begin) {
    if (!context_ || begin == countingSamples_) return false;
    MakeCurrent();
    if (begin) {
        CollectSamples(false);
        if (!freeQueries_.empty()) {
            sampleQuery_ = freeQueries_.back();
            freeQueries_.pop_back();
        } else {
            glGenQueries(1, &sampleQuery_);
        }
        glBeginQuery(GL_SAMPLES_PASSED, sampleQuery_);
    } else {
        glEndQuery(GL_SAMPLES_PASSED);
        pendingQueries_.push_back(sampleQuery_);
        sampleQuery_ = 0;
    }
    countingSamples_ = begin;
    return true;
}

void Device::CollectSamples(bool wait) {
    if (!context_ || pendingQueries_.empty()) return;
    MakeCurrent();
    size_t done = 0;
    for (; done < pendingQueries_.size(); ++done) {
        const GLuint query = pendingQueries_[done];
        if (!wait) {
            GLuint ready = 0;
            glGetQueryObjectuiv(query, GL_QUERY_RESULT_AVAILABLE, &ready);
            if (ready == 0) break;
        }
        GLuint64 samples = 0;
        glGetQueryObjectui64v(query, GL_QUERY_RESULT, &samples);
        counters_.samplesPassed += samples;
        freeQueries_.push_back(query);
    }
    pendingQueries_.erase(pendingQueries_.begin(), pendingQueries_.begin() + static_cast<ptrdiff_t>(done));
}

void Device::Trace(const char* format, ...) {
    if (trace_ == nullptr) return;
    va_list args;
    va_start(args, format);
    trace_->push_back(FormatText(format, args));
    va_end(args);
}

HRESULT Device::Invalid(const char* format, ...) {
    if (trace_ != nullptr) {
        va_list args;
        va_start(args, format);
        trace_->push_back("error: " + FormatText(format, args));
        va_end(args);
    }
    return D3DERR_INVALIDCALL;
}

// ---------------------------------------------------------------------------
// Device and frame
// ---------------------------------------------------------------------------
HRESULT Device::TestCooperativeLevel() { return D3D_OK; }

// A new back buffer (and depth buffer) of the size asked for; the render
// target and depth surface go back to them, as after creation. Resources the
// engine made stay valid: nothing here is ever lost.
HRESULT Device::Reset(D3DPRESENT_PARAMETERS* parameters) {
    if (Tracing()) Trace("Reset(%ux%u)", parameters != nullptr ? parameters->BackBufferWidth : 0u,
          parameters != nullptr ? parameters->BackBufferHeight : 0u);
    if (parameters == nullptr) return Invalid("Reset: no presentation parameters");
    if (inScene_) return Invalid("Reset: inside BeginScene/EndScene");
    MakeCurrent();
    D3DPRESENT_PARAMETERS next = *parameters;
    if (next.BackBufferWidth == 0 || next.BackBufferHeight == 0) {
        PlatformWindow* window = context_->Window();
        if (next.BackBufferWidth == 0) {
            next.BackBufferWidth = static_cast<UINT>(std::max(1, window != nullptr ? window->Width() : 1));
        }
        if (next.BackBufferHeight == 0) {
            next.BackBufferHeight = static_cast<UINT>(std::max(1, window != nullptr ? window->Height() : 1));
        }
    }
    if (next.BackBufferFormat == D3DFMT_UNKNOWN) next.BackBufferFormat = parameters_.BackBufferFormat;
    next.hDeviceWindow = parameters_.hDeviceWindow;

    const D3DPRESENT_PARAMETERS previous = parameters_;
    Texture* oldBack = backBuffer_;
    Texture* oldLast = lastFrame_;
    Texture* oldDepth = autoDepth_;
    backBuffer_ = lastFrame_ = autoDepth_ = nullptr;
    parameters_ = next;
    std::string error;
    if (!CreateSwapBuffers(&error)) {
        Drop(backBuffer_);
        Drop(lastFrame_);
        Drop(autoDepth_);
        backBuffer_ = oldBack;
        lastFrame_ = oldLast;
        autoDepth_ = oldDepth;
        parameters_ = previous;
        return Invalid("Reset: %s", error.c_str());
    }
    Drop(oldBack);
    Drop(oldLast);
    Drop(oldDepth);
    AttachSwapBuffers();
    Drop(renderTarget_);
    renderTarget_ = backBuffer_->SurfaceAt(0);
    renderTarget_->AddRef();
    // Direct3D: a reset leaves only the back buffer bound.
    for (Surface*& target : moreTargets_) {
        Drop(target);
        target = nullptr;
    }
    Drop(depthStencil_);
    if (autoDepth_ != nullptr) {
        depthStencil_ = autoDepth_->SurfaceAt(0);
        depthStencil_->AddRef();
    }
    framePresented_ = false;
    ResetViewportToTarget();
    *parameters = parameters_;
    return D3D_OK;
}

HRESULT Device::GetDirect3D(IDirect3D9** direct3d) {
    if (direct3d == nullptr) return Invalid("GetDirect3D: no pointer to fill");
    *direct3d = direct3d_;
    direct3d_->AddRef();
    return D3D_OK;
}

HRESULT Device::GetDeviceCaps(D3DCAPS9* caps) {
    if (caps == nullptr) return Invalid("GetDeviceCaps: no D3DCAPS9 to fill");
    *caps = caps_;
    return D3D_OK;
}

HRESULT Device::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (swapChain != 0 || mode == nullptr) return Invalid("GetDisplayMode: bad swap chain %u or no mode", swapChain);
    return direct3d_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, mode);
}

HRESULT Device::BeginScene() {
    if (Tracing()) Trace("BeginScene()");
    if (inScene_) return Invalid("BeginScene: already inside BeginScene/EndScene");
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (Tracing()) Trace("EndScene()");
    if (!inScene_) return Invalid("EndScene: BeginScene was not called");
    inScene_ = false;
    return D3D_OK;
}

HRESULT Device::Present(const RECT*, const RECT*, HWND, const RGNDATA*) {
    if (Tracing()) Trace("Present()");
    MakeCurrent();
    const GLint width = static_cast<GLint>(parameters_.BackBufferWidth);
    const GLint height = static_cast<GLint>(parameters_.BackBufferHeight);
    ForgetGlState();
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, readFramebuffer_);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, lastFrameFramebuffer_);
    glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    framePresented_ = true;
    if (PlatformWindow* window = context_->Window()) {
        const GLint windowWidth = window->Width();
        const GLint windowHeight = window->Height();
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        // Window framebuffers count rows from the bottom: flip.
        glBlitFramebuffer(0, 0, width, height, 0, windowHeight, windowWidth, 0, GL_COLOR_BUFFER_BIT,
                          windowWidth == width && windowHeight == height ? GL_NEAREST : GL_LINEAR);
        context_->Swap();
    }
    framebufferDirty_ = true;
    return D3D_OK;
}

HRESULT Device::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) {
    if (surface == nullptr) return Invalid("GetBackBuffer: no pointer to receive the surface");
    *surface = nullptr;
    if (swapChain != 0 || index != 0 || type != D3DBACKBUFFER_TYPE_MONO) {
        return Invalid("GetBackBuffer: only swap chain 0, back buffer 0, D3DBACKBUFFER_TYPE_MONO exist");
    }
    *surface = backBuffer_->SurfaceAt(0);
    (*surface)->AddRef();
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Render targets, viewport, scissor
// ---------------------------------------------------------------------------
HRESULT Device::BindSurface(Surface** slot, IDirect3DSurface9* surface) {
    auto* next = static_cast<Surface*>(surface);
    if (next != nullptr) next->AddRef();
    Drop(*slot);
    *slot = next;
    framebufferDirty_ = true;
    return D3D_OK;
}

void Device::ResetViewportToTarget() {
    const Texture* target = renderTarget_->Owner();
    viewport_ = {0, 0, target->LevelWidth(renderTarget_->Level()), target->LevelHeight(renderTarget_->Level()), 0.0f,
                 1.0f};
    scissor_ = {0, 0, static_cast<LONG>(viewport_.Width), static_cast<LONG>(viewport_.Height)};
}

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    if (Tracing()) Trace("SetRenderTarget(%u, %s)", index, PointerText(surface).c_str());
    if (index >= static_cast<DWORD>(kMaxRenderTargets)) {
        return Invalid("SetRenderTarget: render target %u is beyond the %d the device has", index, kMaxRenderTargets);
    }
    if (surface == nullptr && index == 0) return Invalid("SetRenderTarget: render target 0 cannot be null");
    if (surface != nullptr) {
        const auto* next = static_cast<Surface*>(surface);
        if (next->Owner()->Link() != link_) return Invalid("SetRenderTarget: the surface belongs to another device");
        if ((next->Owner()->Usage() & D3DUSAGE_RENDERTARGET) == 0) {
            return Invalid("SetRenderTarget: the surface was not created with D3DUSAGE_RENDERTARGET");
        }
    }
    // The other targets stay bound; only target 0 sets the viewport.
    if (index > 0) return BindSurface(&moreTargets_[index - 1], surface);
    BindSurface(&renderTarget_, surface);
    // Direct3D: binding a render target makes the viewport its full size.
    ResetViewportToTarget();
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    if (surface == nullptr || index >= static_cast<DWORD>(kMaxRenderTargets)) {
        return Invalid("GetRenderTarget: no render target %u", index);
    }
    Surface* target = index == 0 ? renderTarget_ : moreTargets_[index - 1];
    *surface = target;
    if (target == nullptr) return D3DERR_NOTFOUND;
    target->AddRef();
    return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    if (Tracing()) Trace("SetDepthStencilSurface(%s)", PointerText(surface).c_str());
    if (surface != nullptr) {
        const auto* next = static_cast<Surface*>(surface);
        if (next->Owner()->Link() != link_) return Invalid("SetDepthStencilSurface: the surface belongs to another device");
        if (!next->Owner()->Format().depth) return Invalid("SetDepthStencilSurface: the surface is not a depth format");
    }
    return BindSurface(&depthStencil_, surface);
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (surface == nullptr) return Invalid("GetDepthStencilSurface: no pointer to receive the surface");
    *surface = depthStencil_;
    if (depthStencil_ == nullptr) return D3DERR_NOTFOUND;
    depthStencil_->AddRef();
    return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) {
        if (Tracing()) Trace("SetViewport(null)");
        return Invalid("SetViewport: no viewport");
    }
    if (Tracing()) Trace("SetViewport(%u, %u, %u, %u, %g, %g)", viewport->X, viewport->Y, viewport->Width, viewport->Height,
          static_cast<double>(viewport->MinZ), static_cast<double>(viewport->MaxZ));
    const Texture* target = renderTarget_->Owner();
    const UINT width = target->LevelWidth(renderTarget_->Level());
    const UINT height = target->LevelHeight(renderTarget_->Level());
    if (viewport->Width == 0 || viewport->Height == 0 || viewport->X > width || viewport->Y > height ||
        viewport->Width > width - viewport->X || viewport->Height > height - viewport->Y) {
        return Invalid("SetViewport: %ux%u at %u,%u does not fit the %ux%u render target", viewport->Width,
                       viewport->Height, viewport->X, viewport->Y, width, height);
    }
    if (!(viewport->MinZ >= 0.0f && viewport->MaxZ <= 1.0f && viewport->MinZ <= viewport->MaxZ)) {
        return Invalid("SetViewport: depth range %g..%g is not within 0..1", static_cast<double>(viewport->MinZ),
                       static_cast<double>(viewport->MaxZ));
    }
    viewport_ = *viewport;
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* viewport) {
    if (viewport == nullptr) return Invalid("GetViewport: no viewport to fill");
    *viewport = viewport_;
    return D3D_OK;
}

HRESULT Device::SetScissorRect(const RECT* rect) {
    if (rect == nullptr) {
        if (Tracing()) Trace("SetScissorRect(null)");
        return Invalid("SetScissorRect: no rectangle");
    }
    if (Tracing()) Trace("SetScissorRect(%d, %d, %d, %d)", rect->left, rect->top, rect->right, rect->bottom);
    if (rect->left > rect->right || rect->top > rect->bottom) return Invalid("SetScissorRect: the rectangle is inverted");
    scissor_ = *rect;
    return D3D_OK;
}

HRESULT Device::GetScissorRect(RECT* rect) {
    if (rect == nullptr) return Invalid("GetScissorRect: no rectangle to fill");
    *rect = scissor_;
    return D3D_OK;
}

bool Device::BindFramebuffer() {
    if (!framebufferDirty_ && framebufferBound_) return true;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    framebufferBound_ = true;
    if (!framebufferDirty_) return true;
    ++counters_.targetChanges;
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, renderTarget_->Owner()->Name(),
                           static_cast<GLint>(renderTarget_->Level()));
    // Pixel shader output n goes to target n; targets not bound take nothing.
    // Most frames bind target 0 alone: slots empty before and now are left
    // as they are, and the draw buffers are set only when they change.
    GLenum drawBuffers[kMaxRenderTargets] = {GL_COLOR_ATTACHMENT0};
    GLsizei drawBufferCount = 1;
    for (size_t i = 0; i < moreTargets_.size(); ++i) {
        const Surface* target = moreTargets_[i];
        const GLenum attachment = GL_COLOR_ATTACHMENT1 + static_cast<GLenum>(i);
        if (target != nullptr || moreAttached_[i]) {
            glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, GL_TEXTURE_2D,
                                   target != nullptr ? target->Owner()->Name() : 0,
                                   target != nullptr ? static_cast<GLint>(target->Level()) : 0);
            moreAttached_[i] = target != nullptr;
        }
        drawBuffers[i + 1] = target != nullptr ? attachment : GL_NONE;
        if (target != nullptr) drawBufferCount = static_cast<GLsizei>(i + 2);
    }
    if (drawBufferCount != drawBufferCount_ || drawBufferCount > 1) {
        glDrawBuffers(drawBufferCount, drawBuffers);
        drawBufferCount_ = drawBufferCount;
    }
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_TEXTURE_2D, 0, 0);
    if (depthStencil_ != nullptr) {
        const Texture* depth = depthStencil_->Owner();
        glFramebufferTexture2D(GL_FRAMEBUFFER, depth->Format().stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                               GL_TEXTURE_2D, depth->Name(), static_cast<GLint>(depthStencil_->Level()));
    }
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
    framebufferDirty_ = false;
    return true;
}

// ---------------------------------------------------------------------------
// Clear
// ---------------------------------------------------------------------------
HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    if (Tracing()) Trace("Clear(%u, 0x%X, 0x%08X, %g, %u)", count, flags, color, static_cast<double>(z), stencil);
    constexpr DWORD kKnown = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
    if (flags == 0 || (flags & ~kKnown) != 0) return Invalid("Clear: flags 0x%X are not D3DCLEAR_* bits", flags);
    if (count > 0 && rects == nullptr) return Invalid("Clear: %u rectangles but no array", count);
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0 && depthStencil_ == nullptr) {
        return Invalid("Clear: D3DCLEAR_ZBUFFER/STENCIL without a depth-stencil surface");
    }
    if ((flags & D3DCLEAR_STENCIL) != 0 && !depthStencil_->Owner()->Format().stencil) {
        return Invalid("Clear: D3DCLEAR_STENCIL on a depth surface without stencil");
    }
    MakeCurrent();
    // The masks and scissor set below are render state the draws keep.
    renderStatesKnown_ = false;
    ++counters_.clears;
    if (!BindFramebuffer()) return Invalid("Clear: the render target and depth surface do not form a framebuffer");
    GLbitfield bits = 0;
    if ((flags & D3DCLEAR_TARGET) != 0) {
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                     ((color >> 24) & 0xFF) / 255.0f);
        bits |= GL_COLOR_BUFFER_BIT;
    }
    if ((flags & D3DCLEAR_ZBUFFER) != 0) {
        glDepthMask(GL_TRUE);
        glClearDepth(std::clamp(static_cast<double>(z), 0.0, 1.0));
        bits |= GL_DEPTH_BUFFER_BIT;
    }
    if ((flags & D3DCLEAR_STENCIL) != 0) {
        glStencilMask(0xFF);
        glClearStencil(static_cast<GLint>(stencil & 0xFF));
        bits |= GL_STENCIL_BUFFER_BIT;
    }
    // Direct3D clears the viewport (within the scissor rectangle when the
    // scissor test is on), or the given rectangles within it.
    LONG left = static_cast<LONG>(viewport_.X);
    LONG top = static_cast<LONG>(viewport_.Y);
    LONG right = left + static_cast<LONG>(viewport_.Width);
    LONG bottom = top + static_cast<LONG>(viewport_.Height);
    if (state_.render[D3DRS_SCISSORTESTENABLE] != 0) {
        left = std::max(left, scissor_.left);
        top = std::max(top, scissor_.top);
        right = std::min(right, scissor_.right);
        bottom = std::min(bottom, scissor_.bottom);
    }
    glEnable(GL_SCISSOR_TEST);
    const auto clearArea = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::max(x1, left);
        y1 = std::max(y1, top);
        x2 = std::min(x2, right);
        y2 = std::min(y2, bottom);
        if (x2 <= x1 || y2 <= y1) return;
        glScissor(x1, y1, x2 - x1, y2 - y1);
        glClear(bits);
    };
    if (count == 0) {
        clearArea(left, top, right, bottom);
    } else {
        for (DWORD i = 0; i < count; ++i) clearArea(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    }
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------
HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) {
    if (Tracing()) Trace("SetStreamSource(%u, %s, %u, %u)", stream, PointerText(buffer).c_str(), offset, stride);
    if (stream != 0) return Invalid("SetStreamSource: only stream 0 is supported, not %u", stream);
    auto* next = static_cast<VertexBuffer*>(buffer);
    if (next != nullptr) next->AddRef();
    Drop(stream_);
    stream_ = next;
    streamOffset_ = offset;
    streamStride_ = stride;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* buffer) {
    if (Tracing()) Trace("SetIndices(%s)", PointerText(buffer).c_str());
    auto* next = static_cast<IndexBuffer*>(buffer);
    if (next != nullptr) next->AddRef();
    Drop(indices_);
    indices_ = next;
    return D3D_OK;
}

HRESULT Device::PrepareDraw(const char* call, D3DPRIMITIVETYPE type, UINT primitives, const VertexLayout** layout) {
    if (GlPrimitiveOf(type) == GL_NONE) return Invalid("%s: unknown primitive type %u", call, type);
    if (primitives == 0) return Invalid("%s: primitive count is 0", call);
    if (primitives > caps_.MaxPrimitiveCount) return Invalid("%s: %u primitives is more than the device draws at once", call, primitives);
    if (recording_ != nullptr) return Invalid("%s: a state block is being recorded", call);

    auto found = layouts_.find(state_.fvf);
    if (found == layouts_.end()) {
        VertexLayout built;
        std::string error;
        if (!BuildVertexLayout(state_.fvf, &built, &error)) return Invalid("%s: %s", call, error.c_str());
        found = layouts_.emplace(state_.fvf, built).first;
    }
    *layout = &found->second;

    MakeCurrent();
    const Program* program = nullptr;
    if (found->second.pretransformed) {
        if (state_.pixelShader != nullptr) {
            return Invalid("%s: pre-transformed (D3DFVF_XYZRHW) vertices with a pixel shader are not supported", call);
        }
        program = &fixedProgram_;
    } else {
        if (state_.vertexShader == nullptr) {
            return Invalid("%s: no vertex shader set (only D3DFVF_XYZRHW vertices draw without shaders)", call);
        }
        if (state_.pixelShader == nullptr) return Invalid("%s: no pixel shader set", call);
        std::string error;
        program = FindProgram(static_cast<VertexShader*>(state_.vertexShader),
                              static_cast<PixelShader*>(state_.pixelShader), &error);
        if (program == nullptr) return Invalid("%s: %s", call, error.c_str());
    }
    if (!BindFramebuffer()) return Invalid("%s: the render target and depth surface do not form a framebuffer", call);

    if (!glKnown_) {
        // Something outside the draw path touched OpenGL: make everything again.
        boundTextures_.fill(0xFFFFFFFFu);
        activeUnit_ = GL_NONE;
        usedProgram_ = 0xFFFFFFFFu;
        renderStatesKnown_ = false;
        viewportKnown_ = false;
        vertexInputKnown_ = false;
        elementsKnown_ = false;
        constantBuffersKnown_ = false;
        for (GLuint unit = 0; unit < static_cast<GLuint>(kMaxStages); ++unit) glBindSampler(unit, samplers_[unit]);
        glKnown_ = true;
    }
    ApplyViewport();
    ApplyRenderStates();
    ApplySamplers();
    if (usedProgram_ != program->name) {
        glUseProgram(program->name);
        usedProgram_ = program->name;
    }
    BindTextures();

    // The program is one of ours (programs_ or fixedProgram_); only its
    // cached uniform values change here.
    Program& used = *const_cast<Program*>(program);
    const DWORD* render = state_.render.data();
    const GLint alphaFunc = render[D3DRS_ALPHATESTENABLE] != 0 ? static_cast<GLint>(render[D3DRS_ALPHAFUNC]) : 0;
    const GLint alphaRef = static_cast<GLint>(render[D3DRS_ALPHAREF] & 0xFF);
    const float offsetX = 1.0f / static_cast<float>(viewport_.Width);
    const float offsetY = -1.0f / static_cast<float>(viewport_.Height);
    const bool uniformsSame = used.uniformsKnown && used.alphaTestValue[0] == alphaFunc &&
                              used.alphaTestValue[1] == alphaRef && used.pixelOffsetValue[0] == offsetX &&
                              used.pixelOffsetValue[1] == offsetY;
    if (!uniformsSame) {
        if (program->alphaTest >= 0) glUniform2i(program->alphaTest, alphaFunc, alphaRef);
        if (program->pixelOffset >= 0) glUniform4f(program->pixelOffset, offsetX, offsetY, 0.0f, 0.0f);
        used.alphaTestValue[0] = alphaFunc;
        used.alphaTestValue[1] = alphaRef;
        used.pixelOffsetValue[0] = offsetX;
        used.pixelOffsetValue[1] = offsetY;
        used.uniformsKnown = true;
    }
    if (program == &fixedProgram_) {
        const DWORD* stage = state_.stage[0].data();
        glUniform4f(program->viewport, static_cast<float>(viewport_.X), static_cast<float>(viewport_.Y),
                    static_cast<float>(viewport_.Width), static_cast<float>(viewport_.Height));
        glUniform4i(program->stageOps, static_cast<GLint>(stage[D3DTSS_COLOROP]),
                    static_cast<GLint>(stage[D3DTSS_COLORARG1]), static_cast<GLint>(stage[D3DTSS_COLORARG2]),
                    state_.textures[0] != nullptr ? 1 : 0);
        glUniform4i(program->alphaOps, static_cast<GLint>(stage[D3DTSS_ALPHAOP]),
                    static_cast<GLint>(stage[D3DTSS_ALPHAARG1]), static_cast<GLint>(stage[D3DTSS_ALPHAARG2]), 0);
        const DWORD factor = render[D3DRS_TEXTUREFACTOR];
        glUniform4f(program->textureFactor, ((factor >> 16) & 0xFF) / 255.0f, ((factor >> 8) & 0xFF) / 255.0f,
                    (factor & 0xFF) / 255.0f, ((factor >> 24) & 0xFF) / 255.0f);
    } else {
        UploadConstants(used);
    }
    ++counters_.draws;
    currentProgram_ = program;
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (Tracing()) Trace("DrawPrimitive(%s, %u, %u)", PrimitiveTypeName(type).c_str(), startVertex, primitiveCount);
    const VertexLayout* layout = nullptr;
    const HRESULT prepared = PrepareDraw("DrawPrimitive", type, primitiveCount, &layout);
    if (FAILED(prepared)) return prepared;
    if (stream_ == nullptr) return Invalid("DrawPrimitive: no vertex buffer set with SetStreamSource");
    if (stream_->Store().Locked()) return Invalid("DrawPrimitive: the vertex buffer is locked");
    if (streamStride_ < layout->stride) {
        return Invalid("DrawPrimitive: stride %u is smaller than the FVF's %u-byte vertex", streamStride_, layout->stride);
    }
    const UINT vertices = VertexCountOf(type, primitiveCount);
    const uint64_t end = streamOffset_ + (static_cast<uint64_t>(startVertex) + vertices - 1) * streamStride_ +
                         layout->stride;
    if (end > stream_->Store().Size()) {
        return Invalid("DrawPrimitive: vertices %u..%u are past the end of the %u-byte vertex buffer", startVertex,
                       startVertex + vertices - 1, stream_->Store().Size());
    }
    BindVertexInput(*currentProgram_, *layout, stream_->Store().Name(), streamOffset_, streamStride_);
    glDrawArrays(GlPrimitiveOf(type), static_cast<GLint>(startVertex), static_cast<GLsizei>(vertices));
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT numVertices,
                                     UINT startIndex, UINT primitiveCount) {
    if (Tracing()) Trace("DrawIndexedPrimitive(%s, %d, %u, %u, %u, %u)", PrimitiveTypeName(type).c_str(), baseVertex, minIndex,
          numVertices, startIndex, primitiveCount);
    const VertexLayout* layout = nullptr;
    const HRESULT prepared = PrepareDraw("DrawIndexedPrimitive", type, primitiveCount, &layout);
    if (FAILED(prepared)) return prepared;
    if (stream_ == nullptr) return Invalid("DrawIndexedPrimitive: no vertex buffer set with SetStreamSource");
    if (indices_ == nullptr) return Invalid("DrawIndexedPrimitive: no index buffer set with SetIndices");
    if (stream_->Store().Locked() || indices_->Store().Locked()) {
        return Invalid("DrawIndexedPrimitive: a vertex or index buffer is locked");
    }
    if (streamStride_ < layout->stride) {
        return Invalid("DrawIndexedPrimitive: stride %u is smaller than the FVF's %u-byte vertex", streamStride_,
                       layout->stride);
    }
    const UINT count = VertexCountOf(type, primitiveCount);
    const UINT indexSize = indices_->IndexSize();
    if ((static_cast<uint64_t>(startIndex) + count) * indexSize > indices_->Store().Size()) {
        return Invalid("DrawIndexedPrimitive: indices %u..%u are past the end of the index buffer", startIndex,
                       startIndex + count - 1);
    }
    if (!indices_->Store().Defined(static_cast<uint64_t>(startIndex) * indexSize,
                                   (static_cast<uint64_t>(startIndex) + count) * indexSize)) {
        return Invalid("DrawIndexedPrimitive: indices %u..%u were left undefined by a D3DLOCK_DISCARD lock", startIndex,
                       startIndex + count - 1);
    }
    // Every index is checked against the vertex buffer, so that no draw
    // reads past its end whatever MinIndex and NumVertices claim. When the
    // whole buffer's range fits, so does this draw's and nothing is scanned.
    const int64_t available = (static_cast<int64_t>(stream_->Store().Size()) - streamOffset_ -
                               static_cast<int64_t>(layout->stride)) / static_cast<int64_t>(streamStride_);
    uint32_t lowest = 0;
    uint32_t highest = 0;
    indices_->WholeRange(&lowest, &highest);
    if (static_cast<int64_t>(baseVertex) + lowest < 0 || static_cast<int64_t>(baseVertex) + highest > available) {
        const uint8_t* data = indices_->Store().Data() + static_cast<size_t>(startIndex) * indexSize;
        lowest = 0xFFFFFFFFu;
        highest = 0;
        WidenIndexRange(data, count, indexSize, &lowest, &highest);
        const int64_t first = static_cast<int64_t>(baseVertex) + lowest;
        const int64_t last = static_cast<int64_t>(baseVertex) + highest;
        if (first < 0 || last > available) {
            return Invalid("DrawIndexedPrimitive: indices reach vertices %lld..%lld, outside the vertex buffer's 0..%lld",
                           static_cast<long long>(first), static_cast<long long>(last),
                           static_cast<long long>(available));
        }
    }
    (void)minIndex;
    (void)numVertices;
    BindVertexInput(*currentProgram_, *layout, stream_->Store().Name(), streamOffset_, streamStride_);
    if (!elementsKnown_ || boundElements_ != indices_->Store().Name()) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indices_->Store().Name());
        boundElements_ = indices_->Store().Name();
        elementsKnown_ = true;
    }
    glDrawElementsBaseVertex(GlPrimitiveOf(type), static_cast<GLsizei>(count),
                             indexSize == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT,
                             reinterpret_cast<const void*>(static_cast<uintptr_t>(startIndex) * indexSize), baseVertex);
    return D3D_OK;
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* data, UINT stride) {
    if (Tracing()) Trace("DrawPrimitiveUP(%s, %u, %u)", PrimitiveTypeName(type).c_str(), primitiveCount, stride);
    if (data == nullptr) return Invalid("DrawPrimitiveUP: no vertex data");
    const VertexLayout* layout = nullptr;
    const HRESULT prepared = PrepareDraw("DrawPrimitiveUP", type, primitiveCount, &layout);
    if (FAILED(prepared)) return prepared;
    if (stride < layout->stride) {
        return Invalid("DrawPrimitiveUP: stride %u is smaller than the FVF's %u-byte vertex", stride, layout->stride);
    }
    const UINT vertices = VertexCountOf(type, primitiveCount);
    glBindBuffer(GL_ARRAY_BUFFER, upBuffer_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(static_cast<uint64_t>(vertices) * stride), data,
                 GL_STREAM_DRAW);
    BindVertexInput(*currentProgram_, *layout, upBuffer_, 0, stride);
    glDrawArrays(GlPrimitiveOf(type), 0, static_cast<GLsizei>(vertices));
    // As in Direct3D, stream 0 is unset afterwards.
    Drop(stream_);
    stream_ = nullptr;
    streamOffset_ = 0;
    streamStride_ = 0;
    return D3D_OK;
}

void Device::ApplyViewport() {
    if (viewportKnown_ && std::memcmp(&appliedViewport_, &viewport_, sizeof viewport_) == 0) return;
    glViewport(static_cast<GLint>(viewport_.X), static_cast<GLint>(viewport_.Y), static_cast<GLsizei>(viewport_.Width),
               static_cast<GLsizei>(viewport_.Height));
    glDepthRange(viewport_.MinZ, viewport_.MaxZ);
    appliedViewport_ = viewport_;
    viewportKnown_ = true;
}

void Device::BindTextures() {
    for (int stage = 0; stage < kMaxStages; ++stage) {
        const auto* texture = static_cast<const Texture*>(state_.textures[stage]);
        const GLuint name = texture != nullptr ? texture->Name() : 0;
        if (boundTextures_[stage] == name) continue;
        const GLenum unit = GL_TEXTURE0 + static_cast<GLenum>(stage);
        if (activeUnit_ != unit) {
            glActiveTexture(unit);
            activeUnit_ = unit;
        }
        glBindTexture(GL_TEXTURE_2D, name);
        boundTextures_[stage] = name;
        ++counters_.textureBinds;
    }
}

void Device::TextureUnitCleared() {
    if (activeUnit_ >= GL_TEXTURE0 && activeUnit_ < GL_TEXTURE0 + kMaxStages) {
        boundTextures_[activeUnit_ - GL_TEXTURE0] = 0;
    } else {
        glKnown_ = false;
    }
}

void Device::TextureDeleted(GLuint name) {
    // Deleting a texture unbinds it from every unit.
    for (GLuint& bound : boundTextures_) {
        if (bound == name) bound = 0;
    }
}

void Device::BufferDeleted(GLuint name) {
    // Deleting a buffer detaches it from the vertex array; its name may come back.
    if (vertexInput_.buffer == name) vertexInputKnown_ = false;
    if (boundElements_ == name) elementsKnown_ = false;
    for (GLuint& bound : boundConstantBuffers_) {
        if (bound == name) constantBuffersKnown_ = false;
    }
}

void Device::ForgetGlState() {
    glKnown_ = false;
    framebufferBound_ = false;
}

void Device::ConstantsChanged(int stage, UINT start, UINT count) {
    const uint64_t generation = ++constantGeneration_[static_cast<size_t>(stage)];
    for (UINT i = start; i < start + count && i < static_cast<UINT>(kConstantRegisters); ++i) {
        registerStamps_[static_cast<size_t>(stage)][i] = generation;
    }
}

// ---------------------------------------------------------------------------
// Read-back
// ---------------------------------------------------------------------------
bool Device::ReadPixels(GLuint framebuffer, std::vector<uint32_t>* argb, int* width, int* height) {
    MakeCurrent();
    *width = static_cast<int>(parameters_.BackBufferWidth);
    *height = static_cast<int>(parameters_.BackBufferHeight);
    argb->assign(static_cast<size_t>(*width) * static_cast<size_t>(*height), 0);
    ForgetGlState();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    // Rows come out in storage order, which is top row first here.
    glReadPixels(0, 0, *width, *height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, argb->data());
    framebufferDirty_ = true;
    if (backBuffer_->Format().opaque) {
        for (uint32_t& pixel : *argb) pixel |= 0xFF000000u;
    }
    return glGetError() == GL_NO_ERROR;
}

bool Device::ReadBackBuffer(std::vector<uint32_t>* argb, int* width, int* height) {
    return ReadPixels(readFramebuffer_, argb, width, height);
}

bool Device::SaveLastFrame(const char* path) {
    if (!framePresented_) return false;
    std::vector<uint32_t> argb;
    int width = 0;
    int height = 0;
    if (!ReadPixels(lastFrameFramebuffer_, &argb, &width, &height)) return false;
    std::vector<uint8_t> rgba(argb.size() * 4);
    for (size_t i = 0; i < argb.size(); ++i) {
        rgba[i * 4 + 0] = static_cast<uint8_t>(argb[i] >> 16);
        rgba[i * 4 + 1] = static_cast<uint8_t>(argb[i] >> 8);
        rgba[i * 4 + 2] = static_cast<uint8_t>(argb[i]);
        rgba[i * 4 + 3] = static_cast<uint8_t>(argb[i] >> 24);
    }
    if (!NamesJpeg(path)) return stbi_write_png(path, width, height, 4, rgba.data(), width * 4) != 0;
    std::vector<uint8_t> jpeg;
    if (!EncodeJpeg(rgba.data(), width, height, kScreenshotJpegQuality, &jpeg)) return false;
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(jpeg.data(), 1, jpeg.size(), file) == jpeg.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace d3d9
