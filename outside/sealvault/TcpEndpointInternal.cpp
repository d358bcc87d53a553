// TcpEndpointInternal: POSIX sockets for SChannel, with time-outs and SIGPIPE kept away.
#include "TcpEndpointInternal.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>  // EINTR
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/SystemError.h"
#include "sealvault/Debug.h"

namespace corvane {

namespace {

constexpr const char* kTag = "SChannel";

std::string LastErrorText() { return platform::SystemErrorText(platform::LastSystemError()); }

struct AddressList {
  addrinfo* head = nullptr;
  ~AddressList() {
    if (head != nullptr) freeaddrinfo(head);
  }
};

// An interrupted connect goes on in the background; calling connect again
// would fail with EALREADY, so wait for the outcome instead.
bool FinishConnect(int fd, int timeoutMs) {
  pollfd wait{fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&wait, 1, timeoutMs > 0 ? timeoutMs : -1);
  } while (ready < 0 && platform::LastSystemError() == EINTR);
  if (ready == 0) platform::SetLastSystemError(ETIMEDOUT);
  int error = 0;
  socklen_t size = sizeof error;
  if (ready != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return false;
  if (error != 0) platform::SetLastSystemError(error);
  return error == 0;
}

// Makes a stream socket for each resolved address in turn and hands it to
// use, which prepares and connects or binds it. Returns the first socket use
// accepts, or -1 with the last system error text in last_error.
template <class Use>
int FirstUsableSocket(const addrinfo* addresses, Use use, std::string& last_error) {
  for (const addrinfo* at = addresses; at != nullptr; at = at->ai_next) {
    int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    if (fd < 0) {
      last_error = LastErrorText();
      continue;
    }
    if (use(fd, *at)) return fd;
    last_error = LastErrorText();
    ::close(fd);
  }
  return -1;
}

}  // namespace

void TcpEndpoint::SetTimeouts(int fd, int timeoutMs) {
  if (fd < 0 || timeoutMs <= 0) return;
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void TcpEndpoint::Close(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

int TcpEndpoint::Connect(const char* host, int port, int timeoutMs, Debug& log) {
  if (host == nullptr || *host == '\0' || port <= 0 || port > 65535) {
    log.logerror(kTag, __LINE__, "SChannel::Connect - invalid address %s:%d\n",
                 host ? host : "(null)", port);
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  AddressList addresses;
  const std::string service = std::to_string(port);
  if (const int failed = getaddrinfo(host, service.c_str(), &hints, &addresses.head); failed != 0) {
    log.logerror(kTag, __LINE__, "SChannel::Connect - cannot resolve %s: %s\n", host,
                 gai_strerror(failed));
    return -1;
  }
  std::string last_error;
  const int fd = FirstUsableSocket(
      addresses.head,
      [timeoutMs](int candidate, const addrinfo& at) {
        SetTimeouts(candidate, timeoutMs);
        const int on = 1;
        setsockopt(candidate, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return ::connect(candidate, at.ai_addr, at.ai_addrlen) == 0 ||
               (platform::LastSystemError() == EINTR && FinishConnect(candidate, timeoutMs));
      },
      last_error);
  if (fd >= 0) return fd;
  log.logerror(kTag, __LINE__, "SChannel::Connect - cannot connect to %s:%d: %s\n", host, port,
               last_error.c_str());
  return -1;
}

bool TcpEndpoint::IsConnected(int fd) {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  return fd >= 0 && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0;
}

int TcpEndpoint::Listen(const char* host, int port, Debug& log) {
  if (port < 0 || port > 65535) {
    log.logerror(kTag, __LINE__, "SChannel::Listen - invalid port %d\n", port);
    return -1;
  }
  const bool any = host == nullptr || *host == '\0' || std::strcmp(host, "*") == 0;
  addrinfo hints{};
  hints.ai_family = any ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  AddressList addresses;
  const std::string service = std::to_string(port);
  if (const int failed =
          getaddrinfo(any ? nullptr : host, service.c_str(), &hints, &addresses.head);
      failed != 0) {
    log.logerror(kTag, __LINE__, "SChannel::Listen - cannot resolve %s: %s\n", host,
                 gai_strerror(failed));
    return -1;
  }
  std::string last_error;
  const int fd = FirstUsableSocket(
      addresses.head,
      [](int candidate, const addrinfo& at) {
        const int on = 1;
        setsockopt(candidate, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        return ::bind(candidate, at.ai_addr, at.ai_addrlen) == 0 && ::listen(candidate, SOMAXCONN) == 0;
      },
      last_error);
  if (fd >= 0) return fd;
  log.logerror(kTag, __LINE__, "SChannel::Listen - cannot listen on %s:%d: %s\n", any ? "*" : host,
               port, last_error.c_str());
  return -1;
}

int TcpEndpoint::Accept(int listenFd, int timeoutMs, std::string& peerAddress, Debug& log) {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  int fd;
  do {
    size = sizeof peer;
    fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
  } while (fd < 0 && platform::LastSystemError() == EINTR);
  if (fd < 0) {
    log.logerror(kTag, __LINE__, "SChannel::Accept - accept failed: %s\n", LastErrorText().c_str());
    return -1;
  }
  SetTimeouts(fd, timeoutMs);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

  char text[INET6_ADDRSTRLEN] = "";
  if (peer.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
  } else if (peer.ss_family == AF_INET6) {
    const in6_addr& address = reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&address))
      inet_ntop(AF_INET, &address.s6_addr[12], text, sizeof text);
    else
      inet_ntop(AF_INET6, &address, text, sizeof text);
  }
  peerAddress = text;
  return fd;
}

int TcpEndpoint::LocalPort(int fd) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) return -1;
  if (local.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
  if (local.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
  return -1;
}

TcpEndpoint::SigpipeGuard::SigpipeGuard() {
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigset_t pending;
  sigpending(&pending);
  was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous_);
}

TcpEndpoint::SigpipeGuard::~SigpipeGuard() {
  sigset_t pending;
  sigpending(&pending);
  if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    const timespec now{0, 0};
    // Takes the SIGPIPE our write raised, which is pending while blocked.
    while (sigtimedwait(&pipe_only, nullptr, &now) < 0 && platform::LastSystemError() == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace corvane
