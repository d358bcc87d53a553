// SChannel: TLS connections and listeners over OpenSSL and POSIX sockets.
#include "sealvault/SChannel.h"

#include <arpa/inet.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <strings.h>

#include <cerrno>
#include <climits>
#include <string>

#include "OpenSslErrorInternal.h"
#include "TcpEndpointInternal.h"
#include "TlsContextsInternal.h"
#include "TlsIdentityInternal.h"
#include "platform/SystemError.h"
#include "sealvault/Debug.h"

namespace {

constexpr const char* kTag = "SChannel";
constexpr int kDefaultTimeoutMs = 120000;

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
  void operator()(X509* certificate) const { X509_free(certificate); }
  void operator()(BIO* bio) const { BIO_free(bio); }
};

bool IsNumericAddress(const char* host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// Text that OpenSSL prints into a memory BIO; empty when printing fails.
template <typename Print>
std::string PrintToText(Print print) {
  std::unique_ptr<BIO, SslFree> bio(BIO_new(BIO_s_mem()));
  if (bio == nullptr || !print(bio.get())) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

// Runs one OpenSSL I/O call, again while it was only interrupted by a signal.
// Sockets with a receive or send time-out fail with EINTR even for signals
// the process ignores (a SIGCHLD while another thread runs system(), say),
// and OpenSSL reports that as "want read/write", like a time-out.
template <typename Call>
int RetryInterrupted(SSL* ssl, Call call) {
  for (;;) {
    const int result = call();
    if (result > 0) return result;
    const bool interrupted = corvane::platform::LastSystemError() == EINTR;
    const int error = SSL_get_error(ssl, result);
    if (!interrupted || (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE))
      return result;
    corvane::ClearOpenSslErrors();
  }
}

}  // namespace

struct SChannel::State {
  std::string certificate_name;
  int fd = -1;
  int listen_fd = -1;
  int timeout_ms = kDefaultTimeoutMs;
  std::unique_ptr<SSL, SslFree> ssl;
  bool sound = false;  // handshake done and no fatal error since: close_notify may be sent
  std::shared_ptr<const corvane::TlsIdentity> identity;
  std::unique_ptr<X509, SslFree> peer;
  std::string peer_address;
  std::string peer_pem;
  std::string attribute;
};

SChannel::SChannel(unsigned int socket, const char* certificate, unsigned int, unsigned int, bool,
                   const char*)
    : state_(std::make_unique<State>()) {
  if (certificate != nullptr) state_->certificate_name = certificate;
  if (socket != kInvalidSocket) state_->fd = static_cast<int>(socket);
}

SChannel::~SChannel() { Disconnect(); }

int SChannel::Disconnect() {
  State& state = *state_;
  if (state.ssl != nullptr && state.sound) {
    corvane::TcpEndpoint::SigpipeGuard guard;
    SSL_shutdown(state.ssl.get());  // one-way: the peer's reply is not awaited
  }
  state.ssl.reset();
  state.sound = false;
  corvane::ClearOpenSslErrors();
  corvane::TcpEndpoint::Close(state.fd);
  corvane::TcpEndpoint::Close(state.listen_fd);
  return 0;
}

void SChannel::SetFd(unsigned int socket) {
  if (socket != kInvalidSocket && static_cast<int>(socket) == state_->fd && state_->ssl == nullptr)
    return;
  Disconnect();
  if (socket != kInvalidSocket) state_->fd = static_cast<int>(socket);
}

void SChannel::SetTimeout(int milliseconds) {
  if (milliseconds < 1) return;
  state_->timeout_ms = milliseconds;
  corvane::TcpEndpoint::SetTimeouts(state_->fd, milliseconds);
}

bool SChannel::AddTrustedCA(const char* path) { return corvane::TlsContexts::AddTrustedCa(path); }

int SChannel::Connect(const char* host, int port) {
  Debug log("SChannel::Connect");
  State& state = *state_;
  // A socket handed over by SetFd is used as it is; an earlier TLS session is
  // ended first, since a new handshake cannot run inside it.
  if (state.ssl != nullptr) Disconnect();
  if (!corvane::TcpEndpoint::IsConnected(state.fd)) {
    corvane::TcpEndpoint::Close(state.fd);
    state.fd = corvane::TcpEndpoint::Connect(host, port, state.timeout_ms, log);
    if (state.fd < 0) return -1;
  }
  return ConnectSSL(host);
}

int SChannel::ConnectSSL(const char* host) {
  Debug log("SChannel::ConnectSSL");
  if (host == nullptr || *host == '\0') {
    log.logerror(kTag, __LINE__,
                 "SChannel::ConnectSSL - no host name to verify the server against\n");
    Disconnect();
    return -1;
  }
  return Handshake(false, host);
}

int SChannel::Listen(const char* host, int port) {
  Debug log("SChannel::Listen");
  Disconnect();
  State& state = *state_;
  if (state.identity == nullptr)
    state.identity = corvane::TlsIdentity::Load(state.certificate_name.c_str(), log);
  if (state.identity == nullptr || corvane::TlsContexts::Server() == nullptr) return -1;
  state.listen_fd = corvane::TcpEndpoint::Listen(host, port, log);
  return state.listen_fd >= 0 ? 0 : -1;
}

SChannel* SChannel::Accept() {
  Debug log("SChannel::Accept");
  State& state = *state_;
  if (state.listen_fd < 0 || state.identity == nullptr) {
    log.logerror(kTag, __LINE__, "SChannel::Accept - not listening\n");
    return nullptr;
  }
  std::string peer_address;
  const int fd = corvane::TcpEndpoint::Accept(state.listen_fd, state.timeout_ms, peer_address, log);
  if (fd < 0) return nullptr;
  auto accepted = std::make_unique<SChannel>(kInvalidSocket, state.certificate_name.c_str(), 0, 0,
                                             false, nullptr);
  accepted->state_->fd = fd;
  accepted->state_->timeout_ms = state.timeout_ms;
  accepted->state_->identity = state.identity;
  accepted->state_->peer_address = std::move(peer_address);
  if (accepted->Handshake(true, nullptr) != 0) return nullptr;
  return accepted.release();
}

// Makes the TLS session for the held socket: context, certificate, and on
// the client side SNI and the name or address the certificate must match.
bool SChannel::PrepareSession(bool server, const char* host, Debug& log) {
  State& state = *state_;
  SSL_CTX* context = server ? corvane::TlsContexts::Server() : corvane::TlsContexts::Client();
  if (context == nullptr) return false;
  // A client certificate is optional: offered when the name resolves.
  if (!server && state.identity == nullptr && !state.certificate_name.empty())
    state.identity = corvane::TlsIdentity::Load(state.certificate_name.c_str(), log);

  state.ssl.reset(SSL_new(context));
  SSL* ssl = state.ssl.get();
  if (ssl == nullptr || SSL_set_fd(ssl, state.fd) != 1 ||
      (state.identity != nullptr && !state.identity->ApplyTo(ssl)))
    return false;
  if (server) return true;
  if (IsNumericAddress(host)) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host) == 1;
  SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  return SSL_set_tlsext_host_name(ssl, host) == 1 && SSL_set1_host(ssl, host) == 1;
}

