// SSLSocket: TLS handshakes, transfers, peer certificate reporting and certificate issuing over
// OpenSSL.
#include "wirelane/sockets/SSLSocket.h"

#include <arpa/inet.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "common/FileFunctions.h"
#include "common/NoCase.h"
#include "platform/Sockets.h"
#include "sealvault/Debug.h"
#include "wirelane/sockets/ProgramRunnerInternal.h"
#include "wirelane/sockets/SslContextInternal.h"
#include "wirelane/sockets/SslErrorsInternal.h"
#include "wirelane/sockets/SslSocketBioInternal.h"

namespace {

namespace tls = corvane::tls;
using tls::kLogTag;

constexpr int kDefaultTimeoutMs = 120000;
constexpr int kSigningTimeoutMs = 60000;
constexpr int kSharedCipherTextSize = 1024;
constexpr const char* kServerName = "Corvane Server/3.01";

struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

const char* Printable(const char* text) { return text != nullptr ? text : "(null)"; }

// The slot of an SSL object that points back at its SSLSocket, for the
// new-session callback. Made once per process.
int OwnerIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

std::string MemoryText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 && data != nullptr ? std::string(data, static_cast<std::size_t>(length))
                                       : std::string();
}

std::size_t FindNoCase(std::string_view text, std::string_view part) {
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (corvane::EqualsNoCase(text.substr(at, part.size()), part)) return at;
  }
  return std::string_view::npos;
}

