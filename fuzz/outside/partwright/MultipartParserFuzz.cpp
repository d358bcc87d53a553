// Fuzz target: a multipart body fed to the parser in pieces split at input-chosen points, every
// part read back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "partwright/MimeProcessor.h"
#include "partwright/MultipartParser.h"

namespace {

// Stored parts go to one private folder, emptied after every input.
const std::string& Folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/partwright-fuzz-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return std::string(name);
  }();
  return folder;
}

void ReadEveryPart(MultipartParser& parser) {
  const unsigned count = parser.getLength();
  for (unsigned i = 0; i < count; ++i) {
    MultipartEntry* entry = parser[i];
    if (entry == nullptr) std::abort();
    const char* stored = entry->GetHeader("FullPath");
    if (stored != nullptr) {
      // A stored part must lie directly inside the folder.
      const std::string_view path(stored);
      if (path.substr(0, Folder().size() + 1) != Folder() + "/" ||
          path.find('/', Folder().size() + 1) != std::string_view::npos ||
          path.substr(Folder().size() + 1).starts_with(".")) {
        std::abort();
      }
    }
    const unsigned char* content = entry->GetContent();
    if (content != nullptr && content[entry->GetLength()] != 0) std::abort();
    entry->GetFileName();
    entry->GetHeader("Content-Type");
    if (const char* name = entry->GetName()) parser[name];
    if (const char* id = entry->GetId()) parser[id];
    if (stored != nullptr) unlink(stored);
  }
}

// The text (up to its first NUL) as a built message must parse back unchanged.
void RoundTrip(std::string_view bytes) {
  const std::string text(bytes.substr(0, bytes.find('\0')));
  MimeProcessor mime("multipart/related", "b");
  if (mime.AddMIMEPart(text.c_str(), "text/plain", "id", 0) <= 0) std::abort();
  const std::string type = mime.GetFullContentType();
  const size_t at = type.find("boundary=\"") + 10;
  const std::string delimiter = "--" + type.substr(at, type.find('"', at) - at);
  unsigned length = 0;
  const char* message = mime.FormatMessageA(0, &length, nullptr);
  if (message == nullptr || length != mime.GetMessageLength(0)) std::abort();
  std::vector<unsigned char> copy(message, message + length);
  MultipartParser parser;
  parser.SetBoundary(delimiter.c_str());
  parser.ParseStream(copy.data(), static_cast<unsigned>(copy.size()));
  MultipartEntry* part = parser[0];
  if (parser.getLength() != 1 || part == nullptr || part->GetLength() != text.size() ||
      std::memcmp(part->GetContent(), text.data(), text.size()) != 0) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const char* const kDelimiters[] = {"--b", "--boundary", "----x", "--b\tq"};
  const char* delimiter = kDelimiters[data[0] & 3];
  const bool use_folder = (data[0] & 4) != 0;
  // Up to eight piece lengths come from the second byte on; the last length repeats.
  const size_t splits = (data[0] >> 3) & 7;
  const size_t header = std::min(size, 1 + splits);
  std::vector<size_t> pieces;
  for (size_t i = 1; i < header; ++i) pieces.push_back(data[i] + 1u);
  if (pieces.empty()) pieces.push_back(size);
  const std::string_view body(reinterpret_cast<const char*>(data) + header, size - header);

  MultipartParser parser(use_folder ? Folder().c_str() : nullptr);
  parser.SetBoundary(delimiter);
  size_t at = 0;
  for (size_t n = 0; at < body.size(); ++n) {
    const size_t piece = std::min(pieces[std::min(n, pieces.size() - 1)], body.size() - at);
    // An exactly sized copy, so any read past a piece is caught.
    std::vector<unsigned char> copy(body.begin() + at, body.begin() + at + piece);
    parser.ParseStream(copy.data(), static_cast<unsigned>(copy.size()));
    at += piece;
  }
  ReadEveryPart(parser);
  parser.Clear();
  RoundTrip(body);
  return 0;
}