// Runs the client (host given) or server handshake on the held socket. On
// failure the connection is closed and -1 returned.
int SChannel::Handshake(bool server, const char* host) {
  Debug log(server ? "SChannel::Accept" : "SChannel::ConnectSSL");
  State& state = *state_;
  state.ssl.reset();
  state.sound = false;
  state.peer.reset();
  if (state.fd < 0) {
    log.logerror(kTag, __LINE__, "SChannel - no connection to secure\n");
    return -1;
  }
  corvane::ClearOpenSslErrors();
  int result = -1;
  if (PrepareSession(server, host, log)) {
    corvane::TcpEndpoint::SigpipeGuard guard;
    SSL* ssl = state.ssl.get();
    result = RetryInterrupted(ssl, [&] { return server ? SSL_accept(ssl) : SSL_connect(ssl); });
  }
  SSL* ssl = state.ssl.get();
  if (result != 1) {
    const long verified = ssl != nullptr ? SSL_get_verify_result(ssl) : X509_V_OK;
    if (!server && verified != X509_V_OK)
      log.logging("SChannel - certificate of %s not accepted: %s\n", host,
                  X509_verify_cert_error_string(verified));
    const std::string what =
        server ? "SChannel::Accept - TLS handshake with " + state.peer_address + " failed"
               : std::string("SChannel::ConnectSSL - TLS handshake with ") + host + " failed";
    corvane::LogOpenSslErrors(log, kTag, __LINE__, what.c_str());
    Disconnect();
    return -1;
  }
  state.sound = true;
  CapturePeer();
  if (Debug::m_nDebugMode >= 4)
    log.print("SChannel - %s %s with %s\n", server ? "accepted" : "connected", SSL_get_version(ssl),
              SSL_get_cipher_name(ssl));
  return 0;
}

