// CurlHttpRequest: the HttpRequest layer over libcurl, an easy handle driven by a multi handle.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/HttpRequest.h"  // IWYU pragma: associated

namespace corvane::platform {

namespace {

using Clock = std::chrono::steady_clock;

// Large reads straight from the socket: with libcurl's 16 KB default a 10 MB
// body arrives at a third of the speed it does with 512 KB.
constexpr long kReceiveBufferSize = 512 * 1024;
// Longest single sleep in the transfer loop, so time-outs are checked often.
constexpr long kPollSliceMs = 1000;

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// libcurl keeps the trust store it loaded in the multi handle (for a day, or
// until the CA file or folder named changes). Loading the system bundle costs
// about 100 ms on these machines, so multi handles are kept for the next
// request object instead of being made per request. A handle is used by one
// request object at a time.
class MultiPool {
 public:
  static MultiHandle Take() {
    Pool& pool = Get();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (pool.idle.empty()) return MultiHandle(curl_multi_init());
    MultiHandle multi = std::move(pool.idle.back());
    pool.idle.pop_back();
    return multi;
  }
  static void Give(MultiHandle multi) {
    if (!multi) return;
    Pool& pool = Get();
    std::lock_guard<std::mutex> lock(pool.mutex);
    if (pool.idle.size() < kMaxIdle) pool.idle.push_back(std::move(multi));
  }

 private:
  // More idle handles than requests running at once gain nothing.
  static constexpr size_t kMaxIdle = 16;
  struct Pool {
    std::mutex mutex;
    std::vector<MultiHandle> idle;
  };
  // Never destroyed: request objects living in static storage may still hand
  // their handle back while the process exits.
  static Pool& Get() {
    static Pool* const pool = new Pool;
    return *pool;
  }
};

bool GlobalInit() {
  static const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
  return code == CURLE_OK;
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == text.npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool EqualsAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Request targets go into the request line verbatim; anything that would end
// or split that line (controls, space) or is not ASCII is percent-encoded.
std::string EncodeTarget(std::string_view path) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string target;
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7f) {
      target += '%';
      target += kDigits[c >> 4];
      target += kDigits[c & 0x0f];
    } else {
      target += static_cast<char>(c);
    }
  }
  return target.empty() ? "/" : target;
}

long SetupLimit(const HttpRequest::Timeouts& timeouts) {
  if (timeouts.connectMs <= 0) return 0;
  return timeouts.connectMs + std::max(timeouts.resolveMs, 0L);
}

class CurlHttpRequest final : public HttpRequest {
 public:
  ~CurlHttpRequest() override { Close(); }

  bool Open(std::string_view agent) override {
    Close();
    if (!GlobalInit()) return Fail(CURLE_FAILED_INIT, "libcurl could not be initialised");
    multi_ = MultiPool::Take();
    if (!multi_) return Fail(CURLE_OUT_OF_MEMORY, "libcurl multi handle could not be made");
    agent_ = agent;
    return true;
  }

  bool Connect(std::string_view host, int port) override {
    if (!multi_) return Fail(CURLE_FAILED_INIT, "session not open");
    if (host.empty() || port < 1 || port > 65535)
      return Fail(CURLE_URL_MALFORMAT, "invalid server address");
    host_ = host;
    port_ = port;
    DropRequest();
    return true;
  }

  bool OpenRequest(std::string_view method, std::string_view path, bool secure) override;
  bool AddHeaders(std::string_view lines) override;

  void SetClientCertificate(const std::string& certificateFile,
                            const std::string& keyFile) override {
    certificateFile_ = certificateFile;
    keyFile_ = keyFile.empty() ? certificateFile : keyFile;
    if (easy_) ApplyTlsOptions();
  }

