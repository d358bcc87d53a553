// TLS socket whose connection is carried by a Sealvault SChannel (certificate names, not PEM
// paths).
#pragma once

#include <memory>

#include "wirelane/WirelaneExport.h"
#include "wirelane/sockets/CSocket.h"

class SChannel;

// A CSocket that hands its connection to an SChannel: Connect, ProxyConnect
// and Listen give the work to the channel, and from then on every transfer
// (Write in "ChunkSize" pieces, Read, both ReadLine forms, Flush) runs
// through it, with CSocket's line reading on top. The certificate text is a
// certificate name as SChannel resolves it (a PEM file path, or "<name>.pem"
// in the certificate directory); a listener needs one, a client sends one
// only when the server asks. A client verifies the server's chain and name.
//
// Descriptor while the channel owns the connection: kChannelDescriptor. It
// refers to no socket (Linux descriptors are never negative, and this value
// is -2 as an int), but it is not kNoDescriptor, so IsOpen() is true and the
// open-socket checks of Write and Read pass; Close releases nothing for it.
//
// Properties: "PeerCertificate" (any case) is answered by the channel on
// every call (the peer certificate as PEM text, or null); "PeerCertExpires"
// is stored after a handshake when the peer sent a certificate
// ("Dec 11 10:00:00 2027 GMT").
//
// Time-outs: a connection made by Connect or ProxyConnect keeps the socket's
// own time-outs (SetTimeOut before connecting); accepted connections get the
// listening channel's (120 s unless GetChannel()->SetTimeout changes them).
// SetTimeOut after the handover no longer reaches the connection.
//
// Not thread-safe: a socket and its channel are used by one thread at a time.
class WIRELANE_API SSPSocket : public CSocket {
 public:
  // The descriptor of a socket whose connection belongs to the channel.
  static constexpr unsigned int kChannelDescriptor = 0xFFFFFFFEu;

  // descriptor, certificate (copied; may be null) and properties (copied;
  // may be null) as for CSocket. channel: the TLS channel to use, owned from
  // now on (deleted with the socket); null makes a new one for certificate.
  explicit SSPSocket(unsigned int descriptor = kNoDescriptor, const char* certificate = nullptr,
                     SChannel* channel = nullptr, const SocketPropertyMap* properties = nullptr);
  // Deletes the channel (which ends its connection), then closes like CSocket.
  ~SSPSocket() override;

  // Connects to host (copied) and port over TCP and runs the TLS client
  // handshake, verifying the server's certificate for host. Returns 0 on
  // success (then "PeerCertExpires" is set when the server sent a
  // certificate), -1 when connecting, the handshake or the verification
  // fails (logged), or for a null or empty host. A socket closed by Close
  // connects afresh.
  int Connect(const char* host, int port) override;
  // Makes the channel listen on host (null, "" or "*": every IPv4 address)
  // and port (0: a free port, see GetChannel()->GetLocalPort()). Returns 0,
  // or -1 when there is no usable certificate for the socket's certificate
  // name or the address cannot be bound.
  int Listen(const char* host, int port) override;
  // Closes like CSocket, then ends the channel's connection (TLS close
  // notification when it is sound). Safe on a closed socket.
  void Close() override;
  // "PeerCertificate" (any case): the channel's peer certificate as PEM text,
  // computed on every call, or null without one. Any other name: the stored
  // property, or null. The text belongs to the socket (or its channel) and
  // stays valid until the next call of GetProperty or the next connection.
  const char* GetProperty(const char* name) override;
  // Waits for a client and runs the TLS server handshake. Returns a new
  // SSPSocket (owned by the caller) owning the accepted channel, with this
  // socket's certificate text, properties and port, and the client's dotted
  // address (GetIPAddr). Null when not listening, or when the accept or the
  // handshake fails (logged). Waits without time-out for a client.
  CSocket* Accept() override;
  // Opens a CONNECT tunnel through the proxy over plain TCP (as CSocket),
  // then runs the TLS handshake with host inside it, verifying the server
  // for host. Returns 0 on success ("PeerCertExpires" set as for Connect);
  // -1 when the tunnel is refused (the descriptor stays with the socket) or
  // the handshake fails. The port given to Connect or Listen is kept.
  int ProxyConnect(const char* proxyHost, int proxyPort, const char* user, const char* password,
                   const char* host, int port) override;

  // Connect(host, atoi(port)); -1 for a null port.
  virtual int Connect(const char* host, const char* port);
  // True when the port of the last Connect or Listen is 443 or the socket
  // has a channel (which every socket made by the constructor has).
  virtual bool IsSecure();

  // The socket's channel, owned by the socket; for settings SChannel offers
  // (SetTimeout, GetLocalPort, GetCertAttribute). Null only for a socket
  // without channel.
  SChannel* GetChannel() const { return channel_.get(); }
  // The port of the last Connect or Listen, 0 before the first.
  int GetPort() const { return port_; }

 protected:
  // While output is buffered, collects the bytes as CSocket does; otherwise
  // one channel Write of length bytes. Returns the bytes taken, or -1.
  int WriteData(unsigned int descriptor, const char* data, unsigned int length) override;
  // One channel Read of up to size bytes. Returns the count, 0 when the peer
  // closed the connection, -1 on failure, time-out or without connection.
  int ReadData(unsigned int descriptor, char* buffer, unsigned int size) override;
  // A new SSPSocket(descriptor, certificate, null, properties) with its own
  // channel, owned by the caller.
  CSocket* CreateSocket(unsigned int descriptor, const char* certificate,
                        const SocketPropertyMap* properties) override;

 private:
  bool Initialize(const char* certificate);
  void HandOverDescriptor();
  void NotePeerExpiry();

  std::unique_ptr<SChannel> channel_;
  int port_ = 0;
};
