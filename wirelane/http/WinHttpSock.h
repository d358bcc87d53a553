// WinHttpSock: an HTTPSock carrying one client request through the platform request object.
#pragma once

#include <memory>
#include <string>

#include "common/KVMapImp.h"
#include "wirelane/WirelaneExport.h"
#include "wirelane/http/HTTPSock.h"

namespace corvane::platform {
class HttpRequest;
}

// The request is formatted by NetOutput as for any HTTPSock, except that the
// request line is replaced by a platform request object (OpenHttpRequest
// answers true) and the header block is handed to that object, which makes
// the connection (TLS for port 443 or a secure socket, verified against the
// system trust store), writes the request and reads the response. The
// response header comes back as text and is parsed by
// HTTPSock::ParseHttpHeader; the body is read through Read.
//
// What reaches the wire: the header fields of the block unchanged, in order,
// except the request line (written by the platform) and Content-Length, which
// the platform writes from the body length (a Content-Length field larger
// than the first body piece announces the total that Write completes). Host
// and Connection are the platform's own unless the block sets them.
//
// Response bodies reach the message whole: the platform removes the chunk
// framing of a chunked body, so ReadHTTPHeader drops "Transfer-Encoding" (and
// the Content-Length a chunked response must not be measured by) from the
// parsed header, and the reader reads to the end of the body. Content codings
// are left for the message to decode.
//
// A client certificate named by subject (a PEM file path, or "<subject>.pem"
// in the certificate directory) is presented when the server asks for one;
// without one, or when it cannot be found, the request continues without.
//
// One object carries one request, used by one thread at a time.
class WIRELANE_API WinHttpSock : public HTTPSock {
 public:
  // descriptor is accepted for compatibility and not used (the HTTP client
  // passes 0, which must not become a connection). certificate:
  // the client certificate's subject text (copied), null or empty for none.
  // secure: requests use TLS (port 443 in Connect turns it on as well).
  WinHttpSock(unsigned descriptor, const char* certificate, bool secure);
  // Closes the request.
  ~WinHttpSock() override;

  using HTTPSock::Connect;
  using HTTPSock::Write;

  // Sends length more body bytes of the request. Returns length, or 0 on
  // failure (logged "Error sending data to server.\n").
  int Write(const char* data, unsigned length) override;
  // Reads response body bytes until size arrived or the body ended. Returns
  // the count, 0 at the end of the body or when reading failed before
  // anything arrived (logged "Error reading response messages.\n").
  int Read(char* buffer, unsigned size) override;
  // Names the server for the request; nothing is connected until the request
  // is sent. Port 443 selects TLS. Returns 1, or -1 for a null or empty host,
  // an invalid port or a session that could not be opened (logged
  // "WinHttpSock::Connect - Failed in connecting to %s.\n"). The "Host" and
  // "Connection" extra fields of HTTPSock are not set.
  int Connect(const char* host, int port) override;
  // Ends the request and releases the platform objects.
  void Close() override;
  // Waits for the response and parses its header into header (owned by the
  // caller). False when no response arrived (logged "Error receiving HTTP
  // response message , error=%d\n") or the header text could not be had.
  bool ReadHTTPHeader(KVMapImp<StringMap>* header) override;
  // Opens the platform request for method and path. Always true, so that
  // NetOutput never writes a request line for this socket; a failure shows
  // when the message is sent.
  bool OpenHttpRequest(const char* method, const char* path) override;
  // Same as SendHttpMessage(header, length, null, flag).
  int SendHttpHeader(const char* header, int length, int flag) override;
  // Hands the header block (fields as "name: value" CR LF lines, ending with
  // an empty line) to the request and sends it with bodyLength bytes of body
  // (null for none). Returns bodyLength, or -1 without an open request, for
  // header text the request refuses (logged "Error add HTTP request headers :
  // %s\n") or when sending fails (logged "Error sending request message -
  // %s\n").
  int SendHttpMessage(const char* header, int headerLength, const unsigned char* body,
                      int bodyLength) override;
  // Sets the resolve, connect, send and receive time-outs all to
  // milliseconds (option is not used); 0 or -1 means no limit. A value below
  // -1 is refused (logged "Error %u in WinHttpSetTimeouts.\n").
  void SetTimeOut(int option, long milliseconds) override;

 protected:
  // A new WinHttpSock(descriptor, certificate, false), owned by the caller.
  virtual HTTPSock* CreateSocket(unsigned descriptor, const char* certificate);
  // Takes the raw response header from the request and parses it with
  // HTTPSock::ParseHttpHeader into header. False (logged "Error retrieving
  // HTTP response header - %s\n") when there is none.
  virtual bool ParseHttpHeader(KVMapImp<StringMap>* header);
  using HTTPSock::ParseHttpHeader;
  // Finds the certificate for subject in the certificate store and sets it on
  // the request. False, logged "Certificate for subject %s could not be
  // located in store MY.\n", when it cannot be found ("Error open certificate
  // store MY.\n" when there is no store to look in).
  bool SetClientCertificate(const char* subject);

 private:
  std::unique_ptr<corvane::platform::HttpRequest> m_hOpen;
  bool m_hConnect = false;
  bool m_hRequest = false;
  std::string m_strCertificate;
  bool m_bSecure = false;
};
