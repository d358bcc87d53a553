// The POSIX socket calls the socket classes make, gathered in one table of operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::platform {

// A socket descriptor; kNoSocket when there is none.
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// Socket-level option numbers as the host's SetTimeOut and SetSockLevelOpt
// calls pass them (SO_RCVTIMEO, SO_SNDTIMEO, SO_REUSEADDR).
extern const int kReceiveTimeoutOption;
extern const int kSendTimeoutOption;
extern const int kReuseAddressOption;

// Longest dotted address text including its NUL ("255.255.255.255").
inline constexpr std::size_t kDottedAddressSize = 16;

// The socket operations, one entry per call the socket classes need. Every
// entry that returns int gives 0 (or a count) on success and -1 on failure
// with the reason left in the thread's system error (LastSystemError() of
// platform/SystemError.h). Calls interrupted by a signal are restarted, except
// connect (see connect). All entries may be called from several threads at once.
struct SocketApi {
  // New IPv4 stream socket, closed on exec; kNoSocket on failure.
  SocketHandle (*open_stream)();
  // setsockopt at socket level with an int value. SO_RCVTIMEO and SO_SNDTIMEO
  // take milliseconds (0 = wait for ever), converted to the timeval Linux
  // expects; a negative time fails with EINVAL.
  int (*set_socket_option)(SocketHandle socket, int option, int value);
  // Switches Nagle's algorithm off (on = true) or back on.
  int (*set_no_delay)(SocketHandle socket, bool on);
  // Blocking connect to peer. An interrupted connect fails with EINTR (the
  // connection goes on in the background, so it cannot simply be restarted).
  int (*connect)(SocketHandle socket, const Ipv4Endpoint& peer);
  // Binds to local (address 0 = every interface, port 0 = any free port).
  int (*bind)(SocketHandle socket, const Ipv4Endpoint& local);
  // Listens with the largest backlog the system allows.
  int (*listen)(SocketHandle socket);
  // Waits for a connection; the new socket is closed on exec. *peer (may be
  // null) receives the peer's address. kNoSocket on failure.
  SocketHandle (*accept)(SocketHandle socket, Ipv4Endpoint* peer);
  // One send of up to size bytes; never raises SIGPIPE (a closed peer gives
  // -1 with EPIPE). Returns the bytes taken, at most INT_MAX.
  int (*send)(SocketHandle socket, const char* data, std::size_t size);
  // One receive of up to size bytes; 0 when the peer has closed.
  int (*receive)(SocketHandle socket, char* buffer, std::size_t size);
  // Like receive, but the bytes stay queued in the kernel for the next receive.
  int (*peek)(SocketHandle socket, char* buffer, std::size_t size);
  // Ends the sending direction (the peer reads end of data).
  int (*shutdown_send)(SocketHandle socket);
  // Releases the descriptor; never retried (the descriptor is gone either way).
  int (*close)(SocketHandle socket);
  // The local address the socket is bound to.
  int (*local_endpoint)(SocketHandle socket, Ipv4Endpoint* local);
  // Resolves name to its first IPv4 address (thread-safe). On failure returns
  // -1 and sets *error (may be null) to the resolver's message.
  int (*resolve)(const char* name, std::uint32_t* address, std::string* error);
  // This machine's name into buffer (always terminated).
  int (*host_name)(char* buffer, std::size_t size);
  // Parses dotted text ("10.1.2.3"); false when it is not a valid address.
  bool (*parse_dotted)(const char* text, std::uint32_t* address);
  // Writes address as dotted text into text[kDottedAddressSize].
  void (*format_dotted)(std::uint32_t address, char* text);
};

// The table carried by the C library. Lives for the whole process.
const SocketApi& Sockets();

}  // namespace corvane::platform
