// SHA-256, to tell whether a file still holds exactly what it held.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t SHA256_BYTES = 32;

void Sha256(const uint8_t* bytes, size_t size, uint8_t digest[SHA256_BYTES]);
