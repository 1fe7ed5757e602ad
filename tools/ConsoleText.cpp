#include "tools/ConsoleText.h"

#include <cstdarg>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "app/Text.h"
#endif

namespace tools {
namespace {

std::string Format(const char* format, std::va_list arguments) {
  std::va_list copy;
  va_copy(copy, arguments);
  const int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, arguments);
  text.resize(static_cast<std::size_t>(size));
  return text;
}

#ifdef _WIN32
// The console behind stdout or stderr, nullptr when the stream goes elsewhere (a pipe, a file).
HANDLE ConsoleOf(std::FILE* stream) {
  const DWORD which = stream == stdout ? STD_OUTPUT_HANDLE : stream == stderr ? STD_ERROR_HANDLE : 0;
  if (which == 0) return nullptr;
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) return nullptr;
  // The progress line is redrawn with "\r" and an erase-line sequence.
  if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return handle;
}

bool WriteToConsole(std::FILE* stream, const std::string& text) {
  HANDLE console = ConsoleOf(stream);
  if (console == nullptr) return false;
  std::fflush(stream);  // what went out through the C library comes first
  const std::u16string wide = app::Utf8ToUtf16(text);
  DWORD written = 0;
  return WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != 0;
}
#else
bool WriteToConsole(std::FILE*, const std::string&) { return false; }
#endif

int Write(std::FILE* stream, const std::string& text) {
  if (!WriteToConsole(stream, text) && std::fwrite(text.data(), 1, text.size(), stream) != text.size()) return -1;
  return static_cast<int>(text.size());
}

}  // namespace

int Printf(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const std::string text = Format(format, arguments);
  va_end(arguments);
  return Write(stdout, text);
}

int Fprintf(std::FILE* stream, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const std::string text = Format(format, arguments);
  va_end(arguments);
  return Write(stream, text);
}

}  // namespace tools
