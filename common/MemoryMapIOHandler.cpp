// Stream handler over a growable mapped section.
#include "common/MemoryMapIOHandler.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

MemoryMapIOHandler::MemoryMapIOHandler(unsigned initial_size) : initial_size_(initial_size) {}

MemoryMapIOHandler::MemoryMapIOHandler(const MemoryMapIOHandler& other)
    : IOHandler(other),
      map_(other.map_ ? std::make_unique<FileMap>(*other.map_) : nullptr),
      initial_size_(other.initial_size_) {}

MemoryMapIOHandler& MemoryMapIOHandler::operator=(const MemoryMapIOHandler& other) {
  if (this != &other) {
    map_.reset();
    if (other.map_) map_ = std::make_unique<FileMap>(*other.map_);
    initial_size_ = other.initial_size_;
  }
  return *this;
}

MemoryMapIOHandler::~MemoryMapIOHandler() = default;

FileMap& MemoryMapIOHandler::EnsureMap(unsigned capacity) {
  if (!map_) map_ = std::make_unique<FileMap>(capacity);
  return *map_;
}

unsigned long MemoryMapIOHandler::ReadStream(void* buffer, unsigned long size) {
  if (buffer != nullptr && size > 0) static_cast<char*>(buffer)[0] = '\0';
  return EnsureMap(0).Read(buffer, size);
}

unsigned long MemoryMapIOHandler::WriteStream(const char* text) {
  if (text == nullptr) return 0;
  return WriteStream(static_cast<const void*>(text), std::strlen(text));
}

unsigned long MemoryMapIOHandler::WriteStream(const void* data, unsigned long size) {
  return EnsureMap(initial_size_).Write(data, size);
}

void MemoryMapIOHandler::Reset() { map_.reset(); }

char* MemoryMapIOHandler::GetBuffer() { return map_ ? map_->GetView() : nullptr; }

unsigned long MemoryMapIOHandler::GetLength() { return map_ ? map_->GetLength() : 0; }

int MemoryMapIOHandler::Allocate(int size) {
  if (size < 0) return 0;
  EnsureMap(static_cast<unsigned>(size)).Write(nullptr, static_cast<unsigned>(size));
  return size;
}

unsigned long MemoryMapIOHandler::GetCapacity() {
  return map_ && map_->GetView() != nullptr ? map_->GetCapacity() : 0;
}

bool MemoryMapIOHandler::Commit(unsigned long size) { return map_ && map_->Commit(size); }

char* MemoryMapIOHandler::MapFile(const char* name, int* size) {
  unsigned long long length = 0;
  const bool mapped = EnsureMap(0).MapFile(name, &length);
  if (length > static_cast<unsigned long long>(INT_MAX)) {
    // Such a length cannot be reported through an int.
    if (mapped) map_->Close();
    *size = 0;
    return nullptr;
  }
  *size = static_cast<int>(length);
  return mapped ? map_->GetView() : nullptr;
}

void MemoryMapIOHandler::Attach(void* data, unsigned size) {
  map_ = std::make_unique<FileMap>(std::max(initial_size_, size));
  if (data != nullptr) {
    WriteStream(static_cast<const void*>(data), size);
    std::free(data);
  }
}
