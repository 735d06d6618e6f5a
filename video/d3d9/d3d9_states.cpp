// Render, sampler and texture-stage states: their Direct3D defaults, the
// Set/Get calls, state blocks, and turning them into GL state before a draw.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "video/d3d9/d3d9_internal.h"

namespace d3d9 {

namespace {

DWORD FloatBits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// A float state's value from its bits; anything not finite counts as 0.
float BitsFloat(DWORD bits) {
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return std::isfinite(value) ? value : 0.0f;
}

// Direct3D's depth bias is a fraction of the depth range; GL counts in the
// smallest step the depth buffer resolves, 1 / (2^bits - 1) of the range for
// a fixed-point buffer.
float DepthStepsOf(const FormatInfo& format) {
    return format.internalFormat == GL_DEPTH_COMPONENT16 ? 65535.0f : 16777215.0f;
}

// Render states that belong to the pixel part of the pipeline, for
// D3DSBT_PIXELSTATE blocks; the rest are vertex states.
const DWORD kPixelRenderStates[] = {
    D3DRS_ZENABLE, D3DRS_FILLMODE, D3DRS_SHADEMODE, D3DRS_ZWRITEENABLE, D3DRS_ALPHATESTENABLE,
    D3DRS_LASTPIXEL, D3DRS_SRCBLEND, D3DRS_DESTBLEND, D3DRS_ZFUNC, D3DRS_ALPHAREF, D3DRS_ALPHAFUNC,
    D3DRS_DITHERENABLE, D3DRS_ALPHABLENDENABLE, D3DRS_FOGSTART, D3DRS_FOGEND, D3DRS_FOGDENSITY,
    D3DRS_STENCILENABLE, D3DRS_STENCILFAIL, D3DRS_STENCILZFAIL, D3DRS_STENCILPASS, D3DRS_STENCILFUNC,
    D3DRS_STENCILREF, D3DRS_STENCILMASK, D3DRS_STENCILWRITEMASK, D3DRS_TEXTUREFACTOR, D3DRS_WRAP0,
    D3DRS_COLORWRITEENABLE, D3DRS_BLENDOP, D3DRS_SCISSORTESTENABLE, D3DRS_SLOPESCALEDEPTHBIAS,
    D3DRS_ANTIALIASEDLINEENABLE, D3DRS_TWOSIDEDSTENCILMODE, D3DRS_BLENDFACTOR, D3DRS_SRGBWRITEENABLE,
    D3DRS_DEPTHBIAS, D3DRS_SEPARATEALPHABLENDENABLE, D3DRS_SRCBLENDALPHA, D3DRS_DESTBLENDALPHA,
    D3DRS_BLENDOPALPHA,
};

bool IsPixelRenderState(DWORD state) {
    for (DWORD pixel : kPixelRenderStates) {
        if (pixel == state) return true;
    }
    return false;
}

GLenum CompareOf(DWORD function) {
    switch (function) {
        case D3DCMP_NEVER: return GL_NEVER;
        case D3DCMP_LESS: return GL_LESS;
        case D3DCMP_EQUAL: return GL_EQUAL;
        case D3DCMP_LESSEQUAL: return GL_LEQUAL;
        case D3DCMP_GREATER: return GL_GREATER;
        case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
        default: return GL_ALWAYS;
    }
}

GLenum BlendOf(DWORD blend) {
    switch (blend) {
        case D3DBLEND_ZERO: return GL_ZERO;
        case D3DBLEND_ONE: return GL_ONE;
        case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
        case D3DBLEND_BLENDFACTOR: return GL_CONSTANT_COLOR;
        case D3DBLEND_INVBLENDFACTOR: return GL_ONE_MINUS_CONSTANT_COLOR;
        default: return GL_ONE;
    }
}

// D3DBLEND_BOTHSRCALPHA / BOTHINVSRCALPHA set both factors from the source one.
void BlendPair(DWORD source, DWORD dest, GLenum* glSource, GLenum* glDest) {
    if (source == D3DBLEND_BOTHSRCALPHA) {
        *glSource = GL_SRC_ALPHA;
        *glDest = GL_ONE_MINUS_SRC_ALPHA;
    } else if (source == D3DBLEND_BOTHINVSRCALPHA) {
        *glSource = GL_ONE_MINUS_SRC_ALPHA;
        *glDest = GL_SRC_ALPHA;
    } else {
        *glSource = BlendOf(source);
        *glDest = BlendOf(dest);
    }
}

GLenum BlendOpOf(DWORD op) {
    switch (op) {
        case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
        case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
        case D3DBLENDOP_MIN: return GL_MIN;
        case D3DBLENDOP_MAX: return GL_MAX;
        default: return GL_FUNC_ADD;
    }
}

GLenum StencilOpOf(DWORD op) {
    switch (op) {
        case D3DSTENCILOP_ZERO: return GL_ZERO;
        case D3DSTENCILOP_REPLACE: return GL_REPLACE;
        case D3DSTENCILOP_INCRSAT: return GL_INCR;
        case D3DSTENCILOP_DECRSAT: return GL_DECR;
        case D3DSTENCILOP_INVERT: return GL_INVERT;
        case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
        case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
        default: return GL_KEEP;
    }
}

GLenum AddressOf(DWORD address) {
    switch (address) {
        case D3DTADDRESS_MIRROR:
        case D3DTADDRESS_MIRRORONCE: return GL_MIRRORED_REPEAT;
        case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
        default: return GL_REPEAT;
    }
}

GLenum MinFilterOf(DWORD minFilter, DWORD mipFilter) {
    const bool linear = minFilter >= D3DTEXF_LINEAR;
    switch (mipFilter) {
        case D3DTEXF_NONE: return linear ? GL_LINEAR : GL_NEAREST;
        case D3DTEXF_POINT: return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        default: return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    }
}

template <class Object>
void Hold(Object* object) {
    if (object != nullptr) object->AddRef();
}

template <class Object>
void Drop(Object* object) {
    if (object != nullptr) object->Release();
}

}  // namespace

bool IsKnownRenderState(DWORD state) {
    if (state >= static_cast<DWORD>(kRenderStateCount)) return false;
    // The states with names, looked up once: drawing sets states every
    // frame and must not build strings for it.
    static const std::array<bool, kRenderStateCount> known = [] {
        std::array<bool, kRenderStateCount> table{};
        for (DWORD i = 0; i < static_cast<DWORD>(kRenderStateCount); ++i) {
            table[i] = RenderStateName(i) != std::to_string(i);
        }
        return table;
    }();
    return known[state];
}

bool IsKnownSamplerState(DWORD state) { return state >= D3DSAMP_ADDRESSU && state <= D3DSAMP_DMAPOFFSET; }

bool IsKnownStageState(DWORD state) {
    if (state >= static_cast<DWORD>(kStageStateCount)) return false;
    static const std::array<bool, kStageStateCount> known = [] {
        std::array<bool, kStageStateCount> table{};
        for (DWORD i = 0; i < static_cast<DWORD>(kStageStateCount); ++i) {
            table[i] = StageStateName(i) != std::to_string(i);
        }
        return table;
    }();
    return known[state];
}

void SetDefaultStates(DeviceState* state, bool zEnable) {
    DWORD* render = state->render.data();
    render[D3DRS_ZENABLE] = zEnable ? D3DZB_TRUE : D3DZB_FALSE;
    render[D3DRS_FILLMODE] = D3DFILL_SOLID;
    render[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    render[D3DRS_ZWRITEENABLE] = TRUE;
    render[D3DRS_LASTPIXEL] = TRUE;
    render[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    render[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    render[D3DRS_CULLMODE] = D3DCULL_CCW;
    render[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    render[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    render[D3DRS_FOGEND] = FloatBits(1.0f);
    render[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    render[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    render[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    render[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    render[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    render[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    render[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    render[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    render[D3DRS_CLIPPING] = TRUE;
    render[D3DRS_LIGHTING] = TRUE;
    render[D3DRS_COLORVERTEX] = TRUE;
    render[D3DRS_LOCALVIEWER] = TRUE;
    render[D3DRS_DIFFUSEMATERIALSOURCE] = 1;
    render[D3DRS_SPECULARMATERIALSOURCE] = 2;
    render[D3DRS_POINTSIZE] = FloatBits(1.0f);
    render[D3DRS_POINTSIZE_MIN] = FloatBits(1.0f);
    render[D3DRS_POINTSIZE_MAX] = FloatBits(64.0f);
    render[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    render[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    render[D3DRS_COLORWRITEENABLE] = 0xF;
    render[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    render[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    render[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    render[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    render[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    for (int unit = 0; unit < kMaxStages; ++unit) {
        DWORD* sampler = state->sampler[unit].data();
        sampler[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        sampler[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        sampler[D3DSAMP_MAXANISOTROPY] = 1;
        DWORD* stage = state->stage[unit].data();
        stage[D3DTSS_COLOROP] = unit == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        stage[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        stage[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        stage[D3DTSS_ALPHAOP] = unit == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        stage[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        stage[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        stage[D3DTSS_TEXCOORDINDEX] = static_cast<DWORD>(unit);
        stage[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        stage[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        stage[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }
}

void CopyMaskedState(const DeviceState& source, const StateMask& mask, DeviceState* target) {
    for (int i = 0; i < kRenderStateCount; ++i) {
        if (mask.render[i]) target->render[i] = source.render[i];
    }
    for (int unit = 0; unit < kMaxStages; ++unit) {
        for (int i = 0; i < kSamplerStateCount; ++i) {
            if (mask.sampler[unit][i]) target->sampler[unit][i] = source.sampler[unit][i];
        }
        for (int i = 0; i < kStageStateCount; ++i) {
            if (mask.stage[unit][i]) target->stage[unit][i] = source.stage[unit][i];
        }
        if (mask.textures[unit] && target->textures[unit] != source.textures[unit]) {
            Hold(source.textures[unit]);
            Drop(target->textures[unit]);
            target->textures[unit] = source.textures[unit];
        }
    }
    if (mask.vertexShader && target->vertexShader != source.vertexShader) {
        Hold(source.vertexShader);
        Drop(target->vertexShader);
        target->vertexShader = source.vertexShader;
    }
    if (mask.pixelShader && target->pixelShader != source.pixelShader) {
        Hold(source.pixelShader);
        Drop(target->pixelShader);
        target->pixelShader = source.pixelShader;
    }
    if (mask.fvf) target->fvf = source.fvf;
    for (int i = 0; i < kConstantRegisters; ++i) {
        if (mask.vertexConstants[i]) {
            std::memcpy(&target->vertexConstants[i * 4], &source.vertexConstants[i * 4], 16);
        }
        if (mask.pixelConstants[i]) {
            std::memcpy(&target->pixelConstants[i * 4], &source.pixelConstants[i * 4], 16);
        }
    }
}

void ReleaseStateReferences(DeviceState* state) {
    for (IDirect3DBaseTexture9*& texture : state->textures) {
        Drop(texture);
        texture = nullptr;
    }
    Drop(state->vertexShader);
    Drop(state->pixelShader);
    state->vertexShader = nullptr;
    state->pixelShader = nullptr;
}

StateMask MaskForType(D3DSTATEBLOCKTYPE type) {
    StateMask mask;
    const bool pixel = type == D3DSBT_ALL || type == D3DSBT_PIXELSTATE;
    const bool vertex = type == D3DSBT_ALL || type == D3DSBT_VERTEXSTATE;
    for (int i = 0; i < kRenderStateCount; ++i) {
        if (!IsKnownRenderState(static_cast<DWORD>(i))) continue;
        mask.render[i] = IsPixelRenderState(static_cast<DWORD>(i)) ? pixel : vertex;
    }
    for (int unit = 0; unit < kMaxStages; ++unit) {
        for (int i = 0; i < kSamplerStateCount; ++i) mask.sampler[unit][i] = pixel && IsKnownSamplerState(i);
        for (int i = 0; i < kStageStateCount; ++i) {
            const bool vertexStage = i == D3DTSS_TEXCOORDINDEX || i == D3DTSS_TEXTURETRANSFORMFLAGS;
            mask.stage[unit][i] = IsKnownStageState(i) && (vertexStage ? vertex : pixel);
        }
        mask.textures[unit] = type == D3DSBT_ALL;
    }
    mask.vertexShader = vertex;
    mask.pixelShader = pixel;
    mask.fvf = vertex;
    mask.vertexConstants.fill(vertex);
    mask.pixelConstants.fill(pixel);
    return mask;
}

// ---------------------------------------------------------------------------
// State blocks
// ---------------------------------------------------------------------------
HRESULT StateBlock::GetDevice(IDirect3DDevice9** device) {
    if (device == nullptr || link_->device == nullptr) return D3DERR_INVALIDCALL;
    *device = link_->device;
    link_->device->AddRef();
    return D3D_OK;
}

HRESULT StateBlock::Capture() {
    Device* device = link_->device;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    device->Trace("IDirect3DStateBlock9::Capture()");
    CopyMaskedState(device->CurrentState(), mask_, &state_);
    return D3D_OK;
}

HRESULT StateBlock::Apply() {
    Device* device = link_->device;
    if (device == nullptr) return D3DERR_INVALIDCALL;
    device->Trace("IDirect3DStateBlock9::Apply()");
    CopyMaskedState(state_, mask_, &device->TargetState());
    device->MarkSamplersDirty();
    // Applied constants bypass the Set calls: count every register as new.
    device->ConstantsChanged(0, 0, kConstantRegisters);
    device->ConstantsChanged(1, 0, kConstantRegisters);
    return D3D_OK;
}

HRESULT Device::CreateStateBlock(D3DSTATEBLOCKTYPE type, IDirect3DStateBlock9** block) {
    if (Tracing()) Trace("CreateStateBlock(%u)", static_cast<unsigned>(type));
    if (block == nullptr) return Invalid("CreateStateBlock: no pointer to receive the block");
    *block = nullptr;
    if (type < D3DSBT_ALL || type > D3DSBT_VERTEXSTATE) return Invalid("CreateStateBlock: unknown type %u", type);
    if (recording_ != nullptr) return Invalid("CreateStateBlock: a state block is being recorded");
    auto* created = new StateBlock(link_, MaskForType(type));
    CopyMaskedState(state_, created->Mask(), &created->State());
    *block = created;
    return D3D_OK;
}

HRESULT Device::BeginStateBlock() {
    if (Tracing()) Trace("BeginStateBlock()");
    if (recording_ != nullptr) return Invalid("BeginStateBlock: a state block is already being recorded");
    // The block starts from the device's state so that entries it never
    // records still hold sensible values; only recorded ones are applied.
    recording_ = new StateBlock(link_, StateMask());
    StateMask all = MaskForType(D3DSBT_ALL);
    CopyMaskedState(state_, all, &recording_->State());
    return D3D_OK;
}

HRESULT Device::EndStateBlock(IDirect3DStateBlock9** block) {
    if (Tracing()) Trace("EndStateBlock()");
    if (block == nullptr) return Invalid("EndStateBlock: no pointer to receive the block");
    *block = nullptr;
    if (recording_ == nullptr) return Invalid("EndStateBlock: BeginStateBlock was not called");
    *block = recording_;
    recording_ = nullptr;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Set and Get
// ---------------------------------------------------------------------------
HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (Tracing()) Trace("SetRenderState(%s, %u)", RenderStateName(state).c_str(), value);
    if (!IsKnownRenderState(state)) return Invalid("SetRenderState: unknown render state %u", state);
    TargetState().render[state] = value;
    if (recording_ != nullptr) recording_->Mask().render[state] = true;
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (value == nullptr || !IsKnownRenderState(state)) return Invalid("GetRenderState: unknown render state %u", state);
    *value = state_.render[state];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (Tracing()) Trace("SetSamplerState(%u, %s, %u)", sampler, SamplerStateName(type).c_str(), value);
    if (sampler >= static_cast<DWORD>(kMaxStages)) {
        return Invalid("SetSamplerState: sampler %u is outside 0..%d", sampler, kMaxStages - 1);
    }
    if (!IsKnownSamplerState(type)) return Invalid("SetSamplerState: unknown sampler state %u", type);
    DWORD& slot = TargetState().sampler[sampler][type];
    if (recording_ != nullptr) {
        recording_->Mask().sampler[sampler][type] = true;
    } else if (slot != value) {
        samplersDirty_[sampler] = true;
    }
    slot = value;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (value == nullptr || sampler >= static_cast<DWORD>(kMaxStages) || !IsKnownSamplerState(type)) {
        return Invalid("GetSamplerState: bad sampler %u or state %u", sampler, type);
    }
    *value = state_.sampler[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (Tracing()) Trace("SetTextureStageState(%u, %s, %u)", stage, StageStateName(type).c_str(), value);
    if (stage >= static_cast<DWORD>(kMaxStages)) {
        return Invalid("SetTextureStageState: stage %u is outside 0..%d", stage, kMaxStages - 1);
    }
    if (!IsKnownStageState(type)) return Invalid("SetTextureStageState: unknown texture stage state %u", type);
    TargetState().stage[stage][type] = value;
    if (recording_ != nullptr) recording_->Mask().stage[stage][type] = true;
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (value == nullptr || stage >= static_cast<DWORD>(kMaxStages) || !IsKnownStageState(type)) {
        return Invalid("GetTextureStageState: bad stage %u or state %u", stage, type);
    }
    *value = state_.stage[stage][type];
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (Tracing()) Trace("SetTexture(%u, %s)", stage, PointerText(texture).c_str());
    if (stage >= static_cast<DWORD>(kMaxStages)) {
        return Invalid("SetTexture: stage %u is outside 0..%d", stage, kMaxStages - 1);
    }
    if (texture != nullptr && static_cast<Texture*>(texture)->Link() != link_) {
        return Invalid("SetTexture: the texture belongs to another device");
    }
    DeviceState& target = TargetState();
    Hold(texture);
    Drop(target.textures[stage]);
    target.textures[stage] = texture;
    if (recording_ != nullptr) recording_->Mask().textures[stage] = true;
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (texture == nullptr || stage >= static_cast<DWORD>(kMaxStages)) return Invalid("GetTexture: bad stage %u", stage);
    *texture = state_.textures[stage];
    Hold(*texture);
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD fvf) {
    if (Tracing()) Trace("SetFVF(%s)", FvfText(fvf).c_str());
    TargetState().fvf = fvf;
    if (recording_ != nullptr) recording_->Mask().fvf = true;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* fvf) {
    if (fvf == nullptr) return Invalid("GetFVF: no pointer to fill");
    *fvf = state_.fvf;
    return D3D_OK;
}

HRESULT Device::SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) {
    if (Tracing()) Trace("SetVertexDeclaration(%s)", PointerText(declaration).c_str());
    if (declaration != nullptr) return Invalid("SetVertexDeclaration: only null is supported; use SetFVF");
    return D3D_OK;
}

HRESULT Device::SetVertexShader(IDirect3DVertexShader9* shader) {
    if (Tracing()) Trace("SetVertexShader(%s)", PointerText(shader).c_str());
    DeviceState& target = TargetState();
    Hold(shader);
    Drop(target.vertexShader);
    target.vertexShader = shader;
    if (recording_ != nullptr) recording_->Mask().vertexShader = true;
    return D3D_OK;
}

HRESULT Device::GetVertexShader(IDirect3DVertexShader9** shader) {
    if (shader == nullptr) return Invalid("GetVertexShader: no pointer to fill");
    *shader = state_.vertexShader;
    Hold(*shader);
    return D3D_OK;
}

HRESULT Device::SetPixelShader(IDirect3DPixelShader9* shader) {
    if (Tracing()) Trace("SetPixelShader(%s)", PointerText(shader).c_str());
    DeviceState& target = TargetState();
    Hold(shader);
    Drop(target.pixelShader);
    target.pixelShader = shader;
    if (recording_ != nullptr) recording_->Mask().pixelShader = true;
    return D3D_OK;
}

HRESULT Device::GetPixelShader(IDirect3DPixelShader9** shader) {
    if (shader == nullptr) return Invalid("GetPixelShader: no pointer to fill");
    *shader = state_.pixelShader;
    Hold(*shader);
    return D3D_OK;
}

namespace {

HRESULT SetConstants(Device* device, const char* call, std::array<float, kConstantRegisters * 4>* registers,
                     std::array<bool, kConstantRegisters>* recorded, UINT start, const float* data, UINT count) {
    if (data == nullptr && count > 0) return device->Invalid("%s: no data", call);
    if (start > static_cast<UINT>(kConstantRegisters) || count > static_cast<UINT>(kConstantRegisters) - start) {
        return device->Invalid("%s: registers %u..%u are outside c0..c%d", call, start, start + count - 1,
                               kConstantRegisters - 1);
    }
    if (count > 0) std::memcpy(registers->data() + start * 4, data, count * 16);
    if (recorded != nullptr) {
        for (UINT i = 0; i < count; ++i) (*recorded)[start + i] = true;
    }
    return D3D_OK;
}

// Whether writing count registers from start would change any (a bad range
// counts as no change; SetConstants rejects it).
bool ConstantsDiffer(const std::array<float, kConstantRegisters * 4>& registers, UINT start, const float* data,
                     UINT count) {
    if (data == nullptr || count == 0 || start > static_cast<UINT>(kConstantRegisters) ||
        count > static_cast<UINT>(kConstantRegisters) - start) {
        return false;
    }
    return std::memcmp(registers.data() + start * 4, data, count * 16) != 0;
}

}  // namespace

HRESULT Device::SetVertexShaderConstantF(UINT start, const float* data, UINT count) {
    if (Tracing()) Trace("SetVertexShaderConstantF(%u, %u)", start, count);
    const bool changed = recording_ == nullptr && ConstantsDiffer(state_.vertexConstants, start, data, count);
    const HRESULT result = SetConstants(this, "SetVertexShaderConstantF", &TargetState().vertexConstants,
                                        recording_ != nullptr ? &recording_->Mask().vertexConstants : nullptr,
                                        start, data, count);
    if (SUCCEEDED(result) && changed) ConstantsChanged(0, start, count);
    return result;
}

HRESULT Device::GetVertexShaderConstantF(UINT start, float* data, UINT count) {
    if (data == nullptr || start > static_cast<UINT>(kConstantRegisters) ||
        count > static_cast<UINT>(kConstantRegisters) - start) {
        return Invalid("GetVertexShaderConstantF: bad register range");
    }
    std::memcpy(data, state_.vertexConstants.data() + start * 4, count * 16);
    return D3D_OK;
}

HRESULT Device::SetPixelShaderConstantF(UINT start, const float* data, UINT count) {
    if (Tracing()) Trace("SetPixelShaderConstantF(%u, %u)", start, count);
    const bool changed = recording_ == nullptr && ConstantsDiffer(state_.pixelConstants, start, data, count);
    const HRESULT result = SetConstants(this, "SetPixelShaderConstantF", &TargetState().pixelConstants,
                                        recording_ != nullptr ? &recording_->Mask().pixelConstants : nullptr,
                                        start, data, count);
    if (SUCCEEDED(result) && changed) ConstantsChanged(1, start, count);
    return result;
}

HRESULT Device::GetPixelShaderConstantF(UINT start, float* data, UINT count) {
    if (data == nullptr || start > static_cast<UINT>(kConstantRegisters) ||
        count > static_cast<UINT>(kConstantRegisters) - start) {
        return Invalid("GetPixelShaderConstantF: bad register range");
    }
    std::memcpy(data, state_.pixelConstants.data() + start * 4, count * 16);
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// GL state
// ---------------------------------------------------------------------------
void Device::ApplyRenderStates() {
    // The whole group is set again only when a state, the scissor rectangle
    // or the depth surface differs from what the last draw used.
    if (renderStatesKnown_ && appliedDepthStencil_ == depthStencil_ &&
        std::memcmp(&appliedScissor_, &scissor_, sizeof scissor_) == 0 &&
        std::memcmp(appliedRender_.data(), state_.render.data(), sizeof(DWORD) * kRenderStateCount) == 0) {
        return;
    }
    appliedRender_ = state_.render;
    appliedDepthStencil_ = depthStencil_;
    appliedScissor_ = scissor_;
    renderStatesKnown_ = true;
    ++counters_.stateApplies;
    const DWORD* render = state_.render.data();
    static const GLenum kPolygonModes[] = {GL_FILL, GL_POINT, GL_LINE, GL_FILL};
    glPolygonMode(GL_FRONT_AND_BACK, kPolygonModes[render[D3DRS_FILLMODE] <= 3 ? render[D3DRS_FILLMODE] : 3]);

    // Direct3D's front faces are clockwise as seen on screen. GL_UPPER_LEFT
    // flips window y and facing with it, so clockwise stays clockwise.
    glFrontFace(GL_CW);
    if (render[D3DRS_CULLMODE] == D3DCULL_NONE) {
        glDisable(GL_CULL_FACE);
    } else {
        glEnable(GL_CULL_FACE);
        glCullFace(render[D3DRS_CULLMODE] == D3DCULL_CW ? GL_FRONT : GL_BACK);
    }

    const bool depth = render[D3DRS_ZENABLE] != D3DZB_FALSE && depthStencil_ != nullptr;
    if (depth) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(CompareOf(render[D3DRS_ZFUNC]));
        glDepthMask(render[D3DRS_ZWRITEENABLE] != 0 ? GL_TRUE : GL_FALSE);
    } else {
        glDisable(GL_DEPTH_TEST);
    }

    // Depth bias moves the depth of filled, wireframe and point-mode
    // triangles alike, as Direct3D's does.
    const float bias = BitsFloat(render[D3DRS_DEPTHBIAS]);
    const float slopeScale = BitsFloat(render[D3DRS_SLOPESCALEDEPTHBIAS]);
    if (depth && (bias != 0.0f || slopeScale != 0.0f)) {
        glEnable(GL_POLYGON_OFFSET_FILL);
        glEnable(GL_POLYGON_OFFSET_LINE);
        glEnable(GL_POLYGON_OFFSET_POINT);
        glPolygonOffset(slopeScale, bias * DepthStepsOf(depthStencil_->Owner()->Format()));
    } else {
        glDisable(GL_POLYGON_OFFSET_FILL);
        glDisable(GL_POLYGON_OFFSET_LINE);
        glDisable(GL_POLYGON_OFFSET_POINT);
    }

    if (render[D3DRS_ALPHABLENDENABLE] != 0) {
        glEnable(GL_BLEND);
        GLenum source;
        GLenum dest;
        BlendPair(render[D3DRS_SRCBLEND], render[D3DRS_DESTBLEND], &source, &dest);
        if (render[D3DRS_SEPARATEALPHABLENDENABLE] != 0) {
            GLenum alphaSource;
            GLenum alphaDest;
            BlendPair(render[D3DRS_SRCBLENDALPHA], render[D3DRS_DESTBLENDALPHA], &alphaSource, &alphaDest);
            glBlendFuncSeparate(source, dest, alphaSource, alphaDest);
            glBlendEquationSeparate(BlendOpOf(render[D3DRS_BLENDOP]), BlendOpOf(render[D3DRS_BLENDOPALPHA]));
        } else {
            glBlendFunc(source, dest);
            glBlendEquation(BlendOpOf(render[D3DRS_BLENDOP]));
        }
        const DWORD factor = render[D3DRS_BLENDFACTOR];
        glBlendColor(((factor >> 16) & 0xFF) / 255.0f, ((factor >> 8) & 0xFF) / 255.0f, (factor & 0xFF) / 255.0f,
                     ((factor >> 24) & 0xFF) / 255.0f);
    } else {
        glDisable(GL_BLEND);
    }

    const DWORD mask = render[D3DRS_COLORWRITEENABLE];
    glColorMask((mask & D3DCOLORWRITEENABLE_RED) != 0, (mask & D3DCOLORWRITEENABLE_GREEN) != 0,
                (mask & D3DCOLORWRITEENABLE_BLUE) != 0, (mask & D3DCOLORWRITEENABLE_ALPHA) != 0);

    if (render[D3DRS_SCISSORTESTENABLE] != 0) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(scissor_.left, scissor_.top, std::max(0, scissor_.right - scissor_.left),
                  std::max(0, scissor_.bottom - scissor_.top));
    } else {
        glDisable(GL_SCISSOR_TEST);
    }

    const bool stencil = render[D3DRS_STENCILENABLE] != 0 && depthStencil_ != nullptr &&
                         depthStencil_->Owner()->Format().stencil;
    if (stencil) {
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(CompareOf(render[D3DRS_STENCILFUNC]), static_cast<GLint>(render[D3DRS_STENCILREF]),
                      render[D3DRS_STENCILMASK]);
        glStencilOp(StencilOpOf(render[D3DRS_STENCILFAIL]), StencilOpOf(render[D3DRS_STENCILZFAIL]),
                    StencilOpOf(render[D3DRS_STENCILPASS]));
        glStencilMask(render[D3DRS_STENCILWRITEMASK]);
    } else {
        glDisable(GL_STENCIL_TEST);
    }
}

void Device::ApplySamplers() {
    for (int unit = 0; unit < kMaxStages; ++unit) {
        if (!samplersDirty_[unit]) continue;
        samplersDirty_[unit] = false;
        const DWORD* sampler = state_.sampler[unit].data();
        const GLuint name = samplers_[unit];
        glSamplerParameteri(name, GL_TEXTURE_WRAP_S, static_cast<GLint>(AddressOf(sampler[D3DSAMP_ADDRESSU])));
        glSamplerParameteri(name, GL_TEXTURE_WRAP_T, static_cast<GLint>(AddressOf(sampler[D3DSAMP_ADDRESSV])));
        glSamplerParameteri(name, GL_TEXTURE_WRAP_R, static_cast<GLint>(AddressOf(sampler[D3DSAMP_ADDRESSW])));
        glSamplerParameteri(name, GL_TEXTURE_MAG_FILTER,
                            sampler[D3DSAMP_MAGFILTER] >= D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
        glSamplerParameteri(name, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(MinFilterOf(
                                                             sampler[D3DSAMP_MINFILTER], sampler[D3DSAMP_MIPFILTER])));
        const DWORD border = sampler[D3DSAMP_BORDERCOLOR];
        const GLfloat borderColor[] = {((border >> 16) & 0xFF) / 255.0f, ((border >> 8) & 0xFF) / 255.0f,
                                       (border & 0xFF) / 255.0f, ((border >> 24) & 0xFF) / 255.0f};
        glSamplerParameterfv(name, GL_TEXTURE_BORDER_COLOR, borderColor);
        glSamplerParameterf(name, GL_TEXTURE_MIN_LOD, static_cast<float>(sampler[D3DSAMP_MAXMIPLEVEL]));
    }
}

}  // namespace d3d9