void SChannel::CapturePeer() {
  State& state = *state_;
  state.peer.reset(SSL_get1_peer_certificate(state.ssl.get()));
  state.peer_pem.clear();
  state.attribute.clear();
}

int SChannel::Read(char* buffer, unsigned int size) {
  State& state = *state_;
  if (state.ssl == nullptr || !state.sound || buffer == nullptr) return -1;
  if (size == 0) return 0;
  corvane::ClearOpenSslErrors();
  const int wanted = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  SSL* ssl = state.ssl.get();
  const int got = RetryInterrupted(ssl, [&] { return SSL_read(ssl, buffer, wanted); });
  if (got > 0) return got;
  const int error = SSL_get_error(state.ssl.get(), got);
  if (error == SSL_ERROR_ZERO_RETURN) return 0;
  Debug log("SChannel::Read");
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    log.logerror(kTag, __LINE__, "SChannel::Read - timed out after %d ms\n", state.timeout_ms);
  } else {
    state.sound = false;
    corvane::LogOpenSslErrors(log, kTag, __LINE__, "SChannel::Read - connection failed");
  }
  return -1;
}

int SChannel::Write(const char* data, unsigned int length) {
  State& state = *state_;
  if (state.ssl == nullptr || !state.sound || (data == nullptr && length > 0)) return -1;
  if (length == 0) return 0;
  if (length > INT_MAX) length = INT_MAX;
  corvane::ClearOpenSslErrors();
  int written;
  {
    corvane::TcpEndpoint::SigpipeGuard guard;
    SSL* ssl = state.ssl.get();
    written = RetryInterrupted(ssl, [&] { return SSL_write(ssl, data, static_cast<int>(length)); });
  }
  if (written > 0) return written;
  Debug log("SChannel::Write");
  const int error = SSL_get_error(state.ssl.get(), written);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    log.logerror(kTag, __LINE__, "SChannel::Write - timed out after %d ms\n", state.timeout_ms);
  } else {
    state.sound = false;
    corvane::LogOpenSslErrors(log, kTag, __LINE__, "SChannel::Write - connection failed");
  }
  return -1;
}

const char* SChannel::GetPeerCertificate() {
  State& state = *state_;
  if (state.peer == nullptr) return nullptr;
  state.peer_pem =
      PrintToText([&](BIO* bio) { return PEM_write_bio_X509(bio, state.peer.get()) == 1; });
  return state.peer_pem.empty() ? nullptr : state.peer_pem.c_str();
}

const char* SChannel::GetCertAttribute(const char* name) {
  State& state = *state_;
  if (state.peer == nullptr || name == nullptr) return nullptr;
  X509* peer = state.peer.get();
  if (strcasecmp(name, "Expiration") == 0) {
    state.attribute =
        PrintToText([&](BIO* bio) { return ASN1_TIME_print(bio, X509_get0_notAfter(peer)) == 1; });
  } else if (strcasecmp(name, "Subject") == 0 || strcasecmp(name, "Issuer") == 0) {
    X509_NAME* which =
        strcasecmp(name, "Subject") == 0 ? X509_get_subject_name(peer) : X509_get_issuer_name(peer);
    state.attribute = PrintToText(
        [&](BIO* bio) { return X509_NAME_print_ex(bio, which, 0, XN_FLAG_RFC2253) >= 0; });
  } else {
    return nullptr;
  }
  return state.attribute.empty() ? nullptr : state.attribute.c_str();
}

const char* SChannel::GetPeerAddress() const { return state_->peer_address.c_str(); }

int SChannel::GetLocalPort() const {
  return corvane::TcpEndpoint::LocalPort(state_->listen_fd >= 0 ? state_->listen_fd : state_->fd);
}
