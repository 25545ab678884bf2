#include "config/profile_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "config/paths.h"
#include "tests/kit/temp_dir.h"

namespace zent {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const std::string kA = "1,/v/a.avi,a.avi,1,1,cam-a,11000,8080,40008,15.,1,0,0, ,l.txt;";
const std::string kB = "1,/v/b.avi,b.avi,0,2,cam-b,11001,8081,40008,15.,1,0,0, ,l.txt;";
const std::string kC = "0,/v/c.avi,c.avi,1,3,cam-c,11002,8082,40008,2.5,1,1,1,/logs/x,l.txt;";

CameraProfile Profile(const std::string& address) {
  CameraProfile p = ParseProfiles(kA).at(0);
  p.cameraAddress = address;
  return p;
}

std::vector<std::string> Addresses(const ProfileList& list) {
  std::vector<std::string> out;
  for (const auto& p : list) out.push_back(p.cameraAddress);
  return out;
}

class ProfileFile : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = ConfigFilePath(dir.path());
};

TEST_F(ProfileFile, PathIsInsideTheDocumentsFolder) {
  EXPECT_EQ(ConfigFilePath("/home/u/Documents"), "/home/u/Documents/zent.cfg1");
}

TEST_F(ProfileFile, MissingAndEmptyFilesHoldNoProfiles) {
  ReadResult missing = ReadProfiles(path, false);
  EXPECT_FALSE(missing.opened);
  EXPECT_TRUE(missing.profiles.empty());
  EXPECT_FALSE(ReadProfiles(path, true).opened);

  WriteFile(path, "");
  ReadResult empty = ReadProfiles(path, true);
  EXPECT_TRUE(empty.opened);
  EXPECT_TRUE(empty.profiles.empty());
}

TEST_F(ProfileFile, AFolderInPlaceOfTheFileIsNotAProfileList) {
  std::filesystem::create_directory(path);
  EXPECT_FALSE(ReadProfiles(path, false).opened);
  EXPECT_FALSE(ReadProfiles(path, true).opened);
}

TEST_F(ProfileFile, ReadsEveryProfileOfALargeFileAndRewritesThemAll) {
  std::string text;
  for (int i = 0; i < 1500; ++i) text += kA;
  text += kC;
  ASSERT_GT(text.size(), 64000u);
  WriteFile(path, text);
  ReadResult read = ReadProfiles(path, true);
  ASSERT_EQ(read.profiles.size(), 1501u);
  EXPECT_EQ(read.profiles.back().cameraAddress, "cam-c");
  ASSERT_TRUE(WriteProfiles(path, read.profiles, WriteForm::Rewrite).ok);
  EXPECT_EQ(ReadFile(path), text);
}

TEST_F(ProfileFile, ListChangesAtTheEdges) {
  ProfileList list = ParseProfiles(kA + kB + kC);
  EXPECT_FALSE(ReplaceProfile(list, -1, Profile("x")));
  EXPECT_FALSE(ReplaceProfile(list, 3, Profile("x")));
  EXPECT_FALSE(DeleteProfile(list, -1));
  EXPECT_FALSE(DeleteProfile(list, 3));
  EXPECT_EQ(Addresses(list), (std::vector<std::string>{"cam-a", "cam-b", "cam-c"}));

  EXPECT_TRUE(ReplaceProfile(list, 2, Profile("new")));
  EXPECT_EQ(Addresses(list), (std::vector<std::string>{"cam-a", "cam-b", "new"}));
  EXPECT_TRUE(DeleteProfile(list, 0));
  EXPECT_EQ(Addresses(list), (std::vector<std::string>{"cam-b", "new"}));
  AppendProfile(list, Profile("cam-b"));  // addresses are no key
  EXPECT_EQ(Addresses(list), (std::vector<std::string>{"cam-b", "new", "cam-b"}));
}

TEST_F(ProfileFile, RewriteNormalisesEvenWhenNothingChanged) {
  WriteFile(path, "true,p,f,1,05,cam,+11000,8080,40008,15.0,1,0,0, ,l;;\r\ntrailing");
  ProfileList list = ReadProfiles(path, true).profiles;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_FALSE(ReplaceProfile(list, -1, Profile("x")));
  ASSERT_TRUE(WriteProfiles(path, list, WriteForm::Rewrite).ok);
  EXPECT_EQ(ReadFile(path), "0,p,f,1,5,cam,11000,8080,40008,15.,1,0,0, ,l;0,,,0,0,,0,0,0,0.,0,0,0,,;");
}

TEST_F(ProfileFile, DeletingTheLastProfileDeletesTheFile) {
  WriteFile(path, kA);
  ProfileList list = ReadProfiles(path, true).profiles;
  ASSERT_TRUE(DeleteProfile(list, 0));
  ASSERT_TRUE(WriteProfiles(path, list, WriteForm::Rewrite).ok);
  EXPECT_FALSE(std::filesystem::exists(path));

  WriteFile(path, "no record here");
  ASSERT_TRUE(WriteProfiles(path, ReadProfiles(path, true).profiles, WriteForm::Rewrite).ok);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ProfileFile, AppendAndCreate) {
  ASSERT_TRUE(WriteProfiles(path, {Profile("first")}, WriteForm::Create).ok);
  ProfileList list = ReadProfiles(path, true).profiles;
  AppendProfile(list, Profile("second"));
  ASSERT_TRUE(WriteProfiles(path, list, WriteForm::Create).ok);
  EXPECT_EQ(Addresses(ReadProfiles(path, false).profiles), (std::vector<std::string>{"first", "second"}));

  // Create empties a file of the same name.
  ASSERT_TRUE(WriteProfiles(path, {Profile("only")}, WriteForm::Create).ok);
  EXPECT_EQ(Addresses(ReadProfiles(path, false).profiles), (std::vector<std::string>{"only"}));
}

TEST_F(ProfileFile, RewriteKeepsPermissionsAndFollowsALink) {
  const std::string real = dir.file("real.cfg1");
  WriteFile(real, kA);
  ::chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, path);
  ASSERT_TRUE(WriteProfiles(path, ParseProfiles(kB), WriteForm::Rewrite).ok);
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(ReadFile(real), kB);
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(ProfileFile, AFailedWriteLeavesTheOldFileWholeAndSaysWhy) {
  WriteFile(path, kA + kB);
  ProfileList list;
  for (int i = 0; i < 100; ++i) list.push_back(Profile("cam" + std::to_string(i)));

  // A file size limit makes the disk "fill" part-way through the write.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const WriteResult result = WriteProfiles(path, list, WriteForm::Rewrite);
  ::setrlimit(RLIMIT_FSIZE, &saved);

  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("too large"), std::string::npos) << result.error;
  EXPECT_EQ(ReadFile(path), kA + kB);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_F(ProfileFile, AFolderThatIsNotThereIsAnErrorNotACrash) {
  const std::string nowhere = ConfigFilePath(dir.file("missing/folder"));
  const WriteResult result = WriteProfiles(nowhere, {Profile("x")}, WriteForm::Create);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("No such file or directory"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace zent
