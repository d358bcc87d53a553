// NetInput: one received HTTP message (a request read by a server or a response read by a client).
#pragma once

#include <memory>
#include <string>

#include "common/KVMapImp.h"
#include "common/MemoryMapIOHandler.h"
#include "wirelane/WirelaneExport.h"
#include "wirelane/http/DimeMsg.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/URL.h"

class MultipartParser;

// A NetInput reads one message through its HTTPSock: the header block
// (ReadHTTPHeader), then the body by Content-Length, by chunked transfer
// coding or up to the end of the connection. It undoes the body's content
// coding ("Encryption" under the pass phrase given at construction, "gzip")
// and splits the body into variables: form fields, multipart parts (and XOP
// parts), DIME records. Everything is then read through one namespace of
// names (Get, GetHeader).
//
// Limits against hostile peers: a body (announced, chunked or read to the
// end) may not be longer than the socket's MaxPostSize when that is above 0,
// else kMaxBodySize; a gzip body may not expand past the same MaxPostSize,
// else kMaxDecodedSize; a chunk-size line may not pass 4 KB. Refusals are
// logged with the source-file tag "NetInput".
//
// Ownership: the socket is not owned and must outlive every Receive. Every
// text, map or buffer returned belongs to the message (or to its maps,
// parser or DIME message) and stays valid until the next Receive, Clear or
// change of that item. Not thread-safe: one thread uses a message at a time.
class WIRELANE_API NetInput {
 public:
  // Bodies longer than this are refused when the socket has no MaxPostSize.
  static constexpr unsigned kMaxBodySize = 1u << 30;  // 1 GiB
  // A gzip body may not expand past this when the socket has no MaxPostSize;
  // such a body is kept as received.
  static constexpr unsigned kMaxDecodedSize = 256u << 20;  // 256 MiB
  // Initial capacity of the content and message-text holders.
  static constexpr unsigned kHolderSize = 1048576;

  // socket: the connection to read from (not owned; may be null for a message
  // built with SetMsg). key: pass phrase for "Content-Encoding: Encryption"
  // bodies (copied); null or empty leaves such bodies encrypted.
  explicit NetInput(HTTPSock* socket = nullptr, const char* key = nullptr);
  // Copies variables, header fields, content bytes, URL, key, socket pointer
  // and client flag. Cookies, multipart parser and DIME message are not
  // copied.
  NetInput(const NetInput& other);
  // Clear(), drops the cookies, then copies other as the copy constructor.
  NetInput& operator=(const NetInput& other);
  // Clear(), then drops the cookies.
  virtual ~NetInput();

  // Reads one message from the socket (the previous message is cleared, its
  // cookies kept). A request with "Expect: 100-continue" whose body is going
  // to be read is first answered "HTTP/1.1 100 Continue". Returns:
  //   -1  no socket, or the header could not be read (the message is empty);
  //    0  no body, a body refused by a limit (nothing of it read when its
  //       length was announced), or a multipart body parsed while read
  //       (StreamBufferSize);
  //   n   the body bytes read as they came over the wire (before decoding;
  //       GetContentLength() gives the decoded length). Fewer than announced
  //       when the peer closed early or sent a malformed chunk (logged; the
  //       content keeps what arrived and is not decoded).
  // A chunked body is read as chunks also when a Content-Length came with
  // it; a request announces one by "Transfer-Encoding: chunked". A response
  // without Content-Length and without chunks is read until the peer closes.
  virtual int Receive();
  // The named item of the message (prefixes ignore case):
  //   "header|X"   GetHeader(X)
  //   "cookie|X"   GetCookie(X)
  //   "content|"   the content bytes
  //   "mime|X"     the content of multipart part X (a number selects by
  //                index, other text by name or Content-ID); without parts
  //                the DIME record X as "dime|X" gives it
  //   "dime|X"     the data of DIME record X (by index, or by id)
  //   other names  the variable ("name[n]" selects the n-th of repeated
  //                fields)
  // Null when absent.
  virtual const char* Get(const char* name);
  // Sets a variable: mode 1 adds a further entry, mode 2 appends value to the
  // existing entry (adding it when missing), any other mode replaces or adds.
  virtual void Set(const char* name, const char* value, int mode);
  // Removes one variable entry of that name.
  virtual void remove(const char* name);
  // A header field, a CGI-style name ("REQUEST_METHOD", "QUERY_STRING",
  // "PATH_INFO", "SCRIPT_NAME", "REQUEST_FILE", "REQUEST_PROTOCOL",
  // "REQUEST_PROTOCOL_VERSION", "REQUEST_FILENAME", "REQUEST_URI", "URL",
  // "BASE_URL", "ACTION"), "ALL"/"ALL_HTTP" (fields as "HTTP_name=value&"),
  // "ALL_ROW" (fields as "name: value\r\n"; these three are computed once and
  // cached as header fields "_ALL", "ALL_HTTP", "ALL_ROW"), or a slot number
  // (the name of the field in that slot). Names ignore case. Null when absent
  // (URL names without URL, other names without header map).
  virtual const char* GetHeader(const char* name);
  // Sets a header field: "Set-Cookie" adds a further field, any other name
  // replaces the field of that name (or adds it).
  virtual void SetHeader(const char* name, const char* value);

