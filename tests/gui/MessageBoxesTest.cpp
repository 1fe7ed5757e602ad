// The standard error box: caption, icon and the full stop rule.
#include <gtest/gtest.h>

#include "GuiTestSupport.h"

namespace {

TEST(StandardErrorBox, AppendsAFullStopOnlyAfterACharacterThatSortsAfterIt) {
  const std::vector<std::pair<QString, QString>> cases = {
      {"Failed to create key SOFTWARE\\Korvanel", "Failed to create key SOFTWARE\\Korvanel."},
      {"ends with a stop.", "ends with a stop."},
      {"'x' is not a valid integer value", "'x' is not a valid integer value."},
      {"数据库连接出错", "数据库连接出错."},
      {"数据库连接出错！", "数据库连接出错！."},
      {"bracket)", "bracket)"},   // ')' sorts before '.'
      {"dash-", "dash-"},         // '-' sorts before '.'
      {"slash/", "slash/."},      // '/' sorts after '.'
      {"", ""},
  };
  for (const auto& [failure, shown] : cases) EXPECT_EQ(messageboxes::StandardErrorText(failure), shown);
}

TEST(StandardErrorBox, ShowsTheStopIconAndTheApplicationTitle) {
  guitest::Application();
  guitest::RecordedMessageBoxes boxes;
  messageboxes::ShowStandardErrorBox(nullptr, "[unixODBC][Driver Manager]Data source name not found");
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.boxes()[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(boxes.boxes()[0].caption, "批量加入借书证相片");
  EXPECT_EQ(boxes.boxes()[0].text, "[unixODBC][Driver Manager]Data source name not found.");
}

}  // namespace
