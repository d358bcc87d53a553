// Whole-file helpers: test, measure, read and write a file in one call.
#pragma once

#include "common/CommonExport.h"

// None of these functions logs or throws (except std::bad_alloc from
// ReadWholeFile when memory is exhausted); failures show in the result.
// Thread-safe; other processes may read the files meanwhile.

// True when name is a file that can be opened for reading (a directory does
// not count). False for null or empty names.
CORVANE_COMMON_API bool FileExists(const char* name);

// Reads the whole file into a new buffer followed by one extra NUL byte.
// *size (size may be null) is set to 0 first and then to the number of bytes
// read (the NUL not counted). Returns null when name is null, the file cannot
// be opened or read, or is empty. The caller owns the buffer and releases it
// with delete[] (for example by holding it in a std::unique_ptr<char[]>).
CORVANE_COMMON_API char* ReadWholeFile(const char* name, unsigned long* size);

// Creates or truncates the file and writes length bytes of data to it,
// waiting for each write to reach the disk. A length of 0 or less writes
// strlen(data) bytes instead. Returns nonzero when every byte was written; 0
// when data or name is null (nothing is created then), or the file cannot be
// created or written (a file may then be left with part of the data).
CORVANE_COMMON_API int WriteWholeFile(const char* name, const char* data, long long length);

// The length of the file in bytes; 0 when it cannot be opened.
CORVANE_COMMON_API unsigned long GetFileLength(const char* name);
