// Helpers shared by the NetInput sources: content filling and Content-Type reading.
#include "wirelane/http/NetInputInternal.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/NoCase.h"

namespace corvane::netinput {

bool ContainsNoCase(std::string_view text, std::string_view pattern) {
  if (pattern.size() > text.size()) return false;
  for (size_t at = 0; at + pattern.size() <= text.size(); ++at) {
    if (EqualsNoCase(text.substr(at, pattern.size()), pattern)) return true;
  }
  return false;
}

std::string_view MediaType(std::string_view contentType) {
  std::string_view type = contentType.substr(0, contentType.find(';'));
  const size_t first = type.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  type.remove_prefix(first);
  return type.substr(0, type.find_last_not_of(" \t") + 1);
}

std::string_view BoundaryOf(std::string_view contentType) {
  const size_t at = contentType.find("boundary=");
  if (at == std::string_view::npos) return {};
  std::string_view boundary = contentType.substr(at + 9);
  if (!boundary.empty() && boundary.front() == '"') boundary.remove_prefix(1);
  return boundary.substr(0, boundary.find_first_of("\";\r\n "));
}

void ContentWriter::Reserve(size_t expected) {
  const size_t length = holder_.GetLength();
  if (room_end_ != 0 && length + expected <= room_end_) return;
  // Doubling keeps the number of remaps logarithmic in the body size.
  size_t room = std::max(expected + 1, length);
  room = std::min<size_t>(room, INT_MAX - 1);
  holder_.Allocate(static_cast<int>(room));
  // Allocate leaves at least room bytes past the write position, one of
  // which stays free for the NUL.
  room_end_ = length + room - 1;
}

char* ContentWriter::Space(size_t length) {
  const size_t before = holder_.GetLength();
  if (room_end_ == 0 || before + length > room_end_) Reserve(std::max(length, before));
  // Reserve cannot tell whether the holder grew; its capacity can.
  char* buffer = holder_.GetBuffer();
  if (buffer == nullptr || holder_.GetCapacity() <= before + length) return nullptr;
  return buffer + before;
}

void ContentWriter::Commit(size_t count) { holder_.Commit(count); }

bool ContentWriter::Append(const char* data, size_t length) {
  if (length == 0) return true;
  char* space = Space(length);
  if (space == nullptr) return false;
  std::memcpy(space, data, length);
  Commit(length);
  return true;
}

void ContentWriter::Terminate() {
  char* buffer = holder_.GetBuffer();
  if (buffer != nullptr) buffer[holder_.GetLength()] = '\0';
}

}  // namespace corvane::netinput