bool IsIpAddress(const char* host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// A request file name goes into openssl's arguments and into the output
// path: no option look-alikes, no directories, no control characters.
bool IsPlainFileName(const char* name) {
  if (name == nullptr || *name == '\0' || *name == '-') return false;
  const std::string_view text(name);
  if (text == "." || text == "..") return false;
  for (const char c : text) {
    if (c == '/' || static_cast<unsigned char>(c) < ' ' || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

void SSLSocket::OpenSslFree::operator()(ssl_st* connection) const { SSL_free(connection); }
void SSLSocket::OpenSslFree::operator()(ssl_session_st* session) const {
  SSL_SESSION_free(session);
}

SSLSocket::SSLSocket(unsigned int descriptor, const char* certificate,
                     const SocketPropertyMap* properties)
    : CSocket(descriptor, certificate, properties) {
  if (certificate != nullptr) {
    certificate_file_ = certificate;
    SSLSocket::InitializeSSL();
  }
}

SSLSocket::~SSLSocket() {
  if (IsOpen()) SSLSocket::Close();
}

int SSLSocket::InitializeSSL() {
  SSL_CTX* context = GetContext();
  if (context == nullptr) return 0;
  tls::ClearSslErrors();
  ssl_.reset(SSL_new(context));
  if (!ssl_) {
    Debug d("SSLSocket::InitializeSSL");
    tls::LogSslFailure(d, __LINE__, "SSLSocket::InitializeSSL - unable to create a TLS connection");
    return 0;
  }
  SSL_set_ex_data(ssl_.get(), OwnerIndex(), this);
  SSL_clear(ssl_.get());
  AttachDescriptor();
  SSL_set_read_ahead(ssl_.get(), 1);
  return 1;
}

SSL_CTX* SSLSocket::GetContext() {
  if (SSL_CTX* context = tls::SharedContext(); context != nullptr) return context;
  const char* verify = CSocket::GetProperty("VerifyMode");
  const char* version = CSocket::GetProperty("SSLVersion");
  const char* home = CSocket::GetProperty("HomeDir");
  const std::string home_dir = home != nullptr ? home : tls::DefaultHomeDir();
  const bool tls_only = version != nullptr && corvane::EqualsNoCase(version, "4");
  const int made = InitializeSSL(
      GetCert(), GetPrivateKeyFile(), nullptr, home_dir.c_str(),
      verify != nullptr ? std::atoi(verify) : 0, version != nullptr ? std::atoi(version) : 23,
      tls_only ? "TLSv1" : "SSLv3", CSocket::GetProperty("CAList"), CSocket::GetProperty("CAPath"));
  return made != 0 ? tls::SharedContext() : nullptr;
}

int SSLSocket::InitializeSSL(const char* certificate, const char* keyFile, const char* password,
                             const char* homeDir, int verifyMode, int version,
                             const char* cipherList, const char* caList, const char* caPath) {
  tls::ContextSettings settings;
  settings.certificate = certificate;
  settings.key_file = keyFile;
  settings.password = password;
  settings.home_dir = homeDir;
  settings.verify_mode = verifyMode;
  settings.version = version;
  settings.cipher_list = cipherList;
  settings.ca_list = caList;
  settings.ca_path = caPath;
  settings.new_session = &SSLSocket::OnNewSession;
  return tls::InitializeSharedContext(settings);
}

void SSLSocket::UninitializeSSL() { tls::ReleaseSharedContext(); }

int SSLSocket::SetDHParam(const char* file) { return tls::SetSharedDhParameters(file); }

// Client sessions arrive here when OpenSSL makes them: at the end of a TLS
// 1.2 handshake, or with each TLS 1.3 ticket, which comes after the
// handshake. The newest one is what the next Connect offers.
int SSLSocket::OnNewSession(ssl_st* connection, ssl_session_st* session) {
  auto* owner = static_cast<SSLSocket*>(SSL_get_ex_data(connection, OwnerIndex()));
  if (owner == nullptr || SSL_is_server(connection) != 0) return 0;
  owner->saved_session_.reset(session);
  owner->session_peer_ = owner->handshake_peer_;
  return 1;  // the reference handed over is kept
}

bool SSLSocket::IsSecure() { return GetCert() != nullptr && tls::SharedContext() != nullptr; }

char* SSLSocket::GetPrivateKeyFile() {
  if (key_file_) return key_file_->data();
  const char* certificate = GetCert();
  if (certificate == nullptr) return nullptr;
  std::string key = certificate;
  const std::size_t at = FindNoCase(key, ".pem");
  if (at != std::string_view::npos) {
    const std::string candidate = key.substr(0, at) + "Private.pem";
    if (FileExists(candidate.c_str())) key = candidate;
  }
  key_file_ = std::move(key);
  return key_file_->data();
}

char* SSLSocket::GetCertificateFile() {
  return certificate_file_ ? certificate_file_->data() : nullptr;
}

bool SSLSocket::AttachDescriptor() {
  if (!ssl_ || !IsOpen()) return false;
  BIO* bio = tls::NewSocketBio(static_cast<int>(GetFd()));
  if (bio == nullptr) {
    Debug d("SSLSocket");
    tls::LogSslFailure(d, __LINE__, "SSLSocket - unable to attach the socket to TLS");
    return false;
  }
  SSL_set_bio(ssl_.get(), bio, bio);  // one reference serves both directions
  return true;
}

// Close releases the descriptor; reconnecting the same object (to resume its
// session) needs a fresh one with the usual time-outs.
bool SSLSocket::ReopenClosedSocket() {
  const auto& api = corvane::platform::Sockets();
  const corvane::platform::SocketHandle created = api.open_stream();
  if (created == corvane::platform::kNoSocket) {
    Debug d("SSLSocket::Connect");
    d.logerror(kLogTag, __LINE__, "SSLSocket::Connect - unable to create socket: %s\n",
               GetErrString(true));
    return false;
  }
  SetFd(static_cast<unsigned int>(created));
  SetTimeOut(corvane::platform::kReceiveTimeoutOption, kDefaultTimeoutMs);
  SetTimeOut(corvane::platform::kSendTimeoutOption, kDefaultTimeoutMs);
  api.set_no_delay(created, true);
  return true;
}

int SSLSocket::Connect(const char* host, int port) {
  if (!IsOpen() && !ReopenClosedSocket()) return -1;
  if (CSocket::Connect(host, port) != 0) return -1;
  if (GetCert() == nullptr) return 0;
  return ClientHandshake(host, port, true);
}

int SSLSocket::Connect(const char* host, const char* port) {
  if (port == nullptr) {
    Debug d("SSLSocket::Connect");
    d.logerror(kLogTag, __LINE__, "Connect to %s without a port\n", Printable(host));
    return -1;
  }
  return Connect(host, std::atoi(port));
}

int SSLSocket::ProxyConnect(const char* proxyHost, int proxyPort, const char* user,
                            const char* password, const char* host, int port) {
  if (CSocket::ProxyConnect(proxyHost, proxyPort, user, password, host, port) != 0) return -1;
  if (GetCert() == nullptr) return 0;
  return ClientHandshake(host, port, false);
}

int SSLSocket::ClientHandshake(const char* host, int port, bool offer_session) {
  Debug d("SSLSocket::Connect");
  SSL* ssl = ssl_.get();
  if (ssl == nullptr) {
    d.logerror(kLogTag, __LINE__,
               "SSLSocket::Connect - no TLS connection for %s:%d; not sending in the clear\n", host,
               port);
    return -1;
  }
  SSL_clear(ssl);
  if (!AttachDescriptor()) return -1;
  handshake_peer_ = std::string(host) + ":" + std::to_string(port);
  // A session is only offered back to the peer it came from; SSL_clear keeps
  // the previous one, so it is replaced either way.
  const bool resume = offer_session && saved_session_ && session_peer_ == handshake_peer_;
  SSL_set_session(ssl, resume ? saved_session_.get() : nullptr);

  // The certificate must name the host connected to; with verify mode 0 the
  // outcome is only recorded (SSL_get_verify_result). An IP literal is
  // matched against IP address entries and is not sent as SNI (RFC 6066).
  X509_VERIFY_PARAM_set1_ip(SSL_get0_param(ssl), nullptr, 0);
  SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  SSL_set1_host(ssl, host);
  SSL_set_tlsext_host_name(ssl, IsIpAddress(host) ? nullptr : const_cast<char*>(host));

  tls::ClearSslErrors();
  const int result = SSL_connect(ssl);
  if (result != 1) {
    const long verdict = SSL_get_verify_result(ssl);
    const std::string reason = tls::SslFailureText(ssl, result);
    d.logerror(kLogTag, __LINE__, "SSLSocket::Connect - TLS handshake with %s:%d failed: %s%s%s\n",
               host, port, reason.c_str(), verdict != X509_V_OK ? "; certificate: " : "",
               verdict != X509_V_OK ? X509_verify_cert_error_string(verdict) : "");
    return -1;
  }
  RecordPeerExpiry();
  if (Debug::m_nDebugMode >= 4) TraceHandshake(false);
  return 1;
}

CSocket* SSLSocket::Accept() {
  std::unique_ptr<CSocket> accepted(CSocket::Accept());
  if (!accepted || !IsSecure()) return accepted.release();
  auto* secure = dynamic_cast<SSLSocket*>(accepted.get());
  if (secure == nullptr || !secure->ServerHandshake()) return nullptr;
  return accepted.release();
}

bool SSLSocket::ServerHandshake() {
  Debug d("SSLSocket::Accept");
  SSL* ssl = ssl_.get();
  if (ssl == nullptr) {
    d.logerror(kLogTag, __LINE__, "SSLSocket::Accept - no TLS connection for %s; closed\n",
               GetIPAddr());
    return false;
  }
  tls::ClearSslErrors();
  const int result = SSL_accept(ssl);
  if (result != 1) {
    const long verdict = SSL_get_verify_result(ssl);
    if (verdict != X509_V_OK) {
      d.logging("SSLSocket::Accept - X509 verification error : %s.\n",
                X509_verify_cert_error_string(verdict));
    }
    const std::string what = std::string("SSLSocket::Accept - TLS handshake with ") + GetIPAddr() +
                             " failed; connection closed";
    tls::LogSslFailure(d, __LINE__, what.c_str(), ssl, result);
    return false;
  }
  RecordPeerExpiry();
  if (Debug::m_nDebugMode >= 4) TraceHandshake(true);
  return true;
}

void SSLSocket::RecordPeerExpiry() {
  const X509Ptr certificate(SSL_get1_peer_certificate(ssl_.get()));
  std::string expires;
  if (GetCertEndDate(certificate.get(), expires) != nullptr)
    SetProperty("PeerCertExpires", expires.c_str());
}

void SSLSocket::TraceHandshake(bool server) {
  Debug d(server ? "SSLSocket::Accept" : "SSLSocket::Connect");
  if (!server) {
    d.print("Server X509 Certificate:\n%s\n", Printable(GetPeerCertificate()));
    return;
  }
  const X509Ptr certificate(SSL_get1_peer_certificate(ssl_.get()));
  if (certificate) {
    char name[1024];
    X509_NAME_oneline(X509_get_subject_name(certificate.get()), name, sizeof name);
    d.print("subject=%s\n", name);
    X509_NAME_oneline(X509_get_issuer_name(certificate.get()), name, sizeof name);
    d.print("issuer=%s\n", name);
    d.print("Client X509 Certificate:\n%s\n", Printable(GetPeerCertificate()));
  }
  char ciphers[kSharedCipherTextSize];
  if (SSL_get_shared_ciphers(ssl_.get(), ciphers, sizeof ciphers) != nullptr)
    d.print(" shared cipher=%s\n", ciphers);
  else
    d.print("No shared ciphers.\n");
}

void SSLSocket::Close() {
  SSL* ssl = ssl_.get();
  if (ssl != nullptr && IsOpen() && SSL_is_init_finished(ssl) != 0 &&
      (SSL_get_shutdown(ssl) & SSL_SENT_SHUTDOWN) == 0) {
    // Without the close notification OpenSSL treats the session as broken
    // and will not resume it; the peer's answer is not waited for.
    SSL_shutdown(ssl);
    tls::ClearSslErrors();
  }
  CSocket::Close();
}

int SSLSocket::WriteData(unsigned int descriptor, const char* data, unsigned int length) {
  if (GetCert() == nullptr || GetBufferOutput() != 0)
    return CSocket::WriteData(descriptor, data, length);
  if (length == 0) return 0;
  Debug d("SSLSocket::WriteData");
  if (!ssl_) {
    d.logerror(kLogTag, __LINE__, "SSLSocket - no TLS connection; not sending in the clear\n");
    return -1;
  }
  tls::ClearSslErrors();
  const int written = SSL_write(ssl_.get(), data, static_cast<int>(std::min(length, 0x7fffffffu)));
  if (written > 0) return written;
  tls::LogSslFailure(d, __LINE__, "SSLSocket - TLS write failed", ssl_.get(), written);
  return -1;
}

// Reads go through TLS whenever the socket is secure, also while output is
// buffered: a plain read would take TLS records off the connection as data.
int SSLSocket::ReadData(unsigned int descriptor, char* buffer, unsigned int size) {
  if (GetCert() == nullptr) return CSocket::ReadData(descriptor, buffer, size);
  Debug d("SSLSocket::ReadData");
  if (!ssl_) {
    d.logerror(kLogTag, __LINE__, "SSLSocket - no TLS connection; not reading in the clear\n");
    return -1;
  }
  tls::ClearSslErrors();
  const int count = SSL_read(ssl_.get(), buffer, static_cast<int>(std::min(size, 0x7fffffffu)));
  if (count > 0) return count;
  if (SSL_get_error(ssl_.get(), count) == SSL_ERROR_ZERO_RETURN) return 0;
  tls::LogSslFailure(d, __LINE__, "SSLSocket - TLS read failed", ssl_.get(), count);
  return -1;
}

CSocket* SSLSocket::CreateSocket(unsigned int descriptor, const char* certificate) {
  return std::make_unique<SSLSocket>(descriptor, certificate, &properties_).release();
}

CSocket* SSLSocket::CreateSocket(unsigned int descriptor, const char* certificate,
                                 const SocketPropertyMap* properties) {
  CSocket* created = CreateSocket(descriptor, certificate != nullptr ? certificate : GetCert());
  if (created != nullptr && properties != nullptr && properties != &properties_)
    created->SetProperty(*properties);
  return created;
}

const char* SSLSocket::GetProperty(const char* name) {
  if (name != nullptr && corvane::EqualsNoCase(name, "PeerCertificate") && IsSecure())
    return GetPeerCertificate();
  return CSocket::GetProperty(name);
}

const char* SSLSocket::GetPeerCertificate() {
  Debug d("SSLSocket::GetPeerCertificate");
  peer_certificate_.clear();
  const X509Ptr certificate(ssl_ ? SSL_get1_peer_certificate(ssl_.get()) : nullptr);
  if (!certificate) {
    d.print("GetPeerCertificate - peer certificate is not available.\n");
    return nullptr;
  }
  const BioPtr text(BIO_new(BIO_s_mem()));
  if (!text || PEM_write_bio_X509(text.get(), certificate.get()) != 1) {
    d.print("unable to convert X509 certificate to PEM encoding\n");
    tls::ClearSslErrors();
    return nullptr;
  }
  peer_certificate_ = MemoryText(text.get());
  return peer_certificate_.empty() ? nullptr : peer_certificate_.c_str();
}

const char* SSLSocket::GetCertEndDate(x509_st* certificate, std::string& out) {
  out.clear();
  if (certificate == nullptr) return nullptr;
  const BioPtr text(BIO_new(BIO_s_mem()));
  if (!text || ASN1_TIME_print(text.get(), X509_get0_notAfter(certificate)) != 1) {
    tls::ClearSslErrors();
    return nullptr;
  }
  out = MemoryText(text.get());
  return out.c_str();
}

void SSLSocket::RemoveSession() {
  if (!IsSecure() || !ssl_) return;
  if (SSL_SESSION* session = SSL_get_session(ssl_.get()); session != nullptr)
    SSL_CTX_remove_session(tls::SharedContext(), session);
}

void SSLSocket::FlushSession() {
  if (IsSecure())
    SSL_CTX_flush_sessions(tls::SharedContext(), static_cast<long>(std::time(nullptr)));
}

void SSLSocket::CopySession(SSLSocket& other) {
  if (IsSecure() && ssl_ && other.ssl_) SSL_copy_session_id(other.ssl_.get(), ssl_.get());
}

void SSLSocket::PrintStatus(FILE* /*file*/) {
  if (!IsSecure()) return;
  SSL_CTX* context = tls::SharedContext();
  Debug d("SSLSocket::PrintStatus");
  d.print("%4ld client connects (SSL_connect())\n", SSL_CTX_sess_connect(context));
  d.print("%4ld client connects that finished\n", SSL_CTX_sess_connect_good(context));
  d.print("%4ld server connects (SSL_accept())\n", SSL_CTX_sess_accept(context));
  d.print("%4ld server connects that finished\n", SSL_CTX_sess_accept_good(context));
  d.print("%4ld session cache hits\n", SSL_CTX_sess_hits(context));
  d.print("%4ld session cache misses\n", SSL_CTX_sess_misses(context));
  d.print("%4ld session cache timeouts\n", SSL_CTX_sess_timeouts(context));
}

long SSLSocket::SendCertificate(const char* path, bool ca) {
  unsigned long size = 0;
  const std::unique_ptr<char[]> content(ReadWholeFile(path, &size));
  if (!content || size > static_cast<unsigned long>(INT_MAX)) {
    Debug d("SSLSocket::SendCertificate");
    d.print("SendCertificate - cannot send certificate file %s\n", Printable(path));
    return 0;
  }
  std::string header = std::string("HTTP/1.1 200 OK\nServer: ") + kServerName;
  header += ca ? "\nContent-Type: application/x-x509-ca-cert\n\n"
               : "\nContent-Type: application/x-x509-user-cert\n\n";
  const int sent = Write(header.data(), static_cast<unsigned int>(header.size()));
  if (sent < 1) return sent;
  return Write(content.get(), static_cast<unsigned int>(size));
}

bool SSLSocket::ProcessSPKAC(const char* name) {
  Debug d("SSLSocket::ProcessSPKAC");
  if (!IsPlainFileName(name)) {
    d.logerror(kLogTag, __LINE__, "SSLSocket::ProcessSPKAC - refused request file name \"%s\"\n",
               Printable(name));
    return false;
  }
  std::string home = tls::HomeDir();
  if (home.empty()) home = tls::DefaultHomeDir();
  const std::string output = home + "/certs/" + name + ".tmp";
  // -batch: openssl ca would otherwise ask on standard input whether to sign.
  const std::vector<std::string> command = {
      "openssl", "ca", "-batch", "-config", home + "/ca/portico.conf",
      "-spkac",  name, "-out",   output};
  std::string error;
  const int status = tls::RunProgram(command, kSigningTimeoutMs, &error);
  if (status != 0) {
    if (status > 0) error = "openssl ca ended with status " + std::to_string(status);
    d.logerror(kLogTag, __LINE__, "SSLSocket::ProcessSPKAC - signing %s with %s failed: %s\n", name,
               command[4].c_str(), error.c_str());
    return false;
  }
  return SendCertificate(output.c_str(), false) > 0;
}

SSL_CTX* SSLSocket::GetCTX() { return ssl_ ? SSL_get_SSL_CTX(ssl_.get()) : nullptr; }

SSL* SSLSocket::GetSSL() { return ssl_.get(); }
