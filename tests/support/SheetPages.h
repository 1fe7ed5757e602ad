// Reading a contact sheet's pages back in a test: the readers in page order, each cell's embedded picture,
// the links to the other pages. The markup read is the sheet writer's own (records/ContactSheet).
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace sheettest {

inline std::string ReadText(const std::filesystem::path& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

inline std::vector<std::uint8_t> Base64Decode(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int v = -1;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    if (v < 0) continue;  // padding
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    if (++count == 4) {
      bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
      bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
      bytes.push_back(static_cast<std::uint8_t>(bits));
      bits = 0, count = 0;
    }
  }
  if (count == 3) {
    bytes.push_back(static_cast<std::uint8_t>(bits >> 10));
    bytes.push_back(static_cast<std::uint8_t>(bits >> 2));
  } else if (count == 2) {
    bytes.push_back(static_cast<std::uint8_t>(bits >> 4));
  }
  return bytes;
}

inline std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool replaced = false;
    for (const auto& [entity, c] : {std::pair{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}}) {
      if (text.substr(i).starts_with(entity)) {
        out += c;
        i += std::string_view(entity).size() - 1;
        replaced = true;
        break;
      }
    }
    if (!replaced) out += text[i];
  }
  return out;
}

// The value of the attribute `name="..."` found at or after `from`, and where it ends.
inline std::string AttributeAfter(const std::string& html, const std::string& name, std::size_t from, std::size_t* end = nullptr) {
  const std::string key = name + "=\"";
  const std::size_t start = html.find(key, from);
  if (start == std::string::npos) return {};
  const std::size_t valueStart = start + key.size();
  const std::size_t valueEnd = html.find('"', valueStart);
  if (end) *end = valueEnd;
  return html.substr(valueStart, valueEnd - valueStart);
}

// Every reader of the page in document order: the grid's cells, then the readers listed without a photo.
inline std::vector<std::string> CardsOf(const std::string& html) {
  std::vector<std::string> cards;
  for (std::size_t at = 0; (at = html.find("data-card=\"", at)) != std::string::npos; ++at)
    cards.push_back(Unescape(AttributeAfter(html, "data-card", at)));
  return cards;
}

struct Cell {
  std::string card;
  std::string mime;    // of the embedded picture; empty when there is none
  std::string base64;  // its bytes
  std::string html;    // the whole cell
};

inline std::vector<Cell> CellsOf(const std::string& html) {
  std::vector<Cell> cells;
  for (std::size_t at = 0; (at = html.find("<figure", at)) != std::string::npos; ++at) {
    const std::size_t end = html.find("</figure>", at);
    Cell cell;
    cell.html = html.substr(at, end - at);
    cell.card = Unescape(AttributeAfter(cell.html, "data-card", 0));
    const std::string src = AttributeAfter(cell.html, "src", 0);
    if (src.starts_with("data:")) {
      const std::size_t comma = src.find(',');
      cell.mime = src.substr(5, src.find(';') - 5);
      cell.base64 = src.substr(comma + 1);
    }
    cells.push_back(std::move(cell));
  }
  return cells;
}

// The links of the first page list to the other pages by number (not "previous" and "next").
inline std::vector<std::string> PageLinksOf(const std::string& html) {
  std::vector<std::string> links;
  const std::size_t start = html.find("<nav>");
  if (start == std::string::npos) return links;
  const std::size_t end = html.find("</nav>", start);
  for (std::size_t at = start; (at = html.find("<a href=\"", at)) != std::string::npos && at < end; ++at) {
    const std::string href = AttributeAfter(html, "href", at);
    const std::size_t close = html.find('>', at);
    if (html.find("rel=", at) < close) continue;  // previous, next
    links.push_back(href);
  }
  return links;
}

}  // namespace sheettest
