// NetOutput: formatting the header block of a response or a request byte for byte.
#include <cstdio>
#include <cstring>
#include <string>

#include "sealvault/Debug.h"
#include "wirelane/http/FormEncoding.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/HttpStatus.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/NetOutputInternal.h"

using corvane::netoutput::ContainsNoCase;
using corvane::netoutput::HasLineBreak;
using corvane::netoutput::IsMethod;
using corvane::netoutput::kTag;

namespace {

bool HasField(const KVMapImp<StringMap>* fields, const char* name) {
  return fields != nullptr && fields->GetIndex(name) >= 0;
}

// A chunked body carries its own framing; a Content-Length beside it would
// contradict it (and the receiving side trusts the length first).
bool IsChunked(const KVMapImp<StringMap>* fields) {
  return HasField(fields, "Transfer-Encoding") || HasField(fields, "Transfer-coding");
}

// path with every "&amp;" (any case) turned into "&".
std::string UnescapeAmpersands(const char* path) {
  std::string out;
  for (const char* at = path; *at != '\0';) {
    if (std::strlen(at) >= 5 && corvane::EqualsNoCase(std::string_view(at, 5), "&amp;")) {
      out += '&';
      at += 5;
    } else {
      out += *at++;
    }
  }
  return out;
}

void LogDroppedField(const char* what, const char* name) {
  Debug debug("NetOutput::FormatHeader");
  // The name itself may hold the line break, so only its length is logged.
  debug.logerror(kTag, __LINE__, "A %s of %zu characters holding a line break was not sent.\n",
                 what, std::strlen(name));
}

}  // namespace

void NetOutput::FormatStatusLine(int status) {
  char line[80];
  std::snprintf(line, sizeof line, "%d %s\r\n", status, GetHttpStatusPhrase(status));
  WriteHeader("HTTP/1.1 ");
  WriteHeader(line);
}

void NetOutput::FormatHeader(bool keepAlive) {
  FormatStatusLine(m_nStatus);
  KVMapImp<StringMap>& header = HeaderMap();
  if (!HasField(&header, "Content-Type")) header.Set("Content-Type", "text/html");
  if (!HasField(&header, "Server")) header.Set("Server", "Corvane Server/3.01");
  header.Set("Connection", m_nStatus < 400 && keepAlive ? "Keep-Alive" : "Close");
  if (m_pCookie) {
    const std::string cookies = CookieText(",", true);
    if (!cookies.empty()) header.Set("Set-Cookie", cookies.c_str());
    m_pCookie->RemoveAll();  // each response sends its cookies once
  }
  FormatSocketHeader();
  if (!HasField(&header, "Content-Length") && !IsChunked(&header))
    header.Set("Content-Length", std::to_string(BodyLength()).c_str());
  WriteFields(header);
}

void NetOutput::FormatClientHeader(const char* method, const char* path) {
  if (m_pSocket == nullptr || !m_pSocket->OpenHttpRequest(method, path)) {
    std::string line = method;
    line += ' ';
    line += UnescapeAmpersands(path);
    if (IsMethod(method, "GET") && m_pBody && m_pBody->GetCount() != 0) {
      line += std::strchr(path, '?') != nullptr ? '&' : '?';
      line += EncodeFormData(m_pBody.get());
    }
    line += ' ';
    line += m_szVersion;
    line += "\r\n";
    WriteHeader(line.c_str(), static_cast<int>(line.size()));
  }
  if (m_pCookie && m_pCookie->GetItemCount() > 0) {
    const std::string cookies = CookieText("; ", false);
    if (!cookies.empty()) WriteHeader(("Cookie: " + cookies + "\r\n").c_str());
  }
  if (!HasField(m_pHeader.get(), "User-Agent")) WriteHeader("User-Agent: Corvane Client/3.02\r\n");
  FormatSocketHeader();
  if (!HasField(m_pHeader.get(), "Accept")) WriteHeader("Accept: */*\r\n");
  if (IsMethod(method, "POST") && !HasField(m_pHeader.get(), "Content-Length") &&
      !IsChunked(m_pHeader.get()))
    WriteHeader(("Content-Length: " + std::to_string(BodyLength()) + "\r\n").c_str());
  if (m_pHeader) WriteFields(*m_pHeader);
}

void NetOutput::FormatSocketHeader() {
  if (m_pSocket != nullptr && m_pSocket->GetHeader() != nullptr)
    WriteFields(*m_pSocket->GetHeader());
}

void NetOutput::WriteFields(const CObjMap& fields) {
  for (unsigned slot = 0; slot < fields.GetCount(); ++slot) {
    const char* name = fields.GetKey(slot);
    if (name == nullptr) continue;  // a free slot left by a removed field
    const char* value = fields.Get(slot);
    if (value == nullptr) value = "";
    if (HasLineBreak(name) || HasLineBreak(value)) {
      LogDroppedField("header field", name);
      continue;
    }
    WriteHeader((std::string(name) + ": " + value + "\r\n").c_str());
  }
}

std::string NetOutput::CookieText(const char* separator, bool versioned) {
  std::string text;
  for (unsigned slot = 0; slot < m_pCookie->GetCount(); ++slot) {
    const char* name = m_pCookie->GetKey(slot);
    if (name == nullptr) continue;
    const char* value = m_pCookie->Get(slot);
    if (value == nullptr) value = "";
    if (HasLineBreak(name) || HasLineBreak(value)) {
      LogDroppedField("cookie", name);
      continue;
    }
    if (!text.empty()) text += separator;
    text += name;
    text += '=';
    text += value;
    if (versioned && !ContainsNoCase(value, "Version")) text += ";Version=1";
  }
  return text;
}
