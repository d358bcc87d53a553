// MimeProcessor: builds a MIME multipart message (multipart/related, XOP) from text and file parts.
#include "partwright/MimeProcessor.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/IOHandler.h"
#include "partwright/HeaderValueInternal.h"
#include "partwright/PartFileInternal.h"
#include "sealvault/Debug.h"

namespace {

constexpr size_t kMaxBoundary = 70;
constexpr unsigned long long kMaxMessage = UINT_MAX;

// RFC 2046 bchars: letters, digits, "'()+_,-./:=?" and space (not last).
bool IsValidBoundary(std::string_view boundary) {
  if (boundary.empty() || boundary.size() > kMaxBoundary || boundary.back() == ' ') return false;
  for (char c : boundary) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && std::strchr("'()+_,-./:=? ", c) == nullptr) return false;
  }
  return true;
}

// prefix (cut to fit) followed by "=_" and 16 random hexadecimal digits;
// "=_" cannot occur in base64 or quoted-printable text.
std::string RandomBoundary(std::string_view prefix) {
  std::random_device random;
  char tail[24];
  std::snprintf(tail, sizeof tail, "=_%08x%08x", random(), random());
  return std::string(prefix.substr(0, kMaxBoundary - std::strlen(tail))) + tail;
}

bool HasLineBreak(const char* text) {
  return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

}  // namespace

struct PARTWRIGHT_LOCAL MimeProcessor::Impl {
  struct Part {
    std::string type;
    std::string id;  // without brackets; empty for none
    std::string content;
    bool text = false;
  };

  std::string content_type;
  std::string boundary;
  std::vector<Part> parts;
  std::string full_type;
  std::string formatted;

  // Index of the part written first.
  size_t Root() const {
    for (size_t i = 0; i < parts.size(); ++i) {
      if (parts[i].text) return i;
    }
    return 0;
  }
  std::string PartHead(const Part& part) const {
    std::string head = "Content-Type: " + part.type + "\r\nContent-Transfer-Encoding: ";
    head += part.text ? "8bit\r\n" : "binary\r\n";
    if (!part.id.empty()) head += "Content-ID: <" + part.id + ">\r\n";
    return head + "\r\n";
  }
  bool Collides(const Part& part) const {
    const std::string delimiter = "--" + boundary;
    return ::memmem(part.content.data(), part.content.size(), delimiter.data(), delimiter.size()) !=
           nullptr;
  }
  // Bytes of one part: delimiter line, headers, content and line end.
  unsigned long long PartLength(const Part& part) const {
    return boundary.size() + 4 + PartHead(part).size() + part.content.size() + 2;
  }
  unsigned long long Length() const;
  bool Write(const std::function<bool(std::string_view)>& put) const;
  void AvoidCollision(const Part& added);
};

unsigned long long MimeProcessor::Impl::Length() const {
  if (parts.empty()) return 0;
  unsigned long long total = boundary.size() + 6;  // "--" boundary "--\r\n"
  for (const Part& part : parts) total += PartLength(part);
  return total;
}

// Hands the message to put piece by piece; false as soon as put refuses one.
bool MimeProcessor::Impl::Write(const std::function<bool(std::string_view)>& put) const {
  const size_t root = Root();
  for (size_t n = 0; n < parts.size(); ++n) {
    // The root goes first; the parts before it move up by one.
    const Part& part = parts[n == 0 ? root : (n <= root ? n - 1 : n)];
    if (!put("--") || !put(boundary) || !put("\r\n") || !put(PartHead(part)) ||
        !put(part.content) || !put("\r\n")) {
      return false;
    }
  }
  return put("--") && put(boundary) && put("--\r\n");
}

void MimeProcessor::Impl::AvoidCollision(const Part& added) {
  if (!Collides(added)) return;
  const std::string old = boundary;
  const std::string prefix = old.substr(0, old.find("=_"));
  bool clash = true;
  while (clash) {
    boundary = RandomBoundary(prefix);
    clash = false;
    for (const Part& part : parts) clash = clash || Collides(part);
    clash = clash || Collides(added);
  }
  Debug d("MimeProcessor::AddMIMEPart");
  d.print("Partwright: a part contains the boundary \"%s\"; using \"%s\"\n", old.c_str(),
          boundary.c_str());
}

MimeProcessor::MimeProcessor(const char* contentType, const char* boundary)
    : impl_(std::make_unique<Impl>()) {
  impl_->content_type = contentType != nullptr ? contentType : "";
  for (char& c : impl_->content_type) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (boundary != nullptr && IsValidBoundary(boundary)) {
    impl_->boundary = boundary;
  } else {
    impl_->boundary = RandomBoundary("partwright");
    if (boundary != nullptr) {
      std::string shown = std::string(boundary).substr(0, 80);
      for (char& c : shown) c = (c < ' ' || c == 0x7f) ? '?' : c;
      Debug d("MimeProcessor::MimeProcessor");
      d.logerror("Partwright", __LINE__, "Boundary \"%s\" not allowed; using \"%s\"\n",
                 shown.c_str(), impl_->boundary.c_str());
    }
  }
}

