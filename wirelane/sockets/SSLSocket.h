// TLS socket over OpenSSL: a CSocket whose transfers run through one shared OpenSSL context.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "wirelane/WirelaneExport.h"
#include "wirelane/sockets/CSocket.h"

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;
struct x509_st;

// A CSocket that speaks TLS. A socket made with a certificate text (a PEM
// file name) is secure: it gets its own TLS connection on the process-wide
// context and replaces ReadData/WriteData with TLS reads and writes, so
// Read, ReadLine (served from the receive buffer), Write and Flush work over
// TLS unchanged. A socket made without certificate text is a plain CSocket.
//
// The shared context is made once per process, by the static InitializeSSL
// or by the first secure socket (from its properties, see GetContext), and
// kept until UninitializeSSL; later sockets use it as it is.
//
// Properties read when the context is made: "VerifyMode" (OpenSSL's
// SSL_VERIFY_* flags as decimal, 0 when absent), "SSLVersion" (3, 4 or 23,
// see InitializeSSL), "HomeDir", "CAList" (PEM file of trusted CAs, also
// offered to clients as acceptable issuers), "CAPath" (hashed CA directory,
// <home>/ca when absent). Property written: "PeerCertExpires" (expiry of the
// peer certificate, "Dec 31 23:59:59 2030 GMT"). Property answered:
// "PeerCertificate" (the peer certificate as PEM text, on secure sockets).
//
// Verification: with a verify mode other than 0 a peer certificate that
// fails verification fails the handshake; a client also checks that the
// server's certificate names the host it connected to (DNS name or IP
// address) and sends the host name (SNI). With verify mode 0 the handshake
// does not depend on the peer certificate.
//
// Home directory (where ProcessSPKAC finds ca/portico.conf and writes certs/):
// the "HomeDir" property, else $CORVANE when set, else the parent of the
// executable's folder (/opt/corvane/bin/host gives /opt/corvane).
//
// Thread-safety: the static functions may be called from any thread and the
// shared context is made exactly once even when several threads ask at
// once. A socket object is used by one thread at a time.
class WIRELANE_API SSLSocket : public CSocket {
 public:
  // As CSocket (descriptor, certificate and properties are taken over or
  // copied the same way). With a certificate text the per-socket
  // InitializeSSL runs, which may make the shared context from properties.
  explicit SSLSocket(unsigned int descriptor = kNoDescriptor, const char* certificate = nullptr,
                     const SocketPropertyMap* properties = nullptr);
  // Sends the TLS close notification when a session is open, then releases
  // the saved session, the connection and the socket.
  ~SSLSocket() override;

  // Connects over TCP (a socket closed by Close gets a new descriptor first),
  // then, on a secure socket, runs the client handshake, offering the session
  // saved by an earlier Connect of this object to the same host and port.
  // Returns 0 for a plain socket connected, 1 after a completed handshake,
  // -1 when the connection or the handshake failed (a refused or unverified
  // certificate included; logged), or when the socket has a certificate but
  // no TLS connection could be made for it (it never falls back to plain TCP).
  int Connect(const char* host, int port) override;
  // Waits for a connection. On a secure listener the new socket (an
  // SSLSocket with this socket's certificate text and properties, owned by
  // the caller) has completed the server handshake; a failed handshake
  // (junk, a refused client certificate, a peer that leaves) is logged, the
  // connection closed and null returned. Null also when accept fails. The
  // handshake is bounded by the new socket's time-outs (120 s).
  CSocket* Accept() override;
  // Opens a CONNECT tunnel through the proxy (plain TCP), then runs the client
  // handshake with host as the name to verify and send. Returns 0 for a plain
  // socket, 1 after the handshake, -1 on any failure. No session is offered.
  int ProxyConnect(const char* proxyHost, int proxyPort, const char* user, const char* password,
                   const char* host, int port) override;
  // On a secure socket, "PeerCertificate" (any case) gives GetPeerCertificate();
  // everything else comes from the property set. Owned by the socket.
  const char* GetProperty(const char* name) override;
  // Sends the TLS close notification when a session is open (so the session
  // stays resumable), then closes like CSocket. Safe on a closed socket.
  void Close() override;

  // Makes this socket's TLS connection on the shared context (making the
  // context first when needed). Returns 1, or 0 when there is no context or
  // the connection cannot be made (logged); the socket then refuses to
  // transfer rather than send in the clear.
  virtual int InitializeSSL();
  // Connect(host, atoi(port)); -1 for a null port.
  virtual int Connect(const char* host, const char* port);
  // True when the socket has a certificate text and the shared context exists.
  virtual bool IsSecure();
  // The private key file that goes with the certificate text: "x.pem" (any
  // case of ".pem") gives "xPrivate.pem" when that file can be opened, else
  // the certificate text itself. Computed once; null without certificate
  // text. Owned by the socket; do not change or free it.
  virtual char* GetPrivateKeyFile();
  // The certificate text given at construction, or null. Owned by the socket;
  // do not change or free it.
  virtual char* GetCertificateFile();

 protected:
  // Makes the socket for an accepted descriptor: an SSLSocket with
  // certificate and this socket's properties. Owned by the caller.
  virtual CSocket* CreateSocket(unsigned int descriptor, const char* certificate);

