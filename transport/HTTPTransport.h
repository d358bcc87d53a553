// HTTPTransport: carries a request over HTTP(S) through a NetClient and exposes its reply.
#pragma once

#include <memory>
#include <string>

#include "transport/Transport.h"

class NetClient;

// Adds to the client a default XML content type, the quoting of "SOAPAction"
// and a certificate file (set with AddHeader("CertFile", path)) that applies
// to "https:" addresses only. Replies belong to the client and stay valid
// until the next Send, Clear or destruction.
class TRANSPORT_API HTTPTransport : public Transport {
 public:
  HTTPTransport(const char* user, const char* password, const char* extra);
  ~HTTPTransport() override;

  // Returns the reply body (or its first MIME/DIME part) with *length the
  // whole reply's length; null with *length 0 when the exchange failed or the
  // reply had no body.
  const char* Send(const char* url, const char* method, const char* body, unsigned long* length,
                   const char* certificate) override;
  // "CertFile" stores the certificate file; an unquoted "SOAPAction" value is
  // quoted; everything else becomes a request header. Null texts are ignored.
  void AddHeader(const char* name, const char* value) override;
  void Clear() override;
  // port is read as an unsigned 16-bit number (0 keeps the port in host or the last one).
  void SetProxy(const char* host, short port, const char* user, const char* password) override;
  // The client's Get: "ResponseHeader", "header|Name", "cookie|Name", ...
  const char* GetHeader(const char* name) override;
  // "Timeout" (any case) sets the client's time-out in milliseconds; other
  // pairs become client properties.
  void SetProperty(const char* name, const char* value) override;
  const char* GetProperty(const char* name) override;
  bool AddAttachment(const char* path, const char* id, const char* type,
                     const char* container) override;
  unsigned char* GetAttachment(int index, unsigned long& size) override;
  unsigned char* GetAttachment(const char* name, unsigned long& size) override;
  const char* GetAttachmentProperty(int index, const char* property) override;
  const char* GetAttachmentProperty(const char* name, const char* property) override;

 private:
  std::unique_ptr<NetClient> client_;
  std::string user_;
  std::string password_;
  std::string default_address_;
  std::string certificate_file_;
};
