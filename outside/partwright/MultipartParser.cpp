// MultipartParser: splits a multipart body, fed in pieces, into its parts.
#include "partwright/MultipartParser.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "partwright/HeaderValueInternal.h"
#include "partwright/MultipartEntryInternal.h"
#include "partwright/PartFileInternal.h"
#include "sealvault/Debug.h"

namespace {

constexpr size_t kMaxHeaderBytes = 65536;
constexpr unsigned kMaxHeaders = 100;
constexpr size_t kMaxParts = 10000;
constexpr size_t kMaxDelimiter = 256;
// Blanks tolerated between a delimiter and its line end (transport padding).
constexpr size_t kMaxPadding = 256;

constexpr const char* kLabel = "MultipartParser::ParseStream";

enum class Match { kNeedMore, kNo, kNext, kClose };

// The Content-ID value without blanks and angle brackets.
std::string BareId(std::string_view id) {
  id = partwright::TrimBlanks(id);
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return std::string(id);
}

}  // namespace

struct PARTWRIGHT_LOCAL MultipartParser::Impl {
  enum class State { kPreamble, kHeaders, kBody, kSkip, kDone };

  std::string folder;
  std::string delimiter;  // "--" + boundary
  std::string pattern;    // "\n" + delimiter: a delimiter inside the body
  std::vector<std::unique_ptr<MultipartEntry>> parts;
  std::unique_ptr<MultipartEntry> current;
  std::unique_ptr<partwright::PartFile> file;  // the file of the current part
  // Bytes not yet decided: a partial line or a possible partial delimiter.
  std::string pending;
  State state = State::kPreamble;
  bool line_start = true;  // the next byte starts a line (stream or body start)
  bool closed = false;     // the closing delimiter was read
  size_t header_bytes = 0;
  unsigned header_count = 0;
  size_t line_scanned = 0;  // bytes of an unfinished header line already searched
  unsigned long long received = 0;
  bool reported = false;  // the unfinished end has been logged

  size_t Run(const char* p, size_t n);
  Match MatchDelimiter(const char* p, size_t n, size_t& used) const;
  size_t ScanContent(const char* p, size_t n);
  size_t ScanHeaders(const char* p, size_t n);
  void AddHeaderLine(std::string_view line);
  void EndHeaders();
  void Emit(const char* p, size_t n);
  void OnDelimiter(Match match);
  void FinishPart();
  void DropPart(const char* reason, bool at_line_start);
  void ResetStream();
  void ReportUnfinished();
};

// Reads as much of p as can be decided now; returns the bytes used.
size_t MultipartParser::Impl::Run(const char* p, size_t n) {
  size_t pos = 0;
  while (pos < n) {
    const State before = state;
    size_t used = 0;
    switch (state) {
      case State::kHeaders:
        used = ScanHeaders(p + pos, n - pos);
        break;
      case State::kDone:
        used = n - pos;  // the epilogue
        break;
      default:
        used = ScanContent(p + pos, n - pos);
        break;
    }
    pos += used;
    if (used == 0 && state == before) break;
  }
  return pos;
}

// p is at the start of a line. kNext and kClose set used to the bytes of the
// delimiter (kNext with its line end); kNeedMore when p ends before that is known.
Match MultipartParser::Impl::MatchDelimiter(const char* p, size_t n, size_t& used) const {
  const size_t length = delimiter.size();
  if (n < length) return std::memcmp(p, delimiter.data(), n) == 0 ? Match::kNeedMore : Match::kNo;
  if (std::memcmp(p, delimiter.data(), length) != 0) return Match::kNo;
  size_t q = length;
  if (q < n && p[q] == '-') {
    if (q + 1 == n) return Match::kNeedMore;
    if (p[q + 1] != '-') return Match::kNo;
    used = q + 2;
    return Match::kClose;
  }
  while (q < n && (p[q] == ' ' || p[q] == '\t')) {
    if (q - length >= kMaxPadding) return Match::kNo;
    ++q;
  }
  if (q < n && p[q] == '\r') ++q;
  if (q == n) return Match::kNeedMore;
  if (p[q] != '\n') return Match::kNo;
  used = q + 1;
  return Match::kNext;
}