  // Deletes variables, header fields, message text, content, URL, multipart
  // parser and DIME message; the cookies stay.
  void Clear();
  // True when neither variables nor header fields exist.
  bool IsEmpty() const { return !m_pBody && !m_pHeader; }
  // True (set at construction).
  bool IsClient() const { return m_bClient; }

  // Stores the first four path segments of the URL as "_Action",
  // "DataSource", "SQLStatement" and "RowId" and decodes the raw query into
  // the variables. False without URL or when the path does not start with "/".
  bool ParseRequestLine();
  // Splits a status line (null: the URL's copied line) into the header
  // fields "HTTPVersion", "HTTPStatus" and "HTTPReason". False when line is
  // null and there is no URL; true otherwise.
  bool ParseResponseHeader(const char* line);
  // The URL's request line with CR LF (owned by the URL, valid until its next
  // composition), or null without URL. Callers must not write to it.
  char* GetRequestLine();
  // Composes the request line and the header fields ("name: value\r\n" each,
  // then "\r\n") into the message text. Returns it (owned by the message), or
  // null without URL.
  char* ReconstructRequestHeader();
  // ReconstructRequestHeader() followed by the content and "\r\n\r\n" (or
  // "\r\n" without content holder). Null without URL.
  char* GetMessageString();
  // Builds a message without socket: a new URL from line (when not null),
  // header and body become the message's maps (taken over, may be null;
  // created with new), content (when not null) is appended to the content.
  void SetMsg(const char* line, KVMapImp<StringMap>* header, KVMapImp<StringMap>* body,
              const char* content);

  // Stores pairs read from text: a name runs up to a character of nameEnd,
  // its value up to a character of pairEnd; runs of separators count as one;
  // leading blanks and tabs of each token are dropped. Pairs with empty
  // values are skipped, others replace a variable of the same name.
  void Parse(const char* text, const char* nameEnd, const char* pairEnd);
  // Adds the form-encoded fields of text to the variables (repeated names
  // kept).
  void URLDecode(char* text);

  // The variables, the header fields, the URL, or null when absent.
  KVMapImp<StringMap>* GetMsgBody() { return m_pBody.get(); }
  KVMapImp<StringMap>* GetHeader() { return m_pHeader.get(); }
  URL* GetURL() { return m_pURL.get(); }
  // The body bytes (after decoding), followed by a NUL byte; null when there
  // is no content holder.
  char* GetContent();
  // The leading decimal digits of the Content-Length field (0 when it has
  // none; a value past 4294967294 gives 4294967294); without the field the
  // content's length when there is content, else 0xFFFFFFFF for a response
  // (length unknown) and 0 for a request. After decoding replaced the content
  // (decryption, gzip, DIME) the field holds the new content's length.
  unsigned GetContentLength();

