// OpenGL contexts for the device: the window's own, or an EGL surfaceless
// one (Mesa) when there is no display. Either way the device draws into an
// offscreen back buffer, so the surfaceless context needs no surface at all.
#include <epoxy/egl.h>

#include <cstring>

#include "video/d3d9/d3d9_internal.h"

namespace d3d9 {

namespace {

// The one EGL display of the process. It is never terminated: contexts of
// several devices (and the adapter queries) share it, and terminating it
// would destroy them all.
EGLDisplay SurfacelessDisplay(std::string* error) {
    static EGLDisplay display = EGL_NO_DISPLAY;
    static bool tried = false;
    if (tried) {
        if (display == EGL_NO_DISPLAY) {
            *error = "EGL surfaceless display is not available";
            return display;
        }
        // Someone else in the process may have terminated the shared
        // display; initialising an initialised display changes nothing.
        EGLint major = 0;
        EGLint minor = 0;
        if (!eglInitialize(display, &major, &minor)) *error = "eglInitialize failed on the surfaceless platform";
        return display;
    }
    tried = true;
    if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
        *error = "EGL_MESA_platform_surfaceless is not supported";
        return EGL_NO_DISPLAY;
    }
    EGLDisplay candidate = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (candidate == EGL_NO_DISPLAY || !eglInitialize(candidate, &major, &minor)) {
        *error = "eglInitialize failed on the surfaceless platform";
        return EGL_NO_DISPLAY;
    }
    display = candidate;
    return display;
}

// Tracks what is current so that switching between devices costs nothing
// when there is only one.
const void* g_currentContext = nullptr;

}  // namespace

std::unique_ptr<GlContext> GlContext::CreateOffscreen(std::string* error) {
    EGLDisplay display = SurfacelessDisplay(error);
    if (display == EGL_NO_DISPLAY) return nullptr;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *error = "eglBindAPI(EGL_OPENGL_API) failed";
        return nullptr;
    }
    const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configCount) || configCount == 0) {
        config = nullptr;  // EGL_KHR_no_config_context: a config is not needed without surfaces
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) {
        *error = "eglCreateContext failed for OpenGL 3.3 core";
        return nullptr;
    }
    std::unique_ptr<GlContext> result(new GlContext());
    result->eglDisplay_ = display;
    result->eglContext_ = context;
    result->MakeCurrent();
    if (g_currentContext != result.get()) {
        *error = "eglMakeCurrent failed without a surface";
        return nullptr;
    }
    return result;
}

std::unique_ptr<GlContext> GlContext::CreateOnWindow(PlatformWindow* window, std::string* error) {
    void* context = window->CreateGlContext();
    if (context == nullptr) {
        *error = "the window gave no OpenGL 3.3 core context";
        return nullptr;
    }
    std::unique_ptr<GlContext> result(new GlContext());
    result->window_ = window;
    result->windowContext_ = context;
    g_currentContext = result.get();
    return result;
}

GlContext::~GlContext() {
    if (g_currentContext == this) g_currentContext = nullptr;
    if (window_ != nullptr) {
        window_->DestroyGlContext(windowContext_);
    } else if (eglContext_ != nullptr) {
        eglMakeCurrent(eglDisplay_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(eglDisplay_, eglContext_);
    }
}

void GlContext::MakeCurrent() {
    if (g_currentContext == this) return;
    if (window_ != nullptr) {
        window_->MakeGlCurrent(windowContext_);
        g_currentContext = this;
    } else if (eglMakeCurrent(eglDisplay_, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext_)) {
        g_currentContext = this;
    }
}

void GlContext::Swap() {
    if (window_ != nullptr) window_->SwapGlBuffers();
}

const AdapterInfo& QueryAdapter() {
    static AdapterInfo info;
    static bool queried = false;
    if (queried) return info;
    queried = true;
    std::string error;
    std::unique_ptr<GlContext> context = GlContext::CreateOffscreen(&error);
    if (!context) return info;
    const auto text = [](GLenum name) {
        const GLubyte* value = glGetString(name);
        return value != nullptr ? std::string(reinterpret_cast<const char*>(value)) : std::string();
    };
    info.vendor = text(GL_VENDOR);
    info.renderer = text(GL_RENDERER);
    info.version = text(GL_VERSION);
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    info.maxTextureSize = size;
    info.valid = size > 0 && epoxy_gl_version() >= 33;
    return info;
}

}  // namespace d3d9