  bool SetTimeouts(const Timeouts& timeouts) override {
    for (long value :
         {timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs, timeouts.receiveMs}) {
      if (value < -1) return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "invalid time-out value");
    }
    timeouts_ = timeouts;
    if (easy_) curl_easy_setopt(easy_.get(), CURLOPT_CONNECTTIMEOUT_MS, SetupLimit(timeouts_));
    return true;
  }

  void SetVerifyServer(bool verify) override {
    verify_ = verify;
    if (easy_) ApplyTlsOptions();
  }

  bool Send(const void* body, size_t length, size_t totalLength) override;
  long Write(const void* data, size_t length) override;
  bool ReceiveResponse() override;
  const std::string& RawHeaders() const override { return rawHeaders_; }
  long Read(void* buffer, size_t size) override;

  void Close() override {
    DropRequest();
    MultiPool::Give(std::move(multi_));
  }

  const std::string& LastError() const override { return error_; }
  int LastErrorCode() const override { return errorCode_; }

 private:
  enum class Phase { kSend, kReceive };

  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnUpload(char* buffer, size_t size, size_t count, void* self);

  bool Fail(int code, std::string text) {
    errorCode_ = code;
    error_ = std::move(text);
    return false;
  }
  // For the counting operations: records the failure, gives -1.
  static long FailCount(bool) { return -1; }
  // The readable text of a libcurl result: the handle's detailed message when
  // it wrote one, else the generic text of the code.
  bool FailCurl(CURLcode code) {
    return Fail(code, errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(code));
  }

  void DropRequest();
  bool AppendLine(const std::string& text);
  void ApplyTlsOptions();
  bool SetRequestOptions(std::string_view method, std::string_view path, bool secure);
  bool Connected();
  void ApplyPause();
  template <class Done>
  bool Drive(Done done, Phase phase);

  // Session.
  MultiHandle multi_;
  std::string agent_;
  std::string host_;
  int port_ = 0;
  Timeouts timeouts_;
  bool verify_ = true;
  std::string certificateFile_;
  std::string keyFile_;

  // The current request.
  std::unique_ptr<CURL, EasyDeleter> easy_;
  std::unique_ptr<curl_slist, SlistDeleter> headers_;
  bool bodyless_ = false;  // GET or HEAD: no Content-Length unless a body is given
  bool hasContentType_ = false;
  bool hasExpect_ = false;
  bool sent_ = false;
  bool attached_ = false;  // easy_ is in multi_
  bool done_ = false;      // the transfer ended (result_ says how)
  bool failed_ = false;    // a time-out or error ended the transfer for us
  CURLcode result_ = CURLE_OK;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  Clock::time_point lastProgress_;

  // Response header: the final block, reset by every status line.
  std::string rawHeaders_;
  bool interim_ = false;
  bool headersDone_ = false;

  // Request body: the caller's bytes being handed over (only during a call).
  const char* upload_ = nullptr;
  size_t uploadLeft_ = 0;
  size_t bodySent_ = 0;
  size_t bodyTotal_ = 0;
  bool uploadPaused_ = false;

  // Response body: the caller's buffer while Read runs, and the rest of the
  // last piece that did not fit (at most one receive buffer).
  char* target_ = nullptr;
  size_t targetSize_ = 0;
  size_t targetFilled_ = 0;
  std::string spill_;
  size_t spillAt_ = 0;
  bool downloadPaused_ = false;

  std::string error_;
  int errorCode_ = 0;
};

void CurlHttpRequest::DropRequest() {
  if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
  attached_ = false;
  easy_.reset();
  headers_.reset();
  bodyless_ = hasContentType_ = hasExpect_ = sent_ = done_ = failed_ = false;
  result_ = CURLE_OK;
  rawHeaders_.clear();
  interim_ = headersDone_ = false;
  upload_ = nullptr;
  uploadLeft_ = bodySent_ = bodyTotal_ = 0;
  uploadPaused_ = downloadPaused_ = false;
  target_ = nullptr;
  targetSize_ = targetFilled_ = 0;
  spill_.clear();
  spillAt_ = 0;
}

void CurlHttpRequest::ApplyTlsOptions() {
  CURL* easy = easy_.get();
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify_ ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify_ ? 2L : 0L);
  // libcurl reads its own compiled-in bundle, not OpenSSL's variables; honour
  // them so the trust store is the one every other TLS client here uses.
  const char* file = std::getenv("SSL_CERT_FILE");
  const char* dir = std::getenv("SSL_CERT_DIR");
  if (file != nullptr && *file != '\0') curl_easy_setopt(easy, CURLOPT_CAINFO, file);
  // The system bundle file holds the same CAs as the system folder. libcurl
  // only keeps a loaded store (see MultiPool) when no folder is named, so the
  // folder is used only when SSL_CERT_DIR asks for one.
  const bool withDir = dir != nullptr && *dir != '\0';
  curl_easy_setopt(easy, CURLOPT_CAPATH, withDir ? dir : nullptr);
  const bool withCertificate = !certificateFile_.empty();
  curl_easy_setopt(easy, CURLOPT_SSLCERT, withCertificate ? certificateFile_.c_str() : nullptr);
  curl_easy_setopt(easy, CURLOPT_SSLKEY, withCertificate ? keyFile_.c_str() : nullptr);
  curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "PEM");
}

