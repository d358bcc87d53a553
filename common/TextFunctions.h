// Text helpers shared by the protocol code: tokens, searching, trimming, escapes and paths.
#pragma once

#include <string>

#include "common/CommonExport.h"

// Every function works only on the caller's texts and is thread-safe as long
// as no other thread changes those texts meanwhile. Texts are NUL-terminated
// UTF-8; no function reads past the terminator. A "blank" is the space
// character.

// Reads one token of a protocol line. Skips blanks; a token that starts with a
// double or single quote runs to the next double or single quote (either ends
// it) or the end of text, and the closing quote is skipped; any other token
// runs up to the first blank, CR, LF, quote, or character of delimiters (null
// means none). The token is copied with a NUL to out, which must hold at least
// strlen(text) + 1 bytes; out may be null to skip a token. Then blanks and
// delimiter characters are skipped.
// Returns the position reached inside text, or null when text is null (out
// untouched) or the text ends there. A call that would stop on a CR or LF
// without reading anything steps over the run of CR and LF there (giving an
// empty token), so a loop over GetToken always comes to an end.
CORVANE_COMMON_API const char* GetToken(const char* text, char* out, const char* delimiters);

// Splits off one field. Sets out (when not null) to the empty text first; null
// or empty text then returns null. Otherwise skips blanks and tabs, copies the
// characters up to the first character of delimiters (null means none) or the
// end into out with a NUL (out must hold strlen(text) + 1 bytes), skips every
// following delimiter character when skipRun is true, and returns the position
// reached inside text (possibly its terminating NUL).
CORVANE_COMMON_API const char* SplitToken(const char* text, char* out, const char* delimiters,
                                          bool skipRun);

// Same as the form above, but the field replaces the content of out. For null
// or empty text returns null and leaves out unchanged.
CORVANE_COMMON_API const char* SplitToken(const char* text, std::string& out,
                                          const char* delimiters, bool skipRun);

// Finds pattern in text, exactly or without regard to ASCII letter case. An
// occurrence directly preceded by a backslash is escaped: that backslash is
// replaced by a blank in text (text is changed in place) and the search goes
// on. Returns the first unescaped occurrence inside text, or null when there is
// none or text or pattern is null. An empty pattern matches at the start of a
// non-empty text.
CORVANE_COMMON_API char* FindText(char* text, const char* pattern, bool caseSensitive);

// Removes in place every trailing character of text that occurs in
// characters (null means none). Returns text (null for null).
CORVANE_COMMON_API char* TrimRight(char* text, const char* characters);

// Reads hexadecimal digits (either case) from the start of text up to the
// first other character, as for a chunk size ("1aF;ext" gives 431). No digits,
// or null text, give 0. A value above INT_MAX gives INT_MAX (never a negative
// or wrapped-around value), so callers can reject oversized values with one
// upper-bound check.
CORVANE_COMMON_API int HexToInt(const char* text);

// Decodes URL escapes: "+" becomes a blank; "%" followed by at least two
// characters becomes the byte of the hexadecimal digits among those two (one
// digit when only the first is one; a NUL byte when the first is not one, which
// ends the text as C string); a "%" with fewer than two characters after it
// ends the output. Returns a new text that the caller owns and releases with
// delete[] (for example by holding it in a std::unique_ptr<char[]>); null for
// null text. Raises std::bad_alloc when memory is exhausted.
CORVANE_COMMON_API char* URLUnescape(const char* text);

// True when text is non-empty and holds only decimal digits and dots (the
// numbers are not checked). False for null.
CORVANE_COMMON_API bool IsIPAddress(const char* text);

// Appends to out the part of path before its last "/" or "\"; when the only
// separator is the first character, that separator alone; nothing when path
// has no separator or is null. Returns out.c_str(), valid until out changes.
CORVANE_COMMON_API const char* GetPathDirectory(std::string& out, const char* path);

// The position inside path just after its last "/" or "\", or path itself when
// it has none; null for null.
CORVANE_COMMON_API const char* GetPathFileName(const char* path);
