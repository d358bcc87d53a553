// Plain TCP socket: connection set-up, chunked writes, buffered line reading and CONNECT tunnels.
#include "wirelane/sockets/CSocket.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Sockets.h"
#include "platform/SystemError.h"
#include "sealvault/Debug.h"
#include "sealvault/Encoder.h"
#include "wirelane/sockets/ProxyReplyScannerInternal.h"
#include "wirelane/sockets/ReceiveBufferInternal.h"

namespace {

namespace platform = corvane::platform;

constexpr int kDefaultTimeoutMs = 120000;
constexpr int kDefaultChunkSize = 10240;
// A CONNECT reply is a status line and a few fields; anything longer is not
// a proxy worth waiting for.
constexpr std::size_t kLargestProxyReply = 65536;
// Any non-zero value switches SO_REUSEADDR on; this one is what callers
// have always passed.
constexpr int kReuseAddressValue = 1024;

const platform::SocketApi& Api() { return platform::Sockets(); }

platform::SocketHandle Handle(unsigned int descriptor) {
  return static_cast<platform::SocketHandle>(descriptor);
}

const char* Printable(const char* text) { return text != nullptr ? text : ""; }

bool IsDottedText(const char* host) {
  return std::strspn(host, "0123456789.") == std::strlen(host);
}

bool IsValidPort(int port) { return port >= 0 && port <= 65535; }

// A tunnel target goes into the request line and the Host field as it is, so
// blanks and control characters (CR LF would start new fields) are refused.
bool IsValidTunnelHost(const char* host) {
  if (host == nullptr || *host == '\0') return false;
  for (const char* c = host; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte <= ' ' || byte == 0x7f) return false;
  }
  return true;
}

void CopyText(char* target, std::size_t target_size, const char* text) {
  std::snprintf(target, target_size, "%s", text);
}

}  // namespace

CSocket::CSocket(unsigned int descriptor, const char* certificate,
                 const SocketPropertyMap* properties) {
  if (certificate != nullptr) certificate_ = certificate;
  if (properties != nullptr) properties_ = *properties;
  descriptor_ = descriptor;
  Initialize();
}

CSocket::~CSocket() {
  if (IsOpen()) CSocket::Close();
}

void CSocket::Initialize() {
  sock_error_ = 0;
  error_text_.reset();
  local_text_[0] = '\0';
  peer_text_[0] = '\0';
  bind_address_ = Endpoint{};
  peer_address_ = Endpoint{};
  host_name_.reset();
  client_ = 0;
  buffering_ = 0;
  output_ = std::make_unique<BufferIOHandler>();
  received_ = std::make_unique<corvane::ReceiveBuffer>();
  if (descriptor_ == kNoDescriptor) {
    const platform::SocketHandle created = Api().open_stream();
    if (created == platform::kNoSocket) {
      Debug d("CSocket::CSocket");
      d.logerror("csocket", __LINE__, "Unable to create socket: %s\n", LastErrorText().c_str());
      return;
    }
    descriptor_ = static_cast<unsigned int>(created);
  }
  SetTimeOut(platform::kReceiveTimeoutOption, kDefaultTimeoutMs);
  SetTimeOut(platform::kSendTimeoutOption, kDefaultTimeoutMs);
  Api().set_no_delay(Handle(descriptor_), true);
}

int CSocket::Write(const char* data, unsigned int length) {
  if (data == nullptr || !IsOpen()) return 0;
  if (length > static_cast<unsigned int>(INT_MAX)) {
    Debug d("CSocket::Write");
    d.logerror("csocket", __LINE__, "Cannot write %u bytes in one call\n", length);
    return -1;
  }
  const char* chunk_text = GetProperty("ChunkSize");
  int piece = chunk_text != nullptr ? std::atoi(chunk_text) : kDefaultChunkSize;
  // A piece of 0 or less makes one empty send whose result ends the write.
  piece = std::max(piece, 0);
  if (length < static_cast<unsigned int>(piece)) piece = static_cast<int>(length);

  unsigned int total = 0;
  while (total < length) {
    const unsigned int next = std::min(static_cast<unsigned int>(piece), length - total);
    const int result = WriteData(descriptor_, data + total, next);
    if (result < 1) return result;
    total += static_cast<unsigned int>(result);
  }
  return static_cast<int>(total);
}

