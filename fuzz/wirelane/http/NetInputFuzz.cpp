// Fuzz target: a response whose body arrives chunked (or with a length, or until the end) in arbitrary
// bytes, read by NetInput with its decoders (chunks, gzip, multipart, DIME, form fields).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "sealvault/Debug.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/sockets/CSocket.h"

namespace {

// Serves the bytes of one input as if they came off the wire.
class InputSocket : public CSocket {
 public:
  void Load(std::string bytes) {
    bytes_ = std::move(bytes);
    at_ = 0;
  }

 protected:
  int ReadData(unsigned, char* buffer, unsigned size) override {
    const size_t left = bytes_.size() - at_;
    const size_t count = size < left ? size : left;
    std::memcpy(buffer, bytes_.data() + at_, count);
    at_ += count;
    return static_cast<int>(count);
  }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

class InputSock : public HTTPSock {
 public:
  explicit InputSock(CSocket* connection) : HTTPSock(connection, HTTPSock::Plain, 1 << 20) {}
};

// The header the first input byte chooses; the rest of the input is the body.
const char* HeaderFor(uint8_t choice) {
  static const char* const kHeaders[] = {
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Type: multipart/related; boundary=b\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Encoding: gzip\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: application/dime\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 64\r\nContent-Type: multipart/form-data; boundary=\"b\"\r\n\r\n",
  };
  return kHeaders[choice % (sizeof kHeaders / sizeof kHeaders[0])];
}

}  // namespace

// Error lines for every malformed input would only slow the run down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Debug::SetLogFile("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static InputSocket* connection = new InputSocket;
  static InputSock* socket = new InputSock(connection);
  if (size == 0) return 0;
  connection->Load(std::string(HeaderFor(data[0])) + std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  NetInput message(socket);
  message.Receive();
  message.Get("mime|0");
  message.Get("dime|0");
  unsigned long length = 0;
  message.GetAttachment(0, length);
  message.GetAttachmentProperty(0, "type");
  return 0;
}