// Preamble, body or skipped body: everything up to the next delimiter.
size_t MultipartParser::Impl::ScanContent(const char* p, size_t n) {
  size_t used = 0;
  if (line_start) {
    const Match match = MatchDelimiter(p, n, used);
    if (match == Match::kNeedMore) return 0;
    line_start = false;
    if (match != Match::kNo) {
      OnDelimiter(match);
      return used;
    }
  }
  size_t from = 0;
  while (const void* hit = ::memmem(p + from, n - from, pattern.data(), pattern.size())) {
    const size_t lf = static_cast<size_t>(static_cast<const char*>(hit) - p);
    // The line end before a delimiter belongs to the delimiter, not to the content.
    const size_t end = (lf > 0 && p[lf - 1] == '\r') ? lf - 1 : lf;
    const Match match = MatchDelimiter(p + lf + 1, n - lf - 1, used);
    if (match == Match::kNo) {
      from = lf + 1;
      continue;
    }
    Emit(p, end);
    if (match == Match::kNeedMore) return end;
    OnDelimiter(match);
    return lf + 1 + used;
  }
  // Keep back what could be the start of a delimiter, with the CR before it.
  const size_t keep = std::min(n, pattern.size());
  Emit(p, n - keep);
  return n - keep;
}

size_t MultipartParser::Impl::ScanHeaders(const char* p, size_t n) {
  // A delimiter line ends a part that has no blank line after its headers (and
  // so no content); the closing one may end the stream without a line end.
  size_t used = 0;
  const Match match = MatchDelimiter(p, n, used);
  if (match == Match::kNext || match == Match::kClose) {
    OnDelimiter(match);
    return used;
  }
  const void* found = std::memchr(p + line_scanned, '\n', n - line_scanned);
  if (found == nullptr) {
    line_scanned = n;
    if (header_bytes + n > kMaxHeaderBytes) {
      line_scanned = 0;
      DropPart("its header block is longer than 65536 bytes", false);
    }
    return 0;
  }
  line_scanned = 0;
  const size_t length = static_cast<size_t>(static_cast<const char*>(found) - p) + 1;
  header_bytes += length;
  if (header_bytes > kMaxHeaderBytes) {
    DropPart("its header block is longer than 65536 bytes", true);
    return length;
  }
  std::string_view line(p, length - 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) {
    EndHeaders();
  } else {
    AddHeaderLine(line);
  }
  return length;
}

void MultipartParser::Impl::AddHeaderLine(std::string_view line) {
  auto& headers = MultipartEntryAccess::Of(*current).headers;
  if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
    // A folded line continues the previous header.
    headers.back().second += ' ';
    headers.back().second += partwright::TrimBlanks(line);
    return;
  }
  const size_t colon = line.find(':');
  const std::string_view name =
      partwright::TrimBlanks(line.substr(0, colon == std::string_view::npos ? 0 : colon));
  if (colon == std::string_view::npos || name.empty()) {
    Debug d(kLabel);
    d.print("Partwright: part %zu: header line without name ignored\n", parts.size());
    return;
  }
  if (partwright::EqualsNoCase(name, "FullPath")) {
    // Only the parser may say where a part was stored.
    Debug d(kLabel);
    d.logerror("Partwright", __LINE__, "Part %zu: header FullPath from the sender ignored\n",
               parts.size());
    return;
  }
  if (++header_count > kMaxHeaders) {
    DropPart("it has more than 100 header lines", true);
    return;
  }
  headers.emplace_back(std::string(name),
                       std::string(partwright::TrimBlanks(line.substr(colon + 1))));
}

