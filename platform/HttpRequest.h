// HttpRequest: a small synchronous HTTP request object standing in for the platform's HTTP service.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace corvane::platform {

// One object carries one session (agent name, time-outs, TLS settings), the
// host it talks to, and one request at a time, in this order of use:
//   Open -> Connect -> OpenRequest -> AddHeaders* -> Send -> Write* ->
//   ReceiveResponse -> RawHeaders -> Read* -> (OpenRequest again, or Close)
// Every call blocks until done and runs on the caller's thread (libcurl may
// resolve a host name on a short-lived thread of its own, so that the wait
// stays bounded). Each wait is bounded by the time-outs (SetTimeouts). An
// object is used by one thread at a time; separate objects are independent.
//
// Failures return false (or -1) and leave a readable text in LastError and a
// number in LastErrorCode; nothing throws.
//
// HTTPS: the server's chain is verified against the system trust store
// (the system CA bundle file; the SSL_CERT_FILE and SSL_CERT_DIR variables
// apply as they do for OpenSSL, read when the request is opened) and its name
// against the host, unless SetVerifyServer(false) was called. A loaded trust
// store is kept for later requests of the process. HTTP/1.1 only; every
// request has a connection of its own, closed when the request ends.
//
// Response bodies come back as the server sent them except for the chunked
// transfer coding, whose framing is removed (the raw header still names it);
// content codings (gzip, deflate) are never decoded here.
class HttpRequest {
 public:
  // Time-outs in milliseconds; 0 (or -1) means "no limit". The connection
  // set-up (name resolution, TCP and TLS handshakes) may take resolve +
  // connect (no limit when connect is 0); send bounds each wait for the peer
  // to take request bytes, receive each wait for response bytes.
  struct Timeouts {
    long resolveMs = 0;
    long connectMs = 60000;
    long sendMs = 30000;
    long receiveMs = 30000;
  };

  virtual ~HttpRequest() = default;

  // Starts the session. agent is the default User-Agent (a User-Agent header
  // line overrides it). False when the library cannot be initialised.
  virtual bool Open(std::string_view agent) = 0;
  // Names the server for the following requests; no connection is made yet
  // (that happens in Send). False for an empty host, a port outside 1-65535
  // or a session that is not open.
  virtual bool Connect(std::string_view host, int port) = 0;
  // Starts a new request, dropping any earlier one with its response. path is
  // the request target as sent ("/a?b", or an absolute URL); bytes that may
  // not stand in a request line (controls, space, non-ASCII) are sent
  // percent-encoded. secure selects HTTPS. False without Connect.
  virtual bool OpenRequest(std::string_view method, std::string_view path, bool secure) = 0;
  // Adds header fields given as "name: value" lines separated by CR LF
  // (empty lines are skipped). Fields are sent as given, also with an empty
  // value, and replace any the library would write itself (Host, User-Agent,
  // Accept, Content-Type). Content-Length is the layer's own, taken from
  // Send's total: a Content-Length line is refused here (false) so the length
  // on the wire always matches the body. False before OpenRequest or after
  // Send, or for a line without ':'.
  virtual bool AddHeaders(std::string_view lines) = 0;
  // Client certificate presented when the server asks for one: PEM files of
  // the certificate and its (unencrypted) key, which may be the same file.
  // Empty paths: continue without a certificate (the default). Applies to the
  // current request and those opened later.
  virtual void SetClientCertificate(const std::string& certificateFile,
                                    const std::string& keyFile) = 0;
  // Applies to the current request and those opened later. False for a value
  // below -1 (nothing is changed then).
  virtual bool SetTimeouts(const Timeouts& timeouts) = 0;
  // Server verification on (the default) or off. Turning it off accepts any
  // certificate from anyone on the path; meant for tests and closed networks.
  virtual void SetVerifyServer(bool verify) = 0;

  // Connects, sends the request header, and the first length bytes of body
  // (null for none; only read during the call). totalLength is the whole body
  // length, written as Content-Length; the rest follows through Write. Methods other than GET
  // and HEAD always carry a Content-Length. False when connecting, the TLS
  // handshake or sending fails or times out, or length > totalLength.
  virtual bool Send(const void* body, size_t length, size_t totalLength) = 0;
  // Sends more body bytes (only read during the call). Returns length, or -1
  // when sending fails, times out, or would pass the total given to Send.
  virtual long Write(const void* data, size_t length) = 0;
  // Waits for the final response header (interim 1xx responses are skipped).
  // False when the body given to Send is incomplete, on a transfer error, or
  // when nothing arrives within the receive time-out.
  virtual bool ReceiveResponse() = 0;
  // The final response header as received: the status line and the fields,
  // each ending in CR LF, then the empty line. Empty before ReceiveResponse.
  virtual const std::string& RawHeaders() const = 0;
  // Reads response body bytes into buffer until size bytes arrived or the
  // body ended. Returns the count, 0 at the end of the body, -1 on a
  // transfer error or time-out (with nothing read in this call).
  virtual long Read(void* buffer, size_t size) = 0;
  // Ends the request and the session; the object may be opened again.
  virtual void Close() = 0;

  // What failed last, for logs.
  virtual const std::string& LastError() const = 0;
  // The library's code of the last failure, 0 when none.
  virtual int LastErrorCode() const = 0;
};

// A request object carried by libcurl. Never null.
std::unique_ptr<HttpRequest> MakeHttpRequest();

}  // namespace corvane::platform
