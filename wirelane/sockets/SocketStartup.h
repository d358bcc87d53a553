// Socket-library start and clean-up calls that hosts make before and after using sockets.
#pragma once

#include "wirelane/WirelaneExport.h"

extern "C" {

// Starts the socket library for the caller. POSIX sockets need no start-up, so
// this only counts the call; version and data are accepted and ignored (data
// may be null). Returns 0. Thread-safe.
WIRELANE_API int WSAStartup(unsigned short version, void* data);

// Balances one earlier WSAStartup. Returns 0, or -1 when no start is left to
// balance. Thread-safe.
WIRELANE_API int WSACleanup(void);
}
