// The kernel's socket tables as text: /proc/net/tcp, udp, tcp6 and udp6.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "census/KernelSockets_linux.h"

// One line of such a file. False for the header line and for anything else
// that is not a well-formed socket line. UDP lines have their state ignored
// by the source.
bool ParseProcNetLine(std::string_view Line, bool Ipv6, TKernelSocket& Socket);
// Every socket line of a whole text; returns the number of rows added.
size_t ParseProcNetText(std::string_view Text, bool Ipv6, TKernelSockets& Out);

// Reads Root + "/net/" + Name (e.g. "/proc", "tcp6") into Out. False with
// errno set when the file cannot be read (see ReadBoundedFile).
bool ReadProcNetTable(const std::string& Root, const char* Name, bool Ipv6, TKernelSockets& Out);
