// Shared behaviour of the stream handlers: text writes and piecewise file loading.
#include "common/IOHandler.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/FileHandleInternal.h"

namespace {
constexpr size_t kLoadPieceSize = 2097152;  // files are loaded 2 MB at a time
}

IOHandler::~IOHandler() = default;

unsigned long IOHandler::WriteStreamA(const char* text) {
  if (text == nullptr) return 0;
  return WriteStream(static_cast<const void*>(text), std::strlen(text));
}

bool IOHandler::Reserved(unsigned, unsigned) { return true; }

char* IOHandler::LoadFile(const char* name, int* size) {
  *size = 0;
  if (name == nullptr || *name == '\0') return nullptr;
  corvane::FileHandle file(name);
  if (!file.IsOpen()) return nullptr;

  std::unique_ptr<char[]> piece(new (std::nothrow) char[kLoadPieceSize]);
  if (!piece) {
    std::fputs("Memory allocation failed.\n", stdout);
    return nullptr;
  }
  for (;;) {
    const long got = file.Read(piece.get(), kLoadPieceSize);
    if (got <= 0) break;
    // The size is reported as an int: a file that does not fit counts as not loaded.
    if (WriteStream(static_cast<const void*>(piece.get()), static_cast<unsigned long>(got)) <
            static_cast<unsigned long>(got) ||
        got > INT_MAX - *size) {
      *size = 0;
      break;
    }
    *size += static_cast<int>(got);
  }
  return *size != 0 ? GetBuffer() : nullptr;
}
