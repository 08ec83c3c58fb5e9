// The restart question and the run-after path.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "checks/checks.h"
#include "checks/fake_views.h"

namespace mw {
namespace {

TEST(RestartQuestion, StyleAndCaption) {
  EXPECT_FALSE(restartQuestion(0, 0, "Acme").ask);
  const RestartQuestion yesNo = restartQuestion(1, 0, "Acme Setup");
  ASSERT_TRUE(yesNo.ask);
  EXPECT_EQ(yesNo.style, 52u);
  EXPECT_STREQ(yesNo.caption, "Acme Setup");
  EXPECT_STREQ(yesNo.text,
               "This system must be restarted to complete the installation.\r\nPress the OK button "
               "to restart this computer or No to return to Windows without restarting.");
  EXPECT_EQ(restartQuestion(3, 1, "Acme").style, 48u);
  EXPECT_EQ(restartQuestion(1, 9, "Acme").style, 48u);
  EXPECT_STREQ(restartQuestion(1, 0, "").caption, "Warning");
  EXPECT_STREQ(restartQuestion(1, 0, nullptr).caption, "Warning");
}

// The folders the run-after paths are built on.
FakeFolders runFolders() {
  FakeFolders f;
  f.known = {{Folder::programFiles, "C:\\Program Files"},
             {Folder::windows, "C:\\WINDOWS\\"},
             {Folder::system, "C:\\WINDOWS\\system32"}};
  return f;
}

struct Opened {
  bool run;
  std::string file;
  std::string parameters;  // "(none)" when there are none
};

Opened runAfter(uint8_t kind, const char* target, const char* installDir = "C:\\Apps\\Tool\\",
                FakeFolders folders = runFolders()) {
  char buffer[kInstallDirRoom];
  snprintf(buffer, sizeof buffer, "%s", installDir);
  const RunAction a = runAfterAction(kind, target, folders, buffer, sizeof buffer);
  if (!a.run) return {false, "", ""};
  return {true, a.file, a.parameters ? a.parameters : "(none)"};
}

void expectOpens(const Opened& o, const std::string& file, const std::string& parameters) {
  ASSERT_TRUE(o.run);
  EXPECT_EQ(o.file, file);
  EXPECT_EQ(o.parameters, parameters);
}

TEST(RunAfter, PathsAndParameters) {
  expectOpens(runAfter(1, "bin\\tool.exe /quiet /log"), "C:\\Apps\\Tool\\bin\\tool.exe", "/quiet /log");
  expectOpens(runAfter(1, "readme.txt"), "C:\\Apps\\Tool\\readme.txt", "(none)");
  expectOpens(runAfter(2, "Acme\\a.exe /x"), "C:\\Program Files\\Acme\\a.exe", "/x");
  expectOpens(runAfter(3, "notepad.exe"), "C:\\WINDOWS\\notepad.exe", "(none)");  // no doubled backslash
  expectOpens(runAfter(4, "calc.exe"), "C:\\WINDOWS\\system32\\calc.exe", "(none)");
  expectOpens(runAfter(9, "D:\\Tools\\setup2.exe /x"), "D:\\Tools\\setup2.exe", "/x");
  expectOpens(runAfter(9, "http://example.com/a b /c"), "http://example.com/a b /c", "(none)");
  expectOpens(runAfter(9, "HTTP://example.com /c"), "HTTP://example.com", "/c");
  expectOpens(runAfter(1, "http://x /y"), "C:\\Apps\\Tool\\http://x", "/y");  // kinds 1-4 always split
  // A blank without "/" after it, or a "/" without a blank before it, splits nothing; the scan
  // covers the folder part too.
  expectOpens(runAfter(1, "my tool.exe a/b"), "C:\\Apps\\Tool\\my tool.exe a/b", "(none)");
  expectOpens(runAfter(1, "x.exe /a", "C:\\A /B\\"), "C:\\A", "/B\\x.exe /a");
  // An installation folder whose backslash the worker has not added still gets one.
  expectOpens(runAfter(1, "a.exe", "C:\\Apps"), "C:\\Apps\\a.exe", "(none)");
}

TEST(RunAfter, NothingToRunOrNowhereToRunFrom) {
  EXPECT_FALSE(runAfter(0, "a.exe").run);
  EXPECT_FALSE(runAfter(9, "").run);
  EXPECT_FALSE(runAfter(1, "a.exe", "").run);
  FakeFolders noProgramFiles = runFolders();
  noProgramFiles.known.erase(Folder::programFiles);
  EXPECT_FALSE(runAfter(2, "a.exe", "C:\\Apps\\", noProgramFiles).run);
  FakeFolders f = runFolders();
  runAfter(2, "a.exe", "C:\\", f);
}

TEST(RunAfter, BoundedByTheRegion) {
  FakeFolders f = runFolders();
  std::vector<char> region(kInstallDirRoom + 8, '#');
  const std::string dir = "C:\\" + std::string(1000, 'd') + "\\";
  // 1004 + 19 = 1023: fits exactly.
  snprintf(region.data(), kInstallDirRoom, "%s", dir.c_str());
  RunAction a = runAfterAction(1, std::string(19, 't').c_str(), f, region.data(), kInstallDirRoom);
  EXPECT_TRUE(a.run);
  snprintf(region.data(), kInstallDirRoom, "%s", dir.c_str());
  a = runAfterAction(1, std::string(20, 't').c_str(), f, region.data(), kInstallDirRoom);
  EXPECT_FALSE(a.run);
  a = runAfterAction(9, std::string(2000, 'h').c_str(), f, region.data(), kInstallDirRoom);
  EXPECT_FALSE(a.run);
  // An installation folder with no NUL inside the region is not read past its end.
  memset(region.data(), 'z', kInstallDirRoom);
  EXPECT_FALSE(runAfterAction(1, "a.exe", f, region.data(), kInstallDirRoom).run);
  for (size_t i = kInstallDirRoom; i < region.size(); ++i) ASSERT_EQ(region[i], '#');
  // The folder queries get the room of a path, or less when the region is smaller.
  char small[8];
  runAfterAction(2, "a", f, small, sizeof small);
  EXPECT_EQ(f.rooms.back(), 8u);
  char big[kInstallDirRoom];
  runAfterAction(3, "a", f, big, sizeof big);
  EXPECT_EQ(f.rooms.back(), 260u);
}

TEST(SplitRunPath, EdgeCases) {
  const char* file;
  const char* params;
  char empty[] = "";
  splitRunPath(empty, &file, &params);
  EXPECT_EQ(file, empty);
  EXPECT_EQ(params, nullptr);
  char leading[] = " /x";  // the first character is never a split point
  splitRunPath(leading, &file, &params);
  EXPECT_STREQ(file, " /x");
  EXPECT_EQ(params, nullptr);
  char twice[] = "a /b /c";
  splitRunPath(twice, &file, &params);
  EXPECT_STREQ(file, "a");
  EXPECT_STREQ(params, "/b /c");
  char trailing[] = "a /";
  splitRunPath(trailing, &file, &params);
  EXPECT_STREQ(params, "/");
}

}  // namespace
}  // namespace mw
