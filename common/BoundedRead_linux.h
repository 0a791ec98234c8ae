// The steps of ReadBoundedFile, for a reader that looks at the open file
// (its locks) before reading it.
#pragma once

#include <cstddef>
#include <string>

#include "common/BoundedRead.h"

// Opens Path read-only when it is a regular file. O_NONBLOCK keeps a FIFO or
// a device from holding the open up; such a thing is refused with EINVAL
// (EISDIR for a directory). -1, with errno set, otherwise.
int OpenRegularFile(const std::string& Path);

// Reads the open regular file Fd from its current position to its end into
// Bytes, as ReadBoundedFile does. False, with errno set, when it holds more
// than Limit bytes (EFBIG) or reading fails.
bool ReadRegularFile(int Fd, size_t Limit, std::string& Bytes);
