// Growable byte buffer kept in a std::string so embedded NUL bytes survive.
#include "common/CBuffer.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <utility>

CBuffer::CBuffer(const char* text) {
  if (text != nullptr) bytes_.assign(text);
}

CBuffer::CBuffer(const CBuffer& other) = default;

CBuffer::CBuffer(CBuffer&& other) noexcept : bytes_(std::move(other.bytes_)) {
  other.bytes_.clear();
}

CBuffer::~CBuffer() = default;

const char* CBuffer::GetBuffer() const { return bytes_.empty() ? nullptr : bytes_.c_str(); }

CBuffer::operator const char*() const { return GetBuffer(); }

const std::string& CBuffer::GetString() const { return bytes_; }

char CBuffer::operator[](int index) const {
  if (index < 0 || static_cast<size_t>(index) >= bytes_.size()) return 0;
  return bytes_[static_cast<size_t>(index)];
}

bool CBuffer::operator==(const char* text) const {
  if (text == nullptr) return bytes_.empty();
  return bytes_.size() == std::strlen(text) && std::memcmp(bytes_.data(), text, bytes_.size()) == 0;
}

bool CBuffer::operator!=(const CBuffer& other) const { return bytes_ != other.bytes_; }

bool CBuffer::operator!=(const char* text) const { return !(*this == text); }

CBuffer& CBuffer::operator+=(const char* text) {
  // std::string::append copes with text that points into bytes_ itself.
  if (text != nullptr) bytes_.append(text);
  return *this;
}

CBuffer& CBuffer::operator+=(int value) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  bytes_.append(digits, result.ptr);
  return *this;
}

CBuffer& CBuffer::operator+=(char c) {
  bytes_.push_back(c);
  return *this;
}

CBuffer& CBuffer::operator+=(const CBuffer& other) {
  bytes_.append(other.bytes_);
  return *this;
}

void CBuffer::Append(const void* data, int length) {
  if (data == nullptr || length <= 0) return;
  bytes_.append(static_cast<const char*>(data), static_cast<size_t>(length));
}

CBuffer& CBuffer::operator=(const char* text) {
  if (text != nullptr && text != bytes_.c_str()) bytes_.assign(text);
  return *this;
}

CBuffer& CBuffer::operator=(const CBuffer& other) {
  if (this != &other) bytes_ = other.bytes_;
  return *this;
}

CBuffer& CBuffer::operator=(CBuffer&& other) noexcept {
  if (this != &other) {
    bytes_ = std::move(other.bytes_);
    other.bytes_.clear();
  }
  return *this;
}

void CBuffer::Clear() { bytes_.clear(); }

int CBuffer::GetLength() const {
  // The interface counts in int; a buffer beyond 2 GB reports INT_MAX rather than a negative
  // length.
  return bytes_.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(bytes_.size());
}
