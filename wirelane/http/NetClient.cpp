// NetClient: settings, request building, response access and the single request/response exchange.
#include "wirelane/http/NetClient.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/NoCase.h"
#include "sealvault/Debug.h"
#include "sealvault/Encoder.h"
#include "wirelane/http/WinHttpSock.h"

namespace {

// The cookie a client carries from one request to the next.
constexpr char kSessionCookie[] = "SessionId";

void StoreIfGiven(std::string& target, const char* text) {
  if (text != nullptr && *text != '\0') target = text;
}

}  // namespace

NetClient::NetClient(const char* user, const char* password, const char* extra,
                     const char* certFile, const char* version) {
  StoreIfGiven(m_strUser, user);
  StoreIfGiven(m_strPassword, password);
  StoreIfGiven(m_strCertFile, certFile);
  if (extra != nullptr) m_strExtra = extra;
  if (version != nullptr) m_strVersion = version;
  GetRequest();
}

NetClient::~NetClient() { Clear(); }

std::string NetClient::BasicCredentials(const std::string& user, const std::string& password) {
  const std::string plain = user + ":" + password;
  int length = static_cast<int>(plain.size());
  Encoder encoder("base64");
  const char* encoded =
      encoder.Encode(reinterpret_cast<const unsigned char*>(plain.data()), &length);
  return std::string("Basic ") + (encoded != nullptr ? encoded : "");
}

const char* NetClient::PassPhrase() const {
  return !m_strCertFile.empty() && m_strCertFile[0] == '@' ? m_strCertFile.c_str() + 1 : nullptr;
}

NetOutput* NetClient::GetRequest() {
  // Clear drops the request; the next use makes a fresh one.
  if (!m_pRequest) {
    m_pRequest = std::make_unique<NetOutput>(nullptr, PassPhrase(),
                                             m_strVersion.empty() ? nullptr : m_strVersion.c_str());
  }
  return m_pRequest.get();
}

void NetClient::Clear() {
  m_pRequest.reset();
  m_pResponse.reset();
  m_pSocket.reset();
  m_szRedirectURL.reset();
  m_szProxyHost.reset();
  m_szProxyUser.reset();
  m_szProxyPassword.reset();
}

void NetClient::ClearRequest() { GetRequest()->Clear(); }

void NetClient::ClearResponse() {
  if (m_pResponse) m_pResponse->Clear();
}

void NetClient::AddHeader(const char* name, const char* value) {
  GetRequest()->AddHeader(name, value);
}
void NetClient::AddHeader(const char* name, int value) { GetRequest()->AddHeader(name, value); }
void NetClient::SetCookie(const char* name, const char* value) {
  GetRequest()->SetCookie(name, value);
}
unsigned NetClient::Add(const char* name, const char* value) {
  return GetRequest()->Add(name, value);
}
unsigned NetClient::Add(const char* name, int value) { return GetRequest()->Add(name, value); }
int NetClient::Write(const char* data, int length) { return GetRequest()->Write(data, length); }
int NetClient::Write(const char* text) { return GetRequest()->Write(text); }

bool NetClient::AddAttachment(const char* path, const char* id, const char* type,
                              const char* container) {
  return GetRequest()->AddAttachment(path, id, type, container);
}

const char* NetClient::GetRequestHeader(const char* name) { return GetRequest()->GetHeader(name); }
KVMapImp<StringMap>* NetClient::GetRequestBody() { return GetRequest()->GetBody(); }

void NetClient::SetTimeout(unsigned long milliseconds) { m_nTimeout = milliseconds; }

void NetClient::SetCertFile(const char* path) { m_strCertFile = path != nullptr ? path : ""; }

void NetClient::SetProxy(const char* host, int port, const char* user, const char* password) {
  if (host != nullptr) {
    const std::string text = host;
    const size_t colon = text.find(':');
    m_szProxyHost = text.substr(0, colon);
    if (colon != std::string::npos) m_nProxyPort = std::atoi(text.c_str() + colon + 1);
  }
  if (port > 0) m_nProxyPort = port;
  if (user != nullptr && *user != '\0') m_szProxyUser = std::string(user);
  if (password != nullptr && *password != '\0') m_szProxyPassword = std::string(password);
}

void NetClient::SetProperty(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return;
  m_properties[name] = value;
}

const char* NetClient::GetProperty(const char* name) {
  if (name == nullptr) return nullptr;
  const auto found = m_properties.find(name);
  return found != m_properties.end() ? found->second.c_str() : nullptr;
}

const char* NetClient::GetRedirectURL() const {
  return m_szRedirectURL ? m_szRedirectURL->c_str() : nullptr;
}

