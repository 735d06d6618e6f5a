// What the files of the Direct3D 9 layer share: the device and resource
// classes behind the public interfaces. Nothing outside video/d3d9/ includes
// this.
#pragma once

#include <epoxy/gl.h>

#include <array>
#include <cstdarg>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "video/d3d9/d3d9.h"
#include "video/d3d9/hlsl_compiler.h"

namespace d3d9 {

constexpr int kMaxRenderTargets = 4;        // render targets a draw writes at once
constexpr int kMaxStages = 8;               // texture stages = samplers = texture units
constexpr int kRenderStateCount = 210;      // D3DRS_BLENDOPALPHA + 1
constexpr int kSamplerStateCount = 14;      // D3DSAMP_DMAPOFFSET + 1
constexpr int kStageStateCount = 33;        // D3DTSS_CONSTANT + 1
constexpr int kConstantRegisters = 256;     // float4 registers per shader stage

class Device;

// Shared by a device and everything it made. The device clears the pointer
// when it goes away, so objects released later know their GL names died
// with the context and only free memory.
struct DeviceLink {
    Device* device = nullptr;
};
using DeviceLinkPtr = std::shared_ptr<DeviceLink>;

template <class Interface>
class RefCounted : public Interface {
public:
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ULONG references_ = 1;
};

// ---------------------------------------------------------------------------
// Names and messages (d3d9_trace.cpp)
// ---------------------------------------------------------------------------
std::string RenderStateName(DWORD state);
std::string SamplerStateName(DWORD state);
std::string StageStateName(DWORD state);
std::string PrimitiveTypeName(DWORD type);
std::string FormatName(DWORD format);
std::string PoolName(DWORD pool);
std::string FvfText(DWORD fvf);
// "null" or the address, for objects in trace lines.
std::string PointerText(const void* object);
std::string FormatText(const char* format, va_list args);
// Direct3D's primitive count to a vertex (or index) count; 0 for an unknown type.
UINT VertexCountOf(D3DPRIMITIVETYPE type, UINT primitives);
GLenum GlPrimitiveOf(D3DPRIMITIVETYPE type);

// ---------------------------------------------------------------------------
// Formats (d3d9_resources.cpp)
// ---------------------------------------------------------------------------
struct FormatInfo {
    D3DFORMAT format;
    GLenum internalFormat;
    GLenum uploadFormat;
    GLenum uploadType;
    UINT bytesPerPixel;
    bool depth;
    bool stencil;
    bool opaque;  // X8R8G8B8: alpha reads as one
};
const FormatInfo* FindTextureFormat(D3DFORMAT format);

// ---------------------------------------------------------------------------
// OpenGL context (d3d9_context.cpp)
// ---------------------------------------------------------------------------
class GlContext {
public:
    // EGL surfaceless Mesa: no window, the back buffer lives only offscreen.
    static std::unique_ptr<GlContext> CreateOffscreen(std::string* error);
    // The window's own OpenGL 3.3 core context.
    static std::unique_ptr<GlContext> CreateOnWindow(PlatformWindow* window, std::string* error);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;

    void MakeCurrent();
    PlatformWindow* Window() const { return window_; }
    // Shows the window's default framebuffer; nothing offscreen.
    void Swap();

private:
    GlContext() = default;
    PlatformWindow* window_ = nullptr;
    void* windowContext_ = nullptr;
    void* eglDisplay_ = nullptr;
    void* eglContext_ = nullptr;
};

// Answers about the adapter, read once from a temporary context.
struct AdapterInfo {
    bool valid = false;
    std::string vendor;
    std::string renderer;
    std::string version;
    int maxTextureSize = 0;
};
const AdapterInfo& QueryAdapter();
void FillCaps(const AdapterInfo& adapter, D3DCAPS9* caps);
bool IsSupportedFormat(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format);

// ---------------------------------------------------------------------------
// Resources (d3d9_resources.cpp)
// ---------------------------------------------------------------------------
// Widens [lowest, highest] to hold the count indices (2 or 4 bytes each) at data.
void WidenIndexRange(const uint8_t* data, UINT count, UINT indexSize, uint32_t* lowest, uint32_t* highest);

class Texture;

// A texture level. Its reference count is its texture's, as in Direct3D.
class Surface final : public IDirect3DSurface9 {
public:
    Surface(Texture* owner, UINT level) : owner_(owner), level_(level) {}
    ~Surface() override = default;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;

