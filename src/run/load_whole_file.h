#pragma once

#include <cstdint>
#include <string>

#include "whole_file.h"

// Reads the file at `path` whole into new memory that stays until the process
// ends. On failure prints one message and returns false; then *buffer and
// *size are not to be used. An empty file gives a valid buffer of size 0.
bool LoadWholeFile(const char* path, const uint8_t** buffer, uint32_t* size);

// Vorandel's line for why a load failed; empty when it did not.
std::string LoadLine(const char* path, const LoadFailure& failure);

// Says why a load failed, as LoadWholeFile does; true when it did not.
bool ReportLoad(const char* path, const LoadFailure& failure);
