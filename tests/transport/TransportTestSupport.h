// Ownership of transports made by MakeTransport, shared by the transport tests.
#pragma once

#include "transport/Transport.h"

namespace transporttest {

// Owns a transport made by MakeTransport and releases it with DestroyTransport.
struct Made {
  Made(int kind, const char* user = nullptr, const char* password = nullptr, int debug = -1)
      : transport(MakeTransport(kind, user, password, debug, nullptr)) {}
  ~Made() { DestroyTransport(transport); }
  Made(const Made&) = delete;
  Made& operator=(const Made&) = delete;
  Transport* operator->() const { return transport; }
  Transport* transport;
};

}  // namespace transporttest