    Texture* Owner() const { return owner_; }
    UINT Level() const { return level_; }

private:
    Texture* owner_;
    UINT level_;
};

class Texture final : public RefCounted<IDirect3DTexture9> {
public:
    static HRESULT Create(Device* device, UINT width, UINT height, UINT levels, DWORD usage,
                          const FormatInfo* format, D3DPOOL pool, Texture** texture);
    ~Texture() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD GetLevelCount() override { return levels_; }
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    GLuint Name() const { return name_; }
    const FormatInfo& Format() const { return *format_; }
    // A whole level's pixels, tightly packed in the format's memory order,
    // straight to the device: what a write lock of the level and its unlock
    // do, without the copy in between. For this layer's texture loaders.
    HRESULT WriteLevel(UINT level, const void* pixels);
    UINT LevelWidth(UINT level) const;
    UINT LevelHeight(UINT level) const;
    DWORD Usage() const { return usage_; }
    const DeviceLinkPtr& Link() const { return link_; }
    Surface* SurfaceAt(UINT level) { return surfaces_[level].get(); }

private:
    Texture() = default;
    DeviceLinkPtr link_;
    GLuint name_ = 0;
    UINT width_ = 0;
    UINT height_ = 0;
    UINT levels_ = 0;
    DWORD usage_ = 0;
    D3DPOOL pool_ = D3DPOOL_DEFAULT;
    const FormatInfo* format_ = nullptr;
    bool lockable_ = false;
    std::vector<std::vector<uint8_t>> shadow_;  // locked levels' memory, Direct3D byte order
    uint32_t writtenLevels_ = 0;                // levels given contents through a lock
    std::vector<std::unique_ptr<Surface>> surfaces_;
    uint32_t lockedLevels_ = 0;
};

// Memory of a vertex or index buffer kept on both sides: Lock hands out the
// CPU copy, Unlock uploads the locked range.
class BufferStore {
public:
    bool Create(UINT size);
    void Destroy(bool contextAlive);
    HRESULT Lock(Device* device, const char* what, UINT offset, UINT size, void** data, DWORD flags);
    HRESULT Unlock(Device* device, const char* what);
    GLuint Name() const { return name_; }
    UINT Size() const { return static_cast<UINT>(data_.size()); }
    const uint8_t* Data() const { return data_.data(); }
    bool Locked() const { return locked_; }
    // What the current lock covers; meaningful only while Locked().
    UINT LockOffset() const { return lockOffset_; }
    UINT LockSize() const { return lockSize_; }
    DWORD LockFlags() const { return lockFlags_; }
    // Whether bytes [begin, end) hold what was written: a D3DLOCK_DISCARD
    // lock leaves everything outside what it locked undefined.
    bool Defined(uint64_t begin, uint64_t end) const { return begin >= definedBegin_ && end <= definedEnd_; }

private:
    GLuint name_ = 0;
    std::vector<uint8_t> data_;
    bool locked_ = false;
    UINT lockOffset_ = 0;
    UINT lockSize_ = 0;
    DWORD lockFlags_ = 0;
    UINT definedBegin_ = 0;
    UINT definedEnd_ = 0;
};

class VertexBuffer final : public RefCounted<IDirect3DVertexBuffer9> {
public:
    VertexBuffer(DeviceLinkPtr link, DWORD usage, DWORD fvf, D3DPOOL pool)
        : link_(std::move(link)), usage_(usage), fvf_(fvf), pool_(pool) {}
    ~VertexBuffer() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override;
    BufferStore& Store() { return store_; }

private:
    DeviceLinkPtr link_;
    DWORD usage_;
    DWORD fvf_;
    D3DPOOL pool_;
    BufferStore store_;
};

class IndexBuffer final : public RefCounted<IDirect3DIndexBuffer9> {
public:
    IndexBuffer(DeviceLinkPtr link, DWORD usage, D3DFORMAT format, D3DPOOL pool)
        : link_(std::move(link)), usage_(usage), format_(format), pool_(pool) {}
    ~IndexBuffer() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT Unlock() override;
    HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) override;
    BufferStore& Store() { return store_; }
    UINT IndexSize() const { return format_ == D3DFMT_INDEX16 ? 2 : 4; }
    // Bounds of every index in the buffer, so that draws need not scan their
    // indices: worked out once, then widened by what each writing lock
    // stores (a bound that may be wider than the contents, never narrower).
    void WholeRange(uint32_t* lowest, uint32_t* highest);

private:
    DeviceLinkPtr link_;
    DWORD usage_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    BufferStore store_;
    bool rangeKnown_ = false;
    uint32_t lowest_ = 0;
    uint32_t highest_ = 0;
};

