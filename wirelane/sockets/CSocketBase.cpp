// Stream operations and the property set shared by every socket kind.
#include "wirelane/sockets/CSocketBase.h"

#include <climits>
#include <cstring>

CSocketBase::CSocketBase() = default;
CSocketBase::~CSocketBase() = default;

unsigned long CSocketBase::ReadStream(void* buffer, unsigned long size) {
  const unsigned int wanted = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
  const int result = Read(static_cast<char*>(buffer), wanted);
  return result > 0 ? static_cast<unsigned long>(result) : 0;
}

unsigned long CSocketBase::WriteStream(const char* text) {
  if (text == nullptr) return 0;
  return WriteStream(static_cast<const void*>(text), std::strlen(text));
}

unsigned long CSocketBase::WriteStream(const void* data, unsigned long size) {
  if (data == nullptr) return 0;
  // Write counts in int; larger amounts go in pieces it can report.
  constexpr unsigned long kLargestPiece = 1UL << 30;
  const char* next = static_cast<const char*>(data);
  unsigned long total = 0;
  do {
    const unsigned long piece = size - total < kLargestPiece ? size - total : kLargestPiece;
    const int result = Write(next + total, static_cast<unsigned int>(piece));
    if (result <= 0) return 0;
    total += static_cast<unsigned long>(result);
  } while (total < size);
  return total;
}

unsigned long CSocketBase::WriteStreamA(const char* text) { return WriteStream(text); }

void CSocketBase::SetProperty(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return;
  properties_.insert_or_assign(std::string(name), std::string(value));
}

void CSocketBase::SetProperty(const SocketPropertyMap& properties) {
  if (&properties != &properties_) properties_ = properties;
}

const char* CSocketBase::GetProperty(const char* name) {
  if (name == nullptr) return nullptr;
  const auto found = properties_.find(std::string_view(name));
  return found == properties_.end() ? nullptr : found->second.c_str();
}