MimeProcessor::~MimeProcessor() = default;

int MimeProcessor::AddMIMEPart(const char* source, const char* contentType, const char* contentId,
                               int mode) {
  Debug d("MimeProcessor::AddMIMEPart");
  if (source == nullptr || (mode != -1 && mode != 0) || HasLineBreak(contentType) ||
      HasLineBreak(contentId)) {
    d.logerror("Partwright", __LINE__, "Part refused: %s\n",
               source == nullptr           ? "no source"
               : (mode != -1 && mode != 0) ? "unknown mode"
                                           : "line break in its type or id");
    return -1;
  }
  Impl::Part part;
  part.text = mode == 0;
  if (part.text) {
    part.content = source;
  } else {
    std::string error;
    if (!partwright::PartFile::ReadAll(source, kMaxMessage, part.content, error)) {
      d.logerror("Partwright", __LINE__, "Cannot read the part file: %s\n", error.c_str());
      return 0;
    }
  }
  part.type = contentType != nullptr && *contentType != '\0' ? contentType
              : part.text                                    ? "text/plain"
                                                             : "application/octet-stream";
  if (contentId != nullptr) {
    std::string_view id = partwright::TrimBlanks(contentId);
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
    part.id = std::string(id);
  }
  const unsigned long long closing = impl_->parts.empty() ? impl_->boundary.size() + 6 : 0;
  if (impl_->Length() + impl_->PartLength(part) + closing > kMaxMessage) {
    d.logerror("Partwright", __LINE__, "Part refused: the message would pass %llu bytes\n",
               kMaxMessage);
    return 0;
  }
  impl_->AvoidCollision(part);
  impl_->parts.push_back(std::move(part));
  return static_cast<int>(impl_->parts.size());
}

const char* MimeProcessor::GetFullContentType() {
  Impl& s = *impl_;
  partwright::HeaderValue value = partwright::HeaderValue::Parse(s.content_type);
  if (value.value.empty()) value.value = "Multipart/Related";
  if (!partwright::StartsWithNoCase(value.value, "multipart/")) {
    if (value.Find("type") == nullptr)
      value.params.insert(value.params.begin(), {"type", value.value});
    value.value = "Multipart/Related";
  }
  value.Remove("boundary");
  const bool related = partwright::EqualsNoCase(value.value, "multipart/related");
  const Impl::Part* root = s.parts.empty() ? nullptr : &s.parts[s.Root()];
  std::vector<partwright::HeaderValue::Param> added;
  if (related && root != nullptr) {
    const partwright::HeaderValue root_type = partwright::HeaderValue::Parse(root->type);
    if (value.Find("type") == nullptr) value.params.push_back({"type", root_type.value});
    if (value.Find("start") == nullptr && !root->id.empty()) {
      added.push_back({"start", "<" + root->id + ">"});
    }
    const std::string* type = value.Find("type");
    const std::string* inner = root_type.Find("type");
    if (partwright::EqualsNoCase(*type, "application/xop+xml") && inner != nullptr &&
        value.Find("start-info") == nullptr) {
      added.push_back({"start-info", *inner});
    }
  }
  value.params.push_back({"boundary", s.boundary});
  value.params.insert(value.params.end(), added.begin(), added.end());
  s.full_type = value.ToString();
  return s.full_type.c_str();
}

unsigned MimeProcessor::GetMessageLength(int) {
  const unsigned long long length = impl_->Length();
  return length > kMaxMessage ? 0 : static_cast<unsigned>(length);
}

const char* MimeProcessor::FormatMessageA(int, unsigned* length, IOHandler* out) {
  Debug d("MimeProcessor::FormatMessageA");
  if (length != nullptr) *length = 0;
  const unsigned total = GetMessageLength(0);
  if (total == 0) {
    d.logerror("Partwright", __LINE__, "No part to format\n");
    return nullptr;
  }
  const char* first = nullptr;
  if (out == nullptr) {
    impl_->formatted.clear();
    impl_->formatted.reserve(total);
    impl_->Write([this](std::string_view piece) {
      impl_->formatted.append(piece);
      return true;
    });
    first = impl_->formatted.data();
  } else {
    const unsigned long before = out->GetLength();
    const bool written = impl_->Write([out](std::string_view piece) {
      return piece.empty() || out->WriteStream(piece.data(), piece.size()) == piece.size();
    });
    if (!written || out->GetLength() - before != total || out->GetBuffer() == nullptr) {
      d.logerror("Partwright", __LINE__, "The output did not take the %u bytes of the message\n",
                 total);
      return nullptr;
    }
    first = out->GetBuffer() + before;
  }
  if (length != nullptr) *length = total;
  return first;
}
