#include "records/ContactSheet.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "app/FilePath.h"
#include "records/PhotoBackup.h"

namespace photoimport {
namespace {

// Sized for A4 at the browser's 96 pixels to the inch: 190 mm between 10 mm margins hold six cells of
// 116 pixels (a 110 x 120 photo, its padding and border) with 4-pixel gaps.
constexpr std::string_view kStyle = R"(
@page { size: A4; margin: 10mm; }
* { box-sizing: border-box; }
body { width: 716px; margin: 8px auto; color: #000; background: #fff;
       font: 11px/1.35 "Microsoft YaHei", "SimSun", "Noto Sans CJK SC", "WenQuanYi Micro Hei", sans-serif; }
h1 { font-size: 18px; margin: 0 0 4px; }
h2 { font-size: 13px; margin: 10px 0 4px; }
header p { margin: 1px 0; }
.summary { font-weight: bold; }
nav { margin: 6px 0; }
nav a, nav b { margin-right: 6px; }
.grid { display: grid; grid-template-columns: repeat(6, 116px); gap: 4px; }
figure { margin: 0; padding: 2px; border: 1px solid #bbb; break-inside: avoid; page-break-inside: avoid;
         overflow-wrap: anywhere; }
.photo { width: 110px; height: 120px; display: flex; align-items: center; justify-content: center;
         background: #f2f2f2; color: #888; }
.photo img { display: block; }
figcaption { margin-top: 2px; }
.file { color: #444; }
.failed { border: 2px solid #c00; padding: 1px; }
.failed .outcome { color: #c00; font-weight: bold; }
.ready .outcome { color: #060; }
.listed { margin: 0; padding: 0; list-style: none; }
.listed li { display: inline-block; margin: 0 12px 2px 0; }
@media print { nav { display: none; } }
)";

constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kCopyChunk = 1 << 16;

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A page's file name as a relative link: every byte but the unreserved ones percent-encoded, so that blanks,
// Chinese characters and "#" in a name all survive.
std::string Href(const std::filesystem::path& page) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string href;
  for (const char c : app::Utf8FromPath(page.filename())) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) && byte < 0x80) {
      href += c;
    } else if (std::string_view("-._~").find(c) != std::string_view::npos) {
      href += c;
    } else {
      href += '%';
      href += kHex[byte >> 4];
      href += kHex[byte & 0xF];
    }
  }
  return href;
}

std::string Base64(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (const int shift : {18, 12, 6, 0}) out += kBase64[(v >> shift) & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    const std::uint32_t v = bytes[i] << 16 | (rest == 2 ? bytes[i + 1] << 8 : 0);
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += rest == 2 ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// The picture a browser can show of a photo value: a bitmap (without the 8-byte header some programs put
// before it), a JPEG or a PNG; nothing for other values.
std::string DataUrl(std::span<const std::uint8_t> value) {
  const std::string_view kind = PhotoFileExtension(value);
  if (kind == ".jpg") return "data:image/jpeg;base64," + Base64(value);
  if (kind == ".png") return "data:image/png;base64," + Base64(value);
  if (kind != ".bmp") return {};
  const bool bare = value.size() >= 2 && value[0] == 'B' && value[1] == 'M';
  return "data:image/bmp;base64," + Base64(bare ? value : value.subspan(8));
}

std::string_view OutcomeClass(SheetOutcome outcome) {
  switch (outcome) {
    case SheetOutcome::Stored: return "stored";
    case SheetOutcome::Ready: return "ready";
    case SheetOutcome::Failed: return "failed";
    case SheetOutcome::OnFile: return "onfile";
    case SheetOutcome::NoFile: return "nofile";
    case SheetOutcome::NoPhoto: return "nophoto";
  }
  return {};
}

std::string OutcomeText(const SheetReader& reader) {
  switch (reader.outcome) {
    case SheetOutcome::Stored: return "已导入";
    case SheetOutcome::Ready: return "可导入（预检）";
    case SheetOutcome::Failed: return "失败：" + reader.reason;
    case SheetOutcome::OnFile:
    case SheetOutcome::NoFile:
    case SheetOutcome::NoPhoto: break;
  }
  return {};
}

std::string Cell(const SheetReader& reader, std::span<const std::uint8_t> photo) {
  std::string cell = "<figure class=\"" + std::string(OutcomeClass(reader.outcome)) + "\" data-card=\"" +
                     Escaped(reader.cardNumber) + "\"><div class=\"photo\">";
  if (const std::string url = photo.empty() ? std::string() : DataUrl(photo); !url.empty()) {
    cell += "<img src=\"" + url + "\" alt=\"" + Escaped(reader.cardNumber) + "\">";
  } else {
    cell += photo.empty() ? "无相片" : "相片格式无法显示";
  }
  cell += "</div><figcaption><b>" + Escaped(reader.cardNumber) + "</b> " + Escaped(reader.name);
  if (!reader.department.empty()) cell += "<br>" + Escaped(reader.department);
  if (!reader.file.empty()) cell += "<br><span class=\"file\">" + Escaped(reader.file) + "</span>";
  if (const std::string outcome = OutcomeText(reader); !outcome.empty())
    cell += "<br><span class=\"outcome\">" + Escaped(outcome) + "</span>";
  return cell + "</figcaption></figure>\n";
}

// The readers of a page without a photo, compactly, under one heading per kind.
std::string Listed(const std::vector<SheetReader>& readers) {
  std::string out;
  for (const auto& [outcome, title] : {std::pair{SheetOutcome::NoFile, "没有相片文件的读者"},
                                       std::pair{SheetOutcome::NoPhoto, "没有相片的读者"}}) {
    std::string items;
    int count = 0;
    for (const SheetReader& reader : readers) {
      if (reader.outcome != outcome) continue;
      ++count;
      items += "<li data-card=\"" + Escaped(reader.cardNumber) + "\">" + Escaped(reader.cardNumber) + " " +
               Escaped(reader.name);
      if (!reader.department.empty()) items += "（" + Escaped(reader.department) + "）";
      if (!reader.reason.empty()) items += "：" + Escaped(reader.reason);
      items += "</li>\n";
    }
    if (count > 0)
      out += "<section class=\"" + std::string(OutcomeClass(outcome)) + "\"><h2>" + title + "（" +
             std::to_string(count) + " 人）</h2><ul class=\"listed\">\n" + items + "</ul></section>\n";
  }
  return out;
}

std::string Navigation(const std::filesystem::path& target, int page, int pages) {
  if (pages <= 1) return {};
  std::string nav = "<nav>";
  if (page > 1) nav += "<a href=\"" + Href(SheetPagePath(target, page - 1)) + "\" rel=\"prev\">上一页</a>";
  if (page < pages) nav += "<a href=\"" + Href(SheetPagePath(target, page + 1)) + "\" rel=\"next\">下一页</a>";
  nav += " 页：";
  for (int i = 1; i <= pages; ++i) {
    if (i == page) nav += "<b>" + std::to_string(i) + "</b>";
    else nav += "<a href=\"" + Href(SheetPagePath(target, i)) + "\">" + std::to_string(i) + "</a>";
  }
  return nav + "</nav>\n";
}

std::string PageHead(const SheetHeading& heading, const std::filesystem::path& target, int page, int pages,
                     int readers, int perPage) {
  const int first = (page - 1) * perPage + 1;
  const int last = std::min(readers, page * perPage);
  std::string head = "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">\n<title>" +
                     Escaped(heading.title) + (pages > 1 ? " 第 " + std::to_string(page) + " 页" : "") +
                     "</title>\n<style>" + std::string(kStyle) + "</style></head>\n<body>\n<header><h1>" +
                     Escaped(heading.title) + "</h1>\n";
  head += "<p>日期：" + Escaped(heading.date) + "</p>\n<p>相片来源：" + Escaped(heading.source) + "</p>\n";
  if (!heading.options.empty()) {
    std::string options;
    for (const std::string& option : heading.options) options += (options.empty() ? "" : "；") + Escaped(option);
    head += "<p>选项：" + options + "</p>\n";
  }
  for (const std::string& line : heading.summary) head += "<p class=\"summary\">" + Escaped(line) + "</p>\n";
  head += "<p class=\"page\">第 " + std::to_string(page) + " 页，共 " + std::to_string(pages) + " 页";
  if (readers > 0)
    head += "：读者 " + std::to_string(first) + "–" + std::to_string(last) + "，共 " + std::to_string(readers) + " 人";
  head += "</p>\n" + Navigation(target, page, pages) + "</header>\n";
  if (readers == 0) head += "<p>没有选中的读者。</p>\n";
  return head;
}

std::string PageTail(const std::filesystem::path& target, int page, int pages) {
  return Navigation(target, page, pages) + "</body></html>\n";
}

std::filesystem::path PartPath(const std::filesystem::path& folder, int page) {
  return folder / ("page-" + std::to_string(page) + ".part");
}

long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(::getpid());
#endif
}

std::string SystemMessage(int error) { return std::system_category().message(error); }

// Copies the file's bytes to out; the empty string or the reason.
std::string CopyInto(const std::filesystem::path& from, std::FILE* out) {
  std::FILE* in = app::OpenFileUtf8(app::Utf8FromPath(from), "rb");
  if (!in) return "cannot read " + app::Utf8FromPath(from) + ": " + SystemMessage(errno);
  std::vector<char> chunk(kCopyChunk);
  std::string problem;
  for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0;) {
    if (std::fwrite(chunk.data(), 1, n, out) != n) {
      problem = SystemMessage(errno);
      break;
    }
  }
  if (problem.empty() && std::ferror(in)) problem = "cannot read " + app::Utf8FromPath(from);
  std::fclose(in);
  return problem;
}

// One page, written under a temporary name beside it and then given its name, so that a reader of the
// page never sees half of it.
std::string WritePage(const std::filesystem::path& path, const std::string& head, const std::filesystem::path& part,
                      const std::string& tail) {
  const std::string temporary = app::Utf8FromPath(path) + ".tmp";
  std::FILE* out = app::OpenFileUtf8(temporary, "wb");
  if (!out) return "cannot write " + app::Utf8FromPath(path) + ": " + SystemMessage(errno);
  std::string problem;
  if (std::fwrite(head.data(), 1, head.size(), out) != head.size()) problem = SystemMessage(errno);
  if (problem.empty() && std::filesystem::exists(part)) problem = CopyInto(part, out);
  if (problem.empty() && std::fwrite(tail.data(), 1, tail.size(), out) != tail.size()) problem = SystemMessage(errno);
  if (std::fclose(out) != 0 && problem.empty()) problem = SystemMessage(errno);
  if (problem.empty() && !app::RenameOver(temporary, app::Utf8FromPath(path)))
    problem = "cannot replace " + app::Utf8FromPath(path);
  if (!problem.empty()) {
    std::error_code ignored;
    std::filesystem::remove(app::PathFromUtf8(temporary), ignored);
    return problem.starts_with("cannot") ? problem : "cannot write " + app::Utf8FromPath(path) + ": " + problem;
  }
  return {};
}

}  // namespace

std::string HeadingDateNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", std::localtime(&now));
  return text;
}

