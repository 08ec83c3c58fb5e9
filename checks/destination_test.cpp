// The default destination over a scripted set of system folders.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/fake_views.h"

namespace mw {
namespace {

FakeFolders typicalSystem() {
  FakeFolders f;
  f.known = {{Folder::windows, "D:\\Windows"},
             {Folder::system, "D:\\Windows\\system32"},
             {Folder::programFiles, "C:\\Program Files"},
             {Folder::commonFiles, "C:\\Program Files\\Common Files"},
             {Folder::userProfile, "C:\\Users\\ann"},
             {Folder::documents, "C:\\Users\\ann\\Documents"},
             {Folder::desktop, "C:\\Users\\ann\\Desktop"},
             {Folder::current, "E:\\"}};
  return f;  // no AppData variable
}

std::string destination(uint8_t kind, const char* path, FakeFolders folders = typicalSystem()) {
  char installDir[kInstallDirRoom];
  memset(installDir, 'x', sizeof installDir);
  EXPECT_TRUE(defaultDestination(kind, path, folders, installDir, sizeof installDir));
  return installDir;
}

TEST(DefaultDestination, EveryKind) {
  EXPECT_EQ(destination(1, "Tools"), "D:\\Tools");
  EXPECT_EQ(destination(2, "Acme Tool"), "C:\\Program Files\\Acme Tool");
  EXPECT_EQ(destination(3, "Acme"), "C:\\Program Files\\Common Files\\Acme");
  EXPECT_EQ(destination(4, ""), "D:\\Windows\\");
  EXPECT_EQ(destination(5, "a"), "D:\\Windows\\system32\\a");
  EXPECT_EQ(destination(6, "a"), "C:\\Users\\ann\\a");
  EXPECT_EQ(destination(7, "Acme"), "\\Acme");  // AppData not set: a folder at the root
  EXPECT_EQ(destination(8, "a"), "C:\\Users\\ann\\Documents\\a");
  EXPECT_EQ(destination(9, "a"), "C:\\Users\\ann\\Desktop\\a");
  EXPECT_EQ(destination(10, "a"), "E:\\\\a");  // a base ending in a backslash is not trimmed
  for (int kind : {0, 11, 128, 255}) EXPECT_EQ(destination(uint8_t(kind), "E:\\Data\\Tool"), "E:\\Data\\Tool");
  EXPECT_EQ(destination(0, ""), "");
}

TEST(DefaultDestination, RoomGivenToTheQueries) {
  FakeFolders f = typicalSystem();
  char installDir[kInstallDirRoom];
  defaultDestination(2, "a", f, installDir, sizeof installDir);
  defaultDestination(10, "a", f, installDir, sizeof installDir);
  defaultDestination(0, "a", f, installDir, sizeof installDir);
  EXPECT_EQ(f.rooms, (std::vector<uint32_t>{256, 1024}));

  // A folder too long for its room is no folder.
  f.known[Folder::programFiles] = std::string(300, 'p');
  EXPECT_EQ(destination(2, "a", f), "\\a");
}

TEST(DefaultDestination, TooLongIsRefusedWithinTheRegion) {
  FakeFolders f = typicalSystem();
  f.known[Folder::current] = "C:\\" + std::string(1000, 'c');
  std::vector<char> region(kInstallDirRoom + 8, '#');

  // Exactly full: 1003 + 1 + 19 = 1023 characters and the NUL.
  const std::string fits(19, 'f');
  ASSERT_TRUE(defaultDestination(10, fits.c_str(), f, region.data(), kInstallDirRoom));
  EXPECT_EQ(std::string(region.data()).size(), 1023u);

  const std::string over(20, 'o');
  EXPECT_FALSE(defaultDestination(10, over.c_str(), f, region.data(), kInstallDirRoom));
  EXPECT_EQ(region[0], 0);
  const std::string whole(1024, 'w');
  EXPECT_FALSE(defaultDestination(0, whole.c_str(), f, region.data(), kInstallDirRoom));
  EXPECT_EQ(region[0], 0);
  for (size_t i = kInstallDirRoom; i < region.size(); ++i) ASSERT_EQ(region[i], '#');

  // A smaller region also bounds the room given to the base query.
  f.rooms.clear();
  char small[16];
  EXPECT_TRUE(defaultDestination(2, "Acme", f, small, sizeof small));
  EXPECT_EQ(f.rooms, (std::vector<uint32_t>{16}));
  EXPECT_STREQ(small, "\\Acme");  // "C:\Program Files" needs 17 bytes: no base
}

}  // namespace
}  // namespace mw
