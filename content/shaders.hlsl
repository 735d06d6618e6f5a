// Osprel shader set: two vertex shaders (vs.2.0) and eight pixel shaders
// (ps.2.0), paired by the renderer:
//
//   default       def_main_vs + def_main_ps        loading screen
//   world         q3_main_vs  + q3_main_ps         world surfaces
//   sky           q3_main_vs  + sky_main_ps        the five sky faces
//   bright pass   q3_main_vs  + hdr_pre_ps         world into 256x256 targets
//   fake HDR      def_main_vs + hdr_post_ps        full-screen composites...
//   motion blur   def_main_vs + blur_post_ps
//   HDR blur      def_main_vs + blur_hdr_post_ps
//   depth of field def_main_vs + depthoffield_ps
//
// The post-process code also draws passes of its own into smaller targets
// with def_main_vs, so that the composites read them with a tap or two:
// hdr_glow_ps (the fake HDR glow, 128x128), hdr_trail_ps (the HDR blur
// trail, 256x256), hdr_trail_glow_ps (the trail's glow, 256x256), and
// dof_blur_ps and dof_half_blur_ps (the depth of field's blurs, at a
// quarter of the screen's width and height). In place of blur_post_ps it
// draws blur_post_seed_ps and then blur_post_step_ps, which also write the
// motion blur's running sum to a second, 16-bit target.
//
// Both vertex shaders write the same outputs (COLOR0, TEXCOORD0-2)
// with the same types, so every vertex shader here goes with every pixel
// shader. The only constants the engine uploads are c0-c3 (vertex stage) and
// c4 (both stages). The worlds' materials are drawn by the shaders of
// "materials.hlsl".

// ---------------------------------------------------------------------------
// Constants and samplers

// View x projection, uploaded as 16 floats in the matrix's row order for row
// vectors: c0 is its first row.
row_major float4x4 g_viewProjection : register(c0);

// The light scale, in both stages: x and y are 1 while the worlds' own light
// is drawn (r_materials 1) and 0 otherwise. At 1 the vertex colours are
// scaled to the light they mean (q3_main_vs), the world's pixels leave out
// the engine's doubling (the lightmaps come already scaled, and faces that
// give their own light come with a lightmap of alpha 0 that leaves the
// vertex colours out), and the fake HDR's bright pass is set for the
// brighter picture. At 0 every formula is the one of before.
float4 g_light : register(c4);

sampler2D g_surface : register(s0);     // world: surface texture (wrap)
sampler2D g_lightmap : register(s1);    // world: lightmap (clamp)
sampler2D g_image : register(s0);       // sky face, loading image, scene texture
sampler2D g_bright : register(s1);      // fake HDR: 256x256 bright pass
sampler2D g_depth : register(s1);       // depth of field: D24S8 depth, 0..1 in red
sampler2D g_blurred : register(s2);     // depth of field: the scene at the widest blur
sampler2D g_halfBlurred : register(s3); // depth of field: the scene at half that blur

// Motion blur: frame s frames ago on stage s; where the blur keeps a running
// sum (blur_post_step_ps), that sum takes stage 1.
sampler2D g_motionSum : register(s1);
sampler2D g_frame0 : register(s0);
sampler2D g_frame1 : register(s1);
sampler2D g_frame2 : register(s2);
sampler2D g_frame3 : register(s3);
sampler2D g_frame4 : register(s4);
sampler2D g_frame5 : register(s5);
sampler2D g_frame6 : register(s6);
sampler2D g_frame7 : register(s7);

// HDR blur: the bright pass of s - 1 frames ago on stage s (1 = this frame).
sampler2D g_history1 : register(s1);
sampler2D g_history2 : register(s2);
sampler2D g_history3 : register(s3);
sampler2D g_history4 : register(s4);
sampler2D g_history5 : register(s5);
sampler2D g_history6 : register(s6);
sampler2D g_history7 : register(s7);

// ---------------------------------------------------------------------------
// Tuning

// Lightmaps are stored at half brightness so that they can brighten
// surfaces; scaling by two restores that range.
static const float kOverbright = 2.0;