bool CurlHttpRequest::SetRequestOptions(std::string_view method, std::string_view path,
                                        bool secure) {
  CURL* easy = easy_.get();
  // An IPv6 literal needs brackets inside a URL.
  const bool literal6 = host_.find(':') != std::string::npos;
  const std::string url = std::string(secure ? "https://" : "http://") + (literal6 ? "[" : "") +
                          host_ + (literal6 ? "]" : "") + ":" + std::to_string(port_) + "/";
  const std::string target = EncodeTarget(path);
  const std::string verb(method);
  const CURLcode codes[] = {
      curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_),
      curl_easy_setopt(easy, CURLOPT_URL, url.c_str()),
      curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, target.c_str()),
      curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str()),
      curl_easy_setopt(easy, CURLOPT_NOBODY, EqualsAscii(method, "HEAD") ? 1L : 0L),
      curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"),
      curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)),
      curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize),
      // No signals: the caller's thread may not be the main one.
      curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L),
      // One connection per request, closed when it ends, as the callers expect;
      // the pooled multi handle would otherwise keep it open for reuse.
      curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L),
      curl_easy_setopt(easy, CURLOPT_USERAGENT, agent_.c_str()),
      curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, SetupLimit(timeouts_)),
      curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlHttpRequest::OnHeader),
      curl_easy_setopt(easy, CURLOPT_HEADERDATA, this),
      curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlHttpRequest::OnBody),
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, this),
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlHttpRequest::OnUpload),
      curl_easy_setopt(easy, CURLOPT_READDATA, this),
  };
  for (CURLcode code : codes) {
    if (code != CURLE_OK) return FailCurl(code);
  }
  ApplyTlsOptions();
  return true;
}

bool CurlHttpRequest::OpenRequest(std::string_view method, std::string_view path, bool secure) {
  if (!multi_ || host_.empty()) return Fail(CURLE_FAILED_INIT, "no server connected");
  if (method.empty() || method.find_first_of(" \t\r\n") != method.npos)
    return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "invalid request method");
  DropRequest();
  easy_.reset(curl_easy_init());
  if (!easy_) return Fail(CURLE_OUT_OF_MEMORY, "libcurl easy handle could not be made");
  errorBuffer_[0] = '\0';
  bodyless_ = EqualsAscii(method, "GET") || EqualsAscii(method, "HEAD");
  if (!SetRequestOptions(method, path, secure)) {
    easy_.reset();
    return false;
  }
  return true;
}

bool CurlHttpRequest::AddHeaders(std::string_view lines) {
  if (!easy_ || sent_) return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "no request open for headers");
  while (!lines.empty()) {
    const size_t end = lines.find_first_of("\r\n");
    const std::string_view line = lines.substr(0, end);
    lines.remove_prefix(end == lines.npos ? lines.size() : end + 1);
    if (Trim(line).empty()) continue;
    const size_t colon = line.find(':');
    if (colon == line.npos || colon == 0 || line.find('\0') != line.npos)
      return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "invalid header line: " + std::string(line));
    const std::string_view name = Trim(line.substr(0, colon));
    if (EqualsAscii(name, "Content-Length"))
      return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "Content-Length is set from the body length");
    hasContentType_ = hasContentType_ || EqualsAscii(name, "Content-Type");
    hasExpect_ = hasExpect_ || EqualsAscii(name, "Expect");
    // libcurl reads "Name:" as "remove Name"; "Name;" is how it sends a field
    // with an empty value.
    const std::string text =
        Trim(line.substr(colon + 1)).empty() ? std::string(name) + ";" : std::string(line);
    if (!AppendLine(text)) return false;
  }
  return true;
}

bool CurlHttpRequest::AppendLine(const std::string& text) {
  curl_slist* head = curl_slist_append(headers_.get(), text.c_str());
  if (head == nullptr) return Fail(CURLE_OUT_OF_MEMORY, "out of memory for header lines");
  // On success the list head is unchanged, or new when the list was empty.
  (void)headers_.release();
  headers_.reset(head);
  return true;
}

