// The shaders of the worlds' materials (vs.2.0, ps.2.0): stage_vs with
// stage_ps draws one stage of a shader script over what the stages before
// it drew; stage_bright_ps is its bright pass for the post-process paths;
// fog_vs with stage_ps draws a fog volume's colour over a face inside it.
// They share the vertex layout and outputs of "shaders.hlsl" and its c0-c3
// (view x projection); their own constants start at c5, each with a
// register of its own.

row_major float4x4 g_viewProjection : register(c0);
sampler2D g_image : register(s0);  // the stage's image, lightmap or white

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
    float3 normal : TEXCOORD2;
};

struct PixelInput {
    float4 color : COLOR0;
    float2 texCoord : TEXCOORD0;
    float2 lightCoord : TEXCOORD1;
};

// The worlds store their vertex light at a quarter of what it means; scaled
// up, a colour whose brightest channel passes one is scaled down as a whole.
static const float kStoredLightScale = 4.0;

// The bright pass of the worlds' own light (as hdr_pre_ps with its light
// scale on): luminance above the threshold passes, with a soft knee.
static const float kBrightThreshold = 0.70;
static const float kBrightKnee = 0.20;
static const float3 kLuminance = float3(0.2126, 0.7152, 0.0722);

// ---------------------------------------------------------------------------
// Stages: the engine uploads these constants per stage (vertex c5-c21 and
// c28, pixel c22); positions are in drawing coordinates (Y up).

float4 g_stageS : register(c5);        // s from (u, v, lightmap u, lightmap v)
float4 g_stageT : register(c6);        // t, the same
float4 g_stageVectorS : register(c7);  // s += dot(xyz, position); w: weight of the reflection's s
float4 g_stageVectorT : register(c8);  // t, the same
float4 g_stageEye : register(c9);      // the eye; w: 1 / the portal's range
float4 g_stageBeforeS : register(c10); // the tcMods before a turb: s' = dot(xyz, (s, t, 1))
float4 g_stageBeforeT : register(c11);
float4 g_stageTurb : register(c12);    // base, amplitude, phase now, on
float4 g_stageAfterS : register(c13);  // the tcMods after it
float4 g_stageAfterT : register(c14);
float4 g_stageColour : register(c15);  // colour = this + g_stageVertex * vertex colour
float4 g_stageVertex : register(c16);
float4 g_stageAlpha : register(c17);   // x: weight of the specular highlight, y: of the portal fade
float4 g_deformWave : register(c18);   // base, amplitude, phase now, phase per unit of x + y + z
float4 g_deformForms : register(c19);  // weights of sin, triangle, square, sawtooth
float4 g_deformAlong : register(c20);  // xyz: direction moved; w: weight of the normal
float4 g_deformBulge : register(c21);  // x: phase per unit of s
float4 g_deformNormal : register(c28); // x: how far the normals wobble, y: the wobble's phase now

float4 g_alphaTest : register(c22);    // pixel: kept where alpha * x + y >= 0

static const float kTwoPi = 6.2831853;
// The fixed light a specular highlight reflects (from above, a little to the side).
static const float3 kSpecularLight = float3(0.3, 0.9, 0.3);

float WaveForms(float x, float4 forms)
{
    float f = frac(x);
    float rise = 1.0 - 4.0 * abs(frac(x + 0.25) - 0.5);
    float halves = 1.0 - 2.0 * step(0.5, f);
    return forms.x * sin(kTwoPi * x) + forms.y * rise + forms.z * halves + forms.w * f;
}

