// Plain TCP socket over IPv4: blocking calls with time-outs, buffered output, line reading and
// CONNECT tunnels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/BufferIOHandler.h"
#include "wirelane/WirelaneExport.h"
#include "wirelane/sockets/CSocketBase.h"

namespace corvane {
class ReceiveBuffer;
}

// A TCP connection (or listener) over IPv4. The TLS, secure-channel, framed
// and UDP sockets derive from it and replace WriteData/ReadData (and the
// factory CreateSocket); everything else works through those two.
//
// Reading: ReadLine takes what the connection has (up to 16 KB) in one
// ReadData call and keeps the rest inside the socket, so lines are served
// from memory. Read, ReadLine and ReadStream always hand out those kept bytes
// first; code that reads the descriptor itself does not see them (see
// BufferedInputLength).
//
// Time-outs: every send and receive gives up after 120 seconds by default
// (SetTimeOut changes that). Accept waits without limit unless the host sets
// a receive time-out on the listening socket after Listen.
//
// Results follow the socket calls: -1 on failure, 0 at end of data; the
// reason is written to the log and GetLastError() gives the system error.
//
// Not thread-safe: a socket is used by one thread at a time; an accepting
// server hands each accepted socket to the thread that serves it. Hosts call
// WSAStartup (wirelane/sockets/SocketStartup.h) before making sockets.
class WIRELANE_API CSocket : public CSocketBase {
 public:
  // The descriptor value that means "no socket".
  static constexpr unsigned int kNoDescriptor = 0xFFFFFFFFu;

  // descriptor: an open socket to take over (owned from now on, closed by
  // Close or the destructor), or kNoDescriptor to create a new IPv4 stream
  // socket. certificate (may be null) and properties (may be null) are
  // copied. Receive and send time-outs are set to 120 s and Nagle's algorithm
  // is switched off. A socket that cannot be created leaves the object closed
  // (IsOpen() false) and logs the reason.
  explicit CSocket(unsigned int descriptor = kNoDescriptor, const char* certificate = nullptr,
                   const SocketPropertyMap* properties = nullptr);
  // Closes the connection when one is open.
  ~CSocket() override;

  // Hands length bytes of data (only read during the call) to WriteData in
  // pieces of at most the "ChunkSize" property (decimal, read through
  // GetProperty; 10240 when absent; a value of 0 or less makes one empty
  // piece). Returns length when all were taken, else the first result below
  // 1. 0 for null data or a closed socket; -1 for a length above INT_MAX.
  int Write(const char* data, unsigned int length) override;
  // Waits until size bytes are in buffer (owned by the caller, at least size
  // bytes), the peer closes, an error occurs or the receive time-out ends.
  // Returns the count stored (a partial count is a normal result), 0 for size
  // 0 (buffer untouched) or a closed socket; -1 for a null buffer. No
  // terminator is added; buffer[0] is set to NUL first.
  int Read(char* buffer, unsigned int size) override;
  // Replaces line by the next line, ending after its LF (kept, with a CR
  // before it) or at a NUL byte (dropped). Returns the length; 0 for a closed
  // socket or when nothing could be read; a line cut by end of data or an
  // error is returned with its length. No length limit.
  int ReadLine(std::string& line) override;
  // Connects to host (dotted address or name, resolved through the system
  // resolver; copied) and port. Returns 0 on success, -1 on failure: null or
  // empty host, an invalid dotted address (no message), a name that does not
  // resolve (GetErrString then gives the resolver's message), a refused or
  // timed-out connection, or a closed socket.
  int Connect(const char* host, int port) override;
  // Binds to host (dotted address or name; null or empty: every interface)
  // and port (0: any free port, see GetLocalPort) and listens. A closed
  // socket gets a new descriptor first. Returns 0 on success, -1 on failure.
  int Listen(const char* host, int port) override;
  // Ends sending, releases the descriptor and drops unread buffered input.
  // Safe to call on a closed socket.
  void Close() override;

  // Turns buffered output into one Write: returns 0 when buffering is off,
  // else the result of Write for the collected bytes (0 when none were
  // collected). The collected bytes are dropped either way; buffering stays on.
  virtual int Flush();
  // The descriptor, kNoDescriptor when closed.
  virtual unsigned int GetFd();
  // Reads one line into buffer (owned by the caller, size bytes, size >= 1),
  // always terminated. Returns the count stored with its LF (and CR); at a
  // NUL byte the count before it (the NUL is dropped); size - 1 when the
  // buffer filled first (the rest of the line stays for the next call). When
  // the connection ends or fails before the line ends, returns that result
  // (0 or negative) although bytes may be stored. -1 for a closed socket, a
  // null buffer or size 0.
  virtual int ReadLine(char* buffer, unsigned int size);
  // Formats like printf (at most 1023 characters) and logs the text as an error.
  virtual void PrintError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Waits for a connection on a listening socket. Returns a new socket made
  // by CreateSocket with this socket's properties and the peer's dotted
  // address (GetIPAddr); the caller owns it and deletes it. Null on failure.
  virtual CSocket* Accept();
  // Connects to the proxy (plain TCP, also in subclasses) and opens a CONNECT
  // tunnel to host:port; with user non-empty and password non-null, Basic
  // credentials are sent. All texts are only read during the call. Returns 0
  // when the proxy grants the tunnel (its reply headers are consumed and
  // nothing after them), -1 otherwise: connection or send failure, refusal,
  // a reply cut off, longer than 64 KB or not ended within the receive
  // time-out, or a host containing blanks or control characters.
  virtual int ProxyConnect(const char* proxyHost, int proxyPort, const char* user,
                           const char* password, const char* host, int port);
  // setsockopt at socket level with value (SO_RCVTIMEO and SO_SNDTIMEO from
  // <sys/socket.h> take milliseconds, 0 = no limit). 0 on success, -1 on failure.
  virtual int SetSockLevelOpt(int option, int value);
  // The calling thread's last system error number (errno).
  virtual int GetLastError();

