// Bytes a socket has received but not yet handed to its caller, so lines are served from memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace corvane {

// A fixed block filled by one receive at a time and drained from the front.
// The block is allocated at the first fill, so sockets that never read cost
// nothing. Used by one thread at a time, like the socket that owns it.
class ReceiveBuffer {
 public:
  // Largest fill: one receive of up to 16 KB, what a TLS record or a whole
  // header block usually needs.
  static constexpr std::size_t kCapacity = 16384;

  // How TakeLinePiece stopped.
  enum class LineEnd { kNone, kLineFeed, kNul };
  struct LinePiece {
    std::string_view bytes;  // valid until the next Fill, Take or Clear
    LineEnd end = LineEnd::kNone;
  };

  ReceiveBuffer();
  ~ReceiveBuffer();
  ReceiveBuffer(const ReceiveBuffer&) = delete;
  ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

  bool Empty() const { return begin_ == end_; }
  std::size_t Size() const { return end_ - begin_; }

  // Space of kCapacity bytes for one receive; only while Empty().
  char* FillArea();
  // Records that count bytes were placed in FillArea().
  void Filled(std::size_t count);

  // Moves up to size buffered bytes to out; returns the count moved.
  std::size_t Take(char* out, std::size_t size);

  // Takes the buffered bytes of the current line, at most max of them: up to
  // and including an LF (kLineFeed), or up to a NUL, which is consumed but not
  // part of bytes (kNul). kNone when max bytes were taken or the buffer ran
  // out before the line ended.
  LinePiece TakeLinePiece(std::size_t max);

  // Drops every buffered byte.
  void Clear() { begin_ = end_ = 0; }

 private:
  std::unique_ptr<char[]> block_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

}  // namespace corvane