 public:
  // Stores homeDir (null: $CORVANE, else the executable folder's parent) as
  // the home directory and, when no shared context exists yet, makes it:
  // certificate (PEM, may be null for a context without own certificate),
  // keyFile (PEM; null: the certificate file), password (for an encrypted
  // key; null or empty: none), verifyMode (SSL_VERIFY_* flags), version (3
  // and 4 once meant SSLv3 or TLSv1 only; OpenSSL 3 refuses those, so both
  // now give TLS 1.2 or later, anything else the library's default range),
  // cipherList (OpenSSL syntax; "SSLv3" and "TLSv1" keep the library's
  // default list), caList (PEM CA file, may be null) and caPath (CA
  // directory; null: <home>/ca). Texts are only read during the call.
  // Returns 1 on success or when the context already existed, 0 when a step
  // failed ("SSLSocket:: InitializeSSL - unable to set certificate file: ...",
  // "... unable to set private key file: ...", "... Private key does not
  // match the certificate public key" are logged). Once made, the context is
  // kept even when its certificate or key could not be loaded. Thread-safe.
  static int InitializeSSL(const char* certificate, const char* keyFile, const char* password,
                           const char* homeDir, int verifyMode, int version, const char* cipherList,
                           const char* caList, const char* caPath);
  // Frees the shared context (open connections keep their own reference) and
  // this thread's OpenSSL state. Thread-safe; the next secure socket or
  // InitializeSSL makes a new context.
  static void UninitializeSSL();
  // Loads Diffie-Hellman parameters from the PEM file (which may be the
  // certificate file) into the shared context; without usable ones (missing,
  // or refused by OpenSSL as too weak, which is logged) the context picks
  // standard groups itself. Returns 1, or 0 without a shared context.
  static int SetDHParam(const char* file);

  // The shared context, made from this socket's properties when it does not
  // exist yet (see the class comment). Null when making it failed.
  ssl_ctx_st* GetContext();
  // Removes this connection's session from the shared session cache (a
  // secure socket only).
  void RemoveSession();
  // Drops expired sessions from the shared cache (a secure socket only).
  void FlushSession();
  // Gives other's connection this connection's session (both secure).
  void CopySession(SSLSocket& other);
  // Logs seven counters of the shared context (client connects started and
  // finished, server accepts started and finished, session cache hits,
  // misses and timeouts) at print level; file is not used.
  void PrintStatus(FILE* file);
  // Sends "HTTP/1.1 200 OK\nServer: Corvane Server/3.01\nContent-Type:
  // application/x-x509-ca-cert\n\n" (ca true; "application/x-x509-user-cert"
  // when false) and then the bytes of the file at path. Returns the result of
  // writing the file's bytes (their count on success), the failing write's
  // result (0 or less) when the header could not be sent, and 0 with nothing
  // sent when the file is missing, empty or unreadable.
  long SendCertificate(const char* path, bool ca);
  // Signs the SPKAC request file name (a plain file name relative to the
  // working directory) with "openssl ca -batch -config <home>/ca/portico.conf
  // -spkac <name> -out <home>/certs/<name>.tmp", run without a shell and
  // given 60 s, then sends the result with SendCertificate(..., false).
  // Returns true when that sent the certificate. False, with a log line, when
  // name is null, empty, starts with "-" or holds "/" or control characters,
  // or when signing or sending failed.
  bool ProcessSPKAC(const char* name);
  // The context of this socket's connection, or null. Not owned by the caller.
  ssl_ctx_st* GetCTX();
  // This socket's connection, or null. Owned by the socket.
  ssl_st* GetSSL();

 protected:
  // Plain CSocket transfer for a socket without certificate text, and for
  // writes while output is buffered (the bytes are encrypted when Flush
  // writes them); otherwise one SSL_write. Returns the bytes taken or -1.
  int WriteData(unsigned int descriptor, const char* data, unsigned int length) override;
  // Plain CSocket receive for a socket without certificate text; otherwise
  // one SSL_read (also while output is buffered). Returns the count, 0 when
  // the peer closed the TLS session, -1 on failure or time-out (logged).
  int ReadData(unsigned int descriptor, char* buffer, unsigned int size) override;
  // Accepted descriptors become SSLSockets with certificate (this socket's
  // certificate text when null) and properties.
  CSocket* CreateSocket(unsigned int descriptor, const char* certificate,
                        const SocketPropertyMap* properties) override;
  // The peer certificate as PEM text, or null when there is none. Owned by
  // the socket, valid until the next call.
  const char* GetPeerCertificate();
  // Sets out to the expiry time of certificate as OpenSSL prints it
  // ("Dec 31 23:59:59 2030 GMT") and returns out.c_str(); null (out empty)
  // for a null certificate. certificate is not owned.
  const char* GetCertEndDate(x509_st* certificate, std::string& out);

 private:
  struct OpenSslFree {
    void operator()(ssl_st* connection) const;
    void operator()(ssl_session_st* session) const;
  };

  static int OnNewSession(ssl_st* connection, ssl_session_st* session);
  bool AttachDescriptor();
  bool ReopenClosedSocket();
  int ClientHandshake(const char* host, int port, bool offer_session);
  bool ServerHandshake();
  void RecordPeerExpiry();
  void TraceHandshake(bool server);

  std::unique_ptr<ssl_st, OpenSslFree> ssl_;
  std::string peer_certificate_;
  std::optional<std::string> key_file_;
  std::unique_ptr<ssl_session_st, OpenSslFree> saved_session_;
  // "host:port" the saved session belongs to, and of the current handshake.
  std::string session_peer_;
  std::string handshake_peer_;
  std::optional<std::string> certificate_file_;
};
