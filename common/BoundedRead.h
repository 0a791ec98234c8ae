// Reading files that come from outside, bounded in size and never blocking
// on something that is not a file; and the bound of each kind of file.
#pragma once

#include <cstddef>
#include <string>

// Configuration and registry files: far above any real configuration, and it
// bounds what one read can cost.
constexpr size_t ConfigFileSizeLimit = size_t(16) << 20;
// A process's name or stat line is far shorter.
constexpr size_t ProcessFileSizeLimit = 4096;
// Far more than the status or mount table of any machine.
constexpr size_t ProcStatusFileSizeLimit = size_t(64) << 20;
// Far more than the socket table of any machine (some seven million sockets).
constexpr size_t ProcNetSizeLimit = size_t(1) << 30;

// Reads the whole file Path into Bytes. False when it is not a regular (disk)
// file, since a FIFO or a device could hold the read up or never end; when
// it holds more than Limit bytes (also one that claims no size and never
// ends: the read stops past the limit); or when it cannot be opened or read.
// The system's error (errno, or the last error) then tells why.
bool ReadBoundedFile(const std::string& Path, size_t Limit, std::string& Bytes);