// ---------------------------------------------------------------------------
// Shaders and programs (d3d9_shaders.cpp, d3d9_fixed_function.cpp)
// ---------------------------------------------------------------------------
template <class Interface>
class Shader final : public RefCounted<Interface> {
public:
    Shader(DeviceLinkPtr link, CompiledShader compiled, GLuint name, uint64_t id)
        : link_(std::move(link)), compiled_(std::move(compiled)), name_(name), id_(id) {}
    ~Shader() override;
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    const CompiledShader& Compiled() const { return compiled_; }
    GLuint Name() const { return name_; }
    uint64_t Id() const { return id_; }

private:
    DeviceLinkPtr link_;
    CompiledShader compiled_;
    GLuint name_;
    uint64_t id_;
};
using VertexShader = Shader<IDirect3DVertexShader9>;
using PixelShader = Shader<IDirect3DPixelShader9>;

// Builds the GL shader of a compiled stage, with the layer's additions
// (pixel-centre offset, alpha test). Zero and a message on failure.
GLuint CompileGlStage(const CompiledShader& shader, std::string* error);
GLuint CompileGlSource(GLenum stage, const std::string& source, std::string* error);

// One vertex element of a flexible vertex format.
struct VertexElement {
    VertexUsage usage;
    int usageIndex;
    GLint components;  // GL_BGRA for colours
    GLenum type;
    GLboolean normalized;
    UINT offset;
};
struct VertexLayout {
    std::vector<VertexElement> elements;
    UINT stride = 0;
    bool pretransformed = false;
};
// False with a message for bits this layer does not handle.
bool BuildVertexLayout(DWORD fvf, VertexLayout* layout, std::string* error);

struct Program {
    GLuint name = 0;
    // Attribute location i reads this semantic.
    std::vector<std::pair<VertexUsage, int>> attributes;
    const CompiledShader* vertex = nullptr;  // null for the fixed-function program
    const CompiledShader* pixel = nullptr;
    GLint vertexBlock = -1;
    GLint pixelBlock = -1;
    GLint pixelOffset = -1;
    GLint alphaTest = -1;  // ivec2(func, ref)
    // Fixed-function program only.
    GLint viewport = -1;
    GLint stageOps = -1;   // ivec4(colorOp, colorArg1, colorArg2, hasTexture)
    GLint alphaOps = -1;   // ivec4(alphaOp, alphaArg1, alphaArg2, 0)
    GLint textureFactor = -1;
    // The program's own constant blocks (vertex, pixel): each keeps what it
    // last uploaded, so a draw writes only registers changed since then.
    struct ConstantBlock {
        GLuint buffer = 0;
        uint64_t uploaded = 0;  // the stage's constant generation at the last upload
        std::vector<uint8_t> bytes;
        std::vector<const CompiledShader::Constant*> ordered;  // by block offset
    };
    std::array<ConstantBlock, 2> blocks;
    // The per-draw uniforms as last set, to skip repeating them.
    bool uniformsKnown = false;
    GLint alphaTestValue[2] = {0, 0};
    float pixelOffsetValue[2] = {0.0f, 0.0f};
};
// Links vertex and pixel stage; false with a message.
// Attribute i of attributeNames gets location i.
bool LinkProgram(GLuint vertex, GLuint pixel, const std::vector<std::string>& attributeNames, Program* program,
                 std::string* error);
