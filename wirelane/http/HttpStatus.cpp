// The status reason-phrase table shared by every status line the library writes.
#include "wirelane/http/HttpStatus.h"

namespace {

struct StatusPhrase {
  int code;
  const char* phrase;
};

// The phrases are written on the wire as they stand; peers and stored
// responses may rely on them, so their spelling is kept.
constexpr StatusPhrase kPhrases[] = {
    {100, "Continue"},
    {101, "Swiching Protocols"},
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {205, "Reset Content"},
    {206, "Partial Content"},
    {300, "Multipe Choices"},
    {301, "Moved Permanently"},
    {302, "Moved Temporarily"},
    {303, "See Other"},
    {304, "Not Modified"},
    {305, "Use Proxy"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Time-out"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Large"},
    {415, "Unsupported Media Type"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Time-out"},
    {505, "HTTP Version Not Supported"},
};

}  // namespace

const char* GetHttpStatusPhrase(int status) {
  for (const StatusPhrase& entry : kPhrases) {
    if (entry.code == status) return entry.phrase;
  }
  return "Unknow Error";
}
