// Console variables of movement and physics.
#pragma once

#include "console/console_object.h"

extern ConsoleVariable p_speed;
extern ConsoleVariable sensitivity;
extern ConsoleVariable p_thrust;
extern ConsoleVariable p_ground;