// The worlds store their vertex light at a quarter of what it means; scaled
// up, a colour whose brightest channel passes one is scaled down as a whole
// so that it keeps its hue.
static const float kStoredLightScale = 4.0;

// Bright pass: luminance above the threshold passes, with a soft knee so the
// bloom fades in rather than switching on.
static const float kBrightThreshold = 0.45;
static const float kBrightKnee = 0.20;
// With the worlds' own light (g_light.y 1) the picture is about twice as
// bright in its middle tones: the threshold rises by this much, so that the
// glow stays on the lights and bright sky instead of every lit wall. The
// exposure stays: the tone map brightens the darks by the same ratio as
// before and rolls the brighter highlights off.
static const float kBrightThresholdLift = 0.25;
static const float3 kLuminance = float3(0.2126, 0.7152, 0.0722);

// One texel of the 256x256 bright-pass targets.
static const float kBrightTexel = 1.0 / 256.0;

// Motion blur: frame s frames ago weighs kMotionNewest * kMotionDecay^s, so
// the eight weights fall from 0.213 to 0.063 and sum to one. With weights in
// a fixed ratio the sum of the last seven frames carries over from frame to
// frame: next frame it is worth kMotionDecay times as much, plus the new frame.
static const float kMotionDecay = 0.84;
static const float kMotionNewest = 0.2127308;  // (1 - 0.84) / (1 - 0.84^8)
static const float kMotionOldest = 0.0627748;  // kMotionNewest * 0.84^7

static const float kBloomStrength = 1.2;
static const float kExposure = 1.8;

// Depth of field. The depth texture holds Direct3D depth, about 1 - near / z
// for this engine's projection (near 0.1, far 1e7), so a difference in depth
// is proportional to the difference in 1 / z: the circle of confusion of a
// thin lens. The focus is the depth at the centre of the screen, where the
// player looks (auto-focus).
static const float kFocusScale = 2500.0;   // depth difference -> blur 0..1
static const float kMaxBlurRadius = 0.010; // in texture coordinates

// ---------------------------------------------------------------------------
// Vertex shaders

struct EngineVertex {
    float3 position : POSITION;
    float3 normal : NORMAL;
    float4 color : COLOR0;
    float2 texCoord : TEXCOORD0;
    float3 lightCoord : TEXCOORD1;  // lightmap coordinate in .xy
};

struct VertexOutput {
    float4 position : POSITION;
    float4 color : COLOR0;
    float2 texCoord : TEXCOORD0;
    float2 lightCoord : TEXCOORD1;
    float3 normal : TEXCOORD2;  // for effects that want it; nothing reads it yet
};

// What the pixel shaders read of VertexOutput.
struct PixelInput {
    float4 color : COLOR0;
    float2 texCoord : TEXCOORD0;
    float2 lightCoord : TEXCOORD1;
};

// World and sky geometry, in world coordinates.
VertexOutput q3_main_vs(EngineVertex input)
{
    VertexOutput output;
    output.position = mul(float4(input.position, 1.0), g_viewProjection);
    float3 light = input.color.rgb * (1.0 + (kStoredLightScale - 1.0) * g_light.x);
    output.color = float4(light / max(1.0, max(light.r, max(light.g, light.b))), input.color.a);
    output.texCoord = input.texCoord;
    output.lightCoord = input.lightCoord.xy;
    output.normal = input.normal;
    return output;
}

// The full-screen quad: positions are already in clip space.
VertexOutput def_main_vs(EngineVertex input)
{
    VertexOutput output;
    output.position = float4(input.position.xy, input.position.z, 1.0);
    output.color = input.color;
    output.texCoord = input.texCoord;
    output.lightCoord = input.lightCoord.xy;
    output.normal = input.normal;
    return output;
}

// ---------------------------------------------------------------------------
// Helpers

