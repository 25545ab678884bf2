// The web page's thumbnails kept on disk: made once across restarts, made again when the
// recording changes, private, and bounded.

#include "web/thumbnail_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/kit/temp_dir.h"

namespace zent::testing {
namespace {

TEST(ThumbnailCache, APictureIsMadeOnceAcrossRestartsAgainWhenTheFileChangesAndTheFolderStaysBounded) {
  TempDir dir;
  const std::string folder = dir.file("cache/zent-recorder/thumbnails");
  int made = 0;
  auto make = [&made] { return "JPEG" + std::to_string(++made); };

  EXPECT_EQ(ThumbnailCache(folder).Get("/rec/door_1.avi", 100, 5000, make), "JPEG1");
  // A restarted recorder finds it on disk and decodes nothing.
  ThumbnailCache restarted(folder);
  EXPECT_EQ(restarted.Get("/rec/door_1.avi", 100, 5000, make), "JPEG1");
  EXPECT_EQ(made, 1);
  // The same file grown (a recording in progress) gets a picture of its own.
  EXPECT_EQ(restarted.Get("/rec/door_1.avi", 200, 6000, make), "JPEG2");
  // Nothing is kept of a recording without a picture: asked again, it is tried again.
  EXPECT_EQ(restarted.Get("/rec/broken.avi", 1, 1, [] { return std::string(); }), "");
  EXPECT_EQ(restarted.Get("/rec/broken.avi", 1, 1, make), "JPEG3");

  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  std::size_t pictures = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    ++pictures;
    ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << entry.path();
  }
  EXPECT_EQ(pictures, 3u);  // no temporary file left beside them

  // Bounded: the newest kept.
  ThumbnailCache small(dir.file("small"), 2);
  for (int i = 0; i < ThumbnailCache::kTrimEvery; ++i) small.Get("/rec/" + std::to_string(i), 1, i, make);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("small")), {}), 2);
}

}  // namespace
}  // namespace zent::testing
