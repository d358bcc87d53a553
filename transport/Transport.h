// Transport: the one interface through which a host sends a request message, whatever carries it.
#pragma once

#include "transport/TransportExport.h"

// Every carrier (HTTP(S), mail, message queue, ...) derives from Transport
// and is reached through the same thirteen operations, in this slot order.
// Transports are made by MakeTransport and released only by
// DestroyTransport. Strings returned belong to the transport and stay valid
// until its next operation or its destruction. One thread uses a transport
// at a time.
class TRANSPORT_API Transport {
 public:
  virtual ~Transport();
  // Carries body (*length bytes, or NUL-terminated text for the text-only
  // carriers) to url (or recipient, or queue) with method; certificate is a
  // client certificate file used for "https:" addresses only (may be null).
  // Returns the reply (owned by the transport) with *length set to its size,
  // an empty text for one-way carriers, or null (and *length 0 for the HTTP
  // carriers) when the message was not carried.
  virtual const char* Send(const char* url, const char* method, const char* body,
                           unsigned long* length, const char* certificate) = 0;
  // Adds a request header or a carrier parameter given by name.
  virtual void AddHeader(const char* name, const char* value) = 0;
  // Releases the request, the reply and any connection.
  virtual void Clear() = 0;
  virtual void SetProxy(const char* host, short port, const char* user, const char* password) = 0;
  // A value of the reply, or null.
  virtual const char* GetHeader(const char* name) = 0;
  virtual void SetProperty(const char* name, const char* value) = 0;
  virtual const char* GetProperty(const char* name) = 0;
  // Adds an attachment; the four texts mean what the carrier says. True when added.
  virtual bool AddAttachment(const char* a, const char* b, const char* c, const char* d) = 0;
  // The bytes of a reply attachment with their count in size, or null.
  virtual unsigned char* GetAttachment(int index, unsigned long& size) = 0;
  virtual unsigned char* GetAttachment(const char* name, unsigned long& size) = 0;
  // A property of a reply attachment, or null (the base answers null).
  virtual const char* GetAttachmentProperty(int index, const char* property);
  virtual const char* GetAttachmentProperty(const char* name, const char* property);
};

// The do-nothing behaviour shared by carriers that do not support an
// operation; a carrier derives from it and replaces what it supports.
class TRANSPORT_API TransportDefaults : public Transport {
 public:
  void SetProxy(const char* host, short port, const char* user, const char* password) override;
  const char* GetHeader(const char* name) override;
  void SetProperty(const char* name, const char* value) override;
  const char* GetProperty(const char* name) override;
  bool AddAttachment(const char* a, const char* b, const char* c, const char* d) override;
  unsigned char* GetAttachment(int index, unsigned long& size) override;
  unsigned char* GetAttachment(const char* name, unsigned long& size) override;
};

extern "C" {
// Builds a transport of kind: 0 and every unknown value HTTP(S); 8 HTTP(S)
// through the platform HTTP stack; 1 to 7 the other carriers. user and
// password are the server credentials (HTTP and web carriers), extra is
// handed to the HTTP client. debugMode above 0 sets the process's debug
// level when it is still 0. Returns null when the socket library cannot start
// or the carrier cannot be built (logged). Release with DestroyTransport.
TRANSPORT_API Transport* MakeTransport(int kind, const char* user, const char* password,
                                       int debugMode, const char* extra);
// Deletes a transport made by MakeTransport; null is ignored.
TRANSPORT_API void DestroyTransport(Transport* transport);
}
