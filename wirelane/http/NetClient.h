// NetClient: the HTTP(S) client, one request per connection, following redirects and challenges.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/KVMapImp.h"
#include "wirelane/WirelaneExport.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/URL.h"

// A client owns a request (NetOutput) that the host fills, opens a fresh
// HTTPSock for every request (plain, OpenSSL, secure channel, or the
// platform HTTP stack when the property "WinSock" is set), sends, reads the
// response into a NetInput, follows redirects (five requests in all), answers
// Basic and Digest challenges (a bounded number of times), carries the
// "SessionId" cookie to later requests of the same server, and goes through a
// proxy (CONNECT tunnel for TLS) with Basic proxy credentials.
//
// Properties handed to every socket: any socket property ("ChunkSize",
// "StreamBufferSize", "AttachFolder"), and the client's own "WinSock",
// "Timeout", "RecieveTimeout", "SendTimeout" (milliseconds). After a TLS
// connection the client sets "ServerCertificate" and "PeerCertExpires".
//
// One thread uses a client at a time. Texts and objects returned belong to
// the client and stay valid until the next request or Clear.
class WIRELANE_API NetClient {
 public:
  // Empty or null texts are not stored. certFile is a client certificate
  // (".pem" for OpenSSL, a certificate name for the secure channel) or, when
  // it starts with "@", the pass phrase of encrypted bodies. version is the
  // request's protocol version ("HTTP/1.0" when null). extra is kept unused.
  NetClient(const char* user = nullptr, const char* password = nullptr, const char* extra = nullptr,
            const char* certFile = nullptr, const char* version = nullptr);
  virtual ~NetClient();
  // A client owns its request, response and socket; copies would share and
  // free them twice, so clients are not copied.
  NetClient(const NetClient&) = delete;
  NetClient& operator=(const NetClient&) = delete;

  // Sends one request to host:port on a new socket. Returns the result of
  // NetOutput::Send (negative on failure; the socket is then deleted).
  virtual int Send(const char* method, const char* path, const char* host, int port, bool secure);
  // Reads the response on the current socket into a new NetInput. Returns
  // the body bytes read, or a negative value (the socket is then deleted).
  virtual int Receive();

  // The whole exchange for url ("http://h:p/x", "https://...", or "h/x"
  // meaning http), with redirects and authentication. Returns the result of
  // the last Receive: body bytes read (0 for no body), or negative when
  // connecting, sending or reading the header failed. The request is cleared
  // afterwards (fields, body and attachments; cookies stay).
  // A relative redirect target keeps the current scheme, host and port. The
  // user's credentials answer challenges of the server url names only; a
  // redirect to another host or port drops the Authorization field and the
  // cookies. Proxy credentials go in the request only when it is not
  // tunnelled (inside a tunnel they would reach the server).
  int SendRequest(const char* method, const char* url);
  // One exchange on a new socket: Send, Receive until the status is not 100,
  // then the socket is deleted. -1 when a response has no status.
  int SendRequest(const char* method, const char* path, const char* host, int port, bool secure);
  // GETs url and writes the body to path. Returns the body length, -1 when
  // the file cannot be written, or the SendRequest result when that was not
  // above 0.
  int DownloadFile(const char* url, const char* path);
  // Sends method to url and returns the body (owned by the client, valid
  // until the next request or Clear), or null on failure or without body.
  char* RetrieveFile(const char* method, const char* url);

  // Request building, forwarded to the request (made again when Clear
  // dropped it).
  void AddHeader(const char* name, const char* value);
  void AddHeader(const char* name, int value);
  void SetCookie(const char* name, const char* value);
  unsigned Add(const char* name, const char* value);
  unsigned Add(const char* name, int value);
  int Write(const char* data, int length);
  int Write(const char* text);
  bool AddAttachment(const char* path, const char* id, const char* type, const char* container);
  const char* GetRequestHeader(const char* name);
  KVMapImp<StringMap>* GetRequestBody();
  NetOutput* GetRequest();

  // Milliseconds for both socket time-outs of later requests (0: use the
  // properties).
  void SetTimeout(unsigned long milliseconds);
  // The client certificate file or "@pass phrase"; null empties it.
  void SetCertFile(const char* path);
  // host may carry ":port"; a port argument above 0 wins. Empty user or
  // password texts are not stored.
  void SetProxy(const char* host, int port, const char* user, const char* password);
  // Stores value under name (nothing for a null name or value).
  void SetProperty(const char* name, const char* value);
  const char* GetProperty(const char* name);

  // Response access; null (or 0) before the first response.
  NetInput* GetResponse() { return m_pResponse.get(); }
  const char* GetRedirectURL() const;
  // "ResponseHeader" gives the whole response header text (status line,
  // fields, blank line; valid until the next call); any other name
  // goes to the response's variable namespace ("header|X", "cookie|X",
  // "content|", "mime|n", "dime|n", variables).
  const char* Get(const char* name);
  // A response header field or one of the names the response serves
  // ("HTTPStatus", ...); a null name gives the whole header text.
  const char* GetHeader(const char* name);
  // Sets a variable on the response (made when there is none).
  void Set(const char* name, const char* value);
  char* GetContent();
  int GetContentLength();
  unsigned char* GetAttachment(int index, unsigned long& length);
  unsigned char* GetAttachment(const char* name, unsigned long& length);
  const char* GetAttachmentProperty(int index, const char* property);
  const char* GetAttachmentProperty(const char* name, const char* property);

  // Deletes request, response, socket, redirect URL and proxy settings.
  void Clear();
  void ClearRequest();
  void ClearResponse();

 protected:
  // Sets "Authorization" for a 401 challenge. False when the scheme is
  // unknown or credentials are missing.
  bool AddAuthHeader(const char* challenge, const char* method, const char* path);

 private:
  // "Basic " and the Base64 form of user ":" password.
  static std::string BasicCredentials(const std::string& user, const std::string& password);
  HTTPSock* MakeSocket(bool secure);
  // True when the proxy itself reads the request (plain HTTP on the
  // client's own sockets), as opposed to a tunnel or no proxy at all.
  bool RequestGoesToProxy(bool secure, int port) const;
  void ApplyTimeouts(HTTPSock& socket);
  void CopyPeerCertificate(HTTPSock& socket);
  // Works out the path to send for url, parsing it into target.
  std::string RequestPath(const char* url, URL& target, bool first_pass);
  // Turns a redirect response into the next url; empty when there is none.
  std::string RedirectTarget(URL& current);
  void TakeRedirectCookies();
  void ForgetCredentialsFor(const URL& from, const URL& to);
  const char* PassPhrase() const;
  // The status line and header fields of the response as text.
  const char* ResponseHeaderText();

  std::string m_strUser;
  std::string m_strPassword;
  std::string m_strCertFile;
  std::string m_strVersion;
  std::unique_ptr<NetOutput> m_pRequest;
  std::unique_ptr<NetInput> m_pResponse;
  std::unique_ptr<HTTPSock> m_pSocket;
  std::optional<std::string> m_szProxyHost;
  std::optional<std::string> m_szProxyUser;
  std::optional<std::string> m_szProxyPassword;
  std::string m_strCookieLine;
  std::string m_strCookieOrigin;  // "host:port" that set the SessionId cookie
  std::string m_strExtra;
  SocketPropertyMap m_properties;
  std::optional<std::string> m_szRedirectURL;
  unsigned long m_nTimeout = 0;
  int m_nProxyPort = 80;
  std::string m_strOrigin;          // "host:port" of the request in progress
  std::string m_strResponseHeader;  // composed by ResponseHeaderText
};
