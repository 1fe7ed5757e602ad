// A zip archive as the run's photo source: a name valid both as UTF-8 and as GBK is one file, whichever
// reading finds it, shown under its UTF-8 reading and read back by that name.
#include "sources/PhotoSource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Text.h"
#include "import/ReaderPlan.h"
#include "support/ScratchFolder.h"
#include "support/ZipFixture.h"

namespace photoimport {
namespace {

using importtest::RawZipEntry;
using importtest::RawZipWriter;
using importtest::ScratchFolder;

TEST(PhotoSourceTest, AnArchiveNameWithTwoReadingsIsOneFileShownAsUtf8) {
  const std::string zhaoJing = "趙靜.jpg";  // not flagged UTF-8; its bytes read "瓒欓潨.jpg" as GBK
  ASSERT_EQ(app::GbkToUtf8(zhaoJing), "瓒欓潨.jpg");
  ScratchFolder scratch;
  scratch.Write("photos.zip", RawZipWriter::Build({RawZipEntry(zhaoJing, "photo"), RawZipEntry("A001.jpg", "a")}));
  std::string problem;
  const auto source = OpenPhotoSource(scratch.PathOf("photos.zip"), problem);
  ASSERT_TRUE(source) << problem;
  const PhotoFolder& listing = source->Listing();

  for (const char* identifier : {"趙靜", "瓒欓潨"}) {
    SCOPED_TRACE(identifier);
    const FoundFile found = listing.FindFile(identifier, NamingRule::Exact, 0);
    EXPECT_EQ(found.name, zhaoJing);
    EXPECT_EQ(found.shown, zhaoJing);
    std::vector<std::uint8_t> bytes;
    std::string reason;
    ASSERT_EQ(source->Read(found.name, bytes, reason), imaging::PhotoFailure::None) << reason;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "photo");
  }
  std::vector<std::string> pictures;
  for (const FoundFile& picture : listing.Pictures()) pictures.push_back(picture.shown);
  EXPECT_EQ(pictures, (std::vector<std::string>{"A001.jpg", zhaoJing}));

  // Two readers whose identifiers are the two readings would take the one file: it is stored on neither.
  const std::vector<PlannedReader> plan =
      PlanReaders({{"A00001", "趙靜", "趙靜"}, {"A00002", "瓒欓潨", "瓒欓潨"}}, listing, NamingRule::Exact, 0);
  ASSERT_EQ(plan.size(), 2u);
  EXPECT_EQ(plan[0].choice, FileChoice::Shared);
  EXPECT_EQ(plan[1].choice, FileChoice::Shared);
}

}  // namespace
}  // namespace photoimport
