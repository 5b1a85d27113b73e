#pragma once

#include <cstdint>

#include "whole_file.h"

// Reads the file at `path` whole into new memory that stays until the process
// ends. On failure prints one message and returns false; then *buffer and
// *size are not to be used. An empty file gives a valid buffer of size 0.
bool LoadWholeFile(const char* path, const uint8_t** buffer, uint32_t* size);

// Says why a load failed, as LoadWholeFile does; true when it did not.
bool ReportLoad(const char* path, const LoadFailure& failure);