  // The cookie's value, or null. "all" (any case) returns the cookie map
  // itself (a KVMapImp<StringMap>*, owned by the message) cast to text.
  const char* GetCookie(const char* name);
  // Removes every cookie.
  void ClearCookie();
  // True when cookies were received, or when a User-Agent field exists and
  // does not contain "Corvane".
  bool IsCookieClient();

  // Content and byte length of a multipart part (by index, or by name or
  // Content-ID), or without parser of a DIME record (by index or id). Null
  // (length 0) when absent. The bytes belong to the parser or DIME message.
  unsigned char* GetAttachment(int index, unsigned long& length);
  unsigned char* GetAttachment(const char* name, unsigned long& length);
  // A property of a part: "filename", "name", "id", "type" (its
  // Content-Type) or any other part header; of a DIME record "tnf", "type"
  // or "id". Null when absent.
  const char* GetAttachmentProperty(int index, const char* property);
  // The same by part name; here "name" and "id" both give the part's name.
  const char* GetAttachmentProperty(const char* name, const char* property);

 protected:
  // Reads the header block into a new header map, copies the socket's
  // request URL, reads cookies (Cookie, else Set-Cookie/Set-Cookie2) and the
  // peer certificate properties. False when the header could not be read.
  virtual bool ReadRequestHeader();

  // Reads a chunked body (then its trailer). Returns the body bytes read, or
  // 0 when a chunk or the total passes the body limit (content dropped).
  int ReadChuck();
  // Undoes the content coding of the length bytes at data (the content) and
  // splits the result by Content-Type into variables, parts or records.
  void ContentDecoding(char* data, int length);
  // Parses data as a DIME message; record 0 becomes the content. False when
  // the data is not a whole DIME message.
  bool DecodeDime(char* data, int length);
  // Parses data as a multipart body with the boundary of contentType and sets
  // the part variables. True (also when contentType has no boundary).
  bool DecodeMultipart(const char* contentType, char* data, int length);
  // Feeds one piece of a multipart body being read; the first piece of a
  // message creates the parser. False when no parser could be made.
  bool DecodeMultipartStream(char* data, int length);
  // Sets one variable per named part: its content, or for a part stored as a
  // file the file's path (also as "_attach_" + name).
  void SetMultipartVariables();
  // Adds the cookies of a Cookie field. -1 for null text, else 0.
  int ParseCookie(const char* text);
  // Appends value to the variable name. -1 without variables map.
  int Append(const char* name, const char* value);

  std::unique_ptr<KVMapImp<StringMap>> m_pCookie;
  std::unique_ptr<KVMapImp<StringMap>> m_pBody;
  std::unique_ptr<KVMapImp<StringMap>> m_pHeader;
  std::unique_ptr<MultipartParser> m_pMultipart;
  std::unique_ptr<DimeMsg> m_pDime;
  std::unique_ptr<URL> m_pURL;
  std::unique_ptr<MemoryMapIOHandler> m_pMessage;
  std::string m_strKey;
  std::unique_ptr<MemoryMapIOHandler> m_pContent;
  HTTPSock* m_pSocket = nullptr;
  bool m_bClient = true;

 private:
  void Clone(const NetInput& other);
  KVMapImp<StringMap>& Body();
  KVMapImp<StringMap>& Header();
  KVMapImp<StringMap>& Cookies();
  MemoryMapIOHandler& Content();
  // Replaces the content by length bytes of data and sets Content-Length.
  void ReplaceContent(const char* data, size_t length);
  // Body reading steps of Receive.
  int ReceiveBody();
  int ReadToEnd(long long limit);
  int ReadByLength(unsigned length);
  int StreamMultipart(unsigned length, unsigned pieceSize);
  void SendContinue();
  bool ReadTrailer();
  void ReadSetCookies();
  MultipartParser* NewParser();
  const char* HeaderNamespace(const char* name);
};
