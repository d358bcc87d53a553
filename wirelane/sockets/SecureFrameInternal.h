// Byte layout of the encrypted frames SecureSock exchanges: an 8-byte header, then the payload.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvane {

// One frame on the wire:
//   offset 0  4 bytes  version, always 1000
//   offset 4  4 bytes  n, the payload byte count (signed)
//   offset 8  n bytes  the encrypted payload
// Both integers are 32-bit little-endian, whatever the host's byte order, so
// peers on any machine read the same frames.
class SecureFrame {
 public:
  static constexpr std::size_t kWordSize = 4;
  static constexpr std::size_t kHeaderSize = 2 * kWordSize;
  static constexpr std::int32_t kVersion = 1000;
  // Largest payload written or accepted. The length field comes from the
  // peer, so a bound is needed before anything is allocated for it; 16 MB is
  // far above what one write of a socket protocol carries.
  static constexpr std::int32_t kLargestPayload = 16 * 1024 * 1024;

  // The header for a payload of length bytes.
  static std::array<char, kHeaderSize> EncodeHeader(std::int32_t length);
  // The little-endian 32-bit integer in the kWordSize bytes at word.
  static std::int32_t DecodeWord(const char* word);
  // True when length is a payload size a frame may carry (0 included).
  static bool IsAcceptableLength(std::int32_t length) {
    return length >= 0 && length <= kLargestPayload;
  }
};

}  // namespace corvane