// A response read from a socket has a status line, not a request line, so
// NetInput cannot rebuild it; the header text is composed here from the
// status fields and the header fields in their order.
const char* NetClient::ResponseHeaderText() {
  if (const char* rebuilt = m_pResponse->ReconstructRequestHeader()) return rebuilt;
  KVMapImp<StringMap>* fields = m_pResponse->GetHeader();
  if (fields == nullptr) return nullptr;
  auto field = [&](const char* name) {
    const char* value = fields->Get(name);
    return std::string(value != nullptr ? value : "");
  };
  m_strResponseHeader =
      field("HTTPVersion") + " " + field("HTTPStatus") + " " + field("HTTPReason") + "\r\n";
  for (unsigned i = 0; i < fields->GetCount(); ++i) {
    const char* name = fields->GetKey(i);
    const char* value = fields->Get(i);
    if (name == nullptr || value == nullptr || corvane::EqualsNoCase(name, "HTTPVersion") ||
        corvane::EqualsNoCase(name, "HTTPStatus") || corvane::EqualsNoCase(name, "HTTPReason"))
      continue;
    m_strResponseHeader.append(name).append(": ").append(value).append("\r\n");
  }
  m_strResponseHeader += "\r\n";
  return m_strResponseHeader.c_str();
}

const char* NetClient::Get(const char* name) {
  if (!m_pResponse) return nullptr;
  if (name != nullptr && corvane::EqualsNoCase(name, "ResponseHeader")) return ResponseHeaderText();
  return m_pResponse->Get(name);
}

const char* NetClient::GetHeader(const char* name) {
  if (!m_pResponse) return nullptr;
  if (name == nullptr) return ResponseHeaderText();
  return m_pResponse->GetHeader(name);
}

void NetClient::Set(const char* name, const char* value) {
  if (!m_pResponse) m_pResponse = std::make_unique<NetInput>(m_pSocket.get(), PassPhrase());
  m_pResponse->Set(name, value, 0);
}

char* NetClient::GetContent() { return m_pResponse ? m_pResponse->GetContent() : nullptr; }

int NetClient::GetContentLength() {
  return m_pResponse ? static_cast<int>(m_pResponse->GetContentLength()) : 0;
}

unsigned char* NetClient::GetAttachment(int index, unsigned long& length) {
  length = 0;
  return m_pResponse ? m_pResponse->GetAttachment(index, length) : nullptr;
}

unsigned char* NetClient::GetAttachment(const char* name, unsigned long& length) {
  length = 0;
  return m_pResponse ? m_pResponse->GetAttachment(name, length) : nullptr;
}

const char* NetClient::GetAttachmentProperty(int index, const char* property) {
  return m_pResponse ? m_pResponse->GetAttachmentProperty(index, property) : nullptr;
}

const char* NetClient::GetAttachmentProperty(const char* name, const char* property) {
  return m_pResponse ? m_pResponse->GetAttachmentProperty(name, property) : nullptr;
}

HTTPSock* NetClient::MakeSocket(bool secure) {
  if (GetProperty("WinSock") != nullptr) {
    return new (std::nothrow)
        WinHttpSock(0, m_strCertFile.empty() ? nullptr : m_strCertFile.c_str(), secure);
  }
  if (!secure)
    return new (std::nothrow)
        HTTPSock(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Auto, &m_properties);
  if (m_strCertFile.empty() || PassPhrase() != nullptr)
    return new (std::nothrow)
        HTTPSock(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::SSP, &m_properties);
  return new (std::nothrow)
      HTTPSock(CSocket::kNoDescriptor, m_strCertFile.c_str(), -1, HTTPSock::Auto, &m_properties);
}

void NetClient::ApplyTimeouts(HTTPSock& socket) {
  if (m_nTimeout != 0) {
    socket.SetTimeOut(SO_RCVTIMEO, static_cast<long>(m_nTimeout));
    socket.SetTimeOut(SO_SNDTIMEO, static_cast<long>(m_nTimeout));
    return;
  }
  if (const char* both = GetProperty("Timeout")) {
    socket.SetTimeOut(SO_RCVTIMEO, std::atol(both));
    socket.SetTimeOut(SO_SNDTIMEO, std::atol(both));
  }
  if (const char* receive = GetProperty("RecieveTimeout"))
    socket.SetTimeOut(SO_RCVTIMEO, std::atol(receive));
  if (const char* send = GetProperty("SendTimeout"))
    socket.SetTimeOut(SO_SNDTIMEO, std::atol(send));
}

void NetClient::CopyPeerCertificate(HTTPSock& socket) {
  const char* certificate = socket.GetProperty("PeerCertificate");
  if (certificate == nullptr) return;
  SetProperty("ServerCertificate", certificate);
  if (const char* expires = socket.GetProperty("PeerCertExpires"))
    SetProperty("PeerCertExpires", expires);
}

bool NetClient::RequestGoesToProxy(bool secure, int port) const {
  // HTTPSock tunnels TLS connections and port 443 through CONNECT; the
  // platform HTTP stack of "WinSock" does not use the proxy at all.
  return m_szProxyHost && !secure && port != 443 &&
         m_properties.find("WinSock") == m_properties.end();
}