float3 LitSurface(PixelInput input)
{
    // Lightmapped surfaces come with white vertices (their vertex colours
    // carry the same baked light as the lightmap, which would light them
    // twice); surfaces without a lightmap come with a white "lightmap" and
    // their light in the vertex colour.
    // With the worlds' own light, a lightmap of alpha 0 stands for a face
    // that gives light: its image at full intensity, whatever its vertices.
    float3 surface = tex2D(g_surface, input.texCoord).rgb;
    float4 lightmap = tex2D(g_lightmap, input.lightCoord);
    float3 vertex = max(lightmap.a, 1.0 - g_light.y) > 0.5 ? input.color.rgb : float3(1.0, 1.0, 1.0);
    float3 light = lightmap.rgb * vertex;
    return surface * light * (kOverbright - g_light.y);
}

// A filmic shoulder: dark and middle tones stay close to linear, bright
// values roll off towards white instead of clipping.
float3 ToneMap(float3 color)
{
    return 1.0 - exp(-color * kExposure);
}

// A wide glow from a 256x256 bright-pass target: the texel itself, a ring
// of eight taps three texels out and a fainter ring eight texels out (about
// 25 pixels on an 800-pixel screen), so highlights bleed into their
// surroundings. The offsets are written out (cos and sin of the eight
// directions) so that no loop or trigonometry reaches the compiled code: 17
// texture reads. The post-process code runs it once per texel of the 256x256
// glow target (hdr_glow_ps), not once per screen pixel.
static const float kDiagonal = 0.707107;

float3 BloomRing(sampler2D bright, float2 uv, float radius)
{
    float2 a = float2(radius, 0.0) * kBrightTexel;
    float2 b = float2(radius * kDiagonal, radius * kDiagonal) * kBrightTexel;
    float2 c = float2(0.0, radius) * kBrightTexel;
    float2 d = float2(-radius * kDiagonal, radius * kDiagonal) * kBrightTexel;
    return tex2D(bright, uv + a).rgb + tex2D(bright, uv + b).rgb + tex2D(bright, uv + c).rgb +
           tex2D(bright, uv + d).rgb + tex2D(bright, uv - a).rgb + tex2D(bright, uv - b).rgb +
           tex2D(bright, uv - c).rgb + tex2D(bright, uv - d).rgb;
}

float3 BloomWide(sampler2D bright, float2 uv)
{
    float3 sum = tex2D(bright, uv).rgb * 4.0;
    return (sum + BloomRing(bright, uv, 3.0) + BloomRing(bright, uv, 8.0) * 0.5) / 16.0;
}

// Four diagonal taps four texels out: a cheap glow for each of the seven
// bright-pass histories.
float3 BloomBox(sampler2D bright, float2 uv)
{
    float2 d = float2(kBrightTexel * 4.0, kBrightTexel * 4.0);
    float2 e = float2(d.x, -d.y);
    return (tex2D(bright, uv).rgb * 2.0 + tex2D(bright, uv - d).rgb + tex2D(bright, uv + d).rgb +
            tex2D(bright, uv - e).rgb + tex2D(bright, uv + e).rgb) / 6.0;
}

// ---------------------------------------------------------------------------
// Pixel shaders

// World surfaces: texture x lightmap, overbright.
float4 q3_main_ps(PixelInput input) : COLOR0
{
    return float4(saturate(LitSurface(input)), 1.0);
}

// Sky faces: the face image as it is (the sky's vertex colour is white).
float4 sky_main_ps(PixelInput input) : COLOR0
{
    return float4(tex2D(g_image, input.texCoord).rgb * input.color.rgb, 1.0);
}

// Loading screen.
float4 def_main_ps(PixelInput input) : COLOR0
{
    return float4(tex2D(g_image, input.texCoord).rgb, 1.0);
}

// Bright pass of the lit world, drawn into a 256x256 target.
float4 hdr_pre_ps(PixelInput input) : COLOR0
{
    float3 lit = LitSurface(input);
    float luminance = dot(lit, kLuminance);
    float threshold = kBrightThreshold + kBrightThresholdLift * g_light.y;
    float soft = clamp(luminance - threshold + kBrightKnee, 0.0, 2.0 * kBrightKnee);
    soft = soft * soft / (4.0 * kBrightKnee + 0.00001);
    float contribution = max(soft, luminance - threshold) / max(luminance, 0.00001);
    return float4(saturate(lit * contribution), 1.0);
}

