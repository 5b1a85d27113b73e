#pragma once

#include <cstddef>
#include <cstdint>

#include "platform.h"

// Writes `count` bytes whole, in calls small enough for every system. Returns
// false when a write failed; GetLastError then tells why.
bool WriteWhole(HANDLE file, const uint8_t* bytes, size_t count);
