// HTTPSock: the HTTP-level socket that owns one transport connection and reads and writes HTTP pieces.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/KVMapImp.h"
#include "wirelane/WirelaneExport.h"
#include "wirelane/http/URL.h"
#include "wirelane/sockets/CSocket.h"

// An HTTPSock owns one connection (a plain CSocket, an OpenSSL SSLSocket or a
// secure-channel SSPSocket, chosen from the certificate text or the socket
// type) and adds what every message on it shares: extra header fields (Host,
// Connection), cookies to send, a proxy, the MaxPostSize limit. It reads
// header blocks into maps and request lines into a URL, and writes status
// responses and redirects directly. Outgoing messages (NetOutput) hand their
// bytes to SendHttpMessage; incoming ones (NetInput) read through
// ReadHTTPHeader, Read and ReadLine.
//
// A socket is used by one thread at a time; accepted sockets are independent
// objects that may be served on different threads. Maps and texts returned by
// the socket belong to it.
class WIRELANE_API HTTPSock : public CSocketBase {
 public:
  enum SocketType : int {
    Auto = 0,   // from the certificate text: none plain, ".pem" OpenSSL, else secure channel
    SSL = 1,    // OpenSSL
    SSP = 2,    // secure channel
    Plain = 3,  // plain TCP
  };

  // Header blocks are refused (ReadHTTPHeader false, with a log line) when a
  // line or the whole block passes these sizes, so a hostile peer cannot make
  // the socket hold unbounded text.
  static constexpr unsigned kMaxHeaderLine = 65536;
  static constexpr unsigned kMaxHeaderBlock = 262144;

  // Creates the connection for descriptor (CSocket::kNoDescriptor for a new
  // one) through CreateSocket(type, ...). certificate and properties are
  // copied; maxPostSize limits request bodies (-1: no limit).
  HTTPSock(unsigned descriptor = CSocket::kNoDescriptor, const char* certificate = nullptr,
           int maxPostSize = -1, SocketType type = Auto,
           const SocketPropertyMap* properties = nullptr);
  ~HTTPSock() override;
  HTTPSock(const HTTPSock&) = delete;
  HTTPSock& operator=(const HTTPSock&) = delete;

  // Byte transfer, forwarded to the connection (results as CSocket's).
  int Write(const char* data, unsigned length) override;
  int Read(char* buffer, unsigned size) override;
  int ReadLine(std::string& line) override;
  // Connects to host:port, directly, through the proxy, or for port 443 and
  // for every TLS connection through a CONNECT tunnel of the proxy. Sets the extra header fields
  // "Host" ("host:port") and "Connection" ("Close"). Returns the connection's
  // result (0 on success, negative on failure); -1 for a null host.
  int Connect(const char* host, int port) override;
  int Listen(const char* host, int port) override;
  void Close() override;
  // Properties live on the connection (an accepted socket inherits its
  // listener's).
  void SetProperty(const char* name, const char* value) override;
  void SetProperty(const SocketPropertyMap& properties) override;
  const char* GetProperty(const char* name) override;

  // Reads header lines up to the blank line and parses them into header
  // (owned by the caller; fields are added). A request line becomes this
  // socket's URL (GetURL). Returns false when a read failed, or when a line
  // or the block passes the size limits; true otherwise, also when the peer
  // closed before sending anything (header then holds "Content-Length" 0).
  virtual bool ReadHTTPHeader(KVMapImp<StringMap>* header);
  // Reads a header and its body: Content-Length bytes (none for a length of
  // 0), or everything up to the end of the connection when the length is
  // missing or not a number. size is set to the body length.
  // Returns the body (owned by the socket, valid until the next call, NUL
  // after the bytes), or null when the header fails, the body passes
  // MaxPostSize (when positive), or the body cannot be read.
  virtual char* ReadHTTPMessage(KVMapImp<StringMap>* header, int& size);
  // Same as Connect(host, atoi(port)).
  virtual int Connect(const char* host, const char* port);
  // Accepts one connection and wraps it in a new HTTPSock of this socket's
  // type and MaxPostSize; the caller owns it. Null when none was accepted.
  virtual HTTPSock* Accept();
  // False: a plain socket writes its own request line.
  virtual bool OpenHttpRequest(const char* method, const char* path);
  // Writes length bytes of header. Returns the write's result.
  virtual int SendHttpHeader(const char* header, int length, int flag);
  // Writes header (when not null) and then body (when not null). Returns the
  // body write's result when there is a body, else the header write's, or -1
  // when both are null.
  virtual int SendHttpMessage(const char* header, int headerLength, const unsigned char* body,
                              int bodyLength);
  // setsockopt at socket level on the connection (SO_RCVTIMEO / SO_SNDTIMEO
  // with milliseconds).
  virtual void SetTimeOut(int option, long value);

