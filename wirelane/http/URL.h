// URL: splits an absolute URL, a request line or a status line into its parts and composes text back.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/CBuffer.h"
#include "common/KVMapImp.h"
#include "wirelane/WirelaneExport.h"

// One parser for three kinds of HTTP text:
//   "http://host:8080/dir/page.asp?a=1"   an absolute URL
//   "GET /app/page HTTP/1.1"              a request line (also with an absolute URL)
//   "HTTP/1.1 200 OK"                     a status line (only the status is kept,
//                                         as the query field "HTTPStatus")
// Every text a URL returns belongs to it. Accessors return the stored member
// (null when the part is absent) and stay valid until that part changes, the
// URL is parsed again, cleared or destroyed. The composers (GetBase,
// GetBaseURL, GetProtocolHost, GetFileAndParam with a query, GetDirectory,
// ToString) build their result in one scratch buffer that the next composer
// call on the same URL overwrites. Not thread-safe: one thread uses a URL at a
// time.
class WIRELANE_API URL {
 public:
  // An empty URL; text, when neither null nor empty, is parsed.
  explicit URL(const char* text = nullptr);
  // Copies every part except the parsed line and the fragment (GetURL() of
  // the copy is null).
  URL(const URL& other);
  URL& operator=(const URL& other);
  virtual ~URL();

  // Parses text into this URL, which is cleared first. Returns 0, or -1 for
  // null or empty text (the URL is then unchanged). Every other text yields
  // some split; there is no syntax error.
  int Parse(const char* text);
  // Releases every part: the path becomes empty, the port 0, the query map is
  // dropped.
  void Clear();

  // The parsed line without the version and its leading blanks, or null.
  const char* GetURL() const;
  // "GET", "PUT", "OPTION", "POST", "DELETE" or "TRACE" as parsed, any text
  // given to SetMethod, or null.
  const char* GetMethod() const;
  // The scheme as written before "://" ("http", "HTTPS"), or null.
  const char* GetProtocol() const;
  const char* GetHost() const;
  // The port, the scheme's default (http 80, https 443, ftp 21) when none
  // was written, or 0.
  int GetPort() const;
  // The raw (still encoded) query after "?", or null.
  const char* GetParam() const;
  // The protocol version ("HTTP/1.1"), or null.
  const char* GetVersion() const;
  // The first path segment, or null.
  const char* GetAction() const;
  // The path without query and fragment; never null, may be empty.
  const char* GetFile() const;
  // The whole path, or null when it is empty.
  const char* GetScriptName() const;
  // The fragment after "#", or null.
  const char* GetAnchor() const;
  // The decoded value of query field name (case-insensitive; "name[n]"
  // selects the n-th field of that name, from 0), or null.
  const char* GetParamValue(const char* name) const;
  // The decoded query fields, or null before a query or status was parsed.
  // Owned by the URL.
  KVMapImp<StringMap>* GetParams() const;

  // Each setter replaces the part with a copy of text (null removes it).
  void SetHost(const char* host);
  void SetMethod(const char* method);
  void SetProtocol(const char* protocol);
  void SetParam(const char* query);
  void SetVersion(const char* version);
  void SetPort(int port);
  // Reads the leading decimal digits of port (0 when there are none).
  void SetPort(const char* port);
  // The path becomes path; null makes it empty.
  void SetFile(const char* path);
  // The path becomes GetDirectory() + "/" + name, or name when there is no
  // directory.
  void SetFileName(const char* name);
  // The path becomes dir, "/" unless dir ends with one, and the file name the
  // path had before. Returns false (nothing changed) for a null dir.
  bool SetDirectory(const char* dir);
  // Replaces the first occurrence of from in the path (case-sensitive) by
  // to; when to ends with "/", one "/" at the start of the rest is dropped.
  // Returns true when a replacement was made; false for an empty path, a null
  // or empty from, a null to, or when from does not occur.
  bool SubstituteDirectory(const char* from, const char* to);

  // The text after the path's last "/" (the whole path without one), or null
  // for an empty path. Points into the path.
  const char* GetFileName() const;
  // The text after the path's last ".", or null for an empty path or a path
  // without ".". Points into the path.
  const char* GetFileExtension() const;
  // The directory of the path ("/app/page.asp" gives "/app", "/page.asp" the
  // empty text, "/app" itself when it is the only segment and holds no "."),
  // or null for an empty path or a path without "/". Composed.
  const char* GetDirectory();
  // The part of the path after its second segment ("/app/x.dll/extra/more"
  // gives "/extra/more"), or null. Points into the path.
  const char* GetPathInfo() const;

  // scheme "://" host [":" port], the port written whenever it is above 0.
  // The empty text when no scheme is set. Composed.
  const char* GetProtocolHost();
  // GetProtocolHost() followed by the path. Composed.
  const char* GetBaseURL();
  // [method " "] scheme "://" host [":" port] and the path's directory.
  // Composed.
  const char* GetBase();
  // The path, followed by "?" and the query when there is one. Composed when
  // there is a query; otherwise the path itself.
  const char* GetFileAndParam();
  // The request line with its CR LF: [method " "] [scheme "://" host
  // [":" port]] [path ["?" query] " "] version-or-"HTTP/1.1" "\r\n"; the path
  // is written only when a method is set. Composed.
  const char* ToString();

 protected:
  // Steps of Parse; each takes the text at the current position and returns
  // the position after what it consumed.
  void ParseStatus(std::string_view line);
  size_t ParseVersion(std::string& line);
  size_t ParseMethod(const std::string& line, size_t at);
  size_t ParseProtocol(std::string& line, size_t at);
  size_t ParseHost(const std::string& line, size_t at);
  size_t ParseFile(const std::string& line, size_t at);
  static size_t SkipSpaces(const std::string& line, size_t at);

 private:
  void Clone(const URL& other);
  KVMapImp<StringMap>& Params();
  // Starts a composed result in the scratch buffer.
  CBuffer& Compose();
  void AppendProtocolHost(CBuffer& out) const;
  const char* Composed() const;

  std::string m_strFile;
  std::optional<std::string> m_szHost;
  std::optional<std::string> m_szParam;
  std::optional<std::string> m_szVersion;
  std::optional<std::string> m_szURL;
  std::optional<std::string> m_szMethod;
  std::optional<std::string> m_szProtocol;
  std::optional<std::string> m_szAnchor;
  std::unique_ptr<CBuffer> m_pBuffer;
  std::unique_ptr<KVMapImp<StringMap>> m_pParams;
  std::optional<std::string> m_szAction;
  int m_nPort = 0;
};