// The blank line after the headers: the part's names are read and its storage chosen.
void MultipartParser::Impl::EndHeaders() {
  auto& entry = MultipartEntryAccess::Of(*current);
  if (const char* disposition = current->GetHeader("Content-Disposition")) {
    const auto value = partwright::HeaderValue::Parse(disposition);
    if (const std::string* name = value.Find("name")) entry.name = *name;
    if (const std::string* filename = value.Find("filename")) entry.filename = *filename;
  }
  if (const char* id = current->GetHeader("Content-ID")) entry.id = BareId(id);
  state = State::kBody;
  line_start = true;
  if (folder.empty() || !entry.filename || entry.filename->empty()) return;
  std::string error;
  file = partwright::PartFile::Create(folder, *entry.filename, error);
  if (!file) {
    Debug d(kLabel);
    d.logerror("Partwright", __LINE__, "Part %zu kept in memory: cannot create its file %s\n",
               parts.size(), error.c_str());
    return;
  }
  entry.path = file->path();
  entry.headers.emplace_back("FullPath", entry.path);
}

void MultipartParser::Impl::Emit(const char* p, size_t n) {
  if (state != State::kBody || n == 0) return;
  auto& entry = MultipartEntryAccess::Of(*current);
  entry.length += n;
  if (!file) {
    entry.content.append(p, n);
    return;
  }
  std::string error;
  if (!file->Write(p, n, error)) {
    Debug d(kLabel);
    d.logerror("Partwright", __LINE__, "Part %zu: writing its file failed: %s\n", parts.size(),
               error.c_str());
    DropPart("its content could not be stored", false);
  }
}

void MultipartParser::Impl::OnDelimiter(Match match) {
  if (state == State::kHeaders) EndHeaders();
  if (state == State::kBody) FinishPart();
  current.reset();
  file.reset();
  if (match == Match::kClose) {
    state = State::kDone;
    closed = true;
    return;
  }
  if (parts.size() >= kMaxParts) {
    Debug d(kLabel);
    d.logerror("Partwright", __LINE__, "More than %zu parts: the rest of the body is ignored\n",
               kMaxParts);
    state = State::kDone;
    return;
  }
  current = MultipartEntryAccess::Make();
  state = State::kHeaders;
  header_bytes = 0;
  header_count = 0;
  line_scanned = 0;
}

void MultipartParser::Impl::FinishPart() {
  std::string error;
  if (file && !file->Close(error)) {
    Debug d(kLabel);
    d.logerror("Partwright", __LINE__, "Part %zu: closing its file failed: %s\n", parts.size(),
               error.c_str());
    DropPart("its content could not be stored", false);
    return;
  }
  file.reset();
  parts.push_back(std::move(current));
}

void MultipartParser::Impl::DropPart(const char* reason, bool at_line_start) {
  Debug d(kLabel);
  d.logerror("Partwright", __LINE__, "Part %zu dropped: %s\n", parts.size(), reason);
  if (file) file->Remove();
  file.reset();
  current.reset();
  state = State::kSkip;
  line_start = at_line_start;
}

void MultipartParser::Impl::ResetStream() {
  if (file) {
    Debug d("MultipartParser");
    d.print("Partwright: unfinished part %zu: deleting %s\n", parts.size(), file->path().c_str());
    file->Remove();
  }
  file.reset();
  current.reset();
  pending.clear();
  state = State::kPreamble;
  line_start = true;
  closed = false;
  header_bytes = 0;
  header_count = 0;
  line_scanned = 0;
  received = 0;
  reported = false;
}

void MultipartParser::Impl::ReportUnfinished() {
  if (reported || state == State::kDone || received == 0) return;
  reported = true;
  Debug d("MultipartParser");
  if (state == State::kPreamble) {
    d.logerror("Partwright", __LINE__, "No delimiter \"%s\" in the %llu bytes read\n",
               delimiter.c_str(), received);
  } else {
    d.logerror("Partwright", __LINE__,
               "The body has not reached its closing delimiter: part %zu is unfinished and not "
               "counted\n",
               parts.size());
  }
}

