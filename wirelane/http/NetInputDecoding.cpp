// NetInput: undoing content codings and splitting bodies into variables, multipart parts and DIME
// records.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/NoCase.h"
#include "common/TextFunctions.h"
#include "partwright/MultipartParser.h"
#include "sealvault/Crypto.h"
#include "sealvault/Debug.h"
#include "wirelane/http/ContentCodingInternal.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/http/NetInputInternal.h"
#include "wirelane/http/URLDecode.h"

using corvane::EqualsNoCase;
using corvane::netinput::BoundaryOf;
using corvane::netinput::ContainsNoCase;
using corvane::netinput::MediaType;

namespace {

struct FreeDeleter {
  void operator()(unsigned char* data) const { std::free(data); }
};

// The DIME messages of incoming bodies are parsed whole; the chunk size only
// matters when writing.
constexpr long kDimeChunkSize = 10485760;

}  // namespace

void NetInput::ContentDecoding(char* data, int length) {
  Debug debug("NetInput::ContentDecoding");
  if (data == nullptr || length <= 0 || !m_pHeader) return;
  if (const char* field = m_pHeader->Get("Content-Encoding")) {
    const std::string_view coding = MediaType(field);
    if (EqualsNoCase(coding, "Encryption") && !m_strKey.empty()) {
      int plain_length = length;
      Crypto crypto("idea", nullptr, 0);
      const std::unique_ptr<unsigned char, FreeDeleter> plain(crypto.Decrypt(
          m_strKey.c_str(), reinterpret_cast<unsigned char*>(data), &plain_length, nullptr));
      if (plain) {
        ReplaceContent(reinterpret_cast<const char*>(plain.get()),
                       static_cast<size_t>(plain_length));
        data = GetContent();
        length = plain_length;
      } else {
        debug.logerror("NetInput", __LINE__,
                       "NetInput::ContentDecoding - the body could not be decrypted, content kept "
                       "as received\n");
      }
    } else if (EqualsNoCase(coding, "gzip")) {
      const int max_post_size = m_pSocket != nullptr ? m_pSocket->GetMaxPostSize() : -1;
      const size_t limit = max_post_size > 0 ? static_cast<size_t>(max_post_size) : kMaxDecodedSize;
      std::string plain;
      std::string error;
      if (corvane::DecompressGzip(std::string_view(data, static_cast<size_t>(length)), limit, plain,
                                  &error)) {
        ReplaceContent(plain.data(), plain.size());
        data = GetContent();
        length = static_cast<int>(plain.size());
      } else {
        debug.logerror("NetInput", __LINE__,
                       "NetInput::ContentDecoding - gzip body not decoded (%s, limit %zu bytes), "
                       "content kept as received\n",
                       error.c_str(), limit);
      }
    }
  }
  const char* type = m_pHeader->Get("Content-Type");
  if (type == nullptr || data == nullptr) return;
  if (std::strstr(type, "form-urlencoded") != nullptr) {
    if (Debug::m_nDebugMode > 1) debug.dump("%s\n", data);
    ::URLDecode(data, &Body(), false);
  } else if (ContainsNoCase(type, "multipart/")) {
    DecodeMultipart(type, data, length);
  } else if (EqualsNoCase(MediaType(type), "application/dime")) {
    DecodeDime(data, length);
  } else if (EqualsNoCase(MediaType(type), "application/xop+xml")) {
    DecodeMultipart(type, data, length);
  }
}

MultipartParser* NetInput::NewParser() {
  const char* folder = m_pSocket != nullptr ? m_pSocket->GetProperty("AttachFolder") : nullptr;
  m_pMultipart = std::make_unique<MultipartParser>(folder);
  return m_pMultipart.get();
}

bool NetInput::DecodeMultipart(const char* contentType, char* data, int length) {
  const std::string_view boundary = BoundaryOf(contentType != nullptr ? contentType : "");
  if (boundary.empty()) return true;
  MultipartParser* parser = m_pMultipart ? m_pMultipart.get() : NewParser();
  parser->Clear();
  parser->SetBoundary(("--" + std::string(boundary)).c_str());
  while (length > 0 && (*data == '\r' || *data == '\n')) {
    ++data;
    --length;
  }
  parser->ParseStream(reinterpret_cast<unsigned char*>(data), static_cast<unsigned>(length));
  SetMultipartVariables();
  return true;
}

bool NetInput::DecodeMultipartStream(char* data, int length) {
  if (!m_pMultipart) {
    NewParser();
    const char* type = m_pHeader ? m_pHeader->Get("Content-Type") : nullptr;
    const std::string_view boundary = BoundaryOf(type != nullptr ? type : "");
    if (!boundary.empty()) m_pMultipart->SetBoundary(("--" + std::string(boundary)).c_str());
  }
  if (data != nullptr && length > 0)
    m_pMultipart->ParseStream(reinterpret_cast<unsigned char*>(data),
                              static_cast<unsigned>(length));
  return true;
}

void NetInput::SetMultipartVariables() {
  if (!m_pMultipart) return;
  const unsigned count = m_pMultipart->getLength();
  for (unsigned index = 0; index < count; ++index) {
    MultipartEntry* entry = (*m_pMultipart)[index];
    const char* name = entry != nullptr ? entry->GetName() : nullptr;
    if (name == nullptr || *name == '\0') continue;
    const char* path = entry->GetHeader("FullPath");
    if (path != nullptr && *path != '\0') {
      Set(name, path, 0);
      Set(("_attach_" + std::string(name)).c_str(), path, 0);
      continue;
    }
    const unsigned char* content = entry->GetContent();
    std::string text(content != nullptr ? reinterpret_cast<const char*>(content) : "");
    TrimRight(text.data(), "\r\n");
    Set(name, text.c_str(), 0);
  }
}

bool NetInput::DecodeDime(char* data, int length) {
  Debug debug("NetInput::DecodeDime");
  if (m_pDime)
    m_pDime->Clear();
  else
    m_pDime = std::make_unique<DimeMsg>(kDimeChunkSize);
  if (!m_pDime->ParseMessage(data, length > 0 ? static_cast<uint64_t>(length) : 0)) {
    debug.logerror("NetInput", __LINE__,
                   "NetInput::DecodeDime - the body is not a whole DIME message (%d bytes)\n",
                   length);
    return false;
  }
  unsigned long record_length = 0;
  const unsigned char* primary = m_pDime->GetRecord(0u, record_length);
  if (primary != nullptr) ReplaceContent(reinterpret_cast<const char*>(primary), record_length);
  return true;
}
