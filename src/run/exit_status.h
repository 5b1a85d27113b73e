// What the tool's process ends with.
#pragma once

constexpr int STATUS_OK = 0;
constexpr int STATUS_FAILED = -1;
