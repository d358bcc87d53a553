// Line scanner of CONNECT replies.
#include "wirelane/sockets/ProxyReplyScannerInternal.h"

namespace corvane {

std::size_t ProxyReplyScanner::Feed(std::string_view bytes) {
  std::size_t used = 0;
  while (!done_ && used < bytes.size()) {
    const char c = bytes[used++];
    if (at_line_start_) {
      closing_line_ = c == '\r' || c == '\n' || c == '\0';
      at_line_start_ = false;
    }
    if (c == '\0') {
      EndLine();
      continue;
    }
    if (in_first_line_) first_line_ += c;
    if (c == '\n') EndLine();
  }
  length_ += used;
  return used;
}

void ProxyReplyScanner::EndLine() {
  if (in_first_line_) {
    granted_ = first_line_.find(" 200") != std::string::npos;
    in_first_line_ = false;
    first_line_.clear();
  }
  done_ = closing_line_;
  at_line_start_ = true;
}

}  // namespace corvane
