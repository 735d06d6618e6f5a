// Fog volumes: each names a shader and the brush whose volume it fills.
// Faces name their fog by index (BspFace::effect); the renderer asks FaceFog,
// which answers only with fogs whose volume was found, so a damaged file
// never hands it a fog without a box.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "world/bsp_format.h"

struct WorldData;

struct WorldFog {
    std::string shader;
    int32_t brush = -1;
    int32_t visibleSide = -1;  // as the file gives it, not checked
    // The brush's box: low corner then high, drawing coordinates (Y up).
    float bounds[6] = {};
    // False: the brush is missing or encloses no box; never drawn. Such fogs
    // keep their place so that the faces' indices stay valid.
    bool usable = false;
};

// The face's fog: its index into WorldData::fogs when it names a usable fog,
// else -1 (no fog, an index outside the fogs, a dropped fog, no such face).
int32_t FaceFog(const WorldData& world, size_t face);

// The box of a brush's volume from its sides' planes (already Y up), low
// corner then high; false when the brush is not one closed, finite volume
// of some thickness. budget counts plane tests still allowed for corner
// search and is spent by it, so that many large brushes stay cheap: a brush
// that would overrun it is boxed by its axis-aligned sides alone.
bool BrushBox(const std::vector<BspPlane>& planes, const std::vector<BspBrushSide>& sides, const BspBrush& brush,
              uint64_t* budget, float bounds[6]);

// The length of the segment eye .. point that lies inside the box (low
// corner then high): 0 when it misses or only touches it, the whole length
// when both ends are inside. 0 for a box turned inside out or for numbers
// that are not finite.
float FogDepthInside(const float eye[3], const float point[3], const float bounds[6]);
