// SecureSock: cipher set-up from the cipher text, and writing and reading encrypted frames.
#include "wirelane/sockets/SecureSock.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "common/TextFunctions.h"
#include "sealvault/Crypto.h"
#include "sealvault/Debug.h"
#include "wirelane/sockets/SecureFrameInternal.h"

namespace {

using corvane::SecureFrame;

constexpr const char* kTag = "SecureSock";
// A frame's payload is read in pieces of this size, so memory grows with the
// bytes that really arrive rather than with the length the peer announced.
constexpr unsigned int kPayloadPiece = 256 * 1024;

const unsigned char* Bytes(const char* text) {
  return reinterpret_cast<const unsigned char*>(text);
}

}  // namespace

SecureSock::SecureSock(unsigned int descriptor, const char* cipherText)
    : CSocket(descriptor, cipherText, nullptr) {
  Initialize(cipherText);
}

// Defined here, where Crypto is a complete type for the unique_ptr members.
SecureSock::~SecureSock() = default;

bool SecureSock::Initialize(const char* cipherText) {
  version_ = SecureFrame::kVersion;
  Debug d;
  if (cipherText == nullptr) return false;
  std::string name;
  const char* rest = SplitToken(cipherText, name, ":", true);
  // Only separators or blanks give no cipher name either: nothing to set up.
  if (rest == nullptr || name.empty()) {
    d.logerror(kTag, __LINE__,
               "SecureSock::Initialize - Incomplete cipher info string : %s, should be in format "
               "CipherName:Key:InitialVector\n",
               cipherText);
    return false;
  }
  // A part missing at the end keeps the value of the part before it: the
  // string form of SplitToken leaves its target unchanged at the end of text.
  cipher_name_ = name;
  std::string token = name;
  rest = SplitToken(rest, token, ":", true);
  key_ = token;
  initial_vector_.clear();
  if (rest != nullptr) {
    SplitToken(rest, token, ":", true);
    initial_vector_ = token;
  }
  encryptor_ = std::make_unique<Crypto>(cipher_name_.c_str(), nullptr, 1);
  decryptor_ = std::make_unique<Crypto>(cipher_name_.c_str(), nullptr, 1);
  d.print("Running in secure socket mode.\n");
  return true;
}

CSocket* SecureSock::CreateSocket(unsigned int descriptor, const char*,
                                  const SocketPropertyMap* properties) {
  auto accepted = std::make_unique<SecureSock>(descriptor, GetCert());
  if (properties != nullptr) accepted->SetProperty(*properties);
  return accepted.release();
}

int SecureSock::Write(unsigned int descriptor, const char* data, unsigned int length) {
  if (!IsSecure()) return CSocket::WriteData(descriptor, data, length);
  return SecureWrite(descriptor, data, length);
}

int SecureSock::Read(unsigned int descriptor, char* buffer, unsigned int size) {
  if (!IsSecure()) return CSocket::ReadData(descriptor, buffer, size);
  return SecureRead(descriptor, buffer, size);
}

// Hands all bytes to CSocket::WriteData (which also collects them while output
// is buffered). A header sent without its payload would leave the peer
// reading the next frame's header as data, so partial sends are continued.
int SecureSock::SendFully(unsigned int descriptor, const char* data, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    const auto piece = static_cast<unsigned int>(std::min<std::size_t>(size - total, INT_MAX));
    const int result = CSocket::WriteData(descriptor, data + total, piece);
    if (result < 1) return -1;
    total += static_cast<std::size_t>(result);
  }
  return 0;
}

int SecureSock::SecureWrite(unsigned int descriptor, const char* data, unsigned int length) {
  Debug d("SecureSock::Write");
  if (data == nullptr && length > 0) {
    d.logerror(kTag, __LINE__, "SecureSock::Write - no data for %u bytes\n", length);
    return -1;
  }
  if (length > static_cast<unsigned int>(SecureFrame::kLargestPayload)) {
    d.logerror(kTag, __LINE__, "SecureSock::Write - %u bytes exceed the largest frame of %d\n",
               length, SecureFrame::kLargestPayload);
    return -1;
  }
  // Crypto refuses a null block even when it is empty.
  const char* block = data != nullptr ? data : "";
  const bool encrypted = encryptor_->Init(key_.c_str(), Bytes(initial_vector_.c_str())) &&
                         encryptor_->Update(Bytes(block), static_cast<int>(length));
  const unsigned char* cipher = encrypted ? encryptor_->Final() : nullptr;
  if (cipher == nullptr) {
    d.logerror(kTag, __LINE__, "SecureSock::Write - encrypting %u bytes failed\n", length);
    return -1;
  }
  const int count = encryptor_->GetLength();
  // Header and payload go out together, so a peer usually gets the whole
  // frame in one receive.
  std::string frame;
  frame.reserve(SecureFrame::kHeaderSize + static_cast<std::size_t>(count));
  const auto header = SecureFrame::EncodeHeader(count);
  frame.append(header.data(), header.size());
  frame.append(reinterpret_cast<const char*>(cipher), static_cast<std::size_t>(count));
  if (SendFully(descriptor, frame.data(), frame.size()) != 0) {
    d.logerror(kTag, __LINE__, "SecureSock::Write - sending a frame of %d bytes failed: %s\n",
               count, GetErrString(true));
    return -1;
  }
  return count;
}

