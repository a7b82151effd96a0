// printf-style formatting of console lines into a string.
#pragma once

#include <string>

namespace quorvel {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string formatMessage(const char* format, ...);

} // namespace quorvel