int CSocket::Read(char* buffer, unsigned int size) {
  if (size == 0) return 0;
  if (buffer == nullptr) {
    Debug d("CSocket::Read");
    d.logerror("csocket", __LINE__, "Read called without a buffer\n");
    return -1;
  }
  buffer[0] = '\0';
  if (!IsOpen()) return 0;
  size = std::min(size, static_cast<unsigned int>(INT_MAX));

  unsigned int total = static_cast<unsigned int>(received_->Take(buffer, size));
  // The rest goes straight into the caller's buffer, as much per receive as
  // the connection has: a large body costs few system calls and no copy.
  while (total < size) {
    const int result = ReadData(descriptor_, buffer + total, size - total);
    if (result <= 0) break;
    total += static_cast<unsigned int>(result);
  }
  return static_cast<int>(total);
}

int CSocket::FillReceiveBuffer() {
  const int result = ReadData(descriptor_, received_->FillArea(),
                              static_cast<unsigned int>(corvane::ReceiveBuffer::kCapacity));
  if (result > 0) received_->Filled(static_cast<std::size_t>(result));
  return result;
}

// Hands the next line to sink piece by piece, at most limit bytes. Returns 1
// when the line ended (LF or NUL) or limit bytes were handed over, else the
// ReadData result (0 or negative) that cut it short.
int CSocket::CollectLine(std::size_t limit, const std::function<void(std::string_view)>& sink) {
  std::size_t stored = 0;
  while (stored < limit) {
    if (received_->Empty()) {
      const int result = FillReceiveBuffer();
      if (result <= 0) return result;
    }
    const auto piece = received_->TakeLinePiece(limit - stored);
    sink(piece.bytes);
    stored += piece.bytes.size();
    if (piece.end != corvane::ReceiveBuffer::LineEnd::kNone) return 1;
  }
  return 1;
}

int CSocket::ReadLine(char* buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) {
    Debug d("CSocket::ReadLine");
    d.logerror("csocket", __LINE__, "ReadLine needs a buffer of at least one byte\n");
    return -1;
  }
  buffer[0] = '\0';
  if (!IsOpen()) return -1;
  const std::size_t limit = std::min(size - 1, static_cast<unsigned int>(INT_MAX));
  std::size_t stored = 0;
  const int result = CollectLine(limit, [&](std::string_view piece) {
    std::memcpy(buffer + stored, piece.data(), piece.size());
    stored += piece.size();
  });
  buffer[stored] = '\0';
  return result <= 0 ? result : static_cast<int>(stored);
}

int CSocket::ReadLine(std::string& line) {
  line.clear();
  if (!IsOpen()) return 0;
  CollectLine(SIZE_MAX, [&line](std::string_view piece) { line.append(piece); });
  return static_cast<int>(std::min(line.size(), static_cast<std::size_t>(INT_MAX)));
}

int CSocket::WriteData(unsigned int descriptor, const char* data, unsigned int length) {
  if (buffering_ != 0) return static_cast<int>(output_->WriteStream(data, length));
  return Api().send(Handle(descriptor), data, length);
}

int CSocket::ReadData(unsigned int descriptor, char* buffer, unsigned int size) {
  return Api().receive(Handle(descriptor), buffer, size);
}

int CSocket::Flush() {
  if (buffering_ == 0) return 0;
  buffering_ = 0;
  const int result = Write(output_->GetBuffer(), static_cast<unsigned int>(output_->GetLength()));
  output_ = std::make_unique<BufferIOHandler>();
  buffering_ = 1;
  return result;
}

unsigned int CSocket::GetFd() { return descriptor_; }

void CSocket::SetFd(unsigned int descriptor) {
  descriptor_ = descriptor;
  received_->Clear();
}

bool CSocket::ResolveHost(const char* host, std::uint32_t* address, std::string* error) {
  if (IsDottedText(host)) {
    if (error != nullptr) error->clear();
    return Api().parse_dotted(host, address);
  }
  return Api().resolve(host, address, error) == 0;
}