  // Forwarded to the connection.
  int Write(const char* text);
  int ReadLine(char* buffer, unsigned size);
  unsigned GetFd();
  void SetFd(unsigned descriptor);
  BufferIOHandler* GetIOHandler();
  const char* GetIPAddr();
  const char* GetLocalHostIp();
  // The connection's error text, refreshed from the last error.
  const char* GetErrString();
  // The owned connection.
  CSocket* GetConnection() { return m_pSocket.get(); }

  // Each non-null text replaces the stored one; a port above 0 replaces it.
  void SetProxy(const char* host, int port, const char* user, const char* password);

  // Sets an extra header field written into every message formatted for this
  // socket; a null value removes it.
  void AddHeader(const char* name, const char* value);
  void ClearHeader();
  // The extra header fields (owned by the socket, never null).
  KVMapImp<StringMap>* GetHeader() { return m_pHeader.get(); }
  // Sets a cookie to send with the next response (FormatHeader).
  void SetCookie(const char* name, const char* value);
  void ClearCookie();
  // Replaces the parsed cookies by those of a Cookie field text. Returns 0,
  // or -1 for null text.
  int ParseCookie(const char* text);
  // A cookie parsed by ParseCookie, or null.
  const char* GetCookie(const char* name);

  void SetStatus(int status) { m_nStatus = status; }
  int GetStatus() const { return m_nStatus; }
  int GetMaxPostSize() const { return m_nMaxPostSize; }
  // The request line of the last request header read, or null.
  URL* GetURL() { return m_pURL.get(); }
  SocketType GetSocketType() const { return m_nSocketType; }

  // Writes "HTTP/1.1 <status> <phrase>\r\n", extraHeader (which must end with
  // CR LF), "Content-Type: text/html\r\n\r\n" unless the extra header fields
  // hold a Content-Type, and "<html>" message "</html>" when message is not
  // null; then flushes the connection. Returns the flush result.
  int SendStatus(int status, const char* message, const char* extraHeader);
  // Drops the extra header fields and any buffered output and sends a 302
  // response pointing to url. A url with CR or LF is refused (logged) and
  // nothing is sent.
  void Redirect(const char* url);

  // Makes the connection for type: 1 SSLSocket, 2 SSPSocket, 3 CSocket; 0 (or
  // any other value) chooses from the certificate text: none or empty gives
  // CSocket, text containing ".pem" (any case) SSLSocket, any other text
  // SSPSocket. The caller owns the result.
  static CSocket* CreateSocket(SocketType type, unsigned descriptor, const char* certificate,
                               const SocketPropertyMap* properties);

 protected:
  // Wraps an existing connection (taken over) of an accepted socket.
  HTTPSock(CSocket* connection, SocketType type, int maxPostSize);

  // Parses a collected header block. Returns true when at least one line was
  // read.
  bool ParseHttpHeader(const char* text, KVMapImp<StringMap>* header);
  // Splits a status line into "HTTPVersion", "HTTPStatus" and "HTTPReason".
  bool ParseResponseLine(const char* line, KVMapImp<StringMap>* header);
  // Writes the extra header fields, a default Content-Type and the cookies
  // as a Set-Cookie line (then forgets the cookies).
  void FormatHeader();

 private:
  void Initialize();
  void ParseRequestLine(const char* line);

  std::unique_ptr<KVMapImp<StringMap>> m_pHeader;
  std::unique_ptr<KVMapImp<StringMap>> m_pCookie;
  std::unique_ptr<KVMapImp<StringMap>> m_pPeerCookie;
  std::string m_pMessageText;
  std::string m_strProxyUser;
  std::string m_strProxyPassword;
  std::optional<std::string> m_szProxyHost;
  std::unique_ptr<CSocket> m_pSocket;
  std::unique_ptr<URL> m_pURL;
  int m_nMaxPostSize = -1;
  int m_nProxyPort = 80;
  int m_nStatus = 200;
  SocketType m_nSocketType = Auto;
  // Room for one header line, made at the first header read and kept, so
  // reading a header costs no large allocation.
  std::unique_ptr<char[]> line_buffer_;
};

extern "C" {
// Creates an HTTPSock with a new descriptor, the given certificate and
// MaxPostSize and automatic connection choice. Release it with
// DestroySocket. Null when it cannot be made.
WIRELANE_API HTTPSock* CreateSocket(int maxPostSize, const char* certificate);
// Deletes a socket made by CreateSocket; null is ignored.
WIRELANE_API void DestroySocket(HTTPSock* socket);
}
