// Finds where a proxy's reply to a CONNECT request ends, so no tunnelled byte is taken with it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

// Reads the reply as lines: a line ends after an LF or at a NUL byte. The
// reply ends after the first line whose first byte is CR, LF or NUL (the empty
// line after the headers). The tunnel is granted when the first line contains
// " 200". Bytes are fed as they are peeked from the connection; Feed says how
// many of them belong to the reply, so exactly those can be consumed. Used by
// one thread at a time.
class ProxyReplyScanner {
 public:
  // Scans bytes that follow everything fed before. Returns how many of them
  // belong to the reply: all of them, or fewer once the end has been found
  // (the rest is tunnelled data). Returns 0 once Done().
  std::size_t Feed(std::string_view bytes);

  // True once the line that ends the reply has been fed whole.
  bool Done() const { return done_; }
  // True when the first line contained " 200".
  bool Granted() const { return granted_; }
  // Bytes of the reply fed so far (the whole reply once Done()).
  std::size_t Length() const { return length_; }

 private:
  void EndLine();

  std::string first_line_;
  bool in_first_line_ = true;
  bool at_line_start_ = true;
  bool closing_line_ = false;  // this line starts with CR, LF or NUL
  bool granted_ = false;
  bool done_ = false;
  std::size_t length_ = 0;
};

}  // namespace corvane
