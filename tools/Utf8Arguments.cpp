#include "tools/Utf8Arguments.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "app/Text.h"
#endif

namespace tools {

Utf8Arguments::Utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 0; i < count; ++i) {
      const std::wstring argument(wide[i]);
      arguments_.push_back(app::Utf16ToUtf8(std::u16string(argument.begin(), argument.end())));
    }
    LocalFree(wide);
  } else {
    arguments_.assign(argv, argv + argc);
  }
#else
  arguments_.assign(argv, argv + argc);
#endif
  for (std::string& argument : arguments_) pointers_.push_back(argument.data());
  pointers_.push_back(nullptr);
}

}  // namespace tools