// Fake HDR glow, drawn by the post-process code into a 128x128 target with
// the 256x256 bright pass on stage 1: the wide glow, once per four
// bright-pass texels (each tap blends four texels; the glow is smooth, so
// the composite's bilinear tap of it looks the same).
float4 hdr_glow_ps(PixelInput input) : COLOR0
{
    return float4(BloomWide(g_bright, input.texCoord), 1.0);
}

// Fake HDR: scene plus the glow, tone mapped. Stage 1 holds the 256x256 glow
// (the raw bright pass when the glow target could not be made).
float4 hdr_post_ps(PixelInput input) : COLOR0
{
    float3 scene = tex2D(g_image, input.texCoord).rgb;
    float3 bloom = tex2D(g_bright, input.texCoord).rgb;
    return float4(ToneMap(scene + bloom * kBloomStrength), 1.0);
}

// Motion blur: the last eight frames, the newest weighing most. Each weight
// is the one before times kMotionDecay (the compiler folds the products).
float3 MotionBlur(float2 uv)
{
    float weight = kMotionNewest;
    float3 sum = tex2D(g_frame0, uv).rgb * weight;
    weight *= kMotionDecay;
    sum += tex2D(g_frame1, uv).rgb * weight;
    weight *= kMotionDecay;
    sum += tex2D(g_frame2, uv).rgb * weight;
    weight *= kMotionDecay;
    sum += tex2D(g_frame3, uv).rgb * weight;
    weight *= kMotionDecay;
    sum += tex2D(g_frame4, uv).rgb * weight;
    weight *= kMotionDecay;
    sum += tex2D(g_frame5, uv).rgb * weight;
    weight *= kMotionDecay;
    sum += tex2D(g_frame6, uv).rgb * weight;
    return sum + tex2D(g_frame7, uv).rgb * kMotionOldest;
}

float4 blur_post_ps(PixelInput input) : COLOR0
{
    return float4(MotionBlur(input.texCoord), 1.0);
}

// The same blur, also writing the sum of the newest seven frames (without
// the oldest) to a second target, from which the next frames carry on.
struct MotionOutput {
    float4 color : COLOR0;
    float4 sum : COLOR1;
};

MotionOutput blur_post_seed_ps(PixelInput input)
{
    MotionOutput output;
    float3 blur = MotionBlur(input.texCoord);
    output.color = float4(blur, 1.0);
    output.sum = float4(blur - tex2D(g_frame7, input.texCoord).rgb * kMotionOldest, 1.0);
    return output;
}

// The blur from this frame and the running sum of the seven before it, then
// the sum again without the frame that leaves it next (stage 7).
MotionOutput blur_post_step_ps(PixelInput input)
{
    MotionOutput output;
    float2 uv = input.texCoord;
    float3 blur = tex2D(g_frame0, uv).rgb * kMotionNewest + tex2D(g_motionSum, uv).rgb * kMotionDecay;
    output.color = float4(blur, 1.0);
    output.sum = float4(blur - tex2D(g_frame7, uv).rgb * kMotionOldest, 1.0);
    return output;
}

// HDR blur trail, drawn by the post-process code into a 256x256 target with
// the seven bright passes on stages 1-7: each older one fading (weights 1,
// 0.7, 0.49... normalised), so bright things leave a glowing trail. The glow
// of BloomBox is linear, so blurring this sum equals summing the blurred
// passes.
float4 hdr_trail_ps(PixelInput input) : COLOR0
{
    float2 uv = input.texCoord;
    float3 trail = tex2D(g_history1, uv).rgb * 1.000;
    trail += tex2D(g_history2, uv).rgb * 0.700;
    trail += tex2D(g_history3, uv).rgb * 0.490;
    trail += tex2D(g_history4, uv).rgb * 0.343;
    trail += tex2D(g_history5, uv).rgb * 0.240;
    trail += tex2D(g_history6, uv).rgb * 0.168;
    trail += tex2D(g_history7, uv).rgb * 0.118;
    return float4(trail / 3.059, 1.0);
}

