#pragma once

constexpr const char* kOsprelVersion = "2.0b";
