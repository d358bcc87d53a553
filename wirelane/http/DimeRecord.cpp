// DIME record building and parsing.
#include "wirelane/http/DimeRecord.h"

#include <cstring>

namespace {

uint16_t Read16(const unsigned char* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

uint32_t Read32(const unsigned char* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | uint32_t{at[3]};
}

void Write16(unsigned char* at, uint16_t value) {
  at[0] = static_cast<unsigned char>(value >> 8);
  at[1] = static_cast<unsigned char>(value);
}

void Write32(unsigned char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

void AppendPadded(std::string& out, const char* bytes, size_t length) {
  if (length > 0) out.append(bytes, length);
  out.append(DimeRecord::Pad(length) - length, '\0');
}

// Text up to the first NUL of the length bytes at data.
std::string TextOf(const unsigned char* data, size_t length) {
  const void* nul = std::memchr(data, 0, length);
  const size_t end = nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - data) : length;
  return std::string(reinterpret_cast<const char*>(data), end);
}

}  // namespace

DimeRecord::DimeRecord() = default;
DimeRecord::~DimeRecord() = default;

void DimeRecord::SetFlag(unsigned char flag, bool on) {
  header_[0] = static_cast<unsigned char>(on ? header_[0] | flag : header_[0] & ~flag);
}

uint16_t DimeRecord::GetIdLength() const { return Read16(&header_[4]); }
uint16_t DimeRecord::GetTypeLength() const { return Read16(&header_[6]); }
uint32_t DimeRecord::GetDataLength() const { return Read32(&header_[8]); }

void DimeRecord::SetLengths(uint16_t id_length, uint16_t type_length, uint32_t data_length) {
  Write16(&header_[2], 0);
  Write16(&header_[4], id_length);
  Write16(&header_[6], type_length);
  Write32(&header_[8], data_length);
}

void DimeRecord::Build(const char* id, const char* type, const char* data, unsigned long length) {
  id_ = id != nullptr ? id : "";
  type_ = type != nullptr ? type : "";
  // The header's length fields are 16 and 32 bits wide.
  if (id_.size() > 0xFFFF) id_.resize(0xFFFF);
  if (type_.size() > 0xFFFF) type_.resize(0xFFFF);
  if (data == nullptr) length = 0;
  if (length > 0xFFFFFFFFul) length = 0xFFFFFFFFul;

  int format = kTypeNone;
  if (!type_.empty()) format = type_.find("://") != std::string::npos ? kTypeUri : kTypeMedia;
  header_.fill(0);
  header_[0] = kVersion1;
  header_[1] = static_cast<unsigned char>(format << 4);
  SetLengths(static_cast<uint16_t>(id_.size()), static_cast<uint16_t>(type_.size()),
             static_cast<uint32_t>(length));

  body_.clear();
  body_.reserve(Pad(id_.size()) + Pad(type_.size()) + Pad(length));
  AppendPadded(body_, id_.data(), id_.size());
  AppendPadded(body_, type_.data(), type_.size());
  AppendPadded(body_, data, length);
}

const unsigned char* DimeRecord::GetData() const {
  if (body_.empty()) return reinterpret_cast<const unsigned char*>(data_.data());
  return reinterpret_cast<const unsigned char*>(body_.data()) + Pad(id_.size()) + Pad(type_.size());
}

uint64_t DimeRecord::Parse(const unsigned char* data, uint64_t n) {
  header_.fill(0);
  id_.clear();
  type_.clear();
  type_format_.clear();
  options_.clear();
  data_.clear();
  body_.clear();
  uint32_t total = 0;
  uint64_t at = 0;
  for (bool first = true;; first = false) {
    unsigned char flags = 0;
    const uint64_t before = at;
    at = ParseChunk(data, n, at, first, &flags);
    if (at == 0) return 0;
    total += Read32(data + before + 8);
    Write32(&header_[8], total);
    if (flags & kMessageEnd) {
      SetFlag(kMessageEnd, true);
      break;
    }
    if (!(flags & kChunkFollows) || at >= n) break;
  }
  return at;
}

uint64_t DimeRecord::ParseChunk(const unsigned char* data, uint64_t n, uint64_t at, bool first,
                                unsigned char* flags) {
  if (at > n || n - at < kHeaderSize) return 0;
  const unsigned char* chunk = data + at;
  *flags = chunk[0];
  const uint64_t options_length = Read16(chunk + 2);
  const uint64_t id_length = Read16(chunk + 4);
  const uint64_t type_length = Read16(chunk + 6);
  const uint64_t data_length = Read32(chunk + 8);
  at += kHeaderSize;

  // Every part must lie inside the bytes received; padding past the end is tolerated.
  auto take = [&](uint64_t length, std::string* into, bool as_text) -> bool {
    if (length == 0) return true;
    if (at > n || length > n - at) return false;
    if (into != nullptr) {
      if (as_text)
        *into = TextOf(data + at, static_cast<size_t>(length));
      else
        into->append(reinterpret_cast<const char*>(data + at), static_cast<size_t>(length));
    }
    at += Pad(length);
    return true;
  };

  if (!take(options_length, &options_, false)) return 0;
  if (first) {
    header_[0] = static_cast<unsigned char>(chunk[0] & ~(kMessageEnd | kChunkFollows));
    header_[1] = chunk[1];
    if (!take(id_length, &id_, true) || !take(type_length, &type_, true)) return 0;
    Write16(&header_[4], static_cast<uint16_t>(id_length));
    Write16(&header_[6], static_cast<uint16_t>(type_length));
    type_format_ = std::to_string(GetTypeFormat());
  }
  if (!take(data_length, &data_, false)) return 0;
  return at;
}
