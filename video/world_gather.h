// Gathering a world's frame: every face of the leaves the view can see
// (and, with r_materials on, of the brush entities whose box it holds),
// handed once to the renderer's caches, nearest first within each texture.
// Nothing is drawn here and nothing is allocated.
#pragma once

#include <cstdint>

#include "video/world_pictures.h"
#include "world/world_data.h"

class Camera;

// The faces the camera sees this frame into the renderer's caches (and
// their bits into pictures->faceDrawn). 1 when the frame was gathered; 0,
// with a line, when the video device is gone.
int32_t GatherWorld(const WorldData& data, WorldPictures* pictures, const Camera& camera);
