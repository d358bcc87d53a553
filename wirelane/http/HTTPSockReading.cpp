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

// Splits text into lines at CR and LF; runs of breaks count as one, so empty
// lines disappear.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && IsLineBreak(text[at])) ++at;
    size_t end = at;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    if (end > at) lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

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
  std::vector<char> line(kMaxHeaderLine + 1);
  int result = 0;
  for (;;) {
    line[0] = '\0';
    result = m_pSocket->ReadLine(line.data(), static_cast<unsigned>(line.size()));
    if (result == 0) {
      // The connection ended inside a line: keep what arrived of it.
      block.append(line.data(), strnlen(line.data(), line.size()));
      break;
    }
    if (result < 0) break;
    const size_t length = static_cast<size_t>(result);
    if (length == kMaxHeaderLine && line[length - 1] != '\n') {
      debug.logerror("HTTPSOCK", __LINE__, "HTTP header line longer than %u bytes refused.\n",
                     kMaxHeaderLine);
      return false;
    }
    block.append(line.data(), length);
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
  const std::vector<std::string_view> lines = SplitLines(text != nullptr ? text : "");
  bool status_line = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string line(lines[i]);
    debug.print("%s\n", line.c_str());
    if (i == 0) {
      if (line[0] == ' ' || line[0] == '<') {
        // A response without status line: the body has started.
        header->Add("HTTPStatus", "200");
        return true;
      }
      if (StartsWithNoCase(line, "HTTP/")) {
        status_line = true;
        ParseResponseLine(line.c_str(), header);
      } else {
        ParseRequestLine(line);
      }
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      debug.logerror("HTTPSOCK", __LINE__,
                     "NetInput::ReadRequestHeader - Invalid string in header : %s\n", line.c_str());
      continue;
    }
    const std::string name = line.substr(0, colon);
    std::string value = line.substr(line.find_first_not_of(' ', colon + 1) == std::string::npos
                                        ? line.size()
                                        : line.find_first_not_of(' ', colon + 1));
    TrimRight(value.data(), "\r\n ");
    header->Add(name.c_str(), value.c_str());
  }
  // A request that announces a chunked body has no Content-Length; adding
  // "0" would make the body be skipped.
  if (!status_line && header->Get("Content-Length") == nullptr &&
      header->Get("Transfer-Encoding") == nullptr) {
    header->Add("Content-Length", "0");
  }
  return !lines.empty();
}

void HTTPSock::ParseRequestLine(const std::string& line) {
  std::unique_ptr<char[]> decoded(URLUnescape(line.c_str()));
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
