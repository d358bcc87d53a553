// NetInput: reading a message from the socket (header, body by length, chunked or until close).
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "common/NoCase.h"
#include "common/TextFunctions.h"
#include "partwright/MultipartParser.h"
#include "sealvault/Debug.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/http/NetInputInternal.h"

using corvane::netinput::ContainsNoCase;
using corvane::netinput::ContentWriter;
using corvane::netinput::kMaxChunkLine;
using corvane::netinput::kMaxStreamPiece;
using corvane::netinput::kPresizeLimit;
using corvane::netinput::kReadPiece;

namespace {

// Where the bytes of a body go while they are read: into memory that space
// gives for each piece (null stops the reading), then handed to sink, which
// may refuse them.
struct PieceTarget {
  std::function<char*(size_t)> space;
  std::function<bool(char*, size_t)> sink;
};

// Reads count bytes in pieces of at most size bytes into target. Returns the
// bytes read: fewer than count when the connection ended or failed, or when
// the target had no room or refused a piece.
size_t ReadPieces(HTTPSock& socket, size_t count, size_t size, const PieceTarget& target) {
  size_t done = 0;
  while (done < count) {
    const size_t want = std::min(size, count - done);
    char* space = target.space(want);
    if (space == nullptr) break;
    const int got = socket.Read(space, static_cast<unsigned>(want));
    if (got < 1) break;
    if (!target.sink(space, static_cast<size_t>(got))) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

// Pieces read straight into the content holder; stored turns false when the
// holder could not grow. A large body thus arrives without a copy.
PieceTarget IntoHolder(ContentWriter& writer, bool& stored) {
  return {[&writer, &stored](size_t want) {
            char* space = writer.Space(want);
            stored = space != nullptr;
            return space;
          },
          [&writer](char*, size_t count) {
            writer.Commit(count);
            return true;
          }};
}

// Pieces read through buffer (of at least the piece size) and handed to sink.
PieceTarget ThroughBuffer(char* buffer, std::function<bool(char*, size_t)> sink) {
  return {[buffer](size_t) { return buffer; }, std::move(sink)};
}

// The body limit: the socket's MaxPostSize when above 0, else the cap.
long long BodyLimit(HTTPSock& socket) {
  return socket.GetMaxPostSize() > 0 ? socket.GetMaxPostSize() : NetInput::kMaxBodySize;
}

// A line read with a bounded ReadLine is whole when it ends in LF or when the
// buffer did not fill.
bool LineIsWhole(const char* line, int count, size_t size) {
  return static_cast<size_t>(count) < size - 1 || line[count - 1] == '\n';
}

// A read buffer allocated once and left uninitialised: the socket fills it.
class ReadBuffer {
 public:
  char* Get(size_t size) {
    if (size > size_) {
      data_ = std::make_unique_for_overwrite<char[]>(size);
      size_ = size;
    }
    return data_.get();
  }

 private:
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
};

enum class ChunkLine {
  kData,     // a chunk of the given size follows
  kLast,     // the last chunk (size 0): the trailer follows
  kEnd,      // an empty line: the body ends without trailer
  kFailure,  // the line could not be read or holds no size
};

// Reads one chunk-size line; a chunk extension after the size is ignored.
// failure is set for kFailure.
ChunkLine ReadChunkSize(HTTPSock& socket, int& size, const char*& failure) {
  char line[kMaxChunkLine];
  const int count = socket.ReadLine(line, sizeof line);
  if (count <= 0) {
    failure = "the connection ended before the last chunk";
    return ChunkLine::kFailure;
  }
  if (!LineIsWhole(line, count, sizeof line)) {
    failure = "a chunk-size line is too long";
    return ChunkLine::kFailure;
  }
  if (line[0] == '\r' || line[0] == '\n') return ChunkLine::kEnd;
  if (std::isxdigit(static_cast<unsigned char>(line[0])) == 0) {
    failure = "a chunk-size line holds no size";
    return ChunkLine::kFailure;
  }
  // HexToInt stops at INT_MAX, which every limit refuses; leading zeros are
  // part of the number ("0a" is ten bytes).
  size = HexToInt(line);
  return size == 0 ? ChunkLine::kLast : ChunkLine::kData;
}

// Reads size bytes of chunk data into target (pieces of at most kReadPiece
// bytes), then the CR LF after them; total grows by the bytes read. Returns
// null, or what went wrong.
const char* ReadChunkData(HTTPSock& socket, size_t size, const PieceTarget& target,
                          long long& total) {
  const size_t done = ReadPieces(socket, size, kReadPiece, target);
  total += static_cast<long long>(done);
  char end[2] = {};
  if (done != size || socket.Read(end, 2) != 2) return "the connection ended inside a chunk";
  if (end[0] != '\r' || end[1] != '\n') return "a chunk is not followed by CR LF";
  return nullptr;
}

}  // namespace

int NetInput::Receive() {
  Debug debug("NetInput::Receive");
  if (m_pSocket == nullptr) {
    debug.logerror("NetInput", __LINE__, "No socket for receiving message.\n");
    return -1;
  }
  Clear();
  Content();
  if (!ReadRequestHeader()) {
    Clear();
    return -1;
  }
  const int result = ReceiveBody();
  const char* type = m_pHeader->Get("Content-Type");
  if (Debug::m_nDebugMode > 4 && type != nullptr && GetContent() != nullptr &&
      (std::strstr(type, "text/") != nullptr || std::strstr(type, "urlencoded") != nullptr)) {
    debug.tracing("%s", GetContent());
    debug.tracing("\n-------------------------------------------\n\n");
  }
  return result;
}

int NetInput::ReceiveBody() {
  Debug debug("NetInput::Receive");
  const char* coding = m_pHeader->Get("Transfer-Encoding");
  if (coding == nullptr) coding = m_pHeader->Get("Transfer-coding");
  const char* length_field = m_pHeader->Get("Content-Length");
  const bool response = m_pHeader->Get("HTTPStatus") != nullptr;
  // Responses that never carry a body (RFC 7230, 3.3.3): reading up to the
  // end would swallow the final response that follows a 100 Continue, or
  // wait for a server that keeps the connection open.
  if (response) {
    const int status = std::atoi(m_pHeader->Get("HTTPStatus"));
    if ((status >= 100 && status < 200) || status == 204 || status == 304) return 0;
  }
  // A chunked body is framed by its chunks even when a Content-Length came
  // along; a request announces its chunks only through this field.
  if ((coding != nullptr && ContainsNoCase(coding, "chunked")) ||
      (coding != nullptr && response && length_field == nullptr)) {
    SendContinue();
    return ReadChuck();
  }
  const unsigned length = GetContentLength();
  if (length == 0) {
    if (length_field != nullptr && (length_field[0] < '0' || length_field[0] > '9'))
      debug.logerror("NetInput", __LINE__,
                     "NetInput::Receive - Content-Length \"%s\" is not a number, no body read\n",
                     length_field);
    debug.print("content_length = %u\n", length);
    return 0;
  }
  if (length == 0xFFFFFFFFu) return ReadToEnd(BodyLimit(*m_pSocket));
  debug.print("content-length = %u.\n", length);
  const int max_post_size = m_pSocket->GetMaxPostSize();
  if (max_post_size > 0 && length > static_cast<unsigned>(max_post_size)) {
    debug.logerror("NetInput", __LINE__,
                   "NetInput::Receive - Content length %u exceeded the MaxPostSize limit %d\n",
                   length, max_post_size);
    return 0;
  }
  if (length > kMaxBodySize) {
    debug.logerror("NetInput", __LINE__,
                   "NetInput::Receive - Content length %u exceeded the body size limit %u\n",
                   length, kMaxBodySize);
    return 0;
  }
  SendContinue();
  const char* stream_size = m_pSocket->GetProperty("StreamBufferSize");
  const char* type = m_pHeader->Get("Content-Type");
  if (stream_size != nullptr && type != nullptr && ContainsNoCase(type, "multipart/")) {
    const long piece = std::atol(stream_size);
    if (piece > 0)
      return StreamMultipart(length, static_cast<unsigned>(std::min<long>(piece, kMaxStreamPiece)));
    debug.logerror("NetInput", __LINE__,
                   "NetInput::Receive - StreamBufferSize \"%s\" ignored, body read whole\n",
                   stream_size);
  }
  return ReadByLength(length);
}

void NetInput::SendContinue() {
  const char* expect = m_pHeader->Get("Expect");
  if (expect == nullptr || !ContainsNoCase(expect, "100-continue") ||
      m_pHeader->Get("HTTPStatus") != nullptr)
    return;
  // The peer holds the body back until this interim answer arrives, so it
  // must not wait in buffered output for the final response.
  CSocket* connection = m_pSocket->GetConnection();
  const int buffering = connection != nullptr ? connection->GetBufferOutput() : 0;
  if (buffering != 0) connection->SetBufferOutput(0);
  static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
  m_pSocket->Write(kContinue, sizeof kContinue - 1);
  if (buffering != 0) connection->SetBufferOutput(buffering);
}

int NetInput::ReadByLength(unsigned length) {
  Debug debug("NetInput::Receive");
  MemoryMapIOHandler& content = Content();
  ContentWriter writer(content);
  writer.Reserve(std::min(length, kPresizeLimit));
  if (content.GetBuffer() == nullptr) {
    debug.logerror("NetInput", __LINE__,
                   "NetInput::Receive - Error allocating memory for incoming message -  "
                   "content-length(%d)\n",
                   static_cast<int>(length));
    return 0;
  }
  // A presized body is read in one piece: the socket takes it off the
  // connection in as few receives as the kernel allows. Beyond the presized
  // room the holder grows with what arrives.
  const size_t piece = length <= kPresizeLimit ? length : kReadPiece;
  bool stored = true;
  const size_t done = ReadPieces(*m_pSocket, length, piece, IntoHolder(writer, stored));
  writer.Terminate();
  if (!stored) {
    debug.logerror("NetInput", __LINE__,
                   "NetInput::Receive - Error allocating memory for incoming message -  "
                   "content-length(%d)\n",
                   static_cast<int>(length));
  }
  if (done != length) {
    debug.logerror(
        "NetInput", __LINE__,
        "NetInput::Receive - Error reading content, byte_read(%d) != content-length(%d)\n",
        static_cast<int>(done), static_cast<int>(length));
    return static_cast<int>(done);
  }
  ContentDecoding(content.GetBuffer(), static_cast<int>(length));
  return static_cast<int>(length);
}

int NetInput::ReadToEnd(long long limit) {
  Debug debug("NetInput::Receive");
  MemoryMapIOHandler& content = Content();
  ContentWriter writer(content);
  long long total = 0;
  for (;;) {
    char* space = writer.Space(kReadPiece);
    if (space == nullptr) {
      debug.logerror("NetInput", __LINE__,
                     "NetInput::Receive - Error allocating memory for incoming message -  "
                     "content-length(%d)\n",
                     static_cast<int>(total + static_cast<long long>(kReadPiece)));
      break;
    }
    const int got = m_pSocket->Read(space, static_cast<unsigned>(kReadPiece));
    if (got < 1) break;
    if (total + got > limit) {
      debug.logerror("NetInput", __LINE__,
                     "NetInput::Receive - body passes the limit of %lld bytes, body dropped\n",
                     limit);
      content.Reset();
      return 0;
    }
    writer.Commit(static_cast<size_t>(got));
    total += got;
  }
  writer.Terminate();
  if (total > 0) ContentDecoding(content.GetBuffer(), static_cast<int>(total));
  return static_cast<int>(total);
}

int NetInput::StreamMultipart(unsigned length, unsigned pieceSize) {
  Debug debug("NetInput::Receive");
  MemoryMapIOHandler& content = Content();
  // The holder is the read buffer here: the parser keeps what it needs.
  content.Reset();
  content.Allocate(static_cast<int>(pieceSize) + 1);
  char* buffer = content.GetBuffer();
  if (buffer == nullptr) {
    debug.logerror("NetInput", __LINE__,
                   "NetInput::Receive - Error allocating memory for incoming message -  "
                   "content-length(%d)\n",
                   static_cast<int>(length));
    return 0;
  }
  debug.print("********** Received MIME message ***********\n");
  const size_t done = ReadPieces(*m_pSocket, length, pieceSize,
                                 ThroughBuffer(buffer, [&](char* data, size_t count) {
                                   if (Debug::m_nDebugMode > 4)
                                     debug.tracing("%.*s", static_cast<int>(count), data);
                                   DecodeMultipartStream(data, static_cast<int>(count));
                                   return true;
                                 }));
  debug.print("********** End of MIME message (%d bytes)***********\n", static_cast<int>(done));
  SetMultipartVariables();
  content.Reset();
  if (done != length) {
    debug.logerror(
        "NetInput", __LINE__,
        "NetInput::Receive - Error reading content, byte_read(%d) != content-length(%d)\n",
        static_cast<int>(done), static_cast<int>(length));
  }
  return 0;
}

bool NetInput::ReadRequestHeader() {
  Debug debug("NetInput::ReadRequestHeader");
  m_pHeader = std::make_unique<KVMapImp<StringMap>>();
  if (!m_pSocket->ReadHTTPHeader(m_pHeader.get())) {
    debug.print("No request header received, or the client shutdown the connection - %s\n",
                m_pSocket->GetErrString());
    return false;
  }
  if (URL* url = m_pSocket->GetURL()) m_pURL = std::make_unique<URL>(*url);
  if (const char* cookie = m_pHeader->Get("Cookie")) {
    ParseCookie(cookie);
  } else if (m_pHeader->Get("Set-Cookie") != nullptr || m_pHeader->Get("Set-Cookie2") != nullptr) {
    ReadSetCookies();
  }
  if (const char* certificate = m_pSocket->GetProperty("PeerCertificate")) {
    SetHeader("PeerCertificate", certificate);
    if (const char* expires = m_pSocket->GetProperty("PeerCertExpires"))
      SetHeader("PeerCertExpires", expires);
  }
  return true;
}

int NetInput::ReadChuck() {
  Debug debug("NetInput::ReadChuck");
  const char* type = m_pHeader->Get("Content-Type");
  const bool multipart = type != nullptr && ContainsNoCase(type, "multipart/");
  const long long limit = BodyLimit(*m_pSocket);
  MemoryMapIOHandler& content = Content();
  ContentWriter writer(content);
  bool stored = true;
  // Plain chunks go straight into the holder; multipart ones through a read
  // buffer to the parser, which keeps what it needs.
  ReadBuffer buffer;
  PieceTarget target = multipart ? ThroughBuffer(buffer.Get(kReadPiece),
                                                 [this](char* data, size_t length) {
                                                   DecodeMultipartStream(
                                                       data, static_cast<int>(length));
                                                   return true;
                                                 })
                                 : IntoHolder(writer, stored);
  // Each piece is dumped at debug level as it arrives.
  target.sink = [&debug, sink = std::move(target.sink)](char* data, size_t length) {
    if (Debug::m_nDebugMode > 1) debug.dump("%.*s", static_cast<int>(length), data);
    return sink(data, length);
  };
  long long total = 0;
  const char* failure = nullptr;
  for (;;) {
    int size = 0;
    const ChunkLine kind = ReadChunkSize(*m_pSocket, size, failure);
    if (kind == ChunkLine::kLast && !ReadTrailer()) failure = "the trailer is invalid";
    if (kind != ChunkLine::kData) break;
    debug.print("ReadChunk size=%d.\n", size);
    if (size > limit - total) {
      debug.logerror("NetInput", __LINE__,
                     "NetInput::ReadChuck - a chunk of %d bytes takes the body past the limit of "
                     "%lld bytes, body refused\n",
                     size, limit);
      content.Reset();
      m_pMultipart.reset();
      return 0;
    }
    failure = ReadChunkData(*m_pSocket, static_cast<size_t>(size), target, total);
    if (failure != nullptr) {
      if (!stored) failure = "memory ran out";
      break;
    }
  }
  writer.Terminate();
  SetHeader("Content-Length", std::to_string(total).c_str());
  if (failure != nullptr) {
    debug.logerror("NetInput", __LINE__, "NetInput::ReadChuck - %s, %lld bytes read\n", failure,
                   total);
    return static_cast<int>(total);
  }
  SetHeader("Transfer-encoding", "");
  if (multipart)
    SetMultipartVariables();
  else if (total > 0)
    ContentDecoding(content.GetBuffer(), static_cast<int>(total));
  return static_cast<int>(total);
}

bool NetInput::ReadTrailer() {
  Debug debug("NetInput::ReadChuck");
  ReadBuffer buffer;
  const size_t size = HTTPSock::kMaxHeaderLine + 1;
  char* line = buffer.Get(size);
  size_t block = 0;
  for (;;) {
    const int count = m_pSocket->ReadLine(line, static_cast<unsigned>(size));
    // A peer that closes right after the last chunk has sent the whole body.
    if (count <= 0) return true;
    block += static_cast<size_t>(count);
    if (!LineIsWhole(line, count, size) || block > HTTPSock::kMaxHeaderBlock) return false;
    if (line[0] == '\r' || line[0] == '\n') return true;
    std::string text(line, static_cast<size_t>(count));
    TrimRight(text.data(), "\r\n ");
    text.resize(std::strlen(text.c_str()));
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon == std::string::npos ? 0 : colon);
    // The body was framed and is decoded by the fields before it; a trailer
    // may not change that afterwards.
    if (name.empty() || corvane::EqualsNoCase(name, "Content-Length") ||
        corvane::EqualsNoCase(name, "Transfer-Encoding") ||
        corvane::EqualsNoCase(name, "Content-Encoding") ||
        corvane::EqualsNoCase(name, "Content-Type")) {
      debug.logerror("NetInput", __LINE__, "NetInput::ReadChuck - trailer line ignored : %s\n",
                     text.c_str());
      continue;
    }
    const size_t value = text.find_first_not_of(' ', colon + 1);
    m_pHeader->Add(name.c_str(), value == std::string::npos ? "" : text.c_str() + value);
  }
}
