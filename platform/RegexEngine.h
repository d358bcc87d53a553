// Compiled regular expressions: the stand-in for the platform's scripting regular-expression
// object.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace corvane::platform {

// A compiled pattern, always case-insensitive (ASCII letters) and used
// globally: Replace rewrites every match. The syntax is that of PCRE2 set up to
// behave like ECMAScript regular expressions where they differ ("$" matches
// only at the very end, "\uhhhh" and "\xhh" escapes). Texts are matched as
// bytes. A compiled pattern never changes, so one object may be used by several
// threads at once.
class RegexEngine {
 public:
  virtual ~RegexEngine() = default;

  // Compiles pattern, or takes it from a process-wide cache of recently
  // compiled patterns. Returns null with a readable reason in error when the
  // pattern is invalid. Thread-safe.
  static std::shared_ptr<const RegexEngine> Compile(std::string_view pattern, std::string& error);

  // Outcome of a search: a match, none, or a failure such as the match limit
  // being reached on a pathological pattern.
  enum class Result { kMatch, kNoMatch, kError };

  // Looks for the first match anywhere in subject. error receives the reason
  // of a kError result.
  virtual Result Test(std::string_view subject, std::string& error) const = 0;

  // Appends to out the subject with every match replaced by replacement, in
  // which "$1" to "$99" stand for groups (empty when the group took no part),
  // "$&" for the whole match, "$`" and "$'" for the text before and after it and
  // "$$" for "$"; a "$" in any other use, or naming a group the pattern does not
  // have, stays as written. Returns false with error set, and out unchanged,
  // when matching fails.
  virtual bool Replace(std::string_view subject, std::string_view replacement, std::string& out,
                       std::string& error) const = 0;
};

}  // namespace corvane::platform
