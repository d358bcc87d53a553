// SSPSocket: hands connections to its SChannel and routes every transfer through it.
#include "wirelane/sockets/SSPSocket.h"

#include <cstdio>
#include <cstdlib>

#include "common/NoCase.h"
#include "sealvault/Debug.h"
#include "sealvault/SChannel.h"

namespace {

constexpr const char* kTag = "SSPSocket";
// The channel's protocol set "TLS 1.0 client and server"; SChannel raises it
// to TLS 1.2 and later.
constexpr unsigned int kChannelProtocols = 192;
// The security package name hosts have always passed; SChannel ignores it.
constexpr const char* kSecurityPackage = "Microsoft Unified Security Protocol Provider";
// Size of CSocket's peer address text (19 characters and a NUL).

const char* Printable(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

SSPSocket::SSPSocket(unsigned int descriptor, const char* certificate, SChannel* channel,
                     const SocketPropertyMap* properties)
    : CSocket(descriptor, certificate, properties), channel_(channel) {
  if (channel_ == nullptr) Initialize(certificate);
}

SSPSocket::~SSPSocket() {
  // The marker is no descriptor; CSocket must not try to close it.
  if (GetFd() == kChannelDescriptor) SetFd(kNoDescriptor);
  channel_.reset();
}

bool SSPSocket::Initialize(const char* certificate) {
  channel_ = std::make_unique<SChannel>(SChannel::kInvalidSocket, certificate, kChannelProtocols, 0,
                                        false, kSecurityPackage);
  return true;
}

bool SSPSocket::IsSecure() { return port_ == 443 || channel_ != nullptr; }

// Gives the socket's own TCP connection to the channel; from now on the
// socket holds only the marker.
void SSPSocket::HandOverDescriptor() {
  const unsigned int descriptor = GetFd();
  if (descriptor == kNoDescriptor || descriptor == kChannelDescriptor) return;
  SetFd(kChannelDescriptor);
  channel_->SetFd(descriptor);
}

void SSPSocket::NotePeerExpiry() {
  const char* expires = channel_->GetCertAttribute("Expiration");
  if (expires != nullptr) SetProperty("PeerCertExpires", expires);
}

int SSPSocket::Connect(const char* host, int port) {
  port_ = port;
  // The branches below use the channel; without one (port 443 alone makes
  // IsSecure true) the socket can only be plain.
  if (channel_ == nullptr) return CSocket::Connect(host, port);
  const unsigned int descriptor = GetFd();
  if (descriptor != kNoDescriptor && descriptor != kChannelDescriptor) {
    // TCP first on the socket's own descriptor, so the time-outs and options
    // the host set on it stay with the connection; the channel then finds it
    // connected and only runs the handshake.
    const int connected = CSocket::Connect(host, port);
    if (connected != 0) return connected;
    HandOverDescriptor();
  } else if (host == nullptr || *host == '\0') {
    Debug d("SSPSocket::Connect");
    d.logerror(kTag, __LINE__, "SSPSocket::Connect - no host to connect to\n");
    return -1;
  }
  const int result = channel_->Connect(host, port);
  if (result < 0) return result;
  // A socket closed before had no descriptor to hand over; it is open again.
  if (GetFd() == kNoDescriptor) SetFd(kChannelDescriptor);
  NotePeerExpiry();
  return result;
}

int SSPSocket::Connect(const char* host, const char* port) {
  if (port == nullptr) {
    Debug d("SSPSocket::Connect");
    d.logerror(kTag, __LINE__, "SSPSocket::Connect - connect to %s without a port\n",
               Printable(host));
    return -1;
  }
  return Connect(host, std::atoi(port));
}

int SSPSocket::ProxyConnect(const char* proxyHost, int proxyPort, const char* user,
                            const char* password, const char* host, int port) {
  if (CSocket::ProxyConnect(proxyHost, proxyPort, user, password, host, port) != 0) return -1;
  if (channel_ == nullptr) return 0;
  HandOverDescriptor();
  const int result = channel_->ConnectSSL(host);
  if (result == 0) NotePeerExpiry();
  return result;
}

int SSPSocket::Listen(const char* host, int port) {
  port_ = port;
  if (channel_ == nullptr) return CSocket::Listen(host, port);
  return channel_->Listen(host, port);
}

CSocket* SSPSocket::Accept() {
  if (channel_ == nullptr) return CSocket::Accept();
  std::unique_ptr<SChannel> accepted_channel(channel_->Accept());
  if (accepted_channel == nullptr) return nullptr;
  const std::string peer = accepted_channel->GetPeerAddress();
  // The connection is the channel's from the start: the accepted socket gets
  // the marker instead of a descriptor of its own.
  auto accepted = std::make_unique<SSPSocket>(kChannelDescriptor, GetCert(),
                                              accepted_channel.release(), &properties_);
  accepted->SetIPAddr(peer.c_str());
  accepted->port_ = port_;
  accepted->NotePeerExpiry();
  return accepted.release();
}

void SSPSocket::Close() {
  if (GetFd() == kChannelDescriptor) SetFd(kNoDescriptor);
  CSocket::Close();
  if (channel_ != nullptr) channel_->Disconnect();
}

const char* SSPSocket::GetProperty(const char* name) {
  if (channel_ != nullptr && name != nullptr && corvane::EqualsNoCase(name, "PeerCertificate"))
    return channel_->GetPeerCertificate();
  return CSocket::GetProperty(name);
}

int SSPSocket::WriteData(unsigned int descriptor, const char* data, unsigned int length) {
  // Buffered output is collected, not sent, until Flush (which comes back
  // here with buffering off).
  if (channel_ == nullptr || GetBufferOutput() != 0)
    return CSocket::WriteData(descriptor, data, length);
  return channel_->Write(data, length);
}

int SSPSocket::ReadData(unsigned int descriptor, char* buffer, unsigned int size) {
  if (channel_ == nullptr) return CSocket::ReadData(descriptor, buffer, size);
  return channel_->Read(buffer, size);
}

CSocket* SSPSocket::CreateSocket(unsigned int descriptor, const char* certificate,
                                 const SocketPropertyMap* properties) {
  return std::make_unique<SSPSocket>(descriptor, certificate, nullptr, properties).release();
}
