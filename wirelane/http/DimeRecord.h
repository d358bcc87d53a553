// DimeRecord: one record of a DIME message, as built for sending or as received.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "wirelane/WirelaneExport.h"

// A record carries a 12-byte header (big-endian fields), an id, a type and
// data. Records built for sending keep the padded id, type and data in one
// body buffer that follows the header on the wire; received records keep the
// data, the type format ("tnf") and the options separately. Records belong to
// the DimeMsg that holds them. Not thread-safe.
class WIRELANE_API DimeRecord {
 public:
  // Header flag bits of byte 0 and type formats of byte 1 (high nibble).
  static constexpr unsigned char kVersion1 = 0x08;
  static constexpr unsigned char kMessageBegin = 0x04;
  static constexpr unsigned char kMessageEnd = 0x02;
  static constexpr unsigned char kChunkFollows = 0x01;
  static constexpr int kTypeUnchanged = 0;
  static constexpr int kTypeMedia = 1;
  static constexpr int kTypeUri = 2;
  static constexpr int kTypeNone = 3;
  static constexpr size_t kHeaderSize = 12;

  DimeRecord();
  virtual ~DimeRecord();

  // Builds a record for sending: type format 2 when type holds "://", 1 for
  // any other non-empty type, 3 without type. id and type may be null; data
  // may be null only with length 0. Copies everything.
  void Build(const char* id, const char* type, const char* data, unsigned long length);
  // Reads one record (all its chunks) from the n bytes at data. Returns the
  // bytes consumed (padding included, possibly past n when the last padding
  // is missing), or 0 when a length does not fit in the bytes given.
  uint64_t Parse(const unsigned char* data, uint64_t n);

  // Rounds n up to a multiple of 4.
  static uint64_t Pad(uint64_t n) { return (n + 3) & ~uint64_t{3}; }

  bool GetFlag(unsigned char flag) const { return (header_[0] & flag) != 0; }
  void SetFlag(unsigned char flag, bool on);
  int GetTypeFormat() const { return header_[1] >> 4; }
  uint16_t GetIdLength() const;
  uint16_t GetTypeLength() const;
  uint32_t GetDataLength() const;
  const unsigned char* GetHeader() const { return header_.data(); }

  const std::string& GetId() const { return id_; }
  const std::string& GetType() const { return type_; }
  // The type format in decimal ("1"), set on received records.
  const std::string& GetTypeFormatText() const { return type_format_; }
  // The data bytes: those received, or for a built record the data inside its
  // body buffer. Valid while the record lives.
  const unsigned char* GetData() const;
  // Padded id, padded type and padded data of a built record.
  const std::string& GetBody() const { return body_; }

 private:
  void SetLengths(uint16_t id_length, uint16_t type_length, uint32_t data_length);
  // Reads one chunk at data[at..n); returns the position after it, or 0 on failure.
  uint64_t ParseChunk(const unsigned char* data, uint64_t n, uint64_t at, bool first,
                      unsigned char* flags);

  std::array<unsigned char, kHeaderSize> header_{};
  std::string id_;
  std::string type_;
  std::string data_;
  std::string type_format_;
  std::string options_;
  std::string body_;
};