// Waits until size bytes are in buffer or the connection ends, fails or
// times out; returns the count. Bytes that CSocket's line reading already
// holds for this socket's own descriptor come first.
int SecureSock::ReadFully(unsigned int descriptor, char* buffer, unsigned int size) {
  if (descriptor == GetFd()) return std::max(CSocket::Read(buffer, size), 0);
  unsigned int total = 0;
  while (total < size) {
    const int result = CSocket::ReadData(descriptor, buffer + total, size - total);
    if (result <= 0) break;
    total += static_cast<unsigned int>(result);
  }
  return static_cast<int>(total);
}

bool SecureSock::VerifyVersion(unsigned int descriptor) {
  char word[SecureFrame::kWordSize];
  return ReadFully(descriptor, word, sizeof word) == static_cast<int>(sizeof word) &&
         SecureFrame::DecodeWord(word) == version_;
}

// Part of a frame has been consumed and the rest cannot be trusted: the next
// bytes would be read as a header although they are not one.
int SecureSock::FrameBroken(const char* reason, long value) {
  Debug d("SecureSock::Read");
  d.logerror(kTag, __LINE__, "SecureSock::Read - %s %ld\n", reason, value);
  stream_lost_ = true;
  EndFrame();
  return -1;
}

void SecureSock::EndFrame() {
  kept_.clear();
  handed_out_ = 0;
  frame_length_ = 0;
}

// Reads the length payload bytes of a frame into cipher, growing it piece by
// piece. False (the stream is lost) when the frame is cut short.
bool SecureSock::ReadPayload(unsigned int descriptor, std::int32_t length,
                             std::vector<char>& cipher) {
  std::size_t total = 0;
  while (total < static_cast<std::size_t>(length)) {
    const auto piece = static_cast<unsigned int>(
        std::min<std::size_t>(static_cast<std::size_t>(length) - total, kPayloadPiece));
    cipher.resize(total + piece);
    const int result = ReadFully(descriptor, cipher.data() + total, piece);
    total += static_cast<std::size_t>(result);
    if (result < static_cast<int>(piece)) {
      FrameBroken("frame cut off, payload bytes received:", static_cast<long>(total));
      return false;
    }
  }
  return true;
}

// Reads and decrypts the next frame into kept_. Returns 0, or -1 when there
// is no frame (logged).
int SecureSock::ReadFrame(unsigned int descriptor) {
  if (stream_lost_) {
    Debug d("SecureSock::Read");
    d.logerror(kTag, __LINE__, "SecureSock::Read - no frames after a broken one\n");
    return -1;
  }
  char header[SecureFrame::kHeaderSize];
  const int got = ReadFully(descriptor, header, sizeof header);
  if (got == 0) {
    Debug d("SecureSock::Read");
    d.print("SecureSock::Read - no frame: connection ended, failed or timed out\n");
    return -1;
  }
  if (got < static_cast<int>(sizeof header))
    return FrameBroken("frame header cut off, bytes received:", got);
  const std::int32_t version = SecureFrame::DecodeWord(header);
  if (version != version_) return FrameBroken("not a frame, its version field is", version);
  const std::int32_t length = SecureFrame::DecodeWord(header + SecureFrame::kWordSize);
  if (!SecureFrame::IsAcceptableLength(length))
    return FrameBroken("refusing a frame, its payload length is", length);

  std::vector<char> cipher;
  if (!ReadPayload(descriptor, length, cipher)) return -1;
  const char* block = cipher.empty() ? "" : cipher.data();
  const bool decrypted = decryptor_->Init(key_.c_str(), Bytes(initial_vector_.c_str())) &&
                         decryptor_->Update(Bytes(block), length);
  const unsigned char* plain = decrypted ? decryptor_->Final() : nullptr;
  if (plain == nullptr) {
    EndFrame();
    Debug d("SecureSock::Read");
    d.logerror(kTag, __LINE__, "SecureSock::Read - decrypting a frame of %d bytes failed\n",
               length);
    return -1;
  }
  kept_.assign(reinterpret_cast<const char*>(plain),
               static_cast<std::size_t>(decryptor_->GetLength()));
  frame_length_ = static_cast<int>(kept_.size());
  handed_out_ = 0;
  return 0;
}

int SecureSock::SecureRead(unsigned int descriptor, char* buffer, unsigned int size) {
  // Nothing is wanted: keep the frame as it is rather than treat it as used up.
  if (size == 0) return 0;
  if (buffer == nullptr) {
    Debug d("SecureSock::Read");
    d.logerror(kTag, __LINE__, "SecureSock::Read - no buffer for %u bytes\n", size);
    return -1;
  }
  if (frame_length_ <= 0) {
    if (ReadFrame(descriptor) != 0) return -1;
  } else if (handed_out_ >= frame_length_) {
    EndFrame();  // the caller has seen the whole frame: 0 marks its end
    return 0;
  }
  const auto left = static_cast<unsigned int>(frame_length_ - handed_out_);
  const unsigned int count = std::min(size, left);
  std::memcpy(buffer, kept_.data() + handed_out_, count);
  handed_out_ += static_cast<int>(count);
  if (frame_length_ <= 0) EndFrame();
  return static_cast<int>(count);
}