// The hand-written program for pre-transformed vertices without shaders.
bool BuildFixedFunctionProgram(Program* program, std::string* error);

// ---------------------------------------------------------------------------
// State (d3d9_states.cpp)
// ---------------------------------------------------------------------------
struct DeviceState {
    std::array<DWORD, kRenderStateCount> render{};
    std::array<std::array<DWORD, kSamplerStateCount>, kMaxStages> sampler{};
    std::array<std::array<DWORD, kStageStateCount>, kMaxStages> stage{};
    std::array<IDirect3DBaseTexture9*, kMaxStages> textures{};
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    DWORD fvf = 0;
    std::array<float, kConstantRegisters * 4> vertexConstants{};
    std::array<float, kConstantRegisters * 4> pixelConstants{};
};

// Which entries of a DeviceState a state block holds.
struct StateMask {
    std::array<bool, kRenderStateCount> render{};
    std::array<std::array<bool, kSamplerStateCount>, kMaxStages> sampler{};
    std::array<std::array<bool, kStageStateCount>, kMaxStages> stage{};
    std::array<bool, kMaxStages> textures{};
    bool vertexShader = false;
    bool pixelShader = false;
    bool fvf = false;
    std::array<bool, kConstantRegisters> vertexConstants{};
    std::array<bool, kConstantRegisters> pixelConstants{};
};

bool IsKnownRenderState(DWORD state);
bool IsKnownSamplerState(DWORD state);
bool IsKnownStageState(DWORD state);
void SetDefaultStates(DeviceState* state, bool zEnable);
// Copies the masked entries from source to target, keeping the references
// of textures and shaders counted.
void CopyMaskedState(const DeviceState& source, const StateMask& mask, DeviceState* target);
void ReleaseStateReferences(DeviceState* state);
StateMask MaskForType(D3DSTATEBLOCKTYPE type);

class StateBlock final : public RefCounted<IDirect3DStateBlock9> {
public:
    StateBlock(DeviceLinkPtr link, const StateMask& mask) : link_(std::move(link)), mask_(mask) {}
    ~StateBlock() override { ReleaseStateReferences(&state_); }
    HRESULT GetDevice(IDirect3DDevice9** device) override;
    HRESULT Capture() override;
    HRESULT Apply() override;
    DeviceState& State() { return state_; }
    StateMask& Mask() { return mask_; }

private:
    DeviceLinkPtr link_;
    StateMask mask_;
    DeviceState state_;
};

// ---------------------------------------------------------------------------
// The device
// ---------------------------------------------------------------------------
class Direct3D;

class Device final : public RefCounted<IDirect3DDevice9> {
public:
    static HRESULT Create(Direct3D* direct3d, HWND window, const D3DPRESENT_PARAMETERS& parameters,
                          Device** device, std::string* error);
    ~Device() override;

