// Regular expressions carried by PCRE2 (8-bit code units).
#include "platform/RegexEngine.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <mutex>
#include <unordered_map>

namespace corvane::platform {

namespace {

// ECMAScript-like behaviour: "$" only at the very end, \u and \x as in
// ECMAScript; always caseless.
constexpr uint32_t kCompileOptions = PCRE2_CASELESS | PCRE2_DOLLAR_ENDONLY | PCRE2_ALT_BSUX;
// Patterns come from configuration; a handful are in use at a time.
constexpr size_t kCacheLimit = 64;
// Subjects come from the network: bound the backtracking one request can cost
// (PCRE2's own default is ten times higher) so a careless pattern cannot be
// turned into a busy loop by a crafted path.
constexpr uint32_t kMatchLimit = 1000000;

struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};

// Shared by every search; pcre2_match only reads it (its parameter is not
// const-qualified).
pcre2_match_context* SharedMatchContext() {
  static const std::unique_ptr<pcre2_match_context, MatchContextDeleter> context = [] {
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> made(
        pcre2_match_context_create(nullptr));
    if (made) pcre2_set_match_limit(made.get(), kMatchLimit);
    return made;
  }();
  return context.get();
}

std::string Pcre2ErrorText(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) {
    return "regular expression error " + std::to_string(code);
  }
  return reinterpret_cast<const char*>(buffer);
}

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;

// One match: the group offsets of the last successful search.
struct MatchView {
  std::string_view subject;
  const PCRE2_SIZE* offsets;
  int groupsSet;  // pcre2_match's result: highest group set plus one

  std::string_view Group(int n) const {
    if (n >= groupsSet || offsets[2 * n] == PCRE2_UNSET) return {};
    return subject.substr(offsets[2 * n], offsets[2 * n + 1] - offsets[2 * n]);
  }
};

class Pcre2Regex final : public RegexEngine {
 public:
  using Code = std::unique_ptr<pcre2_code, CodeDeleter>;

  Pcre2Regex(Code code, int groupCount) : code_(std::move(code)), groupCount_(groupCount) {}

  Result Test(std::string_view subject, std::string& error) const override {
    MatchData data(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    if (!data) return Fail("out of memory", error);
    const int rc = Search(subject, 0, 0, data.get());
    if (rc == PCRE2_ERROR_NOMATCH) return Result::kNoMatch;
    if (rc < 0) return Fail(Pcre2ErrorText(rc), error);
    return Result::kMatch;
  }

  bool Replace(std::string_view subject, std::string_view replacement, std::string& out,
               std::string& error) const override {
    MatchData data(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    if (!data) {
      Fail("out of memory", error);
      return false;
    }
    std::string result;
    size_t copied = 0;  // subject bytes already in result
    size_t offset = 0;
    uint32_t options = 0;
    while (offset <= subject.size()) {
      const int rc = Search(subject, offset, options, data.get());
      if (rc == PCRE2_ERROR_NOMATCH) {
        // After an empty match the anchored non-empty retry failed too: move
        // on one byte, as ECMAScript does, so the loop always advances.
        if (options == 0 || offset == subject.size()) break;
        ++offset;
        options = 0;
        continue;
      }
      if (rc < 0) {
        Fail(Pcre2ErrorText(rc), error);
        return false;
      }
      const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data.get());
      const MatchView match{subject, offsets, rc};
      result.append(subject.substr(copied, offsets[0] - copied));
      Expand(replacement, match, result);
      copied = offsets[1];
      offset = offsets[1];
      options = offsets[0] == offsets[1] ? (PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED) : 0;
    }
    result.append(subject.substr(copied));
    out.append(result);
    return true;
  }

 private:
  int Search(std::string_view subject, size_t offset, uint32_t options,
             pcre2_match_data* data) const {
    return pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                       offset, options, data, SharedMatchContext());
  }

  static Result Fail(std::string reason, std::string& error) {
    error = std::move(reason);
    return Result::kError;
  }

  // Appends replacement with its "$" references resolved against match.
  void Expand(std::string_view replacement, const MatchView& match, std::string& result) const {
    const std::string_view subject = match.subject;
    for (size_t i = 0; i < replacement.size(); ++i) {
      const char c = replacement[i];
      const char next = i + 1 < replacement.size() ? replacement[i + 1] : '\0';
      if (c != '$' || next == '\0') {
        result.push_back(c);
      } else if (next == '$') {
        result.push_back('$');
        ++i;
      } else if (next == '&') {
        result.append(match.Group(0));
        ++i;
      } else if (next == '`') {
        result.append(subject.substr(0, match.offsets[0]));
        ++i;
      } else if (next == '\'') {
        result.append(subject.substr(match.offsets[1]));
        ++i;
      } else {
        const size_t used = ExpandGroup(replacement.substr(i + 1), match, result);
        if (used == 0) result.push_back('$');
        i += used;
      }
    }
  }

  // Resolves the group number at the start of digits ("12" means group 12 when
  // the pattern has that many groups, else group 1 followed by "2"). Returns
  // the digits consumed, 0 when they name no group of the pattern.
  size_t ExpandGroup(std::string_view digits, const MatchView& match, std::string& result) const {
    auto digit = [&](size_t i) {
      return i < digits.size() && digits[i] >= '0' && digits[i] <= '9';
    };
    if (!digit(0)) return 0;
    const int one = digits[0] - '0';
    if (digit(1)) {
      const int two = one * 10 + (digits[1] - '0');
      if (two >= 1 && two <= groupCount_) {
        result.append(match.Group(two));
        return 2;
      }
    }
    if (one >= 1 && one <= groupCount_) {
      result.append(match.Group(one));
      return 1;
    }
    return 0;
  }

  Code code_;
  int groupCount_;
};

}  // namespace

std::shared_ptr<const RegexEngine> RegexEngine::Compile(std::string_view pattern,
                                                        std::string& error) {
  static std::mutex cacheLock;
  static std::unordered_map<std::string, std::shared_ptr<const RegexEngine>> cache;
  {
    const std::lock_guard<std::mutex> lock(cacheLock);
    const auto found = cache.find(std::string(pattern));
    if (found != cache.end()) return found->second;
  }
  int code = 0;
  PCRE2_SIZE errorOffset = 0;
  Pcre2Regex::Code compiled(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()),
                                          pattern.size(), kCompileOptions, &code, &errorOffset,
                                          nullptr));
  if (!compiled) {
    error = Pcre2ErrorText(code) + " at offset " + std::to_string(errorOffset);
    return nullptr;
  }
  uint32_t groups = 0;
  pcre2_pattern_info(compiled.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
  auto regex = std::make_shared<const Pcre2Regex>(std::move(compiled), static_cast<int>(groups));
  const std::lock_guard<std::mutex> lock(cacheLock);
  // Dropping the whole cache now and then keeps it bounded; holders of a
  // pattern keep theirs alive through the shared pointer.
  if (cache.size() >= kCacheLimit) cache.clear();
  cache.emplace(std::string(pattern), regex);
  return regex;
}

}  // namespace corvane::platform