bool CurlHttpRequest::Send(const void* body, size_t length, size_t totalLength) {
  if (!easy_ || sent_) return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "no request open to send");
  if (length > totalLength || (body == nullptr && length > 0))
    return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "body longer than its total length");
  const bool withBody = totalLength > 0 || !bodyless_;
  // libcurl would add its own form Content-Type and an "Expect: 100-continue"
  // to a body; the caller's header block says everything that is sent.
  // ("Name:" is libcurl's way of saying "do not send Name".)
  if (withBody && !hasContentType_ && !AppendLine("Content-Type:")) return false;
  if (withBody && !hasExpect_ && !AppendLine("Expect:")) return false;
  CURL* easy = easy_.get();
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_.get());
  if (withBody) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(totalLength));
  }
  if (CURLMcode code = curl_multi_add_handle(multi_.get(), easy); code != CURLM_OK)
    return Fail(CURLE_FAILED_INIT, curl_multi_strerror(code));
  attached_ = sent_ = true;
  bodyTotal_ = totalLength;
  upload_ = static_cast<const char*>(body);
  uploadLeft_ = length;
  lastProgress_ = Clock::now();
  const bool ok = Drive([this] { return Connected() && uploadLeft_ == 0; }, Phase::kSend);
  // The caller's bytes are only lent for this call.
  upload_ = nullptr;
  uploadLeft_ = 0;
  return ok;
}

bool CurlHttpRequest::Connected() {
  // The pre-transfer time is set once the connection (and any TLS handshake)
  // is up and the request is about to go out.
  curl_off_t pretransfer = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
  return pretransfer > 0 || headersDone_ || done_;
}

void CurlHttpRequest::ApplyPause() {
  // The mask is the new state of both directions; unpausing may deliver data
  // libcurl held back straight into the callbacks.
  const int mask = (downloadPaused_ ? CURLPAUSE_RECV : 0) | (uploadPaused_ ? CURLPAUSE_SEND : 0);
  curl_easy_pause(easy_.get(), mask);
}

// Runs the transfer until done() holds or the transfer ends. Each wait is
// bounded by the phase's time-out, counted from the last byte that moved.
// False (with the error set) on a transfer error or time-out; true when done()
// holds or the transfer ended normally, which the caller then looks at.
template <class Done>
bool CurlHttpRequest::Drive(Done done, Phase phase) {
  for (;;) {
    int running = 0;
    if (const CURLMcode code = curl_multi_perform(multi_.get(), &running); code != CURLM_OK) {
      failed_ = true;
      return Fail(CURLE_FAILED_INIT, curl_multi_strerror(code));
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_.get()) {
        done_ = true;
        result_ = message->data.result;
      }
    }
    if (done_ && result_ != CURLE_OK) {
      failed_ = true;
      return FailCurl(result_);
    }
    if (done() || done_) return true;

    const bool connected = Connected();
    const long limit = !connected              ? SetupLimit(timeouts_)
                       : phase == Phase::kSend ? timeouts_.sendMs
                                               : timeouts_.receiveMs;
    long wait = kPollSliceMs;
    if (limit > 0) {
      const long elapsed = static_cast<long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastProgress_)
              .count());
      if (elapsed >= limit) {
        failed_ = true;
        const char* what = !connected              ? "connecting to"
                           : phase == Phase::kSend ? "sending to"
                                                   : "receiving from";
        return Fail(CURLE_OPERATION_TIMEDOUT,
                    "Timed out after " + std::to_string(limit) + " ms " + what + " " + host_);
      }
      wait = std::min(wait, limit - elapsed);
    }
    curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(std::max(wait, 1L)), nullptr);
  }
}

size_t CurlHttpRequest::OnHeader(char* data, size_t size, size_t count, void* self_) {
  auto* self = static_cast<CurlHttpRequest*>(self_);
  const size_t length = size * count;
  self->lastProgress_ = Clock::now();
  // Lines after the final header are the trailer of a chunked body.
  if (self->headersDone_) return length;
  const std::string_view line(data, length);
  if (line.size() > 5 && EqualsAscii(line.substr(0, 5), "HTTP/")) {
    // Each status line starts a new block: only the final response counts.
    self->rawHeaders_.clear();
    const size_t space = line.find(' ');
    const char digit = space != line.npos && space + 1 < line.size() ? line[space + 1] : '0';
    self->interim_ = digit == '1';
  }
  self->rawHeaders_.append(line);
  if (line == "\r\n" || line == "\n") {
    if (!self->interim_) self->headersDone_ = true;
  }
  return length;
}