int CSocket::Connect(const char* host, int port) {
  Debug d("CSocket::Connect");
  client_ = 1;
  if (host == nullptr || *host == '\0') return -1;
  host_name_ = host;
  sock_error_ = 0;
  received_->Clear();
  if (!IsValidPort(port)) {
    d.logerror("csocket", __LINE__, "Invalid port %d for %s\n", port, host);
    return -1;
  }
  peer_address_ = Endpoint{0, static_cast<std::uint16_t>(port)};

  std::string resolver_error;
  if (!ResolveHost(host, &peer_address_.address, &resolver_error)) {
    if (IsDottedText(host)) return -1;  // not an address; callers expect no message here
    SetErrString(resolver_error.c_str());
    PrintError("gethostbyname for %s failed : %s\n", host, GetErrString());
    return -1;
  }
  SetSockLevelOpt(platform::kReuseAddressOption, kReuseAddressValue);
  d.print("Connecting to %s:%d\n", host, port);
  const int result = Api().connect(
      Handle(descriptor_), platform::Ipv4Endpoint{peer_address_.address, peer_address_.port});
  if (result != 0) {
    d.logerror("csocket", __LINE__, "Error connecting to %s:%d, %s\n", host, port,
               LastErrorText().c_str());
  }
  return result;
}

int CSocket::Connect(const char* host, const char* port) {
  if (port == nullptr) {
    Debug d("CSocket::Connect");
    d.logerror("csocket", __LINE__, "Connect to %s without a port\n", Printable(host));
    return -1;
  }
  return Connect(host, std::atoi(port));
}

// Fills the bind address for Listen. A name that does not resolve leaves
// every interface (as callers have always had it); a dotted text that is no
// address fails.
bool CSocket::SetBindAddress(const char* host, int port) {
  bind_address_ = Endpoint{0, static_cast<std::uint16_t>(port)};
  if (host == nullptr || *host == '\0' || ResolveHost(host, &bind_address_.address, nullptr))
    return true;
  Debug d("CSocket::Listen");
  if (IsDottedText(host)) {
    // Linux would bind it as the broadcast address and then listen where no
    // connection can ever arrive.
    d.logerror("csocket", __LINE__, "CSocket::Listen - Invalid address %s.\n", host);
    return false;
  }
  d.logerror("csocket", __LINE__,
             "CSocket::Listen - Unable to get host (%s) address using gethostbyname.\n", host);
  bind_address_.address = 0;
  return true;
}

int CSocket::Listen(const char* host, int port) {
  Debug d("CSocket::Listen");
  bind_address_ = Endpoint{};
  peer_address_ = Endpoint{};
  host_name_.reset();
  if (host != nullptr) host_name_ = host;
  if (!IsOpen()) {
    const platform::SocketHandle created = Api().open_stream();
    if (created == platform::kNoSocket) {
      d.logerror("csocket", __LINE__, "CSocket::Listen - Unable to create socket, last error: %s\n",
                 LastErrorText().c_str());
      return -1;
    }
    descriptor_ = static_cast<unsigned int>(created);
    if (SetSockLevelOpt(platform::kReuseAddressOption, kReuseAddressValue) != 0) {
      d.logerror("csocket", __LINE__,
                 "CSocket::Listen - Error setsockopt to SO_REUSEADDR, last error: %s\n",
                 LastErrorText().c_str());
    }
  }
  received_->Clear();
  if (!IsValidPort(port)) {
    d.logerror("csocket", __LINE__, "CSocket::Listen - Invalid port %d\n", port);
    return -1;
  }

  if (!SetBindAddress(host, port)) return -1;
  const platform::Ipv4Endpoint local{bind_address_.address, bind_address_.port};
  if (Api().bind(Handle(descriptor_), local) != 0) {
    d.logerror("csocket", __LINE__,
               "CSocket::Listen - Unable to bind socket on %s. Last error: %s\n", Printable(host),
               LastErrorText().c_str());
    return -1;
  }
  const int result = Api().listen(Handle(descriptor_));
  if (result != 0) {
    d.logerror("csocket", __LINE__,
               "CSocket::Listen - Unable to listen on Socket on %s, last error: %s.\n",
               Printable(host), LastErrorText().c_str());
    return result;
  }
  // Linux applies the receive time-out to accept as well; a listener waits
  // for its next connection without limit unless the host sets one later.
  SetTimeOut(platform::kReceiveTimeoutOption, 0);
  return result;
}

