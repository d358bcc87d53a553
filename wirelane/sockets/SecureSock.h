// TCP socket that also sends and receives length-prefixed frames encrypted with a shared cipher.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "wirelane/WirelaneExport.h"
#include "wirelane/sockets/CSocket.h"

class Crypto;

// A plain CSocket holding a symmetric cipher pair, set up from a cipher text
// "CipherName:Key:InitialVector". The public stream operations (Write, Read,
// ReadLine, Flush, Accept, ProxyConnect) carry plain bytes exactly as in
// CSocket; subclasses exchange encrypted frames through the protected Write
// and Read overloads that take a descriptor.
//
// Frame on the wire (one protected Write gives one frame): version 1000 and
// the payload byte count n, both 32-bit little-endian, then n encrypted
// bytes. Payloads above 16 MB are neither written nor accepted.
//
// The cipher behind the name and how key and initial vector become its key
// belong to Sealvault's Crypto block form: both peers give the same texts,
// the byte count is kept, and every frame is encrypted afresh with the same
// keystream, which hides contents from onlookers but detects no tampering.
//
// Not thread-safe: a socket is used by one thread at a time.
class WIRELANE_API SecureSock : public CSocket {
 public:
  // descriptor: an open socket to take over, or kNoDescriptor to create one
  // (as CSocket). cipherText (copied; also kept as the certificate text, see
  // GetCert) is "CipherName:Key:InitialVector": blanks and tabs before each
  // part are skipped and runs of ":" count as one; with the name alone the
  // key is the name and the initial vector empty; with name and key the
  // initial vector is the key. Null leaves the socket plain without a
  // message; a text without a cipher name ("" or only separators) leaves it
  // plain and logs "SecureSock::Initialize - Incomplete cipher info string".
  SecureSock(unsigned int descriptor, const char* cipherText);
  // Releases the cipher pair, then closes like CSocket.
  ~SecureSock() override;

  using CSocket::Read;
  using CSocket::Write;

 protected:
  // Sends length bytes of data (only read during the call) to descriptor as
  // one encrypted frame, written completely (partial sends are continued).
  // While output is buffered (SetBufferOutput) the frame is added to the
  // output buffer and Flush sends it. Returns the payload byte count (equal
  // to length; 0 for an empty frame), or -1 when sending fails, the cipher
  // fails, data is null with a length, or length exceeds 16 MB (logged).
  // A plain socket hands the bytes to CSocket::WriteData unchanged and
  // returns its result (one send, possibly partial).
  virtual int Write(unsigned int descriptor, const char* data, unsigned int length);
  // Hands out the decrypted bytes of the frames arriving on descriptor, each
  // byte once: up to size bytes of the current frame into buffer (owned by
  // the caller; no terminator). When a frame is used up the next call
  // returns 0 once, and the call after it reads the next frame (waiting for
  // it within the receive time-out). Returns the count copied; 0 for size 0
  // (nothing changes) and for an empty frame; -1 when no frame could be read:
  // the connection ended, failed or timed out before a frame began, or the
  // peer sent something that is no frame (wrong version, negative length or
  // one above 16 MB, a frame cut short). After such a broken frame the
  // position in the byte stream is lost, so every later call also returns
  // -1; the caller should close the socket. A plain socket returns one
  // CSocket::ReadData of the raw bytes.
  virtual int Read(unsigned int descriptor, char* buffer, unsigned int size);

  // Sets up the cipher pair from cipherText (see the constructor). Returns
  // true when the socket is secure afterwards.
  bool Initialize(const char* cipherText);
  // True when both cipher objects exist, i.e. frames are encrypted.
  bool IsSecure() const { return encryptor_ != nullptr && decryptor_ != nullptr; }
  // The frame forms of Write and Read without the plain fallback; the socket
  // must be secure.
  int SecureWrite(unsigned int descriptor, const char* data, unsigned int length);
  int SecureRead(unsigned int descriptor, char* buffer, unsigned int size);
  // Reads 4 bytes from descriptor; true only when all arrived and they hold
  // the frame version 1000 (little-endian).
  bool VerifyVersion(unsigned int descriptor);

  // An accepted connection becomes a SecureSock with this socket's cipher
  // text and properties (owned by the caller), so a listening SecureSock
  // serves frames on the connections it accepts.
  CSocket* CreateSocket(unsigned int descriptor, const char* certificate,
                        const SocketPropertyMap* properties) override;

 private:
  int ReadFrame(unsigned int descriptor);
  bool ReadPayload(unsigned int descriptor, std::int32_t length, std::vector<char>& cipher);
  int ReadFully(unsigned int descriptor, char* buffer, unsigned int size);
  int SendFully(unsigned int descriptor, const char* data, std::size_t size);
  int FrameBroken(const char* reason, long value);
  void EndFrame();

  std::unique_ptr<Crypto> encryptor_;
  std::unique_ptr<Crypto> decryptor_;
  std::string cipher_name_;
  std::string key_;
  std::string initial_vector_;
  std::string kept_;  // decrypted bytes of the current frame
  int version_ = 1000;
  int handed_out_ = 0;    // bytes of kept_ already returned
  int frame_length_ = 0;  // size of the current frame, 0 or less: none
  bool stream_lost_ = false;
};
