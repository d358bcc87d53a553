// NetOutput: one outgoing HTTP message, a client request or a server response, byte for byte.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/BufferIOHandler.h"
#include "common/KVMapImp.h"
#include "wirelane/WirelaneExport.h"

class Debug;
class DimeMsg;
class HTTPSock;
class MimeProcessor;

// A message collects header fields, cookies, form fields and body bytes,
// optionally wraps the body with attachments into a MIME multipart, XOP or
// DIME message, encrypts the form body or compresses the body (deflate,
// gzip), formats the header block and hands header and body to an HTTPSock in
// one call (Send). Client requests and server responses share the object;
// Send's type says which one is written.
//
// Lifecycle: fill, Send once, Clear, fill again. Send rewrites the body and
// some header fields (content coding, MIME, defaults of a response), so
// sending a filled message twice without Clear encodes it twice.
//
// Ownership: texts handed in are copied. Texts, maps and buffers returned
// belong to the message and stay valid until that item changes (Clear,
// ClearBody, the next write or Send) or the message is destroyed. The socket
// is not owned and must outlive its use by Send, SendChuck, Redirect and
// WriteFile.
//
// Not thread-safe: one thread uses a message at a time.
class WIRELANE_API NetOutput {
 public:
  // socket: the connection Send writes to (not owned; may be null, then Send
  // writes nothing and returns 0). key: pass phrase that encrypts the form
  // body of a POST (copied; null or empty: no encryption). version: the text
  // ending a request line (copied; null gives "HTTP/1.0"). Status 200; no map
  // or buffer exists yet.
  explicit NetOutput(HTTPSock* socket = nullptr, const char* key = nullptr,
                     const char* version = nullptr);
  // Frees the maps, buffers, error text and attachments; the socket stays open.
  virtual ~NetOutput();

  // Sends the message. type 1: a server response (status line, default
  // fields, Set-Cookie, keepAlive chooses "Connection: Keep-Alive" for a
  // status below 400); type 2: a client request "method path version" (a GET
  // carries the form fields as its query, a POST as its form-encoded body).
  // method and path (only read) are needed for requests; with method "POST"
  // a response carries the form fields too. Statuses from 200 to 300 and 401
  // send the body as it is; any other status without body sends the error
  // page "<html>" error text "</html>". Content-Length is written unless the
  // caller set it or a Transfer-Encoding field (chunked body) exists. Header
  // fields and cookies holding CR or LF are left out, with a log line.
  // Returns what HTTPSock::SendHttpMessage returns (bytes of the body, or of
  // the header when there is no body; negative on a write error), 0 without
  // socket, -1 when nothing was sent because a request lacks method or path,
  // method or path holds a line break, the form body could not be encrypted
  // or the MIME message could not be formatted (each with a log line). The
  // header buffer is emptied afterwards; a response also forgets its cookies.
  virtual int Send(int type, bool keepAlive, const char* method, const char* path);
  // Sets the status of a response and, when message is not null, the error
  // text of the error page (copied).
  virtual void SetStatus(int status, const char* message);
  // The status (200 unless set).
  virtual int GetStatus();

  NetOutput(const NetOutput&) = delete;
  // Same as Clone.
  NetOutput& operator=(const NetOutput& other);
  // Clear, then copies of other's header, cookie and body maps, error text,
  // key (when not empty) and status, with new empty header and body buffers.
  // Body bytes, version, socket and attachments are not copied.
  NetOutput& Clone(const NetOutput& other);
  // Empties both buffers and the header and form-field maps, drops the error
  // text and the attachments. Cookies, key, version, socket and status stay.
  void Clear();
  // Empties the body buffer and the form-field map.
  void ClearBody();

  // Sets a header field (replacing one of the same name, keeping its place;
  // a null value removes it). A name starting "cookie|" (any case) sets the
  // cookie named by the rest instead. Null name: nothing.
  void AddHeader(const char* name, const char* value);
  // Sets a header field to value in decimal.
  void AddHeader(const char* name, int value);
  // The header field's value, or null.
  const char* GetHeader(const char* name);
  // The header map, or null before the first field.
  KVMapImp<StringMap>* GetHeader();
  // Sets a cookie (name to value; null value removes it). A response sends
  // its cookies once, as one Set-Cookie field; a request as a Cookie field.
  void SetCookie(const char* name, const char* value);
  // The cookie's value, or null.
  const char* GetCookie(const char* name);
  // Removes every cookie.
  void ClearCookie();

  // Adds a form field, also when one of that name exists. Returns its slot,
  // or 0xFFFFFFFF when name is null or empty or value is null.
  unsigned Add(const char* name, const char* value);
  // Sets a form field to value in decimal, replacing one of that name.
  // Returns its slot, or 0xFFFFFFFF for a null or empty name.
  unsigned Add(const char* name, int value);
  // The form-field map, or null before the first field.
  KVMapImp<StringMap>* GetBody();

  // Appends length bytes of data to the body. Returns length; 0 for null data
  // or a length of 0 or less (nothing written).
  int Write(const char* data, int length);
  // Appends text without its NUL. Returns the bytes written, 0 for null.
  int Write(const char* text);
  // Appends the UTF-16 code units of the NUL-terminated wide text, two bytes
  // each in the machine's byte order, without terminator. Returns the bytes
  // written, 0 for null.
  int Write(const unsigned short* wide);
  // The body bytes (followed by a NUL byte), or null when there is no body.
  char* GetBuffer();
  // The body buffer, or null before the first Write.
  BufferIOHandler* GetOutputStream();
  // Writes the output collected by the socket's connection (its buffered
  // output, CSocket::GetIOHandler) to the file at path. True when the file
  // was written; false without socket, with nothing collected, or when the
  // file cannot be written.
  bool WriteFile(const char* path);