CSocket* CSocket::Accept() {
  platform::Ipv4Endpoint peer;
  const platform::SocketHandle accepted = Api().accept(Handle(descriptor_), &peer);
  if (accepted == platform::kNoSocket) {
    Debug d("CSocket::Accept");
    d.logerror("csocket", __LINE__, "CSocket::Accept - accept failed: %s\n",
               LastErrorText().c_str());
    return nullptr;
  }
  peer_address_ = Endpoint{peer.address, peer.port};
  CSocket* created = CreateSocket(static_cast<unsigned int>(accepted), nullptr, &properties_);
  if (created == nullptr) {
    Api().close(accepted);
    return nullptr;
  }
  char dotted[platform::kDottedAddressSize];
  Api().format_dotted(peer.address, dotted);
  CopyText(created->peer_text_, sizeof created->peer_text_, dotted);
  return created;
}

CSocket* CSocket::CreateSocket(unsigned int descriptor, const char* certificate,
                               const SocketPropertyMap* properties) {
  return std::make_unique<CSocket>(descriptor, certificate, properties).release();
}

void CSocket::Close() {
  if (IsOpen()) {
    Api().shutdown_send(Handle(descriptor_));
    Api().close(Handle(descriptor_));
  }
  host_name_.reset();
  descriptor_ = kNoDescriptor;
  received_->Clear();
}

int CSocket::SetSockLevelOpt(int option, int value) {
  return Api().set_socket_option(Handle(descriptor_), option, value);
}

void CSocket::SetTimeOut(int option, int value) { SetSockLevelOpt(option, value); }

int CSocket::GetLastError() { return platform::LastSystemError(); }

std::string CSocket::LastErrorText() {
  return platform::SystemErrorText(platform::LastSystemError());
}

void CSocket::PrintError(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Debug d("CSocket");
  d.logerror("%s", text);
}

const char* CSocket::GetHostName() const { return host_name_ ? host_name_->c_str() : nullptr; }

const char* CSocket::GetCert() const { return certificate_ ? certificate_->c_str() : nullptr; }

int CSocket::GetLocalPort() const {
  platform::Ipv4Endpoint local;
  if (!IsOpen() || Api().local_endpoint(Handle(descriptor_), &local) != 0) return -1;
  return local.port;
}

unsigned int CSocket::BufferedInputLength() const {
  return static_cast<unsigned int>(received_->Size());
}

int CSocket::Write(const char* text) {
  if (text == nullptr) return 0;
  return Write(text, static_cast<unsigned int>(std::strlen(text)));
}

int CSocket::Write(const unsigned short* text) {
  if (text == nullptr) return 0;
  std::size_t units = 0;
  while (text[units] != 0) ++units;
  return Write(reinterpret_cast<const char*>(text), static_cast<unsigned int>(units * 2));
}

const char* CSocket::GetOutputBuffer() { return output_->GetBuffer(); }

void CSocket::ClearBuffer() { output_ = std::make_unique<BufferIOHandler>(); }

void CSocket::SetErrString(const char* text) {
  if (text != nullptr) {
    error_text_ = text;
    return;
  }
  char generic[80];
  std::snprintf(generic, sizeof generic, "Socket Error : %d", GetLastError());
  error_text_ = generic;
}

const char* CSocket::GetErrString(bool refresh) {
  if (!error_text_ || refresh) SetErrString(nullptr);
  return error_text_->c_str();
}

const char* CSocket::GetLocalHostIp() {
  CopyText(local_text_, sizeof local_text_, "127.0.0.1");
  char name[200];
  std::uint32_t address = 0;
  if (Api().host_name(name, sizeof name) != 0 || Api().resolve(name, &address, nullptr) != 0) {
    return local_text_;
  }
  char dotted[platform::kDottedAddressSize];
  Api().format_dotted(address, dotted);
  if (dotted[0] != '\0') CopyText(local_text_, sizeof local_text_, dotted);
  return local_text_;
}