int NetClient::Send(const char* method, const char* path, const char* host, int port, bool secure) {
  Debug debug("NetClient::Send");
  if (!m_pSocket) {
    m_pSocket.reset(MakeSocket(secure));
    if (!m_pSocket) return -1;
    if (port < 1) port = secure ? 443 : 80;
    ApplyTimeouts(*m_pSocket);
    if (m_szProxyHost) {
      m_pSocket->SetProxy(m_szProxyHost->c_str(), m_nProxyPort,
                          m_szProxyUser ? m_szProxyUser->c_str() : nullptr,
                          m_szProxyPassword ? m_szProxyPassword->c_str() : nullptr);
      // Only a proxy that reads the request gets the credentials in it. A
      // tunnel carries them in its CONNECT request; inside it (also after a
      // redirect from plain HTTP) they would reach the target server.
      if (!RequestGoesToProxy(secure, port))
        AddHeader("Proxy-Authorization", static_cast<const char*>(nullptr));
      else if (m_szProxyUser && m_szProxyPassword)
        AddHeader("Proxy-Authorization",
                  BasicCredentials(*m_szProxyUser, *m_szProxyPassword).c_str());
    }
    const int connected = m_pSocket->Connect(host, port);
    if (connected < 0) {
      const int error =
          m_pSocket->GetConnection() != nullptr ? m_pSocket->GetConnection()->GetLastError() : 0;
      debug.logerror("NetClient", __LINE__,
                     "NetClient::Send - Error connecting to server %s:%d, error code %d.\n",
                     host != nullptr ? host : "", port, error);
      m_pSocket.reset();
      return connected;
    }
    if (secure) CopyPeerCertificate(*m_pSocket);
    m_strOrigin = std::string(host != nullptr ? host : "") + ":" + std::to_string(port);
  }
  // The session cookie goes back only to the server that set it, and in the
  // request's one Cookie field: a second field beside the request's own
  // cookies is one of two a server may ignore. The request's own value of
  // the cookie (if any) comes back afterwards.
  NetOutput* request = GetRequest();
  const bool with_session = !m_strCookieLine.empty() && m_strCookieOrigin == m_strOrigin;
  std::optional<std::string> own_session;
  if (with_session) {
    if (const char* own = request->GetCookie(kSessionCookie)) own_session = own;
    request->SetCookie(kSessionCookie, m_strCookieLine.c_str() + std::strlen(kSessionCookie) + 1);
  }
  request->SetSocket(m_pSocket.get());
  const int sent = request->Send(2, false, method, path);
  if (with_session)
    request->SetCookie(kSessionCookie, own_session ? own_session->c_str() : nullptr);
  if (sent < 0) m_pSocket.reset();
  return sent;
}

int NetClient::Receive() {
  m_pResponse = std::make_unique<NetInput>(m_pSocket.get(), PassPhrase());
  const int result = m_pResponse->Receive();
  if (result < 0) {
    m_pSocket.reset();
    return result;
  }
  if (const char* session = m_pResponse->GetCookie(kSessionCookie)) {
    m_strCookieLine = std::string(kSessionCookie) + "=" + session;
    m_strCookieOrigin = m_strOrigin;
  }
  m_pResponse->ParseResponseHeader(nullptr);
  return result;
}

int NetClient::SendRequest(const char* method, const char* path, const char* host, int port,
                           bool secure) {
  int result = Send(method, path, host, port, secure);
  if (result < 0) return result;
  do {
    result = Receive();
    if (result < 0) return result;
  } while (m_pResponse->GetHeader("HTTPStatus") != nullptr &&
           std::atoi(m_pResponse->GetHeader("HTTPStatus")) == 100);
  m_pSocket.reset();
  return m_pResponse->GetHeader("HTTPStatus") != nullptr ? result : -1;
}

int NetClient::DownloadFile(const char* url, const char* path) {
  int result = SendRequest("GET", url);
  if (result > 0) {
    const int length = GetContentLength();
    FILE* file = path != nullptr ? std::fopen(path, "wb") : nullptr;
    const bool written =
        file != nullptr && std::fwrite(GetContent(), 1, static_cast<size_t>(length), file) ==
                               static_cast<size_t>(length);
    if (file != nullptr && std::fclose(file) != 0) result = -1;
    result = written && result != -1 ? length : -1;
  }
  ClearResponse();
  ClearRequest();
  m_pSocket.reset();
  return result;
}

char* NetClient::RetrieveFile(const char* method, const char* url) {
  m_strCookieLine.clear();
  const int result = SendRequest(method, url);
  ClearRequest();
  m_pSocket.reset();
  if (result < 0 || !m_pResponse) return nullptr;
  return m_pResponse->GetContent();
}
