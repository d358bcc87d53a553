// MakeTransport and DestroyTransport: the two functions the Transport library exports.
#include <exception>
#include <memory>

#include "sealvault/Debug.h"
#include "transport/HTTPTransport.h"
#include "transport/Transport.h"
#include "wirelane/sockets/SocketStartup.h"

namespace {

constexpr unsigned short kWinSockVersion = 0x0202;
constexpr int kHttpThroughPlatformStack = 8;

bool IsCarrierStillMissing(int kind) { return kind >= 1 && kind <= 7; }

}  // namespace

extern "C" Transport* MakeTransport(int kind, const char* user, const char* password, int debugMode,
                                    const char* extra) {
  if (Debug::m_nDebugMode <= 0 && debugMode > 0) {
    Debug::SetDebugMode(debugMode);
    Debug("MakeTransport").print("MakeTransport - Setting DebugMode to %d\n", debugMode);
  }
  Debug debug("MakeTransport");
  if (WSAStartup(kWinSockVersion, nullptr) != 0) {
    debug.logerror("Factory", 76, "MakeTransport - Error initializing WinSock\n");
    return nullptr;
  }
  if (IsCarrierStillMissing(kind)) {
    debug.logerror("Factory", __LINE__,
                   "MakeTransport - the carrier of transport kind %d is not built yet\n", kind);
    WSACleanup();
    return nullptr;
  }
  try {
    auto transport = std::make_unique<HTTPTransport>(user, password, extra);
    if (kind == kHttpThroughPlatformStack) transport->SetProperty("WinSock", "1");
    return transport.release();
  } catch (const std::exception&) {
    WSACleanup();
    return nullptr;
  }
}

extern "C" void DestroyTransport(Transport* transport) {
  Debug debug("DestroyTransport");
  if (transport == nullptr) return;
  delete transport;
  WSACleanup();
}
