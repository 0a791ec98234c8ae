// Reading files that come from outside, bounded in size and never blocking
// on something that is not a file.
#pragma once

#include <cstddef>
#include <string>

// Opens Path read-only when it is a regular file. O_NONBLOCK keeps a FIFO or
// a device from holding the open up; such a thing could also hold a read up
// or never end, so it is refused with EINVAL. -1, with errno set, otherwise.
int OpenRegularFile(const std::string& Path);

// Reads the open file Fd from its current position into Bytes until its end,
// or until more than Limit bytes are held (Limit + 1 then: the caller sees
// that there was more). SizeHint, when not 0, is the size the file claims.
// False, with errno set, when reading fails.
bool ReadUpTo(int Fd, size_t Limit, std::string& Bytes, size_t SizeHint = 0);

// Reads the open file Fd from its current position to its end into Bytes.
// False, with errno set, when it is not a regular file (EINVAL: a FIFO or a
// device could hold the read up or never end), when it holds more than Limit
// bytes (EFBIG; also a file such as /proc/self/pagemap, which claims size 0
// and never ends: the read stops at the limit), or when reading fails.
bool ReadRegularFile(int Fd, size_t Limit, std::string& Bytes);

// OpenRegularFile and ReadRegularFile in one.
bool ReadBoundedFile(const std::string& Path, size_t Limit, std::string& Bytes);