std::filesystem::path SheetPagePath(const std::filesystem::path& target, int page) {
  if (page <= 1) return target;
  std::filesystem::path path = target;
  path.replace_filename(app::PathFromUtf8(app::Utf8FromPath(target.stem()) + "-" + std::to_string(page) +
                                          app::Utf8FromPath(target.extension())));
  return path;
}

std::filesystem::path SheetWorkFolderBeside(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path folder = target;
  folder.replace_filename(app::PathFromUtf8("." + app::Utf8FromPath(target.filename()) + ".pages-" +
                                            std::to_string(ProcessId()) + "-" + std::to_string(++counter)));
  return folder;
}

ContactSheet::ContactSheet(std::filesystem::path workFolder, int readersPerPage)
    : workFolder_(std::move(workFolder)), readersPerPage_(readersPerPage < 1 ? 1 : readersPerPage) {
  std::error_code error;
  std::filesystem::create_directories(workFolder_, error);
  if (error) error_ = "cannot make the folder " + app::Utf8FromPath(workFolder_) + ": " + error.message();
}

ContactSheet::~ContactSheet() {
  if (page_) std::fclose(page_);
  std::error_code ignored;
  std::filesystem::remove_all(workFolder_, ignored);
}

int ContactSheet::pages() const { return readers_ == 0 ? 1 : (readers_ + readersPerPage_ - 1) / readersPerPage_; }