size_t CurlHttpRequest::OnBody(char* data, size_t size, size_t count, void* self_) {
  auto* self = static_cast<CurlHttpRequest*>(self_);
  const size_t length = size * count;
  const size_t room = self->targetSize_ - self->targetFilled_;
  if (room == 0) {
    // No Read is waiting: libcurl keeps the piece until ApplyPause resumes.
    self->downloadPaused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  const size_t take = std::min(length, room);
  std::memcpy(self->target_ + self->targetFilled_, data, take);
  self->targetFilled_ += take;
  // The buffer is full now; later pieces pause until the next Read.
  if (take < length) self->spill_.append(data + take, length - take);
  self->lastProgress_ = Clock::now();
  return length;
}

size_t CurlHttpRequest::OnUpload(char* buffer, size_t size, size_t count, void* self_) {
  auto* self = static_cast<CurlHttpRequest*>(self_);
  if (self->uploadLeft_ == 0) {
    if (self->bodySent_ >= self->bodyTotal_) return 0;
    // More body is owed through Write.
    self->uploadPaused_ = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t take = std::min(size * count, self->uploadLeft_);
  std::memcpy(buffer, self->upload_, take);
  self->upload_ += take;
  self->uploadLeft_ -= take;
  self->bodySent_ += take;
  self->lastProgress_ = Clock::now();
  return take;
}

long CurlHttpRequest::Write(const void* data, size_t length) {
  if (!sent_ || failed_) return FailCount(Fail(CURLE_SEND_ERROR, "no request body is being sent"));
  if (done_) return FailCount(Fail(CURLE_SEND_ERROR, "the server ended the request"));
  if (length == 0) return 0;
  if (data == nullptr || bodySent_ + length > bodyTotal_)
    return FailCount(Fail(CURLE_BAD_FUNCTION_ARGUMENT, "more body than the total length given"));
  upload_ = static_cast<const char*>(data);
  uploadLeft_ = length;
  lastProgress_ = Clock::now();
  uploadPaused_ = false;
  ApplyPause();
  const bool ok = Drive([this] { return uploadLeft_ == 0; }, Phase::kSend);
  const bool complete = uploadLeft_ == 0;
  upload_ = nullptr;
  uploadLeft_ = 0;
  if (!ok) return -1;
  if (!complete) return FailCount(Fail(CURLE_SEND_ERROR, "the server ended the request"));
  return static_cast<long>(length);
}

bool CurlHttpRequest::ReceiveResponse() {
  if (!sent_) return Fail(CURLE_BAD_FUNCTION_ARGUMENT, "no request sent");
  if (failed_) return false;
  if (!done_ && bodySent_ < bodyTotal_) {
    return Fail(CURLE_SEND_ERROR, "request body incomplete: " + std::to_string(bodySent_) + " of " +
                                      std::to_string(bodyTotal_) + " bytes sent");
  }
  lastProgress_ = Clock::now();
  if (!Drive([this] { return headersDone_; }, Phase::kReceive)) return false;
  if (!headersDone_)
    return Fail(CURLE_GOT_NOTHING, "the connection ended before a response header arrived");
  return true;
}

long CurlHttpRequest::Read(void* buffer, size_t size) {
  if (!headersDone_) return FailCount(Fail(CURLE_BAD_FUNCTION_ARGUMENT, "no response received"));
  if (buffer == nullptr || size == 0) return 0;
  char* out = static_cast<char*>(buffer);
  size_t filled = 0;
  if (spillAt_ < spill_.size()) {
    filled = std::min(size, spill_.size() - spillAt_);
    std::memcpy(out, spill_.data() + spillAt_, filled);
    spillAt_ += filled;
    if (spillAt_ == spill_.size()) {
      spill_.clear();
      spillAt_ = 0;
    }
  }
  if (filled == size || (done_ && !downloadPaused_)) return static_cast<long>(filled);
  if (failed_) return filled > 0 ? static_cast<long>(filled) : -1;

  target_ = out;
  targetSize_ = size;
  targetFilled_ = filled;
  lastProgress_ = Clock::now();
  if (downloadPaused_) {
    downloadPaused_ = false;
    ApplyPause();
  }
  const bool ok = Drive([this] { return targetFilled_ == targetSize_; }, Phase::kReceive);
  filled = targetFilled_;
  target_ = nullptr;
  targetSize_ = targetFilled_ = 0;
  if (!ok && filled == 0) return -1;
  return static_cast<long>(filled);
}

}  // namespace

std::unique_ptr<HttpRequest> MakeHttpRequest() { return std::make_unique<CurlHttpRequest>(); }

}  // namespace corvane::platform
