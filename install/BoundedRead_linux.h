// Reading a whole file that comes from outside, bounded in size.
#pragma once

#include <cstddef>
#include <string>

// Reads the open file Fd from its current position to its end into Bytes.
// False, with errno set, when it is not a regular file (EINVAL: a FIFO or a
// device could hold the read up or never end), when it holds more than Limit
// bytes (EFBIG; also a file such as /proc/self/pagemap, which claims size 0
// and never ends: the read stops at the limit), or when reading fails.
bool ReadRegularFile(int Fd, size_t Limit, std::string& Bytes);
