// Encoder: Base64 through OpenSSL's block coder.
#include "sealvault/Encoder.h"

#include <openssl/evp.h>
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {
constexpr size_t kMimeLineLength = 76;  // RFC 2045 limit for encoded lines
// Largest input whose Base64 text length still fits the int the callers get.
constexpr int kMaxEncodable = (INT_MAX - 4) / 4 * 3;

// One Base64 line for length bytes (no padding lines, no line breaks).
std::string EncodeBlock(const unsigned char* data, size_t length) {
  std::string text(4 * ((length + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data,
                                      static_cast<int>(length));
  text.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return text;
}
bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}
}  // namespace

Encoder::Encoder(const char* scheme)
    : known_(scheme != nullptr && strcasecmp(scheme, "base64") == 0) {}

Encoder::~Encoder() = default;

const char* Encoder::Encode(const unsigned char* data, int* length) {
  if (!known_ || data == nullptr || length == nullptr || *length < 0) {
    if (length != nullptr) *length = 0;
    return nullptr;
  }
  if (*length > kMaxEncodable) {
    *length = 0;
    return nullptr;
  }
  result_ = EncodeBlock(data, static_cast<size_t>(*length));
  *length = static_cast<int>(result_.size());
  return result_.c_str();
}

const char* Encoder::EncodeFile(const char* path, int* length) {
  if (length != nullptr) *length = 0;
  if (!known_ || path == nullptr || length == nullptr) return nullptr;
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || bytes.size() > static_cast<size_t>(kMaxEncodable) / 78 * 76) return nullptr;

  const std::string flat =
      EncodeBlock(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  result_.clear();
  result_.reserve(flat.size() + 2 * (flat.size() / kMimeLineLength + 1));
  for (size_t at = 0; at < flat.size(); at += kMimeLineLength) {
    result_.append(flat, at, kMimeLineLength);
    result_ += "\r\n";
  }
  *length = static_cast<int>(result_.size());
  return result_.c_str();
}

unsigned char* Encoder::Decode(const char* text, int* length) {
  if (!known_ || text == nullptr || length == nullptr || *length < 0) {
    if (length != nullptr) *length = 0;
    return nullptr;
  }
  std::string compact;
  compact.reserve(static_cast<size_t>(*length));
  for (int i = 0; i < *length; ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    compact += c;
  }
  *length = 0;
  // EVP_DecodeBlock reads "=" inside the text as zero bits, so the alphabet
  // and the place of the padding are checked here.
  size_t padding = 0;
  while (padding < compact.size() && compact[compact.size() - 1 - padding] == '=') ++padding;
  const size_t data_chars = compact.size() - padding;
  const size_t tail = data_chars % 4;  // characters of the last, partial group
  if (tail == 1 || (padding > 0 && (tail == 0 || padding > 4 - tail))) return nullptr;
  for (size_t i = 0; i < data_chars; ++i)
    if (!IsBase64Char(compact[i])) return nullptr;
  compact.resize(data_chars);
  padding = (4 - data_chars % 4) % 4;
  compact.append(padding, '=');

  result_.assign(compact.size() / 4 * 3 + 1, '\0');
  const int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(result_.data()),
                                      reinterpret_cast<const unsigned char*>(compact.data()),
                                      static_cast<int>(compact.size()));
  if (decoded < 0 || static_cast<size_t>(decoded) < padding) return nullptr;
  const size_t count = static_cast<size_t>(decoded) - padding;
  result_.resize(count);  // std::string keeps a NUL after the bytes
  *length = static_cast<int>(count);
  return reinterpret_cast<unsigned char*>(result_.data());
}
