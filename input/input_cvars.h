// Console variables of keyboard and mouse input.
#pragma once

#include "console/console_object.h"

extern ConsoleVariable m_invert;
