// A level's fingerprint: its size and the XXH3-128 of its bytes. A merge
// file's record and the mark beside a level being rewritten both use it to
// tell one version of a level from another without keeping a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/merge_format.h"
#include "format/merge_records.h"

constexpr size_t FINGERPRINT_HASH_BYTES = 16;

struct Fingerprint {
  uint64_t size;
  uint8_t hash[FINGERPRINT_HASH_BYTES];  // most significant byte first
};

bool SameFingerprint(const Fingerprint& a, const Fingerprint& b);

Fingerprint FingerprintOf(const uint8_t* bytes, uint32_t size);

// The fingerprint of the level the actions make of `level`, worked out as
// they are applied, without the merged level ever being held. The actions
// must have passed CheckActions.
Fingerprint FingerprintOfMerged(const LevelImage& level, const MergeImage& merge,
                                uint32_t firstActionAt);

// The same for actions held as a list (ApplyActionList): false where they
// don't fit the level.
bool FingerprintOfChanged(const LevelImage& level,
                          const std::vector<MergeAction>& actions, Fingerprint* print);

// A fingerprint as the files beside a level store it: the size in 4 bytes,
// little-endian, then the hash. Sizes stored so are below 4 GiB.
constexpr size_t STORED_PRINT_SIZE = 4 + FINGERPRINT_HASH_BYTES;
Fingerprint ReadStoredPrint(const uint8_t* at);
void AppendStoredPrint(const Fingerprint& print, std::vector<uint8_t>* out);

// The low 32 bits of XXH3-64: a short check of a few bytes that must not
// have changed.
uint32_t ShortCheck(const uint8_t* bytes, size_t size);

// The hash as 32 lower-case hex digits and a NUL.
constexpr size_t FINGERPRINT_HEX_SIZE = 2 * FINGERPRINT_HASH_BYTES + 1;
void HexOfHash(const Fingerprint& print, char hex[FINGERPRINT_HEX_SIZE]);

// Reads 32 lower-case hex digits into the hash; false for anything else.
bool HashFromHex(const char* hex, Fingerprint* print);
