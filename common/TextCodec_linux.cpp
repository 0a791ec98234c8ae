// The ANSI code page on Linux is UTF-8.
#include "common/TextCodec.h"

#include <utility>

std::string AnsiToUtf8(std::string bytes) { return SanitizeUtf8(std::move(bytes)); }
