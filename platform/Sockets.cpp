// The socket operation table over POSIX sockets and getaddrinfo.
#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/SystemError.h"

namespace corvane::platform {

const int kReceiveTimeoutOption = SO_RCVTIMEO;
const int kSendTimeoutOption = SO_SNDTIMEO;
const int kReuseAddressOption = SO_REUSEADDR;

namespace {

sockaddr_in ToSockaddr(const Ipv4Endpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  address.sin_addr.s_addr = htonl(endpoint.address);
  return address;
}

Ipv4Endpoint FromSockaddr(const sockaddr_in& address) {
  return Ipv4Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

bool Interrupted(long result) { return result < 0 && LastSystemError() == EINTR; }

int ClampCount(ssize_t count) { return count > INT_MAX ? INT_MAX : static_cast<int>(count); }

std::size_t ClampSize(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? static_cast<std::size_t>(INT_MAX) : size;
}

SocketHandle OpenStream() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

int SetSocketOption(SocketHandle socket, int option, int value) {
  if (option == SO_RCVTIMEO || option == SO_SNDTIMEO) {
    if (value < 0) {
      SetLastSystemError(EINVAL);
      return -1;
    }
    timeval limit{};
    limit.tv_sec = value / 1000;
    limit.tv_usec = (value % 1000) * 1000;
    return ::setsockopt(socket, SOL_SOCKET, option, &limit, sizeof limit);
  }
  return ::setsockopt(socket, SOL_SOCKET, option, &value, sizeof value);
}

int SetNoDelay(SocketHandle socket, bool on) {
  int value = on ? 1 : 0;
  return ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

int Connect(SocketHandle socket, const Ipv4Endpoint& peer) {
  const sockaddr_in address = ToSockaddr(peer);
  int result = ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  // An interrupted connect goes on in the background; it must not be restarted
  // (that gives EALREADY), so report it like any other failure.
  return result < 0 ? -1 : 0;
}

int Bind(SocketHandle socket, const Ipv4Endpoint& local) {
  const sockaddr_in address = ToSockaddr(local);
  return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 ? -1 : 0;
}

int Listen(SocketHandle socket) { return ::listen(socket, SOMAXCONN) < 0 ? -1 : 0; }

SocketHandle Accept(SocketHandle socket, Ipv4Endpoint* peer) {
  sockaddr_in address{};
  SocketHandle accepted;
  do {
    socklen_t length = sizeof address;
    accepted = ::accept4(socket, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  } while (Interrupted(accepted));
  if (accepted < 0) return kNoSocket;
  if (peer != nullptr) *peer = FromSockaddr(address);
  return accepted;
}

int Send(SocketHandle socket, const char* data, std::size_t size) {
  ssize_t sent;
  do {
    sent = ::send(socket, data, ClampSize(size), MSG_NOSIGNAL);
  } while (Interrupted(sent));
  return sent < 0 ? -1 : ClampCount(sent);
}

int ReceiveWith(SocketHandle socket, char* buffer, std::size_t size, int flags) {
  ssize_t received;
  do {
    received = ::recv(socket, buffer, ClampSize(size), flags);
  } while (Interrupted(received));
  return received < 0 ? -1 : ClampCount(received);
}

int Receive(SocketHandle socket, char* buffer, std::size_t size) {
  return ReceiveWith(socket, buffer, size, 0);
}

int Peek(SocketHandle socket, char* buffer, std::size_t size) {
  return ReceiveWith(socket, buffer, size, MSG_PEEK);
}

int ShutdownSend(SocketHandle socket) { return ::shutdown(socket, SHUT_WR) < 0 ? -1 : 0; }

int Close(SocketHandle socket) { return ::close(socket) < 0 ? -1 : 0; }

int LocalEndpoint(SocketHandle socket, Ipv4Endpoint* local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) < 0) return -1;
  if (address.sin_family != AF_INET) {
    SetLastSystemError(EAFNOSUPPORT);
    return -1;
  }
  if (local != nullptr) *local = FromSockaddr(address);
  return 0;
}

int Resolve(const char* name, std::uint32_t* address, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(name, nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    if (error != nullptr) {
      // EAI_SYSTEM is the one resolver failure whose reason sits in errno.
      *error = status == EAI_SYSTEM ? SystemErrorText(LastSystemError())
                                    : std::string(::gai_strerror(status));
    }
    if (found != nullptr) ::freeaddrinfo(found);
    return -1;
  }
  const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  if (address != nullptr) *address = ntohl(first->sin_addr.s_addr);
  ::freeaddrinfo(found);
  return 0;
}

int HostName(char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) {
    SetLastSystemError(EINVAL);
    return -1;
  }
  if (::gethostname(buffer, size) < 0) return -1;
  buffer[size - 1] = '\0';  // gethostname need not terminate a cut name
  return 0;
}

bool ParseDotted(const char* text, std::uint32_t* address) {
  in_addr parsed{};
  if (text == nullptr || ::inet_aton(text, &parsed) == 0) return false;
  if (address != nullptr) *address = ntohl(parsed.s_addr);
  return true;
}

void FormatDotted(std::uint32_t address, char* text) {
  in_addr value{};
  value.s_addr = htonl(address);
  if (::inet_ntop(AF_INET, &value, text, kDottedAddressSize) == nullptr) text[0] = '\0';
}

constexpr SocketApi kPosixSockets = {
    .open_stream = OpenStream,
    .set_socket_option = SetSocketOption,
    .set_no_delay = SetNoDelay,
    .connect = Connect,
    .bind = Bind,
    .listen = Listen,
    .accept = Accept,
    .send = Send,
    .receive = Receive,
    .peek = Peek,
    .shutdown_send = ShutdownSend,
    .close = Close,
    .local_endpoint = LocalEndpoint,
    .resolve = Resolve,
    .host_name = HostName,
    .parse_dotted = ParseDotted,
    .format_dotted = FormatDotted,
};

}  // namespace

const SocketApi& Sockets() { return kPosixSockets; }

}  // namespace corvane::platform
