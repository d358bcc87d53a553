// DimeMsg: builds DIME messages from records and writes them in chunks; parses received ones.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/IOStream.h"
#include "wirelane/WirelaneExport.h"
#include "wirelane/http/DimeRecord.h"

// A DIME message is a sequence of records (the SOAP envelope first, then the
// attachments), each a 12-byte header followed by id, type and data padded to
// 4 bytes. Records longer than the chunk size are written as several chunks.
// The message owns its records. Results returned by the getters stay valid
// until the records change (AddRecord, ParseMessage, Clear) or the message is
// destroyed. Not thread-safe.
class WIRELANE_API DimeMsg {
 public:
  // chunkSize is rounded up to a multiple of 4; 0 or less writes every
  // record whole.
  explicit DimeMsg(long chunkSize = 10485760);
  virtual ~DimeMsg();
  DimeMsg(const DimeMsg&) = delete;
  DimeMsg& operator=(const DimeMsg&) = delete;

  // Builds a record from copies of id, type and length bytes of data and
  // inserts it before the record at position, or appends it when position is
  // negative or not below the record count. Returns true.
  bool AddRecord(const char* id, const char* type, const char* data, unsigned long length,
                 int position);
  // Adds the whole file at path as a record typed by its file extension.
  // Returns false (nothing added) when the file cannot be read or is empty.
  bool AddFile(const char* id, const char* path, int position);

  // Writes every record to stream, the first marked as message begin and the
  // last as message end. Returns true (write results are not examined); false
  // only for a null stream.
  bool SendMessage(IOStream* stream);
  // Writes one record, in chunks when its data is longer than the chunk size;
  // last marks it as the message end. Returns true; false for a null stream or
  // record.
  bool SendChunk(IOStream* stream, DimeRecord* record, bool last);

  // Replaces the records by those read from the length bytes at data, up to
  // the record marked message end. Returns true when at most one byte was left
  // unread; false when a record's lengths point past the data (the records
  // read before it stay available), or data is null with a length.
  bool ParseMessage(const char* data, uint64_t length);

  // The data of the record at index (or the first whose id equals id,
  // case-sensitive) with its length in length; null (length 0) when there is
  // none.
  unsigned char* GetRecord(unsigned index, unsigned long& length);
  unsigned char* GetRecord(const char* id, unsigned long& length);
  // "tnf" (the type format in decimal), "type" or "id" of the record at index
  // (or whose id equals id without regard to case); property names are
  // compared without regard to case. Null for any other property or no record.
  const char* GetRecordProperty(unsigned index, const char* property);
  const char* GetRecordProperty(const char* id, const char* property);
  // The type of the first record whose id equals id (case-sensitive), or null.
  const char* GetRecordType(const char* id);
  // Number of records.
  unsigned GetRecordCount() const;

  // Deletes all records.
  void Clear();

 private:
  DimeRecord* FindById(const char* id, bool ignore_case) const;
  DimeRecord* At(unsigned index) const;
  void WriteChunked(IOStream* stream, DimeRecord* record, bool last);

  std::vector<std::unique_ptr<DimeRecord>> records_;
  long chunk_size_;
};
