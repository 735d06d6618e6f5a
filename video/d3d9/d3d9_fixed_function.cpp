// The one fixed-function path the engine uses: pre-transformed vertices
// (D3DFVF_XYZRHW, positions in render-target pixels) without shaders, coloured
// by texture stage 0 (COLOROP/ALPHAOP with TEXTURE, DIFFUSE and TFACTOR
// arguments). Later stages are not evaluated.
#include "video/d3d9/d3d9_internal.h"

namespace d3d9 {

namespace {

// Pixel centres are at integer coordinates in Direct3D 9 and at
// half-integers in GL, hence the + 0.5. Rows count down from the top, which
// is clip y = +1 with the upper-left origin.
const char kVertexSource[] = R"(#version 330 core
uniform vec4 osprel_Viewport;  // x, y, width, height in pixels
in vec4 inPosition;            // x, y, z, rhw
in vec4 inColor;
in vec2 inTexCoord;
out vec4 vColor;
out vec2 vTexCoord;
void main() {
    vec2 pixel = inPosition.xy + vec2(0.5) - osprel_Viewport.xy;
    vec2 ndc = vec2(pixel.x / osprel_Viewport.z * 2.0 - 1.0, 1.0 - pixel.y / osprel_Viewport.w * 2.0);
    float w = inPosition.w > 0.0 ? 1.0 / inPosition.w : 1.0;
    gl_Position = vec4(ndc * w, inPosition.z * w, w);
    vColor = inColor;
    vTexCoord = inTexCoord;
}
)";

const char kPixelSource[] = R"(#version 330 core
uniform sampler2D osprel_Texture0;
uniform ivec4 osprel_ColorOps;  // D3DTOP, arg1, arg2, 1 when a texture is bound
uniform ivec4 osprel_AlphaOps;  // D3DTOP, arg1, arg2, unused
uniform vec4 osprel_TextureFactor;
in vec4 vColor;
in vec2 vTexCoord;
out vec4 osp_target0;  // named as the compiled pixel shaders name COLOR0

vec4 Argument(int arg, vec4 texel) {
    vec4 value;
    int source = arg & 15;
    if (source == 2) value = texel;                       // D3DTA_TEXTURE
    else if (source == 3) value = osprel_TextureFactor;   // D3DTA_TFACTOR
    else value = vColor;                                  // DIFFUSE, and CURRENT at stage 0
    if ((arg & 16) != 0) value = vec4(1.0) - value;       // D3DTA_COMPLEMENT
    if ((arg & 32) != 0) value = vec4(value.a);           // D3DTA_ALPHAREPLICATE
    return value;
}

vec4 Combine(ivec4 ops, vec4 texel) {
    vec4 a = Argument(ops.y, texel);
    vec4 b = Argument(ops.z, texel);
    switch (ops.x) {
        case 2: return a;                      // SELECTARG1
        case 3: return b;                      // SELECTARG2
        case 4: return a * b;                  // MODULATE
        case 5: return a * b * 2.0;            // MODULATE2X
        case 6: return a * b * 4.0;            // MODULATE4X
        case 7: return a + b;                  // ADD
        case 8: return a + b - vec4(0.5);      // ADDSIGNED
        case 10: return a - b;                 // SUBTRACT
        default: return vColor;                // DISABLE: the diffuse colour passes
    }
}

void main() {
    vec4 texel = osprel_ColorOps.w != 0 ? texture(osprel_Texture0, vTexCoord) : vec4(1.0);
    vec3 color = Combine(osprel_ColorOps, texel).rgb;
    // With COLOROP disabled the whole stage is off, its alpha included.
    float alpha = osprel_ColorOps.x == 1 ? vColor.a : Combine(osprel_AlphaOps, texel).a;
    osp_target0 = clamp(vec4(color, alpha), 0.0, 1.0);
}
)";

}  // namespace

bool BuildFixedFunctionProgram(Program* program, std::string* error) {
    const GLuint vertex = CompileGlSource(GL_VERTEX_SHADER, kVertexSource, error);
    if (vertex == 0) return false;
    // The pixel stage goes through the same wrapping as compiled shaders, so
    // the alpha test is shared.
    CompiledShader pixelStage;
    pixelStage.stage = ShaderStage::kPixel;
    pixelStage.glsl = kPixelSource;
    const GLuint pixel = CompileGlStage(pixelStage, error);
    if (pixel == 0) {
        glDeleteShader(vertex);
        return false;
    }
    const bool linked = LinkProgram(vertex, pixel, {"inPosition", "inColor", "inTexCoord"}, program, error);
    glDeleteShader(vertex);
    glDeleteShader(pixel);
    if (!linked) return false;
    program->attributes = {{VertexUsage::kPosition, 0}, {VertexUsage::kColor, 0}, {VertexUsage::kTexCoord, 0}};
    glUseProgram(program->name);
    glUniform1i(glGetUniformLocation(program->name, "osprel_Texture0"), 0);
    return true;
}

}  // namespace d3d9
