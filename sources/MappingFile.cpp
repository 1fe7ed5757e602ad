#include "sources/MappingFile.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "app/Text.h"
#include "import/PhotoLookup.h"

namespace photoimport {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kMaxMappingFileSize = std::size_t{64} << 20;
constexpr std::size_t kMaxLinesListed = 20;

// Why a line refuses the whole file.
enum class LineFault { NoSeparator, EmptySide, AbsolutePath, ParentFolder };

std::string FaultText(LineFault fault) {
  switch (fault) {
    case LineFault::NoSeparator: return "没有分隔符（逗号或制表符）";
    case LineFault::EmptySide: return "缺少标识或文件名";
    case LineFault::AbsolutePath: return "文件名是绝对路径，只能写相片目录里的文件";
    case LineFault::ParentFolder: return "文件名含“..”，只能写相片目录里的文件";
  }
  return {};
}

// "第 3、8、12 行", at most kMaxLinesListed numbers.
std::string LineList(const std::vector<int>& lines) {
  std::string text = "第 ";
  for (std::size_t i = 0; i < lines.size() && i < kMaxLinesListed; ++i) {
    if (i > 0) text += "、";
    text += std::to_string(lines[i]);
  }
  text += " 行";
  if (lines.size() > kMaxLinesListed) text += "等 " + std::to_string(lines.size()) + " 行";
  return text;
}

// UTF-16 behind its byte-order mark, in either byte order (a spreadsheet's "Unicode text").
std::string Utf16Text(std::string_view content, bool bigEndian) {
  std::u16string units;
  for (std::size_t i = 2; i + 1 < content.size(); i += 2) {
    const auto first = static_cast<unsigned char>(content[i]), second = static_cast<unsigned char>(content[i + 1]);
    units += static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
  }
  return app::Utf16ToUtf8(units);
}

// UTF-16 with a byte-order mark; UTF-8 when the bytes are UTF-8 (a byte-order mark is dropped), otherwise
// GBK.
std::string DecodeText(std::string_view content) {
  if (content.starts_with("\xFF\xFE")) return Utf16Text(content, false);
  if (content.starts_with("\xFE\xFF")) return Utf16Text(content, true);
  if (content.starts_with(kByteOrderMark)) content.remove_prefix(kByteOrderMark.size());
  return app::IsValidUtf8(content) ? std::string(content) : app::GbkToUtf8(content);
}

// Lines end in LF, CR LF or a lone CR.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// "/x", "\x", "\\server\share\x", "C:\x" and the drive-relative "C:x".
bool IsAbsolute(std::string_view file) {
  if (!file.empty() && IsSeparator(file[0])) return true;
  const bool driveLetter = file.size() >= 2 && ((file[0] >= 'A' && file[0] <= 'Z') || (file[0] >= 'a' && file[0] <= 'z'));
  return driveLetter && file[1] == ':';
}

// Windows drops trailing dots and blanks of a path component, so ". ." and "..." lead upward as ".." does.
bool LeadsUpward(std::string_view file) {
  std::size_t start = 0;
  while (start <= file.size()) {
    std::size_t end = start;
    while (end < file.size() && !IsSeparator(file[end])) ++end;
    const std::string_view part = file.substr(start, end - start);
    const bool dotsAndBlanks = part.find_first_not_of(". ") == std::string_view::npos;
    if (dotsAndBlanks && std::count(part.begin(), part.end(), '.') >= 2) return true;
    start = end + 1;
  }
  return false;
}

// Folder names separated by "/" whichever separator the line used.
std::string Normalized(std::string file) {
  std::replace(file.begin(), file.end(), '\\', '/');
  return file;
}

}  // namespace

struct MappingParser {
  struct Line {
    int number;
    std::string identifier;  // folded
    std::string file;        // normalized
  };

  std::vector<Line> lines;
  std::map<LineFault, std::vector<int>> faults;

  void Add(int number, std::string_view text) {
    if (app::Trim(text).empty()) return;
    std::size_t separator = text.find('\t');
    if (separator == std::string_view::npos) separator = text.find(',');
    if (separator == std::string_view::npos) return Refuse(LineFault::NoSeparator, number);
    const std::string identifier = app::Trim(text.substr(0, separator));
    const std::string file = app::Trim(text.substr(separator + 1));
    if (identifier.empty() || file.empty()) return Refuse(LineFault::EmptySide, number);
    if (IsAbsolute(file)) return Refuse(LineFault::AbsolutePath, number);
    if (LeadsUpward(file)) return Refuse(LineFault::ParentFolder, number);
    lines.push_back(Line{number, FoldName(identifier), Normalized(file)});
  }

  void Refuse(LineFault fault, int number) { faults[fault].push_back(number); }

  std::string Refusal() const {
    std::string text;
    for (const auto& [fault, numbers] : faults) {
      text += text.empty() ? "对照文件不能使用：" : "；";
      text += LineList(numbers) + FaultText(fault);
    }
    return text;
  }

  // An identifier on several lines, or a file (letter case ignored) for several identifiers: every
  // identifier concerned gets the reason instead of a file.
  PhotoMapping Mapping() const {
    std::map<std::string, std::vector<const Line*>> byIdentifier, byFile;
    for (const Line& line : lines) {
      byIdentifier[line.identifier].push_back(&line);
      byFile[FoldName(line.file)].push_back(&line);
    }
    PhotoMapping mapping;
    for (const auto& [identifier, group] : byIdentifier) mapping.entries_[identifier] = MappedFile{group[0]->file, {}};
    for (const auto& [identifier, group] : byIdentifier)
      if (group.size() > 1)
        mapping.entries_[identifier] = MappedFile{{}, "对照文件中此标识出现在多行（" + Numbers(group) + "）"};
    for (const auto& [file, group] : byFile) {
      const bool several = std::any_of(group.begin(), group.end(),
                                       [&](const Line* line) { return line->identifier != group[0]->identifier; });
      if (!several) continue;
      for (const Line* line : group) {
        MappedFile& entry = mapping.entries_[line->identifier];
        if (entry.reason.empty())
          entry = MappedFile{{}, "对照文件中相片文件 " + line->file + " 对应多个标识（" + Numbers(group) + "）"};
      }
    }
    return mapping;
  }

  static std::string Numbers(const std::vector<const Line*>& group) {
    std::vector<int> numbers;
    for (const Line* line : group) numbers.push_back(line->number);
    return LineList(numbers);
  }
};

std::optional<MappedFile> PhotoMapping::Find(std::string_view identifier) const {
  const auto it = entries_.find(FoldName(app::Trim(identifier)));
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

MappingParse ParseMappingFile(std::string_view content) {
  const std::string text = DecodeText(content);
  MappingParser parser;
  const std::vector<std::string_view> lines = SplitLines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) parser.Add(static_cast<int>(i + 1), lines[i]);
  MappingParse result;
  if (!parser.faults.empty()) {
    result.refusal = parser.Refusal();
  } else {
    result.mapping = parser.Mapping();
  }
  return result;
}

MappingParse ReadMappingFile(const std::filesystem::path& path) {
  MappingParse result;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) {
    result.refusal = "对照文件无法读取：" + error.message();
    return result;
  }
  if (size > kMaxMappingFileSize) {
    result.refusal = "对照文件太大（超过 64 MiB），不像是对照文件";
    return result;
  }
  std::ifstream in(path, std::ios::binary);
  std::string content(size, '\0');
  if (!in.read(content.data(), static_cast<std::streamsize>(size))) {
    result.refusal = "对照文件无法读取";
    return result;
  }
  return ParseMappingFile(content);
}

}  // namespace photoimport