int CSocket::SendPlain(const char* data, std::size_t length) {
  std::size_t total = 0;
  while (total < length) {
    const int result = Api().send(Handle(descriptor_), data + total, length - total);
    if (result < 1) return result;
    total += static_cast<std::size_t>(result);
  }
  return static_cast<int>(total);
}

int CSocket::ProxyConnect(const char* proxyHost, int proxyPort, const char* user,
                          const char* password, const char* host, int port) {
  Debug d("CSocket::ProxyConnect");
  if (!IsValidTunnelHost(host)) {
    d.logerror("Invalid tunnel host \"%s\" for proxy server %s:%d\n", Printable(host),
               Printable(proxyHost), proxyPort);
    return -1;
  }
  const int connected = CSocket::Connect(proxyHost, proxyPort);
  if (connected < 0) {
    d.logerror("Error connect to proxy server : %s:%d\n", Printable(proxyHost), proxyPort);
    return connected;
  }

  std::string request = "CONNECT ";
  request.append(host)
      .append(":")
      .append(std::to_string(port))
      .append(" HTTP/1.0\r\nHost: ")
      .append(host);
  if (user != nullptr && password != nullptr && *user != '\0') {
    const std::string credentials = std::string(user) + ":" + password;
    Encoder encoder("base64");
    int length = static_cast<int>(credentials.size());
    const char* encoded =
        encoder.Encode(reinterpret_cast<const unsigned char*>(credentials.data()), &length);
    request.append("\r\nProxy-Authorization: Basic ");
    if (encoded != nullptr) request.append(encoded, static_cast<std::size_t>(length));
  }
  request.append("\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n\r\n");

  // Sent straight to the connection: buffered output must not hold the
  // request back while the reply is awaited.
  if (SendPlain(request.data(), request.size()) < 1) {
    d.logerror("Error send tunneling request to proxy server : %s:%d, %s\n", proxyHost, proxyPort,
               LastErrorText().c_str());
    return -1;
  }
  return ReadProxyReply(proxyHost, proxyPort);
}

// Consumes the proxy's reply headers and nothing after them: bytes are peeked,
// scanned for the end of the headers and only the reply's share is taken from
// the connection, so tunnelled bytes (a TLS handshake, an early response)
// stay queued for whoever reads next.
int CSocket::ReadProxyReply(const char* proxyHost, int proxyPort) {
  Debug d("CSocket::ProxyConnect");
  corvane::ProxyReplyScanner scanner;
  char peeked[4096];
  while (!scanner.Done()) {
    const int count = Api().peek(Handle(descriptor_), peeked, sizeof peeked);
    if (count <= 0) {
      d.logerror("Proxy server %s:%d ended its reply early: %s\n", proxyHost, proxyPort,
                 count == 0 ? "connection closed" : LastErrorText().c_str());
      return -1;
    }
    std::size_t used = scanner.Feed(std::string_view(peeked, static_cast<std::size_t>(count)));
    while (used > 0) {
      const int taken = Api().receive(Handle(descriptor_), peeked, used);
      if (taken <= 0) {
        d.logerror("Proxy server %s:%d: reading its reply failed: %s\n", proxyHost, proxyPort,
                   LastErrorText().c_str());
        return -1;
      }
      used -= static_cast<std::size_t>(taken);
    }
    if (!scanner.Done() && scanner.Length() > kLargestProxyReply) {
      d.logerror("Reply of proxy server %s:%d is longer than %zu bytes\n", proxyHost, proxyPort,
                 kLargestProxyReply);
      return -1;
    }
  }
  if (!scanner.Granted()) {
    d.logerror("Proxy server %s:%d refused the tunnel\n", proxyHost, proxyPort);
    return -1;
  }
  return 0;
}

void CSocket::SetIPAddr(const char* text) {
  CopyText(peer_text_, sizeof peer_text_, text != nullptr ? text : "");
}
