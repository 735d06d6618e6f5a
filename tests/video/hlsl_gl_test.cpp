// The compiler's GLSL in a real GL 3.3 core driver (Mesa through EGL, no
// display): every shader of the file compiles, the renderer's pairs link,
// and drawing with them puts constants, samplers and attributes where the
// reflection says.
#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "video/d3d9/hlsl_compiler.h"

namespace {

std::string ReadShaderFile(const char* name = "shaders.hlsl") {
    std::string path = __FILE__;
    for (int i = 0; i < 3; ++i) path = path.substr(0, path.find_last_of('/'));
    std::ifstream file(path + "/content/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

constexpr int kSize = 16;

class HlslGlTest : public ::testing::Test {
protected:
    void SetUp() override {
        display_ = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display_ == EGL_NO_DISPLAY || !eglInitialize(display_, nullptr, nullptr)) GTEST_SKIP() << "no EGL";
        eglBindAPI(EGL_OPENGL_API);
        const EGLint configAttribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglChooseConfig(display_, configAttribs, &config, 1, &count) || count < 1) GTEST_SKIP() << "no config";
        const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                         EGL_NONE};
        context_ = eglCreateContext(display_, config, EGL_NO_CONTEXT, contextAttribs);
        if (context_ == EGL_NO_CONTEXT || !eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_))
            GTEST_SKIP() << "no GL 3.3 core context";

        glGenTextures(1, &target_);
        glBindTexture(GL_TEXTURE_2D, target_);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kSize, kSize, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glGenFramebuffers(1, &framebuffer_);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target_, 0);
        glViewport(0, 0, kSize, kSize);
        glGenVertexArrays(1, &vao_);
        glBindVertexArray(vao_);
        source_ = ReadShaderFile();
    }

    void TearDown() override {
        if (context_ != EGL_NO_CONTEXT) {
            eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display_, context_);
        }
        // The surfaceless display is the process's one display, which the
        // engine's devices share: it is not terminated here.
    }

    CompiledShader Compile(const std::string& source, const char* entry, const char* profile) {
        CompiledShader shader;
        std::string messages;
        EXPECT_TRUE(CompileHlsl(source, entry, profile, &shader, &messages)) << entry << "\n" << messages;
        return shader;
    }

    GLuint GlShader(const CompiledShader& shader, const char* entry) {
        const GLuint id = glCreateShader(shader.stage == ShaderStage::kVertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
        const char* text = shader.glsl.c_str();
        glShaderSource(id, 1, &text, nullptr);
        glCompileShader(id);
        GLint ok = 0;
        glGetShaderiv(id, GL_COMPILE_STATUS, &ok);
        char log[2048] = {};
        glGetShaderInfoLog(id, sizeof log, nullptr, log);
        EXPECT_TRUE(ok) << entry << ":\n" << log << "\n" << shader.glsl;
        return id;
    }

    // Links a pair, binding attributes the way the device does: by usage.
    GLuint Link(const CompiledShader& vs, const CompiledShader& ps, const char* what) {
        const GLuint program = glCreateProgram();
        glAttachShader(program, GlShader(vs, what));
        glAttachShader(program, GlShader(ps, what));
        for (const auto& a : vs.attributes) glBindAttribLocation(program, AttributeSlot(a), a.name.c_str());
        glLinkProgram(program);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        char log[2048] = {};
        glGetProgramInfoLog(program, sizeof log, nullptr, log);
        EXPECT_TRUE(ok) << what << ":\n" << log;
        return program;
    }

    static GLuint AttributeSlot(const CompiledShader::Attribute& a) {
        switch (a.usage) {
            case VertexUsage::kPosition: return 0;
            case VertexUsage::kNormal: return 1;
            case VertexUsage::kColor: return 2;
            case VertexUsage::kTexCoord: return 3 + a.usageIndex;
        }
        return 0;
    }

    // Fills a stage's constant block from Direct3D-style registers, copying
    // them raw into the offsets the reflection gives.
    static void UploadRegisters(GLuint program, const CompiledShader& shader, const float (*registers)[4],
                                GLuint bindingPoint) {
        if (shader.constantBlock.empty()) return;
        std::vector<uint8_t> block(shader.constantBlockSize, 0);
        for (const auto& c : shader.constants) {
            const size_t bytes = std::min<size_t>(16u * c.registerCount, block.size() - c.offset);
            std::memcpy(block.data() + c.offset, registers[c.firstRegister], bytes);
        }
        GLuint buffer = 0;
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_UNIFORM_BUFFER, buffer);
        glBufferData(GL_UNIFORM_BUFFER, static_cast<GLsizeiptr>(block.size()), block.data(), GL_STATIC_DRAW);
        const GLuint index = glGetUniformBlockIndex(program, shader.constantBlock.c_str());
        ASSERT_NE(index, GL_INVALID_INDEX) << shader.constantBlock;
        glUniformBlockBinding(program, index, bindingPoint);
        glBindBufferBase(GL_UNIFORM_BUFFER, bindingPoint, buffer);
    }

    static void BindTexture(GLuint program, const CompiledShader& ps, int stage, const uint8_t rgba[4]) {
        GLuint texture = 0;
        glGenTextures(1, &texture);
        glActiveTexture(GL_TEXTURE0 + stage);
        glBindTexture(GL_TEXTURE_2D, texture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        for (const auto& s : ps.samplers) {
            if (s.stage == stage) glUniform1i(glGetUniformLocation(program, s.name.c_str()), stage);
        }
    }

    // Draws two triangles covering x in [x0, x1] of clip space, y in [-1, 1],
    // with only position and texture coordinates fed from arrays.
    static void DrawQuad(float x0, float x1) {
        const float v[] = {x0, -1, 0, x1, -1, 0, x0, 1, 0, x1, 1, 0};
        GLuint buffer = 0;
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, sizeof v, v, GL_STATIC_DRAW);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
        glVertexAttrib4f(2, 1, 1, 1, 1);
        glVertexAttrib4f(3, 0.5f, 0.5f, 0, 0);
        glVertexAttrib4f(4, 0.5f, 0.5f, 0, 0);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }

    static void ReadPixel(int x, int y, uint8_t out[4]) {
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, out);
    }

    EGLDisplay display_ = EGL_NO_DISPLAY;
    EGLContext context_ = EGL_NO_CONTEXT;
    GLuint target_ = 0, framebuffer_ = 0, vao_ = 0;
    std::string source_;
};

