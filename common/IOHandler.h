// Base of the in-memory stream handlers that collect output or hold message bodies.
#pragma once

#include "common/IOStream.h"

// A stream handler keeps bytes in memory: written at the end, read from the
// front. BufferIOHandler keeps them on the heap, MemoryMapIOHandler in a
// growable mapped region for large bodies. Used by one thread at a time.
class CORVANE_COMMON_API IOHandler : public IOStream {
 public:
  // 0 for null text, else WriteStream(text, strlen(text)).
  unsigned long WriteStreamA(const char* text) override;
  ~IOHandler() override;

  // Does nothing and returns true; kept for hosts written against it.
  virtual bool Reserved(unsigned first, unsigned second);
  // Drops the content (length and read position become 0).
  virtual void Reset() = 0;
  // First byte of the content, or null when there is none. Valid until the
  // next write, Allocate, Reset or mapping change.
  virtual char* GetBuffer() = 0;
  // Number of bytes written.
  virtual unsigned long GetLength() = 0;
  // Makes GetBuffer() point to at least size bytes the caller may fill.
  // The result is described by each handler.
  virtual int Allocate(int size) = 0;
  // Adds the whole content of file name, read in 2 MB pieces through
  // WriteStream. *size (may not be null) is set to the bytes added, or 0 when
  // a piece could not be stored whole or the total passes INT_MAX. Returns GetBuffer() when *size is
  // non-zero, else null (also for a null or empty name or an unopenable file).
  virtual char* LoadFile(const char* name, int* size);
};
