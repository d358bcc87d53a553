// DIME message writing and parsing.
#include "wirelane/http/DimeMsg.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>

#include "common/FileFunctions.h"
#include "common/MediaTypes.h"
#include "common/NoCase.h"
#include "sealvault/Debug.h"

namespace {
const char kZeros[4] = {0, 0, 0, 0};

void Write(IOStream* stream, const void* bytes, uint64_t length) {
  if (length > 0) stream->WriteStream(bytes, static_cast<unsigned long>(length));
}
}  // namespace

DimeMsg::DimeMsg(long chunkSize) : chunk_size_(chunkSize > 0 ? (chunkSize + 3) & ~3L : chunkSize) {}

DimeMsg::~DimeMsg() { Clear(); }

void DimeMsg::Clear() { records_.clear(); }

unsigned DimeMsg::GetRecordCount() const { return static_cast<unsigned>(records_.size()); }

bool DimeMsg::AddRecord(const char* id, const char* type, const char* data, unsigned long length,
                        int position) {
  auto record = std::make_unique<DimeRecord>();
  record->Build(id, type, data, length);
  if (position < 0 || static_cast<size_t>(position) >= records_.size())
    records_.push_back(std::move(record));
  else
    records_.insert(records_.begin() + position, std::move(record));
  return true;
}

bool DimeMsg::AddFile(const char* id, const char* path, int position) {
  unsigned long size = 0;
  std::unique_ptr<char[]> bytes(ReadWholeFile(path, &size));
  if (!bytes) return false;
  return AddRecord(id, GetContentType(path), bytes.get(), size, position);
}

bool DimeMsg::SendMessage(IOStream* stream) {
  if (stream == nullptr) return false;
  for (size_t i = 0; i < records_.size(); ++i) {
    records_[i]->SetFlag(DimeRecord::kMessageBegin, i == 0);
    SendChunk(stream, records_[i].get(), i + 1 == records_.size());
  }
  return true;
}

bool DimeMsg::SendChunk(IOStream* stream, DimeRecord* record, bool last) {
  if (stream == nullptr || record == nullptr) return false;
  if (chunk_size_ <= 0 || record->GetDataLength() <= static_cast<uint64_t>(chunk_size_)) {
    record->SetFlag(DimeRecord::kMessageEnd, last);
    record->SetFlag(DimeRecord::kChunkFollows, false);
    Write(stream, record->GetHeader(), DimeRecord::kHeaderSize);
    Write(stream, record->GetBody().data(), record->GetBody().size());
    return true;
  }
  WriteChunked(stream, record, last);
  return true;
}

// The first chunk repeats the record's header with its id and type; later
// chunks carry a bare header (type format 0, no id, no type).
void DimeMsg::WriteChunked(IOStream* stream, DimeRecord* record, bool last) {
  const uint64_t chunk = static_cast<uint64_t>(chunk_size_);
  const std::string& body = record->GetBody();
  const uint64_t prefix = DimeRecord::Pad(record->GetIdLength()) + DimeRecord::Pad(record->GetTypeLength());
  const unsigned char* data = reinterpret_cast<const unsigned char*>(body.data()) + prefix;
  uint64_t remaining = record->GetDataLength();
  bool first = true;
  while (remaining > 0) {
    std::array<unsigned char, DimeRecord::kHeaderSize> header{};
    if (first) {
      std::memcpy(header.data(), record->GetHeader(), header.size());
    } else {
      header[0] = DimeRecord::kVersion1;
    }
    const bool more = remaining > chunk;
    const uint64_t length = more ? chunk : remaining;
    header[0] = static_cast<unsigned char>(header[0] & ~(DimeRecord::kChunkFollows | DimeRecord::kMessageEnd));
    if (more) header[0] |= DimeRecord::kChunkFollows;
    if (!more && last) header[0] |= DimeRecord::kMessageEnd;
    if (!first) header[0] &= static_cast<unsigned char>(~DimeRecord::kMessageBegin);
    for (int i = 0; i < 4; ++i) header[8 + i] = static_cast<unsigned char>(length >> (24 - 8 * i));

    Write(stream, header.data(), header.size());
    if (first) Write(stream, body.data(), prefix);
    Write(stream, data, length);
    if (!more) Write(stream, kZeros, DimeRecord::Pad(length) - length);
    data += length;
    remaining -= length;
    first = false;
  }
}

bool DimeMsg::ParseMessage(const char* data, uint64_t length) {
  Debug debug("DimeMsg::ParseMessage");
  Clear();
  if (length == 0) return true;
  if (data == nullptr) return false;
  try {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    uint64_t offset = 0;
    while (offset < length - 1) {
      auto record = std::make_unique<DimeRecord>();
      const uint64_t used = record->Parse(bytes + offset, length - offset);
      if (used == 0) {
        debug.logerror("Dime", __LINE__, "DIME record at offset %llu does not fit in %llu bytes.\n",
                       static_cast<unsigned long long>(offset), static_cast<unsigned long long>(length));
        break;
      }
      offset += used;
      debug.print("Parsed DIME record with id %s\n", record->GetId().c_str());
      const bool end = record->GetFlag(DimeRecord::kMessageEnd);
      records_.push_back(std::move(record));
      if (end) break;
    }
    return offset >= length - 1;
  } catch (const std::exception&) {
    debug.logerror("Dime", __LINE__,
                   "DimeMsg::ParseMessage - Exception ocurred while parsing DIME message.\n");
    return false;
  }
}

DimeRecord* DimeMsg::At(unsigned index) const {
  return index < records_.size() ? records_[index].get() : nullptr;
}

DimeRecord* DimeMsg::FindById(const char* id, bool ignore_case) const {
  if (id == nullptr) return nullptr;
  for (const auto& record : records_) {
    if (ignore_case ? corvane::EqualsNoCase(record->GetId(), id) : record->GetId() == id)
      return record.get();
  }
  return nullptr;
}

namespace {
unsigned char* DataOf(DimeRecord* record, unsigned long& length) {
  length = record != nullptr ? record->GetDataLength() : 0;
  return record != nullptr ? const_cast<unsigned char*>(record->GetData()) : nullptr;
}

const char* PropertyOf(DimeRecord* record, const char* property) {
  if (record == nullptr || property == nullptr) return nullptr;
  if (corvane::EqualsNoCase(property, "tnf")) return record->GetTypeFormatText().c_str();
  if (corvane::EqualsNoCase(property, "type")) return record->GetType().c_str();
  if (corvane::EqualsNoCase(property, "id")) return record->GetId().c_str();
  return nullptr;
}
}  // namespace

unsigned char* DimeMsg::GetRecord(unsigned index, unsigned long& length) {
  return DataOf(At(index), length);
}

unsigned char* DimeMsg::GetRecord(const char* id, unsigned long& length) {
  return DataOf(FindById(id, false), length);
}

const char* DimeMsg::GetRecordProperty(unsigned index, const char* property) {
  return PropertyOf(At(index), property);
}

const char* DimeMsg::GetRecordProperty(const char* id, const char* property) {
  return PropertyOf(FindById(id, true), property);
}

const char* DimeMsg::GetRecordType(const char* id) {
  DimeRecord* record = FindById(id, false);
  return record != nullptr ? record->GetType().c_str() : nullptr;
}