    // IDirect3DDevice9
    HRESULT TestCooperativeLevel() override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* parameters) override;
    HRESULT GetDirect3D(IDirect3D9** direct3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* shared) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                               IDirect3DVertexBuffer9** buffer, HANDLE* shared) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** buffer, HANDLE* shared) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) override;
    HRESULT BeginStateBlock() override;
    HRESULT EndStateBlock(IDirect3DStateBlock9** block) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetScissorRect(const RECT* rect) override;
    HRESULT GetScissorRect(RECT* rect) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertex, UINT minIndex, UINT numVertices,
                                 UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* data, UINT stride) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override;
    HRESULT SetVertexShaderConstantF(UINT start, const float* data, UINT count) override;
    HRESULT GetVertexShaderConstantF(UINT start, float* data, UINT count) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;
    HRESULT CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override;
    HRESULT SetPixelShaderConstantF(UINT start, const float* data, UINT count) override;
    HRESULT GetPixelShaderConstantF(UINT start, float* data, UINT count) override;

    // Layer services.
    void MakeCurrent();
    void SetTrace(std::vector<std::string>* sink) { trace_ = sink; }
    bool Tracing() const { return trace_ != nullptr; }
    // Appends one formatted line to the trace (when tracing).
    void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Records "error: ..." and returns D3DERR_INVALIDCALL.
    HRESULT Invalid(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const DeviceLinkPtr& Link() const { return link_; }
    void ForgetShader(uint64_t id);
    bool ReadPixels(GLuint framebuffer, std::vector<uint32_t>* argb, int* width, int* height);
    bool ReadBackBuffer(std::vector<uint32_t>* argb, int* width, int* height);
    bool SaveLastFrame(const char* path);
    // The state that Set calls write to: the device's, or the block being recorded.
    DeviceState& TargetState() { return recording_ ? recording_->State() : state_; }
    DeviceState& CurrentState() { return state_; }
    void MarkSamplersDirty() { samplersDirty_.fill(true); }
    const D3D9Counters& Counters() const { return counters_; }
    bool CountSamples(bool begin);
    // Adds the results of the sample counts still under way to counters_,
    // waiting for them when wait is true.
    void CollectSamples(bool wait);
    // Bookkeeping of the OpenGL bindings the draw path keeps: code that
    // binds behind its back says so here.
    void TextureUnitCleared();          // the active unit's texture was set to 0
    void TextureDeleted(GLuint name);   // a texture name is gone
    void BufferDeleted(GLuint name);    // a buffer name is gone
    void ForgetGlState();               // anything else may have changed
    // Registers start..start+count-1 of stage (0 vertex, 1 pixel) hold new values.
    void ConstantsChanged(int stage, UINT start, UINT count);

private:
    Device() = default;
    bool Initialise(HWND window, const D3DPRESENT_PARAMETERS& parameters, std::string* error);
    HRESULT BindSurface(Surface** slot, IDirect3DSurface9* surface);
    void ResetViewportToTarget();
    // The back buffer, the last presented frame and the depth buffer at
    // parameters_' size, and their framebuffer attachments.
    bool CreateSwapBuffers(std::string* error);
    void AttachSwapBuffers();
    bool BindFramebuffer();
    void ApplyRenderStates();
    void ApplySamplers();
    HRESULT PrepareDraw(const char* call, D3DPRIMITIVETYPE type, UINT primitives, const VertexLayout** layout);
    Program* FindProgram(VertexShader* vertex, PixelShader* pixel, std::string* error);
    void UploadConstants(Program& program);
    void BindTextures();
    void ApplyViewport();
    void BindVertexInput(const Program& program, const VertexLayout& layout, GLuint buffer, size_t offset,
                         UINT stride);

    DeviceLinkPtr link_;
    Direct3D* direct3d_ = nullptr;
    std::unique_ptr<GlContext> context_;
    D3DPRESENT_PARAMETERS parameters_{};
    D3DCAPS9 caps_{};
    std::vector<std::string>* trace_ = nullptr;

    DeviceState state_;
    StateBlock* recording_ = nullptr;
    D3DVIEWPORT9 viewport_{};
    RECT scissor_{};
    bool inScene_ = false;

    Texture* backBuffer_ = nullptr;
    Texture* autoDepth_ = nullptr;
    Texture* lastFrame_ = nullptr;
    bool framePresented_ = false;
    Surface* renderTarget_ = nullptr;  // referenced
    // Render targets 1.. (index - 1), referenced; each may be null.
    std::array<Surface*, kMaxRenderTargets - 1> moreTargets_{};
    // What framebuffer_ holds beyond target 0.
    std::array<bool, kMaxRenderTargets - 1> moreAttached_{};
    GLsizei drawBufferCount_ = 1;
    Surface* depthStencil_ = nullptr;  // referenced, may be null
    GLuint framebuffer_ = 0;
    GLuint readFramebuffer_ = 0;       // the back buffer, for blits and read-back
    GLuint lastFrameFramebuffer_ = 0;  // the last presented frame
    bool framebufferDirty_ = true;

    VertexBuffer* stream_ = nullptr;  // referenced
    UINT streamOffset_ = 0;
    UINT streamStride_ = 0;
    IndexBuffer* indices_ = nullptr;  // referenced

    GLuint vertexArray_ = 0;
    GLuint upBuffer_ = 0;  // DrawPrimitiveUP's streaming buffer
    std::array<GLuint, 2> constantBuffers_{};
    std::array<GLuint, kMaxStages> samplers_{};
    std::array<bool, kMaxStages> samplersDirty_{true, true, true, true, true, true, true, true};

    // What OpenGL holds now, as far as the draw path is concerned.
    D3D9Counters counters_{};
    // Sample counts: the one running, those ended whose results are not read
    // yet (oldest first), and query names free for reuse.
    GLuint sampleQuery_ = 0;
    bool countingSamples_ = false;
    std::vector<GLuint> pendingQueries_;
    std::vector<GLuint> freeQueries_;
    bool glKnown_ = false;  // false: every binding below must be made again
    std::array<GLuint, kMaxStages> boundTextures_{};
    GLenum activeUnit_ = GL_TEXTURE0;
    GLuint usedProgram_ = 0;
    bool framebufferBound_ = false;
    std::array<DWORD, kRenderStateCount> appliedRender_{};
    const Surface* appliedDepthStencil_ = nullptr;
    RECT appliedScissor_{};
    bool renderStatesKnown_ = false;
    D3DVIEWPORT9 appliedViewport_{};
    bool viewportKnown_ = false;
    struct VertexInput {
        const Program* program = nullptr;
        const VertexLayout* layout = nullptr;
        GLuint buffer = 0;
        size_t offset = 0;
        UINT stride = 0;
    };
    VertexInput vertexInput_{};
    bool vertexInputKnown_ = false;
    GLuint boundElements_ = 0;
    bool elementsKnown_ = false;
    std::array<GLuint, 2> boundConstantBuffers_{};
    bool constantBuffersKnown_ = false;
    // Constant generations: each change of a stage's registers takes a new
    // one and stamps the changed registers with it.
    std::array<uint64_t, 2> constantGeneration_{1, 1};
    std::array<std::array<uint64_t, kConstantRegisters>, 2> registerStamps_{};

    uint64_t nextShaderId_ = 1;
    std::map<std::pair<uint64_t, uint64_t>, Program> programs_;
    Program fixedProgram_;
    const Program* currentProgram_ = nullptr;  // chosen by the last PrepareDraw
    std::map<DWORD, VertexLayout> layouts_;
};

class Direct3D final : public RefCounted<IDirect3D9> {
public:
    UINT GetAdapterCount() override { return 1; }
    HRESULT GetAdapterIdentifier(UINT adapter, DWORD flags, D3DADAPTER_IDENTIFIER9* identifier) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT format) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD behaviour,
                         D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override;

    // The window whose size GetAdapterDisplayMode reports (the last device's).
    void SetDisplayWindow(PlatformWindow* window) { displayWindow_ = window; }

private:
    PlatformWindow* displayWindow_ = nullptr;
};

}  // namespace d3d9
