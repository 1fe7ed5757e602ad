// card-photo's printed text. The text is UTF-8 (file names, readers' names, messages); a Windows console
// shows its own code page instead (936 on a Chinese system), so when standard output or standard error is
// a console it is written there as UTF-16. Pipes and files always get the UTF-8 bytes.
#pragma once

#include <cstdio>

namespace tools {

// std::printf to standard output.
[[gnu::format(printf, 1, 2)]] int Printf(const char* format, ...);
// std::fprintf to stdout or stderr (any other stream gets the bytes unchanged).
[[gnu::format(printf, 2, 3)]] int Fprintf(std::FILE* stream, const char* format, ...);

}  // namespace tools
