// HTTPTransport: HTTP(S) through the client, with SOAP defaults and https-only certificates.
#include "transport/HTTPTransport.h"

#include <strings.h>

#include <cstdlib>
#include <exception>

#include "common/NoCase.h"
#include "sealvault/Debug.h"
#include "wirelane/http/NetClient.h"

HTTPTransport::HTTPTransport(const char* user, const char* password, const char* extra)
    : user_(user != nullptr ? user : ""), password_(password != nullptr ? password : "") {
  client_ = std::make_unique<NetClient>(user, password, extra, certificate_file_.c_str(), nullptr);
}

HTTPTransport::~HTTPTransport() = default;

void HTTPTransport::AddHeader(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return;
  if (corvane::EqualsNoCase(name, "CertFile")) {
    certificate_file_ = value;
    return;
  }
  if (!corvane::EqualsNoCase(name, "SOAPAction") || value[0] == '"') {
    client_->AddHeader(name, value);
    return;
  }
  client_->AddHeader("SOAPAction", (std::string("\"") + value + "\"").c_str());
}

const char* HTTPTransport::Send(const char* url, const char* method, const char* body,
                                unsigned long* length, const char* certificate) {
  Debug debug("HTTPTransport::Send");
  const char* address = url != nullptr && *url != '\0' ? url : default_address_.c_str();
  unsigned long ignored = 0;
  if (length == nullptr) length = &ignored;
  try {
    if (client_->GetRequestHeader("Content-Type") == nullptr)
      client_->AddHeader("Content-Type", "text/xml; charset=\"utf-8\"");
    if (url != nullptr && strncasecmp(url, "https:", 6) == 0) {
      const std::string chosen = certificate != nullptr ? certificate : certificate_file_;
      if (!chosen.empty())
        client_->SetCertFile(chosen.c_str());
      else if (!certificate_file_.empty())
        client_->SetCertFile(certificate_file_.c_str());
    }
    if (body != nullptr) client_->Write(body, static_cast<int>(*length));
    if (client_->SendRequest(method != nullptr ? method : "POST", address) <= 0) {
      *length = 0;
      return nullptr;
    }
    const char* first_part = client_->Get("mime|0");
    *length = static_cast<unsigned long>(client_->GetContentLength());
    return first_part != nullptr ? first_part : client_->GetContent();
  } catch (const std::exception&) {
    debug.logerror("HTTPTransport", 123, "Exception while sending request to %s\n", address);
    *length = 0;
    return nullptr;
  }
}

void HTTPTransport::Clear() { client_->Clear(); }

void HTTPTransport::SetProxy(const char* host, short port, const char* user, const char* password) {
  // The port travels as 16 bits; read as signed, every port above 32767
  // (most ephemeral ports) would turn negative and be dropped.
  client_->SetProxy(host, static_cast<unsigned short>(port), user, password);
}

const char* HTTPTransport::GetHeader(const char* name) { return client_->Get(name); }

void HTTPTransport::SetProperty(const char* name, const char* value) {
  if (name != nullptr && value != nullptr && corvane::EqualsNoCase(name, "Timeout")) {
    client_->SetTimeout(std::strtoul(value, nullptr, 10));
    return;
  }
  client_->SetProperty(name, value);
}

const char* HTTPTransport::GetProperty(const char* name) { return client_->GetProperty(name); }

bool HTTPTransport::AddAttachment(const char* path, const char* id, const char* type,
                                  const char* container) {
  return client_->AddAttachment(path, id, type, container);
}

unsigned char* HTTPTransport::GetAttachment(int index, unsigned long& size) {
  return client_->GetAttachment(index, size);
}

unsigned char* HTTPTransport::GetAttachment(const char* name, unsigned long& size) {
  return client_->GetAttachment(name, size);
}

const char* HTTPTransport::GetAttachmentProperty(int index, const char* property) {
  return client_->GetAttachmentProperty(index, property);
}

const char* HTTPTransport::GetAttachmentProperty(const char* name, const char* property) {
  return client_->GetAttachmentProperty(name, property);
}
