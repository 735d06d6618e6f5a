#include "camera/camera_cvars.h"

ConsoleVariable p_speed("p_speed", 4.25f);
ConsoleVariable sensitivity("sensitivity", 0.05f);
ConsoleVariable m_invert("m_invert", 0);
ConsoleVariable p_thrust("p_thrust", 0.0f);
ConsoleVariable p_ground("p_ground", 1);
