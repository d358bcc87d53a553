// HTTPSock: connection choice, connecting, forwarding, header fields and direct responses.
#include "wirelane/http/HTTPSock.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/NoCase.h"
#include "sealvault/Debug.h"
#include "wirelane/http/CookieText.h"
#include "wirelane/http/HttpStatus.h"
#include "wirelane/sockets/SSLSocket.h"
#include "wirelane/sockets/SSPSocket.h"

namespace {

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (corvane::EqualsNoCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

}  // namespace

CSocket* HTTPSock::CreateSocket(SocketType type, unsigned descriptor, const char* certificate,
                                const SocketPropertyMap* properties) {
  if (type != SSL && type != SSP && type != Plain) {
    if (certificate == nullptr || *certificate == '\0')
      type = Plain;
    else
      type = ContainsNoCase(certificate, ".pem") ? SSL : SSP;
  }
  switch (type) {
    case SSL:
      return new (std::nothrow) SSLSocket(descriptor, certificate, properties);
    case SSP:
      return new (std::nothrow) SSPSocket(descriptor, certificate, nullptr, properties);
    default:
      return new (std::nothrow) CSocket(descriptor, certificate, properties);
  }
}

void HTTPSock::Initialize() {
  m_pHeader = std::make_unique<KVMapImp<StringMap>>();
  m_pCookie.reset();
  m_pPeerCookie.reset();
  m_pMessageText.clear();
  m_szProxyHost.reset();
  m_pURL.reset();
  m_nProxyPort = 80;
  m_nStatus = 200;
}

HTTPSock::HTTPSock(unsigned descriptor, const char* certificate, int maxPostSize, SocketType type,
                   const SocketPropertyMap* properties)
    : m_nMaxPostSize(maxPostSize), m_nSocketType(type) {
  Initialize();
  m_pSocket.reset(CreateSocket(type, descriptor, certificate, properties));
}

HTTPSock::HTTPSock(CSocket* connection, SocketType type, int maxPostSize)
    : m_pSocket(connection), m_nMaxPostSize(maxPostSize), m_nSocketType(type) {
  Initialize();
}

HTTPSock::~HTTPSock() = default;

int HTTPSock::Write(const char* data, unsigned length) { return m_pSocket->Write(data, length); }

int HTTPSock::Write(const char* text) {
  return text != nullptr ? m_pSocket->Write(text, static_cast<unsigned>(std::strlen(text))) : 0;
}

int HTTPSock::Read(char* buffer, unsigned size) { return m_pSocket->Read(buffer, size); }
int HTTPSock::ReadLine(std::string& line) { return m_pSocket->ReadLine(line); }
int HTTPSock::ReadLine(char* buffer, unsigned size) { return m_pSocket->ReadLine(buffer, size); }
int HTTPSock::Listen(const char* host, int port) { return m_pSocket->Listen(host, port); }
void HTTPSock::Close() { m_pSocket->Close(); }
unsigned HTTPSock::GetFd() { return m_pSocket->GetFd(); }
void HTTPSock::SetFd(unsigned descriptor) { m_pSocket->SetFd(descriptor); }
BufferIOHandler* HTTPSock::GetIOHandler() { return m_pSocket->GetIOHandler(); }
const char* HTTPSock::GetIPAddr() { return m_pSocket->GetIPAddr(); }
const char* HTTPSock::GetLocalHostIp() { return m_pSocket->GetLocalHostIp(); }
const char* HTTPSock::GetErrString() { return m_pSocket->GetErrString(true); }

void HTTPSock::SetTimeOut(int option, long value) {
  m_pSocket->SetTimeOut(option, static_cast<int>(value));
}

void HTTPSock::SetProperty(const char* name, const char* value) {
  m_pSocket->SetProperty(name, value);
}

void HTTPSock::SetProperty(const SocketPropertyMap& properties) {
  m_pSocket->SetProperty(properties);
}

const char* HTTPSock::GetProperty(const char* name) { return m_pSocket->GetProperty(name); }

int HTTPSock::Connect(const char* host, int port) {
  if (host == nullptr) return -1;
  std::string host_field = host;
  host_field += ':';
  host_field += std::to_string(port);
  m_pHeader->Set("Host", host_field.c_str());
  m_pHeader->Set("Connection", "Close");
  if (!m_szProxyHost) return m_pSocket->Connect(host, port);
  // TLS must run end to end with the server, so a TLS connection always goes
  // through a tunnel, whatever its port (the handshake would otherwise be
  // made with the proxy itself).
  const bool tls = dynamic_cast<SSLSocket*>(m_pSocket.get()) != nullptr ||
                   dynamic_cast<SSPSocket*>(m_pSocket.get()) != nullptr;
  if (port == 443 || tls) {
    return m_pSocket->ProxyConnect(m_szProxyHost->c_str(), m_nProxyPort, m_strProxyUser.c_str(),
                                   m_strProxyPassword.c_str(), host, port);
  }
  return m_pSocket->Connect(m_szProxyHost->c_str(), m_nProxyPort);
}

int HTTPSock::Connect(const char* host, const char* port) {
  return Connect(host, port != nullptr ? std::atoi(port) : 0);
}

void HTTPSock::SetProxy(const char* host, int port, const char* user, const char* password) {
  if (host != nullptr) m_szProxyHost = std::string(host);
  if (port > 0) m_nProxyPort = port;
  if (user != nullptr) m_strProxyUser = user;
  if (password != nullptr) m_strProxyPassword = password;
}

HTTPSock* HTTPSock::Accept() {
  CSocket* connection = m_pSocket->Accept();
  if (connection == nullptr) return nullptr;
  HTTPSock* accepted = new (std::nothrow) HTTPSock(connection, m_nSocketType, m_nMaxPostSize);
  if (accepted == nullptr) delete connection;
  return accepted;
}

bool HTTPSock::OpenHttpRequest(const char*, const char*) { return false; }

int HTTPSock::SendHttpHeader(const char* header, int length, int) {
  return length > 0 ? Write(header, static_cast<unsigned>(length)) : 0;
}

int HTTPSock::SendHttpMessage(const char* header, int headerLength, const unsigned char* body,
                              int bodyLength) {
  int result = -1;
  if (header != nullptr) result = headerLength > 0 ? Write(header, static_cast<unsigned>(headerLength)) : 0;
  if (body != nullptr) {
    result = bodyLength > 0
                 ? Write(reinterpret_cast<const char*>(body), static_cast<unsigned>(bodyLength))
                 : 0;
  }
  return result;
}

void HTTPSock::AddHeader(const char* name, const char* value) { m_pHeader->Set(name, value); }

void HTTPSock::ClearHeader() { m_pHeader->RemoveAll(); }

void HTTPSock::SetCookie(const char* name, const char* value) {
  if (!m_pCookie) m_pCookie = std::make_unique<KVMapImp<StringMap>>();
  m_pCookie->Set(name, value);
}

void HTTPSock::ClearCookie() {
  if (m_pCookie) m_pCookie->RemoveAll();
}

int HTTPSock::ParseCookie(const char* text) {
  if (text == nullptr) return -1;
  if (!m_pPeerCookie) m_pPeerCookie = std::make_unique<KVMapImp<StringMap>>();
  m_pPeerCookie->RemoveAll();
  ParseCookieText(text, m_pPeerCookie.get());
  return 0;
}

const char* HTTPSock::GetCookie(const char* name) {
  return m_pPeerCookie ? m_pPeerCookie->Get(name) : nullptr;
}

void HTTPSock::FormatHeader() {
  std::string block;
  for (unsigned i = 0; i < m_pHeader->GetCount(); ++i) {
    const char* name = m_pHeader->GetKey(i);
    if (name == nullptr) continue;
    const char* value = m_pHeader->Get(i);
    block += name;
    block += ':';
    block += value != nullptr ? value : "";
    block += "\r\n";
  }
  if (m_pHeader->Get("Content-Type") == nullptr) block += "Content-Type: text/html\r\n";
  if (m_pCookie) {
    block += "Set-Cookie:";
    bool first = true;
    for (unsigned i = 0; i < m_pCookie->GetCount(); ++i) {
      const char* name = m_pCookie->GetKey(i);
      if (name == nullptr) continue;
      const char* value = m_pCookie->Get(i) != nullptr ? m_pCookie->Get(i) : "";
      if (!first) block += ',';
      first = false;
      block += name;
      block += "=\"";
      block += value;
      block += '"';
      if (!ContainsNoCase(value, "Version")) block += ";Version=\"1\"";
    }
    block += "\r\n";
    m_pCookie->RemoveAll();
  }
  Write(block.data(), static_cast<unsigned>(block.size()));
}

int HTTPSock::SendStatus(int status, const char* message, const char* extraHeader) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " " + GetHttpStatusPhrase(status) + "\r\n";
  if (extraHeader != nullptr) response += extraHeader;
  if (m_pHeader->Get("Content-Type") == nullptr) response += "Content-Type: text/html\r\n\r\n";
  if (message != nullptr) {
    response += "<html>";
    response += message;
    response += "</html>";
  }
  Write(response.data(), static_cast<unsigned>(response.size()));
  return m_pSocket->Flush();
}

void HTTPSock::Redirect(const char* url) {
  if (url != nullptr && std::strpbrk(url, "\r\n") != nullptr) {
    // A line break would end the Location field and start fields of the caller's choosing.
    Debug("HTTPSock::Redirect").logerror("HTTPSOCK", __LINE__, "Redirect target with a line break refused.\n");
    return;
  }
  ClearHeader();
  m_pSocket->ClearBuffer();
  const std::string location = std::string("Location: ") + (url != nullptr ? url : "") + "\r\n";
  SendStatus(302, "Content Moved...", location.c_str());
}

extern "C" HTTPSock* CreateSocket(int maxPostSize, const char* certificate) {
  return new (std::nothrow) HTTPSock(CSocket::kNoDescriptor, certificate, maxPostSize, HTTPSock::Auto, nullptr);
}

extern "C" void DestroySocket(HTTPSock* socket) { delete socket; }
