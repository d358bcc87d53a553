// System helpers: error texts, the time of day as text, random digit strings and UUID texts.
#pragma once

#include <string>

#include "common/CommonExport.h"

// Replaces the content of out by the system's message for the error number
// code (an errno value, such as ECONNREFUSED), or for the calling thread's
// last error when code is 0. The text has no line end (callers' log formats
// supply their own) and at most 255 characters; it is empty when there is no
// error to describe (code 0 with no last error). Unknown numbers give the
// system's "Unknown error <n>" text. Returns out.c_str(), valid until out
// changes. Thread-safe; reads but does not change the last error.
CORVANE_COMMON_API const char* FormatSystemError(std::string& out, unsigned code);

// The current local time in the fixed asctime form with a two-digit day and
// without a line end: "Wed Jan 02 02:03:55 1980". The text lives in a buffer
// of 80 characters belonging to the calling thread, which that thread's next
// call overwrites; do not release it. Safe to call from several threads.
CORVANE_COMMON_API const char* GetTimeText();

// Fills buffer with length - 1 pseudo-random decimal digits and a NUL, for
// MIME boundaries, spool file names and nonces. Each call takes the next value
// of a process-wide counter (1, 2, ... 9999, then 1 again) and seeds with it
// plus the current time in seconds; digits come in groups of six written as
// "%06d" of a number from 0 to 32767, so each group starts with "0". buffer
// must hold length bytes; nothing is written when length is 0 or less.
// Returns buffer (null for null). Safe to call from several threads: the
// counter is atomic and the generator state belongs to the call, so successive
// calls in one process get different seeds even within one second. Calls in
// different processes may repeat each other's digits.
CORVANE_COMMON_API char* MakeRandomDigits(char* buffer, int length);

// Appends "uuid:" and a newly generated random UUID in standard lower-case text
// form with dashes to out. Returns false, with nothing appended, when no UUID
// can be made. Thread-safe.
CORVANE_COMMON_API bool MakeUuidText(std::string& out);