MultipartParser::MultipartParser(const char* folder) : impl_(std::make_unique<Impl>()) {
  if (folder != nullptr) impl_->folder = folder;
}

MultipartParser::~MultipartParser() { impl_->ResetStream(); }

void MultipartParser::SetBoundary(const char* delimiter) {
  Clear();
  impl_->delimiter.clear();
  impl_->pattern.clear();
  const size_t length = delimiter != nullptr ? std::strlen(delimiter) : 0;
  if (length == 0 || length > kMaxDelimiter) {
    Debug d("MultipartParser::SetBoundary");
    d.logerror("Partwright", __LINE__, "Delimiter refused: %s\n",
               length == 0 ? "empty" : "longer than 256 bytes");
    return;
  }
  impl_->delimiter = delimiter;
  impl_->pattern = "\n" + impl_->delimiter;
}

void MultipartParser::Clear() {
  impl_->ResetStream();
  impl_->parts.clear();
}

unsigned MultipartParser::ParseStream(unsigned char* data, unsigned length) {
  Impl& s = *impl_;
  if (s.delimiter.empty()) {
    Debug d(kLabel);
    d.logerror("Partwright", __LINE__, "No delimiter set: %u bytes ignored\n", length);
    return static_cast<unsigned>(s.parts.size());
  }
  if (data == nullptr || length == 0) return static_cast<unsigned>(s.parts.size());
  s.received += length;
  s.reported = false;
  const char* bytes = reinterpret_cast<const char*>(data);
  size_t skip = 0;  // bytes of the piece already read together with the pending ones
  if (!s.pending.empty()) {
    // Only the start of the piece joins the pending bytes, which usually
    // settles them; the rest of a large piece is then read where it lies.
    const size_t held = s.pending.size();
    const size_t window = std::min<size_t>(length, s.pattern.size() + kMaxPadding + 2);
    s.pending.append(bytes, window);
    size_t used = s.Run(s.pending.data(), s.pending.size());
    if (used < held || window == length) {
      s.pending.append(bytes + window, length - window);
      used += s.Run(s.pending.data() + used, s.pending.size() - used);
      s.pending.erase(0, used);
      return static_cast<unsigned>(s.parts.size());
    }
    skip = used - held;
    s.pending.clear();
  }
  const size_t used = skip + s.Run(bytes + skip, length - skip);
  s.pending.assign(bytes + used, length - used);
  return static_cast<unsigned>(s.parts.size());
}

bool MultipartParser::IsComplete() const { return impl_->closed; }

unsigned MultipartParser::getLength() {
  impl_->ReportUnfinished();
  return static_cast<unsigned>(impl_->parts.size());
}

MultipartEntry* MultipartParser::operator[](unsigned index) {
  impl_->ReportUnfinished();
  return index < impl_->parts.size() ? impl_->parts[index].get() : nullptr;
}

MultipartEntry* MultipartParser::operator[](int index) {
  return index < 0 ? nullptr : (*this)[static_cast<unsigned>(index)];
}

MultipartEntry* MultipartParser::operator[](const char* name) {
  impl_->ReportUnfinished();
  if (name == nullptr) return nullptr;
  for (const auto& part : impl_->parts) {
    const char* part_name = part->GetName();
    if (part_name != nullptr && std::strcmp(part_name, name) == 0) return part.get();
  }
  std::string_view id(name);
  if (partwright::StartsWithNoCase(id, "cid:")) id.remove_prefix(4);
  const std::string wanted = BareId(id);
  for (const auto& part : impl_->parts) {
    const char* part_id = part->GetId();
    if (part_id != nullptr && wanted == part_id) return part.get();
  }
  return nullptr;
}