// The glow of the HDR blur trail, drawn by the post-process code into a
// 256x256 target with the trail on stage 1. Its taps lie whole texels
// apart, so the composite's bilinear tap of this equals the glow of the
// bilinear trail.
float4 hdr_trail_glow_ps(PixelInput input) : COLOR0
{
    return float4(BloomBox(g_history1, input.texCoord), 1.0);
}

// HDR blur: scene plus the glow of the trail, tone mapped. Stage 1 holds the
// 256x256 glow of the trail (the trail, or this frame's bright pass alone,
// when a pass could not be drawn).
float4 blur_hdr_post_ps(PixelInput input) : COLOR0
{
    float2 uv = input.texCoord;
    float3 scene = tex2D(g_image, uv).rgb;
    float3 trail = tex2D(g_history1, uv).rgb;
    return float4(ToneMap(scene + trail * kBloomStrength * 1.25), 1.0);
}

// Eight taps on a ring of radius r around uv, for the depth of field.
float3 FocusRing(float2 uv, float r)
{
    return tex2D(g_image, uv + r * float2(1.000, 0.000)).rgb + tex2D(g_image, uv + r * float2(0.707, 0.707)).rgb +
           tex2D(g_image, uv + r * float2(0.000, 1.000)).rgb + tex2D(g_image, uv + r * float2(-0.707, 0.707)).rgb +
           tex2D(g_image, uv + r * float2(-1.000, 0.000)).rgb + tex2D(g_image, uv + r * float2(-0.707, -0.707)).rgb +
           tex2D(g_image, uv + r * float2(0.000, -1.000)).rgb + tex2D(g_image, uv + r * float2(0.707, -0.707)).rgb;
}

// Two rings of eight taps around uv, plus the centre: a blur of the given
// radius that stays smooth. The rings are written out so that no loop
// reaches the compiled code.
float3 FocusBlur(float2 uv, float radius)
{
    float3 sum = tex2D(g_image, uv).rgb;
    sum += FocusRing(uv, radius * 0.5);
    sum += FocusRing(uv, radius);
    return sum / 17.0;
}

// The depth of field's blurs of the scene (stage 0) at the widest radius
// and at half of it, drawn by the post-process code at a quarter of the
// screen's width and height.
float4 dof_blur_ps(PixelInput input) : COLOR0
{
    return float4(FocusBlur(input.texCoord, kMaxBlurRadius), 1.0);
}

float4 dof_half_blur_ps(PixelInput input) : COLOR0
{
    return float4(FocusBlur(input.texCoord, kMaxBlurRadius * 0.5), 1.0);
}

// Depth of field: sharp at the depth under the screen's centre, blurred in
// proportion to how far each pixel's depth lies from it: from the sharp
// scene (stage 0) through the half blur (stage 3) to the widest (stage 2).
// Where a blur could not be drawn, its stage holds the scene.
float4 depthoffield_ps(PixelInput input) : COLOR0
{
    float2 uv = input.texCoord;
    float focus = tex2D(g_depth, float2(0.5, 0.5)).r;
    float depth = tex2D(g_depth, uv).r;
    float blur = saturate(abs(depth - focus) * kFocusScale) * 2.0;
    float3 sharp = tex2D(g_image, uv).rgb;
    float3 half = tex2D(g_halfBlurred, uv).rgb;
    float3 widest = tex2D(g_blurred, uv).rgb;
    return float4(lerp(lerp(sharp, half, saturate(blur)), widest, saturate(blur - 1.0)), 1.0);
}

// Cloud layers of a world's sky: the layer's image times its colour, with
// the image's alpha times the colour's for the layer's blend.
float4 sky_layer_ps(PixelInput input) : COLOR0
{
    return tex2D(g_image, input.texCoord) * input.color;
}
