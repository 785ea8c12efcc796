#include "updater/ziparchive/zacrc32.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ziparchive {

namespace {

// zlib's CRC on the raw register.
uint32_t ZlibUpdate(uint32_t crc, const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32_z(crc ^ 0xFFFFFFFFu, p, n)) ^ 0xFFFFFFFFu;
}

#if defined(__x86_64__)
#define ZA_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

ZA_FOLD_TARGET inline __m128i load(const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); }

// x times the two fold constants, plus the next 16 bytes.
ZA_FOLD_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

// Carry-less multiplication folding: four 128-bit lanes folded over 64 bytes at a time, then
// to one lane, to 64 and 32 bits, and a Barrett reduction. n is a multiple of 16, at least 64.
ZA_FOLD_TARGET uint32_t FoldUpdate(uint32_t crc, const uint8_t* p, size_t n) {
  const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
  const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);
  const __m128i poly = _mm_set_epi64x(0x1F7011641, 0x1DB710641);
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  n -= 64;
  for (; n >= 64; n -= 64, p += 64) {
    x0 = fold(x0, k1k2, load(p));
    x1 = fold(x1, k1k2, load(p + 16));
    x2 = fold(x2, k1k2, load(p + 32));
    x3 = fold(x3, k1k2, load(p + 48));
  }
  x0 = fold(x0, k3k4, x1);
  x0 = fold(x0, k3k4, x2);
  x0 = fold(x0, k3k4, x3);
  for (; n >= 16; n -= 16, p += 16) x0 = fold(x0, k3k4, load(p));

  // 128 -> 64 bits.
  __m128i t = _mm_srli_si128(x0, 8);
  x0 = _mm_xor_si128(_mm_clmulepi64_si128(x0, k3k4, 0x10), t);
  // 64 -> 32 bits.
  t = _mm_srli_si128(x0, 4);
  x0 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x0, mask32), k5, 0x00), t);
  // Barrett reduction.
  t = x0;
  x0 = _mm_clmulepi64_si128(_mm_and_si128(x0, mask32), poly, 0x10);
  x0 = _mm_clmulepi64_si128(_mm_and_si128(x0, mask32), poly, 0x00);
  x0 = _mm_xor_si128(x0, t);
  return static_cast<uint32_t>(_mm_extract_epi32(x0, 1));
}

bool HasFolding() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}
#endif

}  // namespace

uint32_t UpdateCrc32Long(uint32_t crc, const void* buffer, size_t length) {
  if (buffer == nullptr || length == 0) return crc;
  const auto* p = static_cast<const uint8_t*>(buffer);
#if defined(__x86_64__)
  if (length >= 256 && HasFolding()) {
    const size_t bulk = length & ~size_t{15};
    crc = FoldUpdate(crc, p, bulk);
    return ZlibUpdate(crc, p + bulk, length - bulk);
  }
#endif
  return ZlibUpdate(crc, p, length);
}

uint32_t UpdateCrc32(uint32_t crc, const void* buffer, int32_t length) {
  if (length <= 0) return crc;
  return UpdateCrc32Long(crc, buffer, static_cast<size_t>(length));
}

void AddCrc32(const void* buffer, int32_t length, uint32_t& crc) { crc = UpdateCrc32(crc, buffer, length); }

}  // namespace ziparchive
