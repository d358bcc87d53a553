// The byte-stream interface shared by sockets and in-memory stream handlers.
#pragma once

#include "common/CommonExport.h"

// Anything that can take or give bytes: sockets (CSocketBase) and memory or
// file handlers (IOHandler). Writers such as the DIME writer take an IOStream
// and do not care which one they get. Every operation returns the number of
// bytes handled. Not thread-safe: one thread uses an object at a time.
class CORVANE_COMMON_API IOStream {
 public:
  // Reads up to size bytes into buffer; returns the count read (0 at the end).
  virtual unsigned long ReadStream(void* buffer, unsigned long size) = 0;
  // Writes text without its NUL terminator; returns the bytes written.
  virtual unsigned long WriteStream(const char* text) = 0;
  // Writes size bytes of data; returns the bytes written.
  virtual unsigned long WriteStream(const void* data, unsigned long size) = 0;
  // Same as WriteStream(const char*).
  virtual unsigned long WriteStreamA(const char* text) = 0;
  virtual ~IOStream();
};
