// CBuffer: the growable byte and text buffer in which messages, headers and error texts are built.
#pragma once

#include <string>

#include "common/CommonExport.h"

// Holds one byte string that grows as needed. The bytes are always followed by
// a NUL in memory, and may themselves contain NUL bytes (added with Append or
// operator+=(char)); GetLength counts every stored byte. The buffer owns its
// storage; pointers it hands out stay valid until the next change of the
// buffer or its destruction. Exhausted memory raises std::bad_alloc.
// Not thread-safe: one thread uses a buffer at a time.
class CORVANE_COMMON_API CBuffer {
 public:
  // Starts with a copy of text; null or empty text gives an empty buffer.
  CBuffer(const char* text = nullptr);  // NOLINT: hosts convert text implicitly.
  CBuffer(const CBuffer& other);
  CBuffer(CBuffer&& other) noexcept;
  virtual ~CBuffer();

  // The stored bytes followed by a NUL, or null when the buffer is empty (a
  // new or cleared buffer gives null, never the empty text).
  virtual const char* GetBuffer() const;
  // Same as GetBuffer().
  virtual operator const char*() const;
  // The string object that holds the bytes (its size is GetLength()).
  virtual const std::string& GetString() const;
  // The byte at index; 0 when index is negative or not below the length.
  virtual char operator[](int index) const;
  // True when the buffer holds exactly the bytes of text; a null text equals
  // an empty buffer.
  virtual bool operator==(const char* text) const;
  // True when the two buffers differ in length or in any byte.
  virtual bool operator!=(const CBuffer& other) const;
  // Negation of operator==(text).
  virtual bool operator!=(const char* text) const;

  // Appends text without its NUL; null or empty text changes nothing.
  CBuffer& operator+=(const char* text);
  // Appends value in decimal ("%d").
  CBuffer& operator+=(int value);
  // Appends the one byte c, a NUL byte too.
  CBuffer& operator+=(char c);
  // Appends every byte of other (other may be this buffer).
  CBuffer& operator+=(const CBuffer& other);
  // Appends length bytes from data (the bytes may include NULs). Null data or
  // a length of 0 or less changes nothing. data may point into this buffer.
  void Append(const void* data, int length);

  // Replaces the content by a copy of text. Null text, or this buffer's own
  // text, changes nothing.
  CBuffer& operator=(const char* text);
  // Replaces the content by a copy of other's bytes.
  CBuffer& operator=(const CBuffer& other);
  CBuffer& operator=(CBuffer&& other) noexcept;

  // Empties the buffer (GetBuffer() then gives null).
  void Clear();
  // Number of bytes stored.
  int GetLength() const;

 private:
  std::string bytes_;
};
