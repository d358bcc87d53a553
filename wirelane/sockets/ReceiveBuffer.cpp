// Receive buffer of the socket classes.
#include <algorithm>
#include <cstring>

#include "wirelane/sockets/ReceiveBufferInternal.h"

namespace corvane {

ReceiveBuffer::ReceiveBuffer() = default;
ReceiveBuffer::~ReceiveBuffer() = default;

char* ReceiveBuffer::FillArea() {
  if (!block_) block_ = std::make_unique<char[]>(kCapacity);
  begin_ = end_ = 0;
  return block_.get();
}

void ReceiveBuffer::Filled(std::size_t count) {
  begin_ = 0;
  end_ = std::min(count, kCapacity);
}

std::size_t ReceiveBuffer::Take(char* out, std::size_t size) {
  const std::size_t count = std::min(size, Size());
  if (count == 0) return 0;
  std::memcpy(out, block_.get() + begin_, count);
  begin_ += count;
  return count;
}

ReceiveBuffer::LinePiece ReceiveBuffer::TakeLinePiece(std::size_t max) {
  const char* start = block_ ? block_.get() + begin_ : nullptr;
  const std::size_t window = std::min(max, Size());
  for (std::size_t i = 0; i < window; ++i) {
    if (start[i] == '\n') {
      begin_ += i + 1;
      return LinePiece{std::string_view(start, i + 1), LineEnd::kLineFeed};
    }
    if (start[i] == '\0') {
      begin_ += i + 1;
      return LinePiece{std::string_view(start, i), LineEnd::kNul};
    }
  }
  begin_ += window;
  return LinePiece{std::string_view(start, window), LineEnd::kNone};
}

}  // namespace corvane
