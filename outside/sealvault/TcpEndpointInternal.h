// TcpEndpointInternal: the plain POSIX socket steps under SChannel (connect, listen, accept,
// time-outs).
#pragma once

#include <csignal>
#include <string>

class Debug;

namespace corvane {

// Blocking TCP operations with receive and send time-outs, so that no call
// waits forever on a silent peer. Failures are logged through the given Debug
// with the "SChannel" tag and reported as -1. Thread-safe (no shared state).
class TcpEndpoint {
 public:
  // Connects to host:port (names and numeric addresses of either family, tried
  // in resolver order). The new socket gets time-outs of timeoutMs for sends
  // (which bound the connect as well) and receives, and TCP_NODELAY. Returns
  // the connected descriptor, owned by the caller, or -1.
  static int Connect(const char* host, int port, int timeoutMs, Debug& log);
  // True when fd is a connected stream socket.
  static bool IsConnected(int fd);
  // Binds and listens on host:port; a null, empty or "*" host means every IPv4
  // address, port 0 an ephemeral port. Returns the listening descriptor, owned
  // by the caller, or -1.
  static int Listen(const char* host, int port, Debug& log);
  // Waits for one connection on listenFd. Sets peerAddress to the peer's
  // numeric address (dotted text for IPv4 and IPv4-mapped IPv6) and applies
  // the time-outs. Returns the new descriptor, owned by the caller, or -1.
  static int Accept(int listenFd, int timeoutMs, std::string& peerAddress, Debug& log);
  // The local port fd is bound to, or -1.
  static int LocalPort(int fd);
  // Sets the receive and send time-outs of fd.
  static void SetTimeouts(int fd, int timeoutMs);
  // Closes fd when it is not -1, and sets it to -1.
  static void Close(int& fd);

  // Holds SIGPIPE blocked for the calling thread while TLS writes to a socket
  // the peer may have closed, and discards a SIGPIPE raised meanwhile, so a
  // closed peer shows as a failed write rather than ending the process.
  class SigpipeGuard {
   public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

   private:
    sigset_t previous_;
    bool was_pending_ = false;
  };
};

}  // namespace corvane
