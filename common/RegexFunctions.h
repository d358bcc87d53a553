// Regular-expression matching and rewriting of texts, as used to route relayed requests.
#pragma once

#include <string>

#include "common/CommonExport.h"

// Patterns follow ECMAScript regular-expression syntax (as far as PCRE2
// shares it) and are always case-insensitive; texts are matched as bytes.
// Compiled patterns are cached for the process. An invalid pattern, or a
// match that fails (for example by exceeding the match limit), is logged with
// Debug::logerror and reported through the result; nothing is thrown.
// Thread-safe.

// True when pattern matches somewhere in text. False when it does not, when
// text or pattern is null, or when the pattern is invalid.
CORVANE_COMMON_API bool RegexMatch(const char* text, const char* pattern);

// Replaces the content of out by text with every match of pattern replaced by
// replacement (null means the empty text). In replacement "$1" to "$99" stand
// for groups (empty when the group took no part in the match), "$&" for the
// whole match, "$`" and "$'" for the text before and after it, "$$" for "$";
// any other "$" stays as written. When text or pattern is null, the pattern is
// invalid or matching fails, out is left unchanged. Returns out.c_str(), valid
// until out changes.
CORVANE_COMMON_API const char* RegexReplace(const char* text, const char* pattern,
                                            const char* replacement, std::string& out);
