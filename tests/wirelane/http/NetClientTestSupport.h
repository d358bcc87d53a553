// Readers of a NetClient's last response, shared by the NetClient tests.
#pragma once

#include <string>

#include "wirelane/http/NetClient.h"

namespace httptest {

// The status of the last response, or "<none>".
inline std::string Status(NetClient& client) {
  const char* status = client.GetHeader("HTTPStatus");
  return status != nullptr ? status : "<none>";
}

// The body of the last response as bytes, or "<none>" without one.
inline std::string Content(NetClient& client) {
  const char* content = client.GetContent();
  return content != nullptr ? std::string(content, static_cast<size_t>(client.GetContentLength()))
                            : "<none>";
}

}  // namespace httptest