VertexOutput stage_vs(EngineVertex input)
{
    VertexOutput output;
    float3 position = input.position;
    float x = g_deformWave.z + g_deformWave.w * (position.x + position.y + position.z) +
              g_deformBulge.x * input.texCoord.x;
    float amount = g_deformWave.x + g_deformWave.y * WaveForms(x, g_deformForms);
    position += (input.normal * g_deformAlong.w + g_deformAlong.xyz) * amount;
    output.position = mul(float4(position, 1.0), g_viewProjection);

    // The normals wobble each along its own phase, from where the vertex lies.
    float3 wobble = sin(kTwoPi * (g_deformNormal.y + position * (1.0 / 256.0) + float3(0.0, 0.33, 0.67)));
    float3 normal = normalize(input.normal + wobble * g_deformNormal.x + float3(0.0, 0.0, 0.000001));

    float3 toEye = g_stageEye.xyz - position;
    float distance = length(toEye);
    float3 viewer = toEye / max(distance, 0.0001);
    float3 reflected = normal * (2.0 * dot(normal, viewer)) - viewer;
    float4 coords = float4(input.texCoord, input.lightCoord.xy);
    float2 st;
    st.x = dot(g_stageS, coords) + dot(g_stageVectorS.xyz, position) + g_stageVectorS.w * (0.5 + reflected.z * 0.5);
    st.y = dot(g_stageT, coords) + dot(g_stageVectorT.xyz, position) + g_stageVectorT.w * (0.5 - reflected.y * 0.5);
    st = float2(dot(g_stageBeforeS.xyz, float3(st, 1.0)), dot(g_stageBeforeT.xyz, float3(st, 1.0)));
    float turbX = g_stageTurb.z + (position.x + position.y) * (1.0 / 1024.0);
    float turbY = g_stageTurb.z + (position.y + position.z) * (1.0 / 1024.0);
    st += g_stageTurb.w * (g_stageTurb.x + g_stageTurb.y * float2(sin(kTwoPi * turbX), sin(kTwoPi * turbY)));
    st = float2(dot(g_stageAfterS.xyz, float3(st, 1.0)), dot(g_stageAfterT.xyz, float3(st, 1.0)));
    output.texCoord = st;

    // The vertex colours at the light they mean, as the world's shader has them.
    float3 light = input.color.rgb * kStoredLightScale;
    light = light / max(1.0, max(light.r, max(light.g, light.b)));
    float4 colour = g_stageColour + g_stageVertex * float4(light, input.color.a);
    float specular = pow(saturate(dot(reflected, kSpecularLight)), 8.0);
    colour.a += g_stageAlpha.x * specular + g_stageAlpha.y * saturate(distance * g_stageEye.w);
    output.color = saturate(colour);
    output.lightCoord = input.lightCoord.xy;
    output.normal = normal;
    return output;
}

float4 stage_ps(PixelInput input) : COLOR0
{
    float4 colour = tex2D(g_image, input.texCoord) * input.color;
    clip(colour.a * g_alphaTest.x + g_alphaTest.y);
    return colour;
}

// The bright pass of a stage: what of its colour passes the threshold.
float4 stage_bright_ps(PixelInput input) : COLOR0
{
    float4 colour = tex2D(g_image, input.texCoord) * input.color;
    clip(colour.a * g_alphaTest.x + g_alphaTest.y);
    float luminance = dot(colour.rgb, kLuminance);
    float threshold = kBrightThreshold;
    float soft = clamp(luminance - threshold + kBrightKnee, 0.0, 2.0 * kBrightKnee);
    soft = soft * soft / (4.0 * kBrightKnee + 0.00001);
    float contribution = max(soft, luminance - threshold) / max(luminance, 0.00001);
    return float4(saturate(colour.rgb * contribution), colour.a);
}

// Fog over the faces inside a fog volume (vertex c23-c27): the fog's colour,
// with the part of the way from the eye to the vertex that runs through
// the volume's box, over the volume's opaque distance, as its alpha.
float4 g_fogLow : register(c23);
float4 g_fogHigh : register(c24);
float4 g_fogDensity : register(c25);  // x: 1 / the opaque distance
float4 g_fogColour : register(c26);
float4 g_fogEye : register(c27);

VertexOutput fog_vs(EngineVertex input)
{
    VertexOutput output;
    output.position = mul(float4(input.position, 1.0), g_viewProjection);
    float3 way = input.position - g_fogEye.xyz;
    // Each slab of the box as fractions of the way; a direction along which
    // the way does not move gets a huge step instead of a division by zero.
    float3 stride = sign(way) * max(abs(way), 0.0001) + (1.0 - abs(sign(way))) * 0.0001;
    float3 a = (g_fogLow.xyz - g_fogEye.xyz) / stride;
    float3 b = (g_fogHigh.xyz - g_fogEye.xyz) / stride;
    float3 nearest = min(a, b);
    float3 farthest = max(a, b);
    float enter = max(max(nearest.x, nearest.y), max(nearest.z, 0.0));
    float leave = min(min(farthest.x, farthest.y), min(farthest.z, 1.0));
    float inside = max(leave - enter, 0.0) * length(way);
    output.color = float4(g_fogColour.rgb, saturate(inside * g_fogDensity.x));
    output.texCoord = float2(0.0, 0.0);
    output.lightCoord = input.lightCoord.xy;
    output.normal = input.normal;
    return output;
}
