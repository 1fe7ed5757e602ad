// The --rule option of the import commands: "exact", "segment:N" (segment 1..5) or "prefix:N" (length 1..32).
#pragma once

#include <charconv>
#include <string_view>

#include "import/ImportRun.h"

namespace tools {

// False for anything else; rule and ruleIndex are then unchanged.
inline bool ParseNamingRule(std::string_view text, photoimport::NamingRule& rule, int& ruleIndex) {
  if (text == "exact") {
    rule = photoimport::NamingRule::Exact;
    ruleIndex = 0;
    return true;
  }
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view kind = text.substr(0, colon), number = text.substr(colon + 1);
  int value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) return false;
  if (kind == "segment" && value >= 1 && value <= photoimport::kSegmentCount) {
    rule = photoimport::NamingRule::Segment;
  } else if (kind == "prefix" && value >= 1 && value <= photoimport::kMaxPrefixLength) {
    rule = photoimport::NamingRule::Prefix;
  } else {
    return false;
  }
  ruleIndex = value - 1;
  return true;
}

}  // namespace tools
