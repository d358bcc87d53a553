// Heap stream handler: collects buffered socket output and composed message text.
#pragma once

#include <string>

#include "common/IOHandler.h"

// Keeps its bytes in one growable string (NUL bytes allowed) with a read
// position at the front. Used by one thread at a time.
class CORVANE_COMMON_API BufferIOHandler : public IOHandler {
 public:
  BufferIOHandler();
  ~BufferIOHandler() override;

  // Sets buffer[0] to NUL (when size > 0), then copies
  // min(size, length - read position) bytes and advances the read position.
  // Returns the count, 0 when everything has been read.
  unsigned long ReadStream(void* buffer, unsigned long size) override;
  // Appends text without its NUL; returns 0 for null text.
  unsigned long WriteStream(const char* text) override;
  // Appends size bytes when data is non-null; returns size in every case.
  unsigned long WriteStream(const void* data, unsigned long size) override;

  void Reset() override;
  // Null when the length is 0.
  char* GetBuffer() override;
  unsigned long GetLength() override;
  // Sets the length to exactly size (new bytes are NUL, extra bytes are cut)
  // and returns it; prints "Memory allocation failed.\n" and returns 0 when
  // the memory cannot be obtained.
  int Allocate(int size) override;
  // Appends the whole file in one read. Returns the address of the first
  // loaded byte with *size set to the bytes read; null (with *size 0) for a
  // null or empty name, an unopenable file, a file over INT_MAX bytes, or
  // exhausted memory (which prints
  // "Memory allocation failed.\n").
  char* LoadFile(const char* name, int* size) override;

 private:
  std::string content_;
  unsigned read_position_ = 0;
};
