// Encoding and decoding of the little-endian integers in SecureSock frame headers.
#include "wirelane/sockets/SecureFrameInternal.h"

namespace corvane {

namespace {

void PutWord(std::uint32_t value, char* out) {
  for (std::size_t i = 0; i < SecureFrame::kWordSize; ++i)
    out[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

}  // namespace

std::array<char, SecureFrame::kHeaderSize> SecureFrame::EncodeHeader(std::int32_t length) {
  std::array<char, kHeaderSize> header{};
  PutWord(static_cast<std::uint32_t>(kVersion), header.data());
  PutWord(static_cast<std::uint32_t>(length), header.data() + kWordSize);
  return header;
}

std::int32_t SecureFrame::DecodeWord(const char* word) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < kWordSize; ++i)
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(word[i])) << (8 * i);
  return static_cast<std::int32_t>(value);
}

}  // namespace corvane
