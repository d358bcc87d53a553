// Exported socket-library start and clean-up, counted by the platform layer.
#include "wirelane/sockets/SocketStartup.h"

#include "platform/SocketStartup.h"

extern "C" int WSAStartup(unsigned short, void*) { return corvane::platform::StartSockets(); }

extern "C" int WSACleanup(void) { return corvane::platform::StopSockets(); }
