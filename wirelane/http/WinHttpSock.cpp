// WinHttpSock: hands NetOutput's messages to the platform request object and reads its response.
#include "wirelane/http/WinHttpSock.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <new>
#include <string_view>

#include "common/NoCase.h"
#include "platform/CertificateStore.h"
#include "platform/HttpRequest.h"
#include "sealvault/Debug.h"

namespace {

constexpr const char* kTag = "WinHttpSock";
constexpr const char* kAgent = "Corvane Private HTTP Agent 3.0";

bool ContainsNoCase(std::string_view text, std::string_view part) {
  for (size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (corvane::EqualsNoCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

std::string_view FieldName(std::string_view line) {
  std::string_view name = line.substr(0, line.find(':'));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return name;
}

// The header block as the request takes it: the field lines without the
// request line (written by the platform) and without Content-Length, whose
// value comes back in announced (-1 when absent or not a number).
std::string RequestFields(std::string_view block, long long& announced) {
  announced = -1;
  std::string fields;
  bool first = true;
  while (!block.empty()) {
    const size_t end = block.find_first_of("\r\n");
    const std::string_view line = block.substr(0, end);
    block.remove_prefix(end == block.npos ? block.size() : end + 1);
    if (line.empty()) continue;
    const bool requestLine = first && line.find(':') == line.npos;
    first = false;
    if (requestLine) continue;
    if (corvane::EqualsNoCase(FieldName(line), "Content-Length")) {
      std::string_view value = line.substr(line.find(':') + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      long long number = -1;
      const auto [rest, error] = std::from_chars(value.data(), value.data() + value.size(), number);
      if (error == std::errc() && number >= 0) announced = number;
      continue;
    }
    fields.append(line);
    fields += "\r\n";
  }
  return fields;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

WinHttpSock::WinHttpSock(unsigned, const char* certificate, bool secure)
    // The HTTPSock part's own connection is never used. It must not adopt the
    // descriptor: the HTTP client passes 0, and a connection owning
    // descriptor 0 would close standard input (or whatever reuses it) in
    // Close. It stays a plain one because the certificate text names a
    // subject for the request object, not a connection certificate.
    : HTTPSock(CSocket::kNoDescriptor, nullptr, -1, Auto, nullptr),
      m_hOpen(corvane::platform::MakeHttpRequest()),
      m_bSecure(secure) {
  if (certificate != nullptr) m_strCertificate = certificate;
  if (!m_hOpen->Open(kAgent)) {
    Debug debug("WinHttpSock::WinHttpSock");
    debug.logerror(kTag, __LINE__, "Error opening HTTP session - %s\n",
                   m_hOpen->LastError().c_str());
    m_hOpen.reset();
  }
}

WinHttpSock::~WinHttpSock() { Close(); }

HTTPSock* WinHttpSock::CreateSocket(unsigned descriptor, const char* certificate) {
  return new (std::nothrow) WinHttpSock(descriptor, certificate, false);
}

int WinHttpSock::Connect(const char* host, int port) {
  Debug debug("WinHttpSock::Connect");
  if (port == 443) m_bSecure = true;
  m_hConnect = m_hRequest = false;
  if (m_hOpen && host != nullptr && m_hOpen->Connect(host, port)) {
    m_hConnect = true;
    return 1;
  }
  debug.logerror(kTag, __LINE__, "WinHttpSock::Connect - Failed in connecting to %s.\n",
                 host != nullptr ? host : "(null)");
  return -1;
}

bool WinHttpSock::OpenHttpRequest(const char* method, const char* path) {
  Debug debug("WinHttpSock::OpenHttpRequest");
  m_hRequest = false;
  if (!m_hConnect || method == nullptr) return true;
  if (!m_hOpen->OpenRequest(method, path != nullptr ? path : "/", m_bSecure)) {
    debug.logerror(kTag, __LINE__, "Error opening HTTP request - %s\n",
                   m_hOpen->LastError().c_str());
    return true;
  }
  m_hRequest = true;
  // Set up front: TLS presents it only when the server asks for one, and a
  // subject that cannot be found leaves the request going on without.
  if (m_strCertificate.empty() || !SetClientCertificate(m_strCertificate.c_str()))
    m_hOpen->SetClientCertificate({}, {});
  return true;
}

bool WinHttpSock::SetClientCertificate(const char* subject) {
  Debug debug("WinHttpSock::SetClientCertificate");
  if (!m_hRequest || subject == nullptr) return false;
  const auto files = corvane::platform::CertificateStore::Resolve(subject);
  if (!files) {
    const std::string directory = corvane::platform::CertificateStore::Directory();
    if (!IsDirectory(directory) && !ContainsNoCase(subject, ".pem"))
      debug.logerror("Error open certificate store MY.\n");
    debug.logerror(kTag, __LINE__, "Certificate for subject %s could not be located in store MY.\n",
                   subject);
    return false;
  }
  m_hOpen->SetClientCertificate(files->certificate, files->key);
  return true;
}

int WinHttpSock::SendHttpHeader(const char* header, int length, int flag) {
  return SendHttpMessage(header, length, nullptr, flag);
}

int WinHttpSock::SendHttpMessage(const char* header, int headerLength, const unsigned char* body,
                                 int bodyLength) {
  Debug debug("WinHttpSock::SendHttpMessage");
  if (!m_hRequest) return -1;
  long long announced = -1;
  const std::string fields =
      header != nullptr && headerLength > 0
          ? RequestFields(std::string_view(header, static_cast<size_t>(headerLength)), announced)
          : std::string();
  if (!m_hOpen->AddHeaders(fields)) {
    debug.logerror("Error add HTTP request headers : %s\n", m_hOpen->LastError().c_str());
    return -1;
  }
  // bodyLength is the whole body even without a first piece (SendHttpHeader's
  // flag); a larger Content-Length announces more to come through Write.
  const size_t given = body != nullptr ? static_cast<size_t>(std::max(bodyLength, 0)) : 0;
  const size_t total = std::max({given, static_cast<size_t>(std::max(bodyLength, 0)),
                                 static_cast<size_t>(std::max(announced, 0LL))});
  if (!m_hOpen->Send(body, given, total)) {
    debug.logerror("Error sending request message - %s\n", m_hOpen->LastError().c_str());
    return -1;
  }
  return bodyLength;
}

int WinHttpSock::Write(const char* data, unsigned length) {
  Debug debug("WinHttpSock::Write");
  const long written = m_hRequest ? m_hOpen->Write(data, length) : -1;
  if (written < 0) {
    debug.logerror("Error sending data to server.\n");
    return 0;
  }
  return static_cast<int>(written);
}

int WinHttpSock::Read(char* buffer, unsigned size) {
  Debug debug("WinHttpSock::Read");
  if (!m_hRequest) return 0;
  // An int result carries the count.
  size = std::min(size, static_cast<unsigned>(INT_MAX));
  const long count = m_hOpen->Read(buffer, size);
  if (count < 0) {
    debug.logerror("Error reading response messages.\n");
    return 0;
  }
  return static_cast<int>(count);
}

bool WinHttpSock::ReadHTTPHeader(KVMapImp<StringMap>* header) {
  Debug debug("WinHttpSock::ReadHTTPHeader");
  if (!m_hRequest || !m_hOpen->ReceiveResponse()) {
    debug.logerror("Error receiving HTTP response message , error=%d\n",
                   m_hRequest ? m_hOpen->LastErrorCode() : -1);
    if (m_hRequest) debug.logerror("%s\n", m_hOpen->LastError().c_str());
    return false;
  }
  return ParseHttpHeader(header);
}

bool WinHttpSock::ParseHttpHeader(KVMapImp<StringMap>* header) {
  Debug debug("WinHttpSock::ParseHttpHeader");
  static const std::string kNone;
  const std::string& text = m_hRequest ? m_hOpen->RawHeaders() : kNone;
  if (text.empty() || header == nullptr) {
    debug.logerror("Error retrieving HTTP response header - %s\n",
                   m_hRequest ? "no response header" : "no request");
    return false;
  }
  const bool parsed = HTTPSock::ParseHttpHeader(text.c_str(), header);
  // The request object has removed the chunk framing already: without these
  // fields the reader takes the rest of the body as it comes. (A chunked
  // response's Content-Length, if any, never measured the body.)
  const char* coding = header->Get("Transfer-Encoding");
  if (coding != nullptr && ContainsNoCase(coding, "chunked")) {
    while (header->remove("Transfer-Encoding") >= 0) {
    }
    while (header->remove("Content-Length") >= 0) {
    }
  }
  return parsed;
}

void WinHttpSock::SetTimeOut(int, long milliseconds) {
  Debug debug("WinHttpSock::SetTimeOut");
  corvane::platform::HttpRequest::Timeouts timeouts;
  timeouts.resolveMs = timeouts.connectMs = timeouts.sendMs = timeouts.receiveMs = milliseconds;
  if (!m_hOpen || !m_hOpen->SetTimeouts(timeouts)) {
    debug.logerror("Error %u in WinHttpSetTimeouts.\n",
                   m_hOpen ? static_cast<unsigned>(m_hOpen->LastErrorCode()) : 0u);
  }
}

void WinHttpSock::Close() {
  HTTPSock::Close();
  if (m_hOpen) m_hOpen->Close();
  m_hOpen.reset();
  m_hConnect = m_hRequest = false;
}
