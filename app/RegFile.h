// The text format of a registry export (".reg", "Windows Registry Editor Version 5.00"): keys in
// brackets with their full path, values as "name"=data lines. Values keep their data text as written, so
// that values of kinds the program never reads survive a rewrite unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

struct RegValue {
  std::string name;  // "@" lines (the default value) have an empty name
  std::string data;  // the text after '=', continuation lines joined: "\"text\"", "hex(2):41,00,...", "dword:..."
};

struct RegKey {
  std::string path;  // full path, hive root included: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanel\\Lib"
  std::vector<RegValue> values;
};

struct RegDocument {
  std::vector<RegKey> keys;

  RegKey* FindKey(std::string_view path);
  // Whether the key or any key below it is present (a subkey implies its parents).
  bool HasKeyOrSubkey(std::string_view path) const;
  RegKey& AddKey(std::string_view path);  // the existing key, or a new one at the end
};

// Parses UTF-8 text (a UTF-8 byte-order mark is skipped). Never fails: lines it does not understand
// are ignored. "[-path]" removes a key with its subkeys, "name"=- removes a value. When problem is given,
// it gets what makes the text no registry export, the first thing found ("line 4: ..."), or stays empty:
// a missing header line, or a line that is no key, value, continuation, comment or blank line.
RegDocument ParseRegText(std::string_view text, std::string* problem = nullptr);
// The header line, then every key and its values, lines ended by CR LF.
std::string SerializeRegText(const RegDocument& document);

// The text of a plain ("...") or expandable (hex(2):) string value, up to its first NUL; std::nullopt
// for any other kind of value (dword:, hex:, ...) or malformed data.
std::optional<std::string> StringFromData(std::string_view data);
// The data text of a plain string value.
std::string DataFromString(std::string_view text);

// Registry names compare without regard to ASCII case.
bool SameRegName(std::string_view a, std::string_view b);

}  // namespace app
