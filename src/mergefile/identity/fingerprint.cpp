#include "identity/fingerprint.h"

#include <cstring>

#include "format/apply_actions.h"
#include "format/merge_build.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

Fingerprint FromHash(uint64_t size, XXH128_hash_t hash) {
  Fingerprint print{size, {}};
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, hash);
  static_assert(sizeof canonical.digest == FINGERPRINT_HASH_BYTES,
                "XXH3-128 is 16 bytes");
  memcpy(print.hash, canonical.digest, FINGERPRINT_HASH_BYTES);
  return print;
}

struct Hashing {
  XXH3_state_t state;
  uint64_t size;
};

bool HashSlice(void* context, const uint8_t* bytes, uint32_t count) {
  auto* hashing = static_cast<Hashing*>(context);
  hashing->size += count;
  return XXH3_128bits_update(&hashing->state, bytes, count) == XXH_OK;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool SameFingerprint(const Fingerprint& a, const Fingerprint& b) {
  return a.size == b.size && memcmp(a.hash, b.hash, FINGERPRINT_HASH_BYTES) == 0;
}

Fingerprint FingerprintOf(const uint8_t* bytes, uint32_t size) {
  return FromHash(size, XXH3_128bits(bytes, size));
}

Fingerprint FingerprintOfMerged(const LevelImage& level, const MergeImage& merge,
                                uint32_t firstActionAt) {
  Hashing hashing;
  hashing.size = 0;
  (void)XXH3_128bits_reset(&hashing.state);
  ApplyActions(level, merge, firstActionAt, HashSlice, &hashing);
  return FromHash(hashing.size, XXH3_128bits_digest(&hashing.state));
}

bool FingerprintOfChanged(const LevelImage& level,
                          const std::vector<MergeAction>& actions, Fingerprint* print) {
  Hashing hashing;
  hashing.size = 0;
  (void)XXH3_128bits_reset(&hashing.state);
  if (!ApplyActionList(level, actions, HashSlice, &hashing)) return false;
  *print = FromHash(hashing.size, XXH3_128bits_digest(&hashing.state));
  return true;
}

Fingerprint ReadStoredPrint(const uint8_t* at) {
  Fingerprint print{ReadU32(at), {}};
  memcpy(print.hash, at + 4, FINGERPRINT_HASH_BYTES);
  return print;
}

void AppendStoredPrint(const Fingerprint& print, std::vector<uint8_t>* out) {
  PutU32(static_cast<uint32_t>(print.size), out);
  out->insert(out->end(), print.hash, print.hash + FINGERPRINT_HASH_BYTES);
}

uint32_t ShortCheck(const uint8_t* bytes, size_t size) {
  return static_cast<uint32_t>(XXH3_64bits(bytes, size));
}

void HexOfHash(const Fingerprint& print, char hex[FINGERPRINT_HEX_SIZE]) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < FINGERPRINT_HASH_BYTES; ++i) {
    hex[2 * i] = digits[print.hash[i] >> 4];
    hex[2 * i + 1] = digits[print.hash[i] & 0xF];
  }
  hex[2 * FINGERPRINT_HASH_BYTES] = '\0';
}

bool HashFromHex(const char* hex, Fingerprint* print) {
  for (size_t i = 0; i < FINGERPRINT_HASH_BYTES; ++i) {
    int high = HexDigit(hex[2 * i]);
    int low = high < 0 ? -1 : HexDigit(hex[2 * i + 1]);
    if (low < 0) return false;
    print->hash[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}
