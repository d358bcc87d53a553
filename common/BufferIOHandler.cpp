// Heap stream handler.
#include "common/BufferIOHandler.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "common/FileHandleInternal.h"

namespace {
constexpr size_t kLoadHeadroom = 20480;  // spare room reserved beyond a loaded file
void ReportAllocationFailure() { std::fputs("Memory allocation failed.\n", stdout); }
}  // namespace

BufferIOHandler::BufferIOHandler() = default;
BufferIOHandler::~BufferIOHandler() = default;

unsigned long BufferIOHandler::ReadStream(void* buffer, unsigned long size) {
  if (buffer != nullptr && size > 0) static_cast<char*>(buffer)[0] = '\0';
  if (buffer == nullptr || read_position_ >= content_.size()) return 0;
  const unsigned long left = content_.size() - read_position_;
  const unsigned long count = size < left ? size : left;
  std::memcpy(buffer, content_.data() + read_position_, count);
  read_position_ += static_cast<unsigned>(count);
  return count;
}

unsigned long BufferIOHandler::WriteStream(const char* text) {
  if (text == nullptr) return 0;
  return WriteStream(static_cast<const void*>(text), std::strlen(text));
}

unsigned long BufferIOHandler::WriteStream(const void* data, unsigned long size) {
  if (data != nullptr && size != 0) content_.append(static_cast<const char*>(data), size);
  return size;
}

void BufferIOHandler::Reset() {
  content_.clear();
  read_position_ = 0;
}

char* BufferIOHandler::GetBuffer() { return content_.empty() ? nullptr : content_.data(); }

unsigned long BufferIOHandler::GetLength() { return content_.size(); }

int BufferIOHandler::Allocate(int size) {
  if (size < 0) size = 0;
  try {
    content_.resize(static_cast<size_t>(size), '\0');
  } catch (const std::bad_alloc&) {
    ReportAllocationFailure();
    return 0;
  } catch (const std::length_error&) {
    ReportAllocationFailure();
    return 0;
  }
  if (read_position_ > content_.size()) read_position_ = static_cast<unsigned>(content_.size());
  return size;
}

char* BufferIOHandler::LoadFile(const char* name, int* size) {
  *size = 0;
  if (name == nullptr || *name == '\0') return nullptr;
  corvane::FileHandle file(name);
  if (!file.IsOpen()) return nullptr;
  const long long file_size = file.Size();
  // The loaded size is reported as an int.
  if (file_size < 0 || file_size > INT_MAX) return nullptr;

  const size_t old_length = content_.size();
  try {
    content_.reserve(old_length + static_cast<size_t>(file_size) + kLoadHeadroom);
    content_.resize(old_length + static_cast<size_t>(file_size));
  } catch (const std::exception&) {
    ReportAllocationFailure();
    return nullptr;
  }
  const long got = file.Read(content_.data() + old_length, static_cast<size_t>(file_size));
  if (got < 0) {
    content_.resize(old_length);
    return nullptr;
  }
  // A file that shrank while it was read keeps only what was really read.
  content_.resize(old_length + static_cast<size_t>(got));
  *size = static_cast<int>(got);
  return content_.data() + old_length;
}