  // True while a descriptor is held.
  bool IsOpen() const { return descriptor_ != kNoDescriptor; }
  // The descriptor, as GetFd() gives it.
  operator unsigned int() { return GetFd(); }
  // Replaces the descriptor without closing the old one (the caller keeps
  // that one) and drops unread buffered input.
  void SetFd(unsigned int descriptor);
  // Host last given to Connect or Listen, or null. Owned by the socket.
  const char* GetHostName() const;
  // 1 after Connect was called on this socket, else 0.
  int IsClientSocket() const { return client_; }
  // Dotted address of the peer of an accepted socket, else "".
  const char* GetIPAddr() const { return peer_text_; }
  // Certificate text given at construction, or null. Owned by the socket.
  const char* GetCert() const;
  // The handler collecting buffered output; owned by the socket and replaced
  // by Flush and ClearBuffer (do not keep the pointer across them).
  BufferIOHandler* GetIOHandler() { return output_.get(); }
  // A number callers keep with the socket; 0 after construction and Connect.
  void SetSockError(int error) { sock_error_ = error; }
  int GetSockError() const { return sock_error_; }
  // Port this socket is bound to (after Listen or Connect), -1 when unknown.
  int GetLocalPort() const;
  // Bytes received and kept inside the socket that Read/ReadLine will hand
  // out before touching the connection again.
  unsigned int BufferedInputLength() const;

  // Sets a socket-level option like SetSockLevelOpt, ignoring the result.
  void SetTimeOut(int option, int value);
  // Write(text, strlen(text)); 0 for null text.
  int Write(const char* text);
  // Writes the UTF-16 code units of the NUL-terminated text as bytes (two
  // per unit, no terminator); 0 for null text.
  int Write(const unsigned short* text);
  // Connect(host, atoi(port)); -1 for a null port.
  int Connect(const char* host, const char* port);
  // on != 0 routes all further WriteData output into the output handler
  // until Flush; 0 stops buffering without sending what was collected.
  void SetBufferOutput(int on) { buffering_ = on != 0 ? 1 : 0; }
  // 1 while output is buffered (SetBufferOutput), else 0.
  int GetBufferOutput() const { return buffering_; }
  // The collected output bytes (not terminated; length from
  // GetIOHandler()->GetLength()), or null when none. Owned by the socket.
  const char* GetOutputBuffer();
  // Drops collected output (the output handler is replaced).
  void ClearBuffer();
  // Stores a copy of text as the error text; null stores
  // "Socket Error : <GetLastError()>".
  void SetErrString(const char* text);
  // The error text; first sets it from the current error when there is none
  // yet or refresh is true. Owned by the socket, valid until the next change.
  const char* GetErrString(bool refresh = false);
  // Dotted address of this machine's name, or "127.0.0.1" when the name does
  // not resolve. Owned by the socket, valid until the next call.
  const char* GetLocalHostIp();

 protected:
  // Replaces the peer's dotted address text (cut to 19 characters); for
  // subclasses whose connections are accepted by something else.
  void SetIPAddr(const char* text);
  // Hands length bytes to the connection in one send (or appends them to the
  // output handler while buffering). Returns the bytes taken or -1.
  virtual int WriteData(unsigned int descriptor, const char* data, unsigned int length);
  // One receive of up to size bytes into buffer. Returns the count, 0 when
  // the peer has closed, -1 on failure or time-out.
  virtual int ReadData(unsigned int descriptor, char* buffer, unsigned int size);
  // Makes the socket for an accepted descriptor; subclasses make their own
  // kind. The result is owned by the caller; null closes the descriptor.
  virtual CSocket* CreateSocket(unsigned int descriptor, const char* certificate,
                                const SocketPropertyMap* properties);

 private:
  struct Endpoint {
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;
  };

  void Initialize();
  int FillReceiveBuffer();
  int CollectLine(std::size_t limit, const std::function<void(std::string_view)>& sink);
  bool ResolveHost(const char* host, std::uint32_t* address, std::string* error);
  bool SetBindAddress(const char* host, int port);
  int SendPlain(const char* data, std::size_t length);
  int ReadProxyReply(const char* proxyHost, int proxyPort);
  std::string LastErrorText();

  std::optional<std::string> certificate_;
  std::unique_ptr<BufferIOHandler> output_;
  std::optional<std::string> error_text_;
  char local_text_[20] = {};
  unsigned int descriptor_ = kNoDescriptor;
  std::optional<std::string> host_name_;
  char peer_text_[20] = {};
  Endpoint bind_address_;
  Endpoint peer_address_;
  int client_ = 0;
  int buffering_ = 0;
  int sock_error_ = 0;
  std::unique_ptr<corvane::ReceiveBuffer> received_;
};
