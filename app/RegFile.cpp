#include "app/RegFile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "app/Text.h"

namespace app {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameRegName(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// Reads a quoted string starting at text[pos] == '"' with the escapes \\ and \"; on success pos is
// just past the closing quote.
std::optional<std::string> ReadQuoted(std::string_view text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string result;
  for (size_t i = pos + 1; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      result += text[++i];
    } else if (text[i] == '"') {
      pos = i + 1;
      return result;
    } else {
      result += text[i];
    }
  }
  return std::nullopt;
}

std::string Quote(std::string_view text) {
  std::string result = "\"";
  for (const char c : text) {
    if (c == '\\' || c == '"') result += '\\';
    result += c;
  }
  return result + '"';
}

// A value line: "name"=data or @=data. Returns false for anything else.
bool ParseValueLine(std::string_view line, RegValue& value) {
  size_t pos = 0;
  if (line.starts_with('@')) {
    value.name.clear();
    pos = 1;
  } else if (auto name = ReadQuoted(line, pos)) {
    value.name = std::move(*name);
  } else {
    return false;
  }
  const std::string_view rest = TrimView(line.substr(pos));
  if (!rest.starts_with('=')) return false;
  value.data = std::string(TrimView(rest.substr(1)));
  return true;
}

// Hex data continues on the next line when a line ends with a backslash; quoted strings never do
// (a string may itself end with an escaped backslash).
bool ContinuesOnNextLine(const std::string& data) { return !data.starts_with('"') && data.ends_with('\\'); }

void RemoveKeyTree(RegDocument& document, std::string_view path) {
  std::erase_if(document.keys, [&](const RegKey& key) {
    return SameRegName(key.path, path) ||
           (key.path.size() > path.size() && StartsWithNoCase(key.path, path) && key.path[path.size()] == '\\');
  });
}

void SetParsedValue(RegKey& key, RegValue value) {
  auto it = std::find_if(key.values.begin(), key.values.end(),
                         [&](const RegValue& v) { return SameRegName(v.name, value.name); });
  if (value.data == "-") {
    if (it != key.values.end()) key.values.erase(it);
  } else if (it != key.values.end()) {
    *it = std::move(value);
  } else {
    key.values.push_back(std::move(value));
  }
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  std::string digits;
  for (const char c : hex) {
    if (c == ',' || c == '\\' || static_cast<unsigned char>(c) <= 32) {
      if (digits.size() > 2) return std::nullopt;
      if (!digits.empty()) bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
      digits.clear();
    } else if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else {
      return std::nullopt;
    }
  }
  if (digits.size() > 2) return std::nullopt;
  if (!digits.empty()) bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits, nullptr, 16)));
  return bytes;
}

// hex(2) (expandable string) and hex(1) (string written in hex): UTF-16LE text.
std::optional<std::string> StringFromHexText(std::string_view hex) {
  const auto bytes = ParseHexBytes(hex);
  if (!bytes) return std::nullopt;
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes->size(); i += 2) {
    const char16_t unit = static_cast<char16_t>((*bytes)[i] | ((*bytes)[i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return Utf16ToUtf8(text);
}

}  // namespace

bool SameRegName(std::string_view a, std::string_view b) { return EqualIgnoringAsciiCase(a, b); }

RegKey* RegDocument::FindKey(std::string_view path) {
  auto it = std::find_if(keys.begin(), keys.end(), [&](const RegKey& key) { return SameRegName(key.path, path); });
  return it == keys.end() ? nullptr : &*it;
}

bool RegDocument::HasKeyOrSubkey(std::string_view path) const {
  return std::any_of(keys.begin(), keys.end(), [&](const RegKey& key) {
    return SameRegName(key.path, path) ||
           (key.path.size() > path.size() && StartsWithNoCase(key.path, path) && key.path[path.size()] == '\\');
  });
}

RegKey& RegDocument::AddKey(std::string_view path) {
  if (RegKey* existing = FindKey(path)) return *existing;
  keys.push_back(RegKey{std::string(path), {}});
  return keys.back();
}

RegDocument ParseRegText(std::string_view text, std::string* problem) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  RegDocument document;
  RegKey* current = nullptr;
  bool headerSeen = false;
  auto complain = [&](size_t index, const std::string& what) {
    if (problem != nullptr && problem->empty()) *problem = "line " + std::to_string(index + 1) + ": " + what;
  };
  const auto lines = SplitLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = TrimView(lines[i]);
    if (line.empty() || line.starts_with(';')) continue;
    if (!headerSeen) {
      headerSeen = true;
      if (line == kHeader || line == kOldHeader) continue;
      complain(i, "no \"" + std::string(kHeader) + "\" header");
    }
    if (line.starts_with('[') && line.ends_with(']')) {
      const std::string_view path = line.substr(1, line.size() - 2);
      if (path.starts_with('-')) {
        RemoveKeyTree(document, path.substr(1));
        current = nullptr;
      } else {
        current = &document.AddKey(path);
      }
      continue;
    }
    RegValue value;
    if (current == nullptr || !ParseValueLine(line, value)) {
      complain(i, current == nullptr ? "a line outside any key" : "not a key, a value or a comment");
      continue;
    }
    while (ContinuesOnNextLine(value.data) && i + 1 < lines.size()) {
      value.data.pop_back();
      value.data += TrimView(lines[++i]);
    }
    SetParsedValue(*current, std::move(value));
  }
  if (!headerSeen) complain(lines.size(), "no \"" + std::string(kHeader) + "\" header");
  return document;
}

std::string SerializeRegText(const RegDocument& document) {
  std::string text(kHeader);
  text += "\r\n\r\n";
  for (const RegKey& key : document.keys) {
    text += "[" + key.path + "]\r\n";
    for (const RegValue& value : key.values) {
      text += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" + value.data + "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

std::optional<std::string> StringFromData(std::string_view data) {
  if (data.starts_with('"')) {
    size_t pos = 0;
    auto text = ReadQuoted(data, pos);
    if (!text || !TrimView(data.substr(pos)).empty()) return std::nullopt;
    return text->substr(0, text->find('\0'));
  }
  for (const std::string_view prefix : {"hex(2):", "hex(1):"}) {
    if (StartsWithNoCase(data, prefix)) return StringFromHexText(data.substr(prefix.size()));
  }
  return std::nullopt;
}

// A line break cannot stand inside a quoted value, so such text is written in the hex(1) form (a plain
// string as UTF-16LE bytes).
std::string DataFromString(std::string_view text) {
  if (text.find_first_of("\r\n") == std::string_view::npos) return Quote(text);
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string data = "hex(1):";
  std::u16string units = Utf8ToUtf16(text);
  units += u'\0';
  for (const char16_t unit : units) {
    for (const unsigned byte : {unit & 0xFFu, unsigned(unit) >> 8}) {
      if (data.size() > 7) data += ',';
      data += kHexDigits[byte >> 4];
      data += kHexDigits[byte & 15];
    }
  }
  return data;
}

}  // namespace app
