// NetInput: the namespace of names (variables, header and CGI-style names) and the attachment
// getters.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/NoCase.h"
#include "partwright/MultipartParser.h"
#include "sealvault/Debug.h"
#include "wirelane/http/NetInput.h"

namespace {

// The request-line names of the header namespace, each read from the URL.
struct UrlName {
  const char* name;
  const char* (*read)(URL& url);
};

const UrlName kUrlNames[] = {
    {"REQUEST_METHOD", [](URL& url) { return url.GetMethod(); }},
    {"QUERY_STRING", [](URL& url) { return url.GetParam(); }},
    {"PATH_INFO", [](URL& url) { return url.GetPathInfo(); }},
    {"SCRIPT_NAME", [](URL& url) { return url.GetScriptName(); }},
    {"REQUEST_FILE", [](URL& url) { return url.GetFile(); }},
    {"REQUEST_PROTOCOL",
     [](URL& url) { return url.GetProtocol() != nullptr ? url.GetProtocol() : "http"; }},
    {"REQUEST_PROTOCOL_VERSION", [](URL& url) { return url.GetVersion(); }},
    {"REQUEST_FILENAME", [](URL& url) { return url.GetFileName(); }},
    {"REQUEST_URI", [](URL& url) { return url.GetFileAndParam(); }},
    {"URL", [](URL& url) { return url.GetURL(); }},
    {"BASE_URL", [](URL& url) { return url.GetBaseURL(); }},
    {"ACTION", [](URL& url) { return url.GetAction(); }},
};

// The header listings, each cached as a header field under its own name.
struct Listing {
  const char* name;
  const char* cache;
  const char* separator;
  const char* terminator;
  const char* prefix;
};

const Listing kListings[] = {
    {"ALL", "_ALL", "=", "&", "HTTP_"},
    {"ALL_HTTP", "ALL_HTTP", "=", "&", "HTTP_"},
    {"ALL_ROW", "ALL_ROW", ": ", "\r\n", nullptr},
};

// "prefix|rest": rest when name starts with prefix and a bar (any case).
const char* AfterPrefix(const char* name, std::string_view prefix) {
  const size_t length = std::strlen(name);
  if (length <= prefix.size() || name[prefix.size()] != '|') return nullptr;
  if (!corvane::EqualsNoCase(std::string_view(name, prefix.size()), prefix)) return nullptr;
  return name + prefix.size() + 1;
}

bool StartsWithDigit(const char* text) {
  return std::isdigit(static_cast<unsigned char>(text[0])) != 0;
}

// The index at the start of text; numbers past the range select nothing.
unsigned IndexOf(const char* text) {
  const unsigned long value = std::strtoul(text, nullptr, 10);
  return value > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<unsigned>(value);
}

}  // namespace

const char* NetInput::Get(const char* name) {
  if (name == nullptr) return nullptr;
  if (const char* field = AfterPrefix(name, "header")) return GetHeader(field);
  if (const char* cookie = AfterPrefix(name, "cookie")) return GetCookie(cookie);
  if (AfterPrefix(name, "content") != nullptr) return GetContent();
  const char* part = AfterPrefix(name, "mime");
  if (part != nullptr && m_pMultipart) {
    MultipartEntry* entry =
        StartsWithDigit(part) ? (*m_pMultipart)[IndexOf(part)] : (*m_pMultipart)[part];
    return entry != nullptr ? reinterpret_cast<const char*>(entry->GetContent()) : nullptr;
  }
  const char* record = part != nullptr ? part : AfterPrefix(name, "dime");
  if (record != nullptr) {
    if (!m_pDime) return nullptr;
    unsigned long length = 0;
    return reinterpret_cast<const char*>(StartsWithDigit(record)
                                             ? m_pDime->GetRecord(IndexOf(record), length)
                                             : m_pDime->GetRecord(record, length));
  }
  return m_pBody ? m_pBody->Get(name) : nullptr;
}

const char* NetInput::GetHeader(const char* name) {
  if (name == nullptr) return nullptr;
  for (const UrlName& url_name : kUrlNames) {
    if (!corvane::EqualsNoCase(name, url_name.name)) continue;
    if (!m_pURL) return std::strcmp(url_name.name, "REQUEST_PROTOCOL") == 0 ? "http" : nullptr;
    return url_name.read(*m_pURL);
  }
  return HeaderNamespace(name);
}

const char* NetInput::HeaderNamespace(const char* name) {
  if (!m_pHeader) return nullptr;
  for (const Listing& listing : kListings) {
    if (!corvane::EqualsNoCase(name, listing.name)) continue;
    if (const char* cached = m_pHeader->Get(listing.cache)) return cached;
    std::string text;
    m_pHeader->ToString(text, listing.separator, listing.terminator, listing.prefix);
    m_pHeader->Add(listing.cache, text.c_str());
    return m_pHeader->Get(listing.cache);
  }
  if (StartsWithDigit(name)) return m_pHeader->GetKey(IndexOf(name));
  return m_pHeader->Get(name);
}

unsigned char* NetInput::GetAttachment(int index, unsigned long& length) {
  length = 0;
  if (m_pMultipart) {
    MultipartEntry* entry = index < 0 ? nullptr : (*m_pMultipart)[static_cast<unsigned>(index)];
    if (entry == nullptr) {
      Debug("NetInput::GetAttachment").print("Attachment (%d) not found.\n", index);
      return nullptr;
    }
    unsigned char* content = entry->GetContent();
    if (content != nullptr) length = entry->GetLength();
    return content;
  }
  if (m_pDime && index >= 0) return m_pDime->GetRecord(static_cast<unsigned>(index), length);
  return nullptr;
}

unsigned char* NetInput::GetAttachment(const char* name, unsigned long& length) {
  length = 0;
  if (name == nullptr) return nullptr;
  if (m_pMultipart) {
    MultipartEntry* entry = (*m_pMultipart)[name];
    if (entry == nullptr) {
      Debug("NetInput::GetAttachment").print("Attachment (%s) not found.\n", name);
      return nullptr;
    }
    unsigned char* content = entry->GetContent();
    if (content != nullptr) length = entry->GetLength();
    return content;
  }
  if (m_pDime) return m_pDime->GetRecord(name, length);
  return nullptr;
}

namespace {

// A property of a multipart part; byName makes "id" give the name too.
const char* PartProperty(MultipartEntry* entry, const char* property, bool byName) {
  if (entry == nullptr || property == nullptr) return nullptr;
  if (corvane::EqualsNoCase(property, "filename")) return entry->GetFileName();
  if (corvane::EqualsNoCase(property, "name")) return entry->GetName();
  if (corvane::EqualsNoCase(property, "id")) return byName ? entry->GetName() : entry->GetId();
  if (corvane::EqualsNoCase(property, "type")) return entry->GetHeader("Content-Type");
  return entry->GetHeader(property);
}

}  // namespace

const char* NetInput::GetAttachmentProperty(int index, const char* property) {
  if (m_pMultipart) {
    return index < 0 ? nullptr
                     : PartProperty((*m_pMultipart)[static_cast<unsigned>(index)], property, false);
  }
  if (m_pDime && index >= 0)
    return m_pDime->GetRecordProperty(static_cast<unsigned>(index), property);
  return nullptr;
}

const char* NetInput::GetAttachmentProperty(const char* name, const char* property) {
  if (name == nullptr) return nullptr;
  if (m_pMultipart) return PartProperty((*m_pMultipart)[name], property, true);
  if (m_pDime) return m_pDime->GetRecordProperty(name, property);
  return nullptr;
}
