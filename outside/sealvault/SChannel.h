// SChannel: one TLS connection (client or server side) or TLS listener over a TCP socket.
#pragma once

#include <memory>

#include "sealvault/SealvaultExport.h"

class Debug;

// A client verifies the server's certificate chain against the system's
// trusted CAs (OpenSSL's default locations, so the SSL_CERT_FILE and
// SSL_CERT_DIR variables apply; they are read once, when the first client
// connection of the process is made) plus the CAs added with AddTrustedCA, and
// checks that the certificate names the host it connected to; it sends that
// host name as SNI. Only TLS 1.2 and later are spoken.
//
// Certificate names resolve to PEM files: a name that is the path of an
// existing file is used as it is; any other name means "<name>.pem" in the
// certificate directory ($CORVANE_CERTS, else $XDG_CONFIG_HOME/corvane/certs,
// else ~/.config/corvane/certs). The private key is in the same file or in the
// ".key" file of the same base name beside it, and must not be encrypted. A
// listener needs a certificate; a client's certificate is optional and is sent
// only when a server asks for one.
//
// Connections made or accepted here get receive and send time-outs (120 s
// unless SetTimeout says otherwise), so no call waits forever on a silent peer.
// An object is used by one thread at a time; separate objects may be used
// concurrently (the TLS contexts and trust store they share are set up once
// per process under a lock). Failures are logged through Debug::logerror with
// the tag "SChannel"; no function throws.
class SEALVAULT_API SChannel {
 public:
  // The "no socket" handle value (all bits set).
  static constexpr unsigned int kInvalidSocket = 0xFFFFFFFFu;

  // socket: a connected socket to take over (as SetFd), or kInvalidSocket.
  // certificate: the certificate name (see above), copied; may be null.
  // protocols: the platform's protocol set (192: TLS 1.0 client and server);
  // every value gives TLS 1.2 and later, the lowest version still considered
  // safe. flags, reserved and package (the security package name) are
  // accepted for hosts written against six arguments and not used.
  SChannel(unsigned int socket, const char* certificate, unsigned int protocols, unsigned int flags,
           bool reserved, const char* package);
  // Ends the connection as Disconnect does.
  virtual ~SChannel();
  SChannel(const SChannel&) = delete;
  SChannel& operator=(const SChannel&) = delete;

  // Client side: connects to host:port and runs the TLS handshake, verifying
  // the server for host. A socket handed over by SetFd (or the constructor) is
  // used when it is already connected; an unconnected one is closed and
  // replaced. Returns 0 on success, -1 on failure (address, connection,
  // handshake or verification; the connection is then closed).
  int Connect(const char* host, int port);
  // Server side: loads this object's certificate and key and listens on
  // host:port (null, "" or "*" host: every IPv4 address; port 0: an ephemeral
  // port, see GetLocalPort). Returns 0, or -1 when there is no usable
  // certificate or the address cannot be bound.
  int Listen(const char* host, int port);
  // Takes ownership of a connected socket for ConnectSSL (this object closes
  // it in Disconnect). A different socket held before is closed, with its TLS
  // session; handing over the socket already held changes nothing.
  void SetFd(unsigned int socket);
  // Client handshake on the socket given by SetFd (for example a tunnel through
  // a proxy), verifying the server for host (a name or numeric address; must
  // not be null). Returns 0 on success, -1 on failure (the socket is then
  // closed).
  int ConnectSSL(const char* host);
  // Waits for one client on the listening socket and runs the server
  // handshake. Returns a new SChannel for that connection, owned by the caller
  // (delete it), carrying this listener's certificate and time-out and the
  // peer's address (GetPeerAddress). Waits without time-out for a client to
  // connect. Null when not listening, or when the accept or the handshake
  // fails (a client that is not speaking TLS fails at once; a silent one when
  // the time-out expires).
  SChannel* Accept();

  // Reads up to size decrypted bytes into buffer (no terminator added).
  // Returns the count (at least 1), 0 when the peer has closed the
  // connection, or -1 on an error, a time-out, or without a connection.
  int Read(char* buffer, unsigned int size);
  // Writes length bytes of data. Returns length (0 for length 0), or -1 on an
  // error, a time-out, or without a connection. A peer that has gone away
  // gives -1, never SIGPIPE.
  int Write(const char* data, unsigned int length);
  // Sends the TLS close notification when the connection is sound, then
  // closes the connection and the listening socket. Safe to call repeatedly.
  // Returns 0.
  int Disconnect();

  // The peer's certificate as PEM text, or null when the peer sent none (or
  // no handshake has completed). Owned by this object; valid until the next
  // GetPeerCertificate call, the next connection or the object's destruction.
  const char* GetPeerCertificate();
  // One attribute of the peer's certificate as text: "Expiration" (the
  // not-after time, as "Dec 11 10:00:00 2027 GMT"), "Subject" or "Issuer"
  // (distinguished names, "CN=host,O=Org"); names compared without regard to
  // case. Null for another name or without a peer certificate. Owned by this
  // object; valid until the next GetCertAttribute call, the next connection or
  // the object's destruction.
  const char* GetCertAttribute(const char* name);
  // The numeric address of the peer of an accepted connection ("127.0.0.1";
  // IPv4 always fits in 19 characters), or "" for other objects. Owned by this
  // object, valid for its lifetime.
  const char* GetPeerAddress() const;
  // The local port of the listening socket (or else of the connection), or -1.
  int GetLocalPort() const;
  // Receive and send time-out in milliseconds for connections made or accepted
  // from now on (and the current one); values below 1 are ignored.
  void SetTimeout(int milliseconds);

  // Adds the CA certificates of the PEM file at path to the process-wide
  // client trust store, beside the system's. Returns false (logged) when the
  // file cannot be read. Thread-safe.
  static bool AddTrustedCA(const char* path);

 private:
  struct State;
  std::unique_ptr<State> state_;

  bool PrepareSession(bool server, const char* host, Debug& log);
  int Handshake(bool server, const char* host);
  void CapturePeer();
};