TEST_F(HlslGlTest, EveryShaderCompilesAndTheRenderersPairsLink) {
    const char* pairs[][2] = {{"def_main_vs", "def_main_ps"},     {"q3_main_vs", "q3_main_ps"},
                              {"q3_main_vs", "sky_main_ps"},      {"q3_main_vs", "hdr_pre_ps"},
                              {"def_main_vs", "hdr_post_ps"},     {"def_main_vs", "blur_post_ps"},
                              {"def_main_vs", "blur_hdr_post_ps"}, {"def_main_vs", "depthoffield_ps"}};
    for (const auto& pair : pairs) {
        const CompiledShader vs = Compile(source_, pair[0], "vs.2.0");
        const CompiledShader ps = Compile(source_, pair[1], "ps.2.0");
        const std::string what = std::string(pair[0]) + " + " + pair[1];
        const GLuint program = Link(vs, ps, what.c_str());
        for (const auto& s : ps.samplers) {
            EXPECT_NE(glGetUniformLocation(program, s.name.c_str()), -1) << what << " " << s.name;
        }
    }
}

TEST_F(HlslGlTest, TheMaterialShadersCompileAndLinkWithConstantsOfTheirOwn) {
    const std::string source = ReadShaderFile("materials.hlsl");
    ASSERT_FALSE(source.empty());
    const char* pairs[][2] = {{"stage_vs", "stage_ps"}, {"stage_vs", "stage_bright_ps"}, {"fog_vs", "stage_ps"}};
    for (const auto& pair : pairs) {
        const CompiledShader vs = Compile(source, pair[0], "vs.2.0");
        const CompiledShader ps = Compile(source, pair[1], "ps.2.0");
        Link(vs, ps, (std::string(pair[0]) + " + " + pair[1]).c_str());
        // The view x projection at c0, as the engine's own shaders have it.
        bool viewProjection = false;
        for (const auto& c : vs.constants) viewProjection |= c.firstRegister == 0 && c.registerCount == 4;
        EXPECT_TRUE(viewProjection) << pair[0];
    }
}

TEST_F(HlslGlTest, WorldPairDrawsTextureTimesLightmapThroughRowMajorC0ToC3) {
    const CompiledShader vs = Compile(source_, "q3_main_vs", "vs.2.0");
    const CompiledShader ps = Compile(source_, "q3_main_ps", "ps.2.0");
    const GLuint program = Link(vs, ps, "world");
    glUseProgram(program);
    // c0-c3: a translation by +1 in x, as rows for row vectors; c4: the
    // light scale switch, off (the stored light doubled).
    const float registers[5][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {1, 0, 0, 1}, {0, 0, 0, 0}};
    UploadRegisters(program, vs, registers, 0);
    const uint8_t surface[4] = {102, 51, 204, 255};  // 0.4 0.2 0.8
    const uint8_t lightmap[4] = {128, 255, 64, 255}; // 0.5 1.0 0.25
    BindTexture(program, ps, 0, surface);
    BindTexture(program, ps, 1, lightmap);
    DrawQuad(-1.0f, 0.0f);  // moved to [0, 1]: the right half

    uint8_t left[4], right[4];
    ReadPixel(kSize / 4, kSize / 2, left);
    ReadPixel(3 * kSize / 4, kSize / 2, right);
    EXPECT_EQ(left[0] + left[1] + left[2], 0);
    // surface x lightmap x 2
    EXPECT_NEAR(right[0], 102, 3);
    EXPECT_NEAR(right[1], 102, 3);
    EXPECT_NEAR(right[2], 102, 3);
    EXPECT_EQ(right[3], 255);
}

TEST_F(HlslGlTest, PixelConstantsReadTheirRegisters) {
    // Declared out of register order, annotated and not: the block has to be
    // padded and sorted for plain std140.
    const std::string source =
        "float4 first;\n"
        "float4 tint : register(c2);\n"
        "float4 second;\n"
        "float4 vs(float3 p : POSITION) : POSITION { return float4(p, 1); }\n"
        "float4 ps() : COLOR0 { return tint * 0.5 + first * 0.25 + second; }\n";
    const CompiledShader vs = Compile(source, "vs", "vs_2_0");
    const CompiledShader ps = Compile(source, "ps", "ps_2_0");
    const GLuint program = Link(vs, ps, "constants");
    glUseProgram(program);
    float registers[5][4] = {};
    registers[2][0] = 0.8f;  // tint
    registers[3][1] = 0.8f;  // first
    registers[4][2] = 0.4f;  // second
    registers[2][3] = registers[4][3] = 1.0f;
    UploadRegisters(program, ps, registers, 1);
    DrawQuad(-1.0f, 1.0f);
    uint8_t pixel[4];
    ReadPixel(kSize / 2, kSize / 2, pixel);
    EXPECT_NEAR(pixel[0], 102, 2);
    EXPECT_NEAR(pixel[1], 51, 2);
    EXPECT_NEAR(pixel[2], 102, 2);
}

}  // namespace
