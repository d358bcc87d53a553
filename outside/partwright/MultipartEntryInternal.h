// MultipartEntryAccess: how the parser builds the entries that hosts only read.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "partwright/MultipartEntry.h"

struct PARTWRIGHT_LOCAL MultipartEntry::Impl {
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> name;      // Content-Disposition name=
  std::optional<std::string> filename;  // Content-Disposition filename=
  std::optional<std::string> id;        // Content-ID without brackets
  // The content of an in-memory part, or of a stored part once read back.
  std::string content;
  // Path of the file holding a stored part; empty for an in-memory part.
  std::string path;
  unsigned long long length = 0;
  bool loaded = false;  // a stored part's content has been read back
};

// The parser's access to the inside of MultipartEntry.
struct PARTWRIGHT_LOCAL MultipartEntryAccess {
  static std::unique_ptr<MultipartEntry> Make() {
    return std::unique_ptr<MultipartEntry>(new MultipartEntry());
  }
  static MultipartEntry::Impl& Of(MultipartEntry& entry) { return *entry.impl_; }
};
