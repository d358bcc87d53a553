// Growable mapped section with read and write positions.
#include "common/FileMap.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/MemorySection.h"

using corvane::platform::MemorySection;

namespace {
// Positions and capacity are 32-bit: no section may pass this size.
constexpr uint64_t kMaxCapacity = std::numeric_limits<unsigned>::max();
}  // namespace

FileMap::FileMap(unsigned capacity) : capacity_(capacity != 0 ? capacity : kDefaultCapacity) {}

FileMap::FileMap(const FileMap& other) : capacity_(0) { CopyFrom(other); }

FileMap& FileMap::operator=(const FileMap& other) {
  if (this != &other) {
    Close();
    CopyFrom(other);
  }
  return *this;
}

FileMap::~FileMap() { FileMap::Close(); }

void FileMap::CopyFrom(const FileMap& other) {
  section_ = other.section_ ? other.section_->Duplicate() : nullptr;
  capacity_ = other.capacity_;
  read_position_ = other.read_position_;
  write_position_ = other.write_position_;
  file_name_ = other.file_name_;
  delete_on_close_ = other.delete_on_close_;
}

unsigned FileMap::GetLength() { return write_position_; }

void FileMap::Close() {
  if (delete_on_close_ && section_) section_->RemoveSourceFile(file_name_.c_str());
  section_.reset();
  capacity_ = 0;
  read_position_ = 0;
  write_position_ = 0;
  file_name_.clear();
}

void FileMap::Map(unsigned size, unsigned protection, unsigned offset, unsigned count) {
  if (protection != kReadOnly && protection != kReadWrite) return;
  if (offset != 0 || (count != 0 && count != size)) return;
  Remap(size, protection == kReadWrite);
}

bool FileMap::Remap(unsigned size, bool writable) {
  if (size == 0) return false;
  if (section_ && section_->Remap(size, writable)) {
    capacity_ = size;
    ClampPositions();
    return true;
  }
  std::unique_ptr<MemorySection> fresh;
  if (!section_) {
    fresh = MemorySection::CreateShared(size, writable);
  } else if (section_->IsFile() && writable) {
    // The file is open for reading only, so writes continue in a private
    // copy of its bytes and the file stays as it was.
    fresh = section_->PrivateCopy(size);
  }
  if (!fresh) return false;
  section_ = std::move(fresh);
  capacity_ = size;
  ClampPositions();
  return true;
}

void FileMap::ClampPositions() {
  read_position_ = std::min(read_position_, capacity_);
  write_position_ = std::min(write_position_, capacity_);
}

unsigned long FileMap::Read(void* buffer, unsigned long length) {
  if (!section_ || buffer == nullptr || read_position_ >= capacity_) return 0;
  const unsigned long count = std::min<unsigned long>(length, capacity_ - read_position_);
  std::memcpy(buffer, section_->Data() + read_position_, count);
  read_position_ += static_cast<unsigned>(count);
  return count;
}

unsigned long FileMap::Write(const void* data, unsigned long length) {
  if (length > kMaxCapacity) return 0;
  const uint64_t end = uint64_t{write_position_} + length;
  if (end > kMaxCapacity) return 0;

  bool ready = true;
  if (!section_) {
    ready = Remap(static_cast<unsigned>(std::max<uint64_t>(capacity_, end)), true);
  } else if (end >= capacity_) {
    const uint64_t grown = uint64_t{capacity_} + std::max<uint64_t>(kGrowthStep, length);
    ready = Remap(static_cast<unsigned>(std::min(grown, kMaxCapacity)), true);
  } else if (!section_->IsWritable()) {
    ready = Remap(capacity_, true);
  }
  // A write that does not fit whole copies nothing rather than part of it.
  if (!ready || end > capacity_ || data == nullptr || length == 0) return 0;
  std::memcpy(section_->Data() + write_position_, data, length);
  write_position_ = static_cast<unsigned>(end);
  return length;
}

bool FileMap::Commit(unsigned long length) {
  if (!section_ || !section_->IsWritable() || length > capacity_ - write_position_) return false;
  write_position_ += static_cast<unsigned>(length);
  return true;
}

bool FileMap::MapFile(const char* name, unsigned long long* length) {
  Close();
  uint64_t file_length = 0;
  section_ = MemorySection::MapFile(name, kMaxCapacity, &file_length);
  *length = file_length;
  if (!section_) return false;
  capacity_ = static_cast<unsigned>(file_length);
  file_name_ = name;
  return true;
}

char* FileMap::GetView() const { return section_ ? section_->Data() : nullptr; }