  // Replaces the error text of the error page; null is ignored.
  void SetErrorMsg(const char* message);

  // Attaches the file at path. id: the attachment's id (DIME record id or
  // MIME Content-ID; may be null). type: its media type, null or empty for
  // the type of the file extension. container: "…/dime…" makes the message a
  // DIME message, "…/xop…" an XOP package of that type, anything else a MIME
  // multipart of that type (null: "Multipart/Related; type=text/xml"). The
  // first attachment fixes the container. The file is read now. Returns true
  // when the attachment was added; false when the file cannot be read (or is
  // empty), with a log line.
  bool AddAttachment(const char* path, const char* id, const char* type, const char* container);

  // Writes one chunk of a chunked body directly on the connection: the length
  // in hexadecimal and CR LF, the data, CR LF; last (or a length of 0 or
  // less) adds the last chunk "0\r\n\r\n". Send the header, with a
  // Transfer-Encoding field, first. Returns the result of writing the data
  // (length when it was written; negative on a write error); 0 when length is
  // 0 or less, there is no socket or the length line could not be written;
  // -1 for null data with a positive length (nothing written).
  int SendChuck(const char* data, int length, bool last);
  // Appends map (only read) to the body as form-encoded text: name "="
  // URLEncode(value) pairs in slot order joined by "&". Null map: nothing.
  void SendMessage(KVMapImp<StringMap>* map);
  // Same as SendMessage (the name hosts link against).
  void SendMessageA(KVMapImp<StringMap>* map) { SendMessage(map); }
  // Answers with a 302 redirect to url directly on the socket
  // (HTTPSock::Redirect). Without socket: nothing but a log line.
  void Redirect(const char* url);

  // Makes the body the certificate file at path, typed
  // "application/x-x509-ca-cert" (ca) or "application/x-x509-user-cert".
  // False (nothing changed) when the file cannot be read or is empty.
  bool SendCertificate(const char* path, bool ca);
  // Signs the SPKAC request file named spkac (in the working directory) with
  // the certificate tool, "openssl ca -batch -config ../ca/portico.conf -spkac
  // <spkac> -out ../certs/<spkac>.tmp", run without a shell and stopped after
  // 60 seconds, and then sends the new certificate (SendCertificate). spkac
  // must be 1 to 128 characters of ASCII letters, digits, ".", "-" and "_",
  // not starting with "." or "-"; any other name is refused with a log line.
  // Returns false when the name is refused, the tool fails or its output
  // cannot be read.
  bool ProcessSPKAC(const char* spkac);

  // The socket Send writes to (not owned), or null.
  HTTPSock* GetClientSocket() { return m_pSocket; }
  // Replaces the socket (not owned; may be null).
  void SetSocket(HTTPSock* socket) { m_pSocket = socket; }

 protected:
  // Hands the formatted message to the socket. header or body may be null
  // (then not written). Returns HTTPSock::SendHttpMessage's result, or 0
  // without socket. Derived messages that send elsewhere replace it.
  virtual int InternalSend(const char* header, int headerLength, const char* body, int bodyLength);

  // Appends text (without NUL), or length bytes of it, to the header buffer.
  void WriteHeader(const char* text);
  void WriteHeader(const char* text, int length);
  // Turns the body into its sent form: the DIME or MIME message with the body
  // as first part, then the compression named by Content-Encoding.
  void EncodeContent();
  // Formats a response header: status line, default fields, cookies, the
  // socket's fields, Content-Length, then the message's fields.
  void FormatHeader(bool keepAlive);
  // Formats a request header: request line (unless the socket opens the
  // request itself), Cookie, User-Agent, the socket's fields, Accept,
  // Content-Length of a POST, then the message's fields.
  void FormatClientHeader(const char* method, const char* path);
  // Writes "HTTP/1.1 <status> <reason phrase>\r\n".
  void FormatStatusLine(int status);
  // Writes the socket's extra header fields.
  void FormatSocketHeader();

 private:
  // The maps and the body buffer, created on first use.
  KVMapImp<StringMap>& HeaderMap();
  KVMapImp<StringMap>& BodyMap();
  BufferIOHandler& Content();
  unsigned long BodyLength() const;
  void ReplaceBody(const std::string& bytes);
  // Writes fields as "name: value" lines, leaving out any with a line break.
  void WriteFields(const CObjMap& fields);
  // The cookies as name=value pairs joined by separator; versioned adds
  // ";Version=1" to values that name no version.
  std::string CookieText(const char* separator, bool versioned);
  // The form body of a POST, encrypted under the key when there is one.
  // False when encryption failed.
  bool PrepareFormBody();
  void WriteErrorPage();
  void EncodeDime();
  void EncodeMime();
  void CompressBody();
  // Ends the header block and hands header and body (the MIME message when
  // mime) to InternalSend; returns its result, -1 when nothing was sent.
  int SendFormatted(Debug& debug, bool mime);

  std::unique_ptr<KVMapImp<StringMap>> m_pHeader;
  std::unique_ptr<KVMapImp<StringMap>> m_pBody;
  std::unique_ptr<KVMapImp<StringMap>> m_pCookie;
  std::unique_ptr<BufferIOHandler> m_pHeaderBuffer;
  std::unique_ptr<BufferIOHandler> m_pContent;
  std::optional<std::string> m_szErrorMsg;
  std::string m_szVersion;
  HTTPSock* m_pSocket;
  std::string m_strKey;
  std::unique_ptr<MimeProcessor> m_pMime;
  std::unique_ptr<DimeMsg> m_pDime;
  int m_nStatus = 200;
};
