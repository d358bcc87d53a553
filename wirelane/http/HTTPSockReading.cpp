// HTTPSock: reading header blocks and bodies, and parsing header text into maps.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/NoCase.h"
#include "common/TextFunctions.h"
#include "sealvault/Debug.h"
#include "wirelane/http/HTTPSock.h"

namespace {

constexpr unsigned kBodyPiece = 1048575;  // bodies read up to the end arrive in pieces of this size

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && corvane::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// A Content-Length value as a count, or -1 when it is missing, not a number,
// negative or beyond what an int can hold.
long long ContentLengthOf(const char* text) {
  if (text == nullptr) return -1;
  while (*text == ' ' || *text == '\t') ++text;
  if (*text < '0' || *text > '9') return -1;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno == ERANGE || value > INT_MAX) return -1;
  return value;
}

}  // namespace

bool HTTPSock::ReadHTTPHeader(KVMapImp<StringMap>* header) {
  Debug debug("HTTPSock::ReadHTTPHeader");
  std::string block;
  // Left uninitialised: ReadLine terminates what it stores, and zeroing 64 KB
  // for every header would cost more than parsing it.
  if (!line_buffer_) line_buffer_.reset(new char[kMaxHeaderLine + 1]);
  char* const line = line_buffer_.get();
  const unsigned line_size = kMaxHeaderLine + 1;
  int result = 0;
  for (;;) {
    line[0] = '\0';
    result = m_pSocket->ReadLine(line, line_size);
    if (result == 0) {
      // The connection ended inside a line: keep what arrived of it.
      block.append(line, strnlen(line, line_size));
      break;
    }
    if (result < 0) break;
    const size_t length = static_cast<size_t>(result);
    if (length == kMaxHeaderLine && line[length - 1] != '\n') {
      debug.logerror("HTTPSOCK", __LINE__, "HTTP header line longer than %u bytes refused.\n",
                     kMaxHeaderLine);
      return false;
    }
    block.append(line, length);
    if (block.size() > kMaxHeaderBlock) {
      debug.logerror("HTTPSOCK", __LINE__, "HTTP header block longer than %u bytes refused.\n",
                     kMaxHeaderBlock);
      return false;
    }
    const char first = line[0];
    if (first == '\0' || first == '\r' || first == '\n') break;
  }
  if (result < 0) return false;
  ParseHttpHeader(block.c_str(), header);
  return true;
}

bool HTTPSock::ParseHttpHeader(const char* text, KVMapImp<StringMap>* header) {
  Debug debug("HTTPSock::ParseHttpHeader");
  if (header == nullptr) return false;
  // One working copy; lines, names and values are cut out of it in place.
  std::string work(text != nullptr ? text : "");
  char* at = work.data();
  char* const end = at + work.size();
  bool any_line = false;
  bool status_line = false;
  while (at < end) {
    // Runs of CR and LF count as one break, so empty lines disappear.
    while (at < end && IsLineBreak(*at)) ++at;
    if (at >= end) break;
    char* const line = at;
    while (at < end && !IsLineBreak(*at)) ++at;
    if (at < end) *at++ = '\0';
    debug.print("%s\n", line);
    if (!any_line) {
      any_line = true;
      if (line[0] == ' ' || line[0] == '<') {
        // A response without status line: the body has started.
        header->Add("HTTPStatus", "200");
        return true;
      }
      if (StartsWithNoCase(line, "HTTP/")) {
        status_line = true;
        ParseResponseLine(line, header);
      } else {
        ParseRequestLine(line);
      }
      continue;
    }
    char* const colon = std::strchr(line, ':');
    if (colon == nullptr) {
      debug.logerror("HTTPSOCK", __LINE__,
                     "NetInput::ReadRequestHeader - Invalid string in header : %s\n", line);
      continue;
    }
    *colon = '\0';
    char* value = colon + 1;
    while (*value == ' ') ++value;
    TrimRight(value, "\r\n ");
    header->Add(line, value);
  }
  // A request that announces a chunked body has no Content-Length; adding
  // "0" would make the body be skipped.
  if (!status_line && header->Get("Content-Length") == nullptr &&
      header->Get("Transfer-Encoding") == nullptr) {
    header->Add("Content-Length", "0");
  }
  return any_line;
}

void HTTPSock::ParseRequestLine(const char* line) {
  std::unique_ptr<char[]> decoded(URLUnescape(line));
  m_pURL = std::make_unique<URL>(decoded.get());
}

bool HTTPSock::ParseResponseLine(const char* line, KVMapImp<StringMap>* header) {
  const std::string_view text(line != nullptr ? line : "");
  constexpr const char* kSeparators = " \r\n\t";
  size_t at = text.find_first_not_of(kSeparators);
  for (int token = 0; token < 2 && at != std::string_view::npos; ++token) {
    const size_t end = std::min(text.find_first_of(kSeparators, at), text.size());
    const std::string word(text.substr(at, end - at));
    if (token == 0 && StartsWithNoCase(word, "http/")) header->Add("HTTPVersion", word.c_str());
    if (token == 1) header->Add("HTTPStatus", word.c_str());
    at = text.find_first_not_of(kSeparators, end);
  }
  if (at != std::string_view::npos) {
    std::string reason(text.substr(at));
    TrimRight(reason.data(), "\r\n \t");
    header->Add("HTTPReason", reason.c_str());
  }
  return true;
}

char* HTTPSock::ReadHTTPMessage(KVMapImp<StringMap>* header, int& size) {
  Debug debug("HTTPSock::ReadHTTPMessage");
  size = 0;
  if (!ReadHTTPHeader(header)) return nullptr;
  const long long declared = ContentLengthOf(header->Get("Content-Length"));
  const bool limited = m_nMaxPostSize > 0;
  if (declared > 0 && limited && declared > m_nMaxPostSize) {
    debug.logerror("HTTPSOCK", __LINE__,
                   "Request contains %d bytes data, exceeds MaxPostSize %d. Connection terminated.\n",
                   static_cast<int>(declared), m_nMaxPostSize);
    return nullptr;
  }
  m_pMessageText.clear();
  if (declared == 0) {
    // An announced empty body: waiting for the end of the connection would
    // keep a client that waits for its answer hanging until the time-out.
    return m_pMessageText.data();
  }
  if (declared > 0) {
    // Grow with what really arrives rather than trusting the declared size up front.
    size_t done = 0;
    while (done < static_cast<size_t>(declared)) {
      const size_t piece = std::min<size_t>(kBodyPiece, static_cast<size_t>(declared) - done);
      m_pMessageText.resize(done + piece);
      const int got = Read(m_pMessageText.data() + done, static_cast<unsigned>(piece));
      if (got < 1) break;
      done += static_cast<size_t>(got);
    }
    m_pMessageText.resize(done);
    if (done == 0) return nullptr;
  } else {
    std::vector<char> piece(kBodyPiece);
    for (;;) {
      const int got = Read(piece.data(), kBodyPiece);
      if (got < 1) break;
      m_pMessageText.append(piece.data(), static_cast<size_t>(got));
      if (limited && m_pMessageText.size() > static_cast<size_t>(m_nMaxPostSize)) {
        debug.logerror("HTTPSOCK", __LINE__,
                       "Request contains %d bytes data, exceeds MaxPostSize %d. Connection terminated.\n",
                       static_cast<int>(m_pMessageText.size()), m_nMaxPostSize);
        m_pMessageText.clear();
        return nullptr;
      }
    }
  }
  size = static_cast<int>(m_pMessageText.size());
  return m_pMessageText.data();
}
