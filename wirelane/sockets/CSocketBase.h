// The common face of every socket: stream operations, text properties and abstract transfers.
#pragma once

#include <map>
#include <string>

#include "common/IOStream.h"
#include "common/NoCase.h"
#include "wirelane/WirelaneExport.h"

// A socket's text properties ("ChunkSize", "PeerCertificate", ...): names are
// compared without regard to letter case, at most one value per name.
using SocketPropertyMap = std::map<std::string, std::string, corvane::NoCaseLess>;

// Base of all socket kinds (CSocket and its TLS and UDP subclasses, and the
// HTTP socket that wraps one of them). It turns the IOStream operations into
// the socket's own Read and Write, so a socket can be handed to any stream
// writer, and keeps the property set. Result conventions of the abstract
// operations: a count (or 0) on success, -1 or another negative value on
// failure, 0 from reads at end of data.
//
// Not thread-safe: a socket is used by one thread at a time.
class WIRELANE_API CSocketBase : public IOStream {
 public:
  CSocketBase();

  // Read(buffer, size); a negative result of Read gives 0. size is cut to
  // the largest count an int result can carry.
  unsigned long ReadStream(void* buffer, unsigned long size) override;
  // 0 for null text, else Write(text, strlen(text)); 0 when that fails.
  unsigned long WriteStream(const char* text) override;
  // Write(data, size); 0 when Write returns 0 or less (or data is null).
  unsigned long WriteStream(const void* data, unsigned long size) override;
  // Same as WriteStream(const char*).
  unsigned long WriteStreamA(const char* text) override;
  // Closes nothing itself: each subclass releases its connection.
  ~CSocketBase() override;

  // Sends length bytes of data (not owned, only read during the call).
  // Returns length once all were handed over, else the failing result (<= 0).
  virtual int Write(const char* data, unsigned int length) = 0;
  // Receives up to size bytes into buffer (owned by the caller). Returns the
  // count received, 0 at end of data or on failure.
  virtual int Read(char* buffer, unsigned int size) = 0;
  // Replaces line by the next line with its line end. Returns its length, 0
  // at end of data.
  virtual int ReadLine(std::string& line) = 0;
  // Connects to host (text, copied) and port. 0 on success, -1 on failure.
  virtual int Connect(const char* host, int port) = 0;
  // Listens on host's address (null or empty: every interface) and port.
  // 0 on success, -1 on failure.
  virtual int Listen(const char* host, int port) = 0;
  // Ends the connection; the socket can no longer read or write.
  virtual void Close() = 0;

  // Stores a copy of value under name, replacing an earlier value; does
  // nothing when either text is null.
  virtual void SetProperty(const char* name, const char* value);
  // Replaces the whole property set by a copy of properties.
  virtual void SetProperty(const SocketPropertyMap& properties);
  // The value stored under name, or null (also for a null name). The text
  // belongs to the socket and stays valid until that property is changed or
  // the socket is destroyed.
  virtual const char* GetProperty(const char* name);

  CSocketBase(const CSocketBase&) = delete;
  CSocketBase& operator=(const CSocketBase&) = delete;

 protected:
  // The property set; subclasses hand it on to the sockets they accept.
  SocketPropertyMap properties_;
};