void ContactSheet::Write(std::string_view text) {
  if (!error_.empty() || !page_) return;
  if (std::fwrite(text.data(), 1, text.size(), page_) != text.size())
    error_ = "cannot write the contact sheet's pages into " + app::Utf8FromPath(workFolder_) + ": " +
             SystemMessage(errno);
}

void ContactSheet::StartPage() {
  const int page = readers_ / readersPerPage_ + 1;
  const std::filesystem::path part = PartPath(workFolder_, page);
  page_ = app::OpenFileUtf8(app::Utf8FromPath(part), "wb");
  if (!page_) error_ = "cannot write " + app::Utf8FromPath(part) + ": " + SystemMessage(errno);
  Write("<main class=\"grid\">\n");
}

void ContactSheet::EndGrid() {
  Write("</main>\n" + Listed(listed_));
  listed_.clear();
  if (page_ && std::fclose(page_) != 0 && error_.empty()) error_ = "cannot write the contact sheet: " + SystemMessage(errno);
  page_ = nullptr;
}

void ContactSheet::Add(const SheetReader& reader, std::span<const std::uint8_t> photo) {
  if (!error_.empty() || published_) return;
  if (readers_ % readersPerPage_ == 0) StartPage();
  if (reader.outcome == SheetOutcome::NoFile || reader.outcome == SheetOutcome::NoPhoto) {
    listed_.push_back(reader);
  } else {
    Write(Cell(reader, photo));
  }
  ++readers_;
  if (readers_ % readersPerPage_ == 0) EndGrid();
}

std::string ContactSheet::Publish(const std::filesystem::path& target, const SheetHeading& heading) {
  if (page_) EndGrid();  // the last page, not full
  published_ = true;
  if (!error_.empty()) return error_;
  const int count = pages();
  for (int page = 1; page <= count; ++page) {
    const std::string problem =
        WritePage(SheetPagePath(target, page), PageHead(heading, target, page, count, readers_, readersPerPage_),
                  PartPath(workFolder_, page), PageTail(target, page, count));
    if (!problem.empty()) return problem;
  }
  return {};
}

}  // namespace photoimport
