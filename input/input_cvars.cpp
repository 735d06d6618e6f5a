#include "input/input_cvars.h"

ConsoleVariable m_invert("m_invert", 0);
