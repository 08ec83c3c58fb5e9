#include "uninstall/removal_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace mw {
namespace {

using Calls = std::vector<std::string>;

// Records every removal in order; folders and keys listed in `refuse` fail.
struct RecordingOps {
  Calls calls;
  std::set<std::string> refuse;  // "cd X", "rmdir PROGRAMS|X", "open X", "programs user" ...
  std::string where = "?";
  bool keyOpen = false;

  bool setFolder(const char* p) {
    calls.push_back(std::string("cd ") + p);
    if (refuse.count(calls.back())) return false;
    where = p;
    return true;
  }
  void deleteFile(const char* p) { calls.push_back(std::string("del ") + p); }
  bool removeFolder(const char* p) {
    calls.push_back(std::string("rmdir ") + p);
    return !refuse.count("rmdir " + where + "|" + p);
  }
  bool setProgramsFolder(bool common) {
    calls.push_back(common ? "programs common" : "programs user");
    if (refuse.count(calls.back())) return false;
    where = common ? "COMMON" : "USER";
    return true;
  }
  bool openKey(uint32_t root, const char* subkey) {
    calls.push_back("open " + std::to_string(root & 0xF) + ":" + subkey);
    keyOpen = !refuse.count(calls.back());
    return keyOpen;
  }
  void deleteValue(const char* name) {
    EXPECT_TRUE(keyOpen);
    calls.push_back(std::string("delvalue ") + (name ? name : "(default)"));
  }
  void closeKey() {
    calls.push_back("close");
    keyOpen = false;
  }
  void deleteKey(uint32_t root, const char* subkey) {
    calls.push_back("delkey " + std::to_string(root & 0xF) + ":" + subkey);
  }
  std::set<std::string> links;  // paths that are reparse points
  bool isLink(const char* p) { return links.count(p) != 0; }
  std::set<std::string> existing;  // folders that createFolder finds already there
  bool createFolder(const char* p) {
    calls.push_back(std::string("mkdir ") + p);
    return existing.insert(p).second;
  }
};

struct LogBuilder {
  std::vector<uint8_t> buf = std::vector<uint8_t>(4096);
  LogAppender a{buf.data(), 4096};
  UninstallLog log{};

  LogBuilder(const char* product, const char* dir, std::vector<const char*> files,
             const char* group, std::vector<const char*> shortcuts) {
    a.appendString(product);
    a.appendString(dir);
    for (auto f : files) a.appendString(f);
    a.appendListEnd();
    a.appendString(group);
    for (auto s : shortcuts) a.appendString(s);
    a.appendListEnd();
  }
  UninstallLog& finish() {
    EXPECT_FALSE(a.overflow);
    EXPECT_TRUE(readUninstallLog(buf.data(), a.length, &log));
    return log;
  }
  Calls run(RecordingOps& ops, const char* temp = "C:\\Temp\\") {
    char scratch[256];
    removeInstallation(finish(), temp, scratch, sizeof scratch, ops);
    return ops.calls;
  }
};

const std::string kKey = "delkey 2:Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(RemovalPlan, SmallestInstallationRemovesItsFileUninstallerFolderAndKey) {
  LogBuilder b("Tool", "C:\\Apps\\Tool", {"tool.exe"}, "", {});
  b.a.appendUninstallKeyRecord("Tool");
  RecordingOps ops;
  EXPECT_EQ(b.run(ops), (Calls{"cd C:\\Apps\\Tool", "del tool.exe", "del Uninstall.exe",
                                "cd C:\\Temp\\", "rmdir C:\\Apps\\Tool",
                                "open 2:Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool",
                                "delvalue (default)", "close", kKey + "Tool", kKey + "Tool"}));
}

TEST(RemovalPlan, FilesTheirHelpIndexesAndParentFoldersInnermostFirst) {
  LogBuilder b("P", "D:\\P\\", {"Help\\Tool.HLP", "a\\b\\c.txt", "x.hlp", "hlp", ".HLP"}, "", {});
  RecordingOps ops;
  Calls calls = b.run(ops);
  calls.resize(calls.size() - 3);  // after the uninstaller: cd temp, rmdir dir, key
  EXPECT_EQ(calls, (Calls{"cd D:\\P\\", "del Help\\Tool.HLP", "del help\\tool.gid", "rmdir help",
                          "del a\\b\\c.txt", "rmdir a\\b", "rmdir a", "del x.hlp", "del x.gid",
                          "del hlp", "del .HLP", "del .gid", "del Uninstall.exe"}));
}

TEST(RemovalPlan, FileNamesThatLeaveTheInstallationFolderAreSkipped) {
  LogBuilder b("P", "C:\\P", {"..\\evil.txt", "C:\\Windows\\win.ini", "\\boot.ini", "/etc",
                              "a\\..\\..\\b", "a\\...\\b", "a\\. .\\b", "c:evil", "ok\\..x\\f",
                              "a\\.\\b"},
             "", {});
  RecordingOps ops;
  Calls calls = b.run(ops);
  // "a\\.\\b" is no name the installer writes (it refuses "." components too), so it is skipped.
  EXPECT_EQ(Calls(calls.begin(), calls.begin() + 5),
            (Calls{"cd C:\\P", "del ok\\..x\\f", "rmdir ok\\..x", "rmdir ok", "del Uninstall.exe"}));
}

TEST(RemovalPlan, WithoutTheInstallationFolderNoRelativeNameIsDeleted) {
  LogBuilder b("P", "C:\\Gone", {"tool.exe"}, "", {"C:\\Desktop\\P.lnk"});
  RecordingOps ops;
  ops.refuse = {"cd C:\\Gone"};
  EXPECT_EQ(b.run(ops), (Calls{"cd C:\\Gone", "cd C:\\Temp\\", "rmdir C:\\Gone",
                                "del C:\\Desktop\\P.lnk", kKey + "P"}));
}

TEST(RemovalPlan, ProgramGroupLevelsFromTheUserFolderThenTheCommonOne) {
  {  // Both levels go in the user's folder; the common one is not visited.
    LogBuilder b("P", "C:\\P", {}, "Vendor\\Product", {"C:\\S\\a.lnk", "C:\\S\\b.lnk"});
    RecordingOps ops;
    Calls c = b.run(ops);
    EXPECT_EQ(Calls(c.begin() + 4, c.end()),
              (Calls{"del C:\\S\\a.lnk", "del C:\\S\\b.lnk", "programs user", "rmdir Vendor\\Product",
                     "rmdir Vendor", kKey + "P"}));
  }
  {  // Not in the user's folder: found in the common one.
    LogBuilder b("P", "C:\\P", {}, "Vendor\\Product", {});
    RecordingOps ops;
    ops.refuse = {"rmdir USER|Vendor\\Product"};
    Calls c = b.run(ops);
    EXPECT_EQ(Calls(c.begin() + 4, c.end()),
              (Calls{"programs user", "rmdir Vendor\\Product", "programs common",
                     "rmdir Vendor\\Product", "rmdir Vendor", kKey + "P"}));
  }
  {  // The inner level stays (not empty) in both: the outer one is never tried.
    LogBuilder b("P", "C:\\P", {}, "Vendor\\Product", {});
    RecordingOps ops;
    ops.refuse = {"rmdir USER|Vendor\\Product", "rmdir COMMON|Vendor\\Product"};
    Calls c = b.run(ops);
    EXPECT_EQ(Calls(c.begin() + 4, c.end()),
              (Calls{"programs user", "rmdir Vendor\\Product", "programs common",
                     "rmdir Vendor\\Product", kKey + "P"}));
  }
  {  // Stop at the first level that stays; a group that climbs out is not touched.
    LogBuilder b("P", "C:\\P", {}, "A\\B\\C", {});
    RecordingOps ops;
    ops.refuse = {"rmdir USER|A\\B"};
    Calls c = b.run(ops);
    EXPECT_EQ(Calls(c.begin() + 4, c.end()),
              (Calls{"programs user", "rmdir A\\B\\C", "rmdir A\\B", kKey + "P"}));
    LogBuilder evil("P", "C:\\P", {}, "..\\..\\Windows", {});
    RecordingOps ops2;
    Calls c2 = evil.run(ops2);
    EXPECT_EQ(Calls(c2.begin() + 4, c2.end()), (Calls{kKey + "P"}));
  }
}

TEST(RemovalPlan, RegistryRecordsDeleteValuesAndCreatedKeys) {
  LogBuilder b("P", "C:\\P", {}, "", {});
  b.a.appendRegistryRecord(kRecordOpened, 0x80000001, "Software\\Old", "Name", true);
  b.a.appendRegistryRecord(kRecordCreated, 0x80000002, "Software\\New", nullptr, true);
  b.a.appendRegistryRecord(kRecordCreated, 0x80000002, "Software\\Gone", "V", true);
  b.a.appendRegistryRecord(kRecordOpened, 0x80000002, "Software\\Gone2", "V", true);
  b.a.appendRegistryRecord(kRecordCreated, 0x80000002, "Software\\Parent\\", "V", true);
  RecordingOps ops;
  ops.refuse = {"open 2:Software\\Gone", "open 2:Software\\Gone2"};
  Calls c = b.run(ops);
  EXPECT_EQ(Calls(c.begin() + 4, c.end()),
            (Calls{"open 1:Software\\Old", "delvalue Name", "close",
                   "open 2:Software\\New", "delvalue (default)", "close", "delkey 2:Software\\New",
                   // The key could not be opened: no value deletion, but the created key goes.
                   "open 2:Software\\Gone", "delkey 2:Software\\Gone",
                   "open 2:Software\\Gone2",
                   // A path naming no key of its own is never deleted as a key.
                   "open 2:Software\\Parent\\", "delvalue V", "close",
                   kKey + "P"}));
}

TEST(RemovalPlan, UninstallKeyIsRefusedRatherThanCut) {
  const std::string longName(300, 'n');
  LogBuilder b(longName.c_str(), "C:\\P", {}, "", {});
  RecordingOps ops;
  Calls c = b.run(ops);
  EXPECT_EQ(c.back(), "rmdir C:\\P");  // no delkey: the name does not fit the key buffer

  LogBuilder empty("", "C:\\P", {}, "", {});
  RecordingOps ops2;
  EXPECT_EQ(empty.run(ops2).back(), "rmdir C:\\P");

  // A name ending in a backslash would make the path name the Uninstall key itself.
  LogBuilder trailing("Tool\\", "C:\\P", {}, "", {});
  RecordingOps ops3;
  EXPECT_EQ(trailing.run(ops3).back(), "rmdir C:\\P");
}

TEST(Helpers, TemporaryFolderGetsOneBackslashAndRoomForTheFileName) {
  char buf[32] = "C:\\Temp";
  EXPECT_TRUE(finishTempFolder(buf, 7, sizeof buf));
  EXPECT_STREQ(buf, "C:\\Temp\\");
  char buf2[32] = "C:\\Temp\\";
  EXPECT_TRUE(finishTempFolder(buf2, 8, sizeof buf2));
  EXPECT_STREQ(buf2, "C:\\Temp\\");
  char copy[32];
  EXPECT_TRUE(joinText(copy, sizeof copy, buf2, kUninstallerFileName));
  EXPECT_STREQ(copy, "C:\\Temp\\Uninstall.exe");

  char tight[23] = "C:\\Temp\\Folder";  // 14 + 1 + 13 + 1 = 29 > 23
  EXPECT_FALSE(finishTempFolder(tight, 14, sizeof tight));
  EXPECT_STREQ(tight, "");
  char exact[29] = "C:\\Temp\\Folder";  // fits exactly
  EXPECT_TRUE(finishTempFolder(exact, 14, sizeof exact));
  EXPECT_FALSE(finishTempFolder(exact, 300, sizeof exact));  // value longer than the buffer
  EXPECT_FALSE(finishTempFolder(exact, 0, sizeof exact));    // not set
}

TEST(Helpers, TextsAreCutAndPathsRefused) {
  char out[16];
  formatEach(out, sizeof out, "Uninstall %s", "Tool");
  EXPECT_STREQ(out, "Uninstall Tool");
  formatEach(out, sizeof out, "Uninstall %s", "A very long product name");
  EXPECT_STREQ(out, "Uninstall A ver");
  formatEach(out, sizeof out, "%s and %s", "x");
  EXPECT_STREQ(out, "x and x");

  char path[8];
  EXPECT_TRUE(joinText(path, sizeof path, "abc", "defg"));
  EXPECT_STREQ(path, "abcdefg");
  EXPECT_FALSE(joinText(path, sizeof path, "abc", "defgh"));
  EXPECT_STREQ(path, "");

}

TEST(Helpers, OnlyTheArgumentUAfterTheProgramPathMakesTheCopy) {
  // How the copy is started, quoted or not.
  EXPECT_TRUE(isCopyCommandLine("\"C:\\Temp\\Uninstall-ABCDEFGH\\Uninstall.exe\" U"));
  EXPECT_TRUE(isCopyCommandLine("C:\\Temp\\Uninstall-ABCDEFGH\\Uninstall.exe   U"));
  // How the registration starts the installed one: a quoted path with blanks, or unquoted.
  EXPECT_FALSE(isCopyCommandLine("\"C:\\Program Files\\X\\Uninstall.exe\""));
  EXPECT_FALSE(isCopyCommandLine("C:\\PROGRA~1\\X\\UNINSTALL.EXE"));
  // A path that ends in U, or holds " U" inside its quotes, is still only the path.
  EXPECT_FALSE(isCopyCommandLine("C:\\PROGRA~1\\TOOLU"));
  EXPECT_FALSE(isCopyCommandLine("\"C:\\My U\""));
  EXPECT_FALSE(isCopyCommandLine("\"C:\\Tools U"));  // no closing quote
  EXPECT_FALSE(isCopyCommandLine("U"));                 // "U" alone is a program name
  EXPECT_FALSE(isCopyCommandLine("\"C:\\X.exe\" u"));
  EXPECT_FALSE(isCopyCommandLine("\"C:\\X.exe\" UU"));
  EXPECT_FALSE(isCopyCommandLine("C:\\Program Files\\X\\Uninstall.exe U"));  // an unquoted blank ends the path
  EXPECT_FALSE(isCopyCommandLine(""));
}

TEST(CopyFolder, ANewFolderIsMadeAndAnExistingOneNeverUsed) {
  RecordingOps ops;
  char out[64];
  ASSERT_TRUE(makeCopyFolder(out, sizeof out, "C:\\T\\", 0x1F, ops));
  EXPECT_STREQ(out, "C:\\T\\Uninstall-PBAAAAAA");  // 0x1F: digits F, 1, 0 ... as letters
  EXPECT_TRUE(isInCopyFolder("C:\\T\\Uninstall-PBAAAAAA\\Uninstall.exe", "C:\\T\\"));

  // Names that exist (planted, or left from an earlier run) are passed over.
  RecordingOps planted;
  planted.existing = {"C:\\T\\Uninstall-AAAAAAAA", "C:\\T\\Uninstall-BAAAAAAA"};
  ASSERT_TRUE(makeCopyFolder(out, sizeof out, "C:\\T\\", 0, planted));
  EXPECT_STREQ(out, "C:\\T\\Uninstall-CAAAAAAA");
  EXPECT_EQ(planted.calls.size(), 3u);

  // All tries taken: no folder, and nothing to copy into.
  RecordingOps full;
  for (uint32_t i = 0; i < kCopyFolderTries; ++i) {
    ASSERT_TRUE(copyFolderName(out, sizeof out, "C:\\T\\", 7 + i));
    full.existing.insert(out);
  }
  EXPECT_FALSE(makeCopyFolder(out, sizeof out, "C:\\T\\", 7, full));
  EXPECT_STREQ(out, "");

  // The folder must leave room for "\\Uninstall.exe".
  char exact[6 + 18 + 14 + 1];  // "C:\\T\\" is 5 characters: 5 + 18 + 1 + 13 + 1 = 38
  EXPECT_FALSE(copyFolderName(exact, 37, "C:\\T\\", 0));
  EXPECT_TRUE(copyFolderName(exact, 38, "C:\\T\\", 0));

  // Only such a folder makes the running file a copy of ours.
  EXPECT_FALSE(isInCopyFolder("C:\\Apps\\Tool\\Uninstall.exe", "C:\\T\\"));
  EXPECT_FALSE(isInCopyFolder("C:\\T\\Uninstall.exe", "C:\\T\\"));
  EXPECT_FALSE(isInCopyFolder("C:\\T\\Other\\Uninstall.exe", "C:\\T\\"));
  EXPECT_FALSE(isInCopyFolder("C:\\T\\Uninstall-X\\Uninstall.exe", ""));
}

TEST(RenameSection, ALineIsAddedAndNoOtherProgramsLineLost) {
  using namespace std::string_literals;
  // As the profile reader returns the section: entries ending in NUL, one more NUL at the end,
  // and a count that includes every entry's NUL but not the last one.
  const std::string existing = "NUL=C:\\OTHER.TMP\0C:\\A.DLL=C:\\A.NEW\0"s;
  char section[80] = {};
  memcpy(section, existing.data(), existing.size());
  ASSERT_TRUE(appendRenameLine(section, uint32_t(existing.size()), sizeof section, "C:\\TEMP\\UNINST~1\\UNINST~1.EXE"));
  const std::string line = "NUL=C:\\TEMP\\UNINST~1\\UNINST~1.EXE\0\0"s;
  EXPECT_EQ(std::string(section, existing.size() + line.size()), existing + line);

  char empty[32] = {};
  ASSERT_TRUE(appendRenameLine(empty, 0, sizeof empty, "C:\\X.EXE"));
  EXPECT_EQ(std::string(empty, 14), "NUL=C:\\X.EXE\0\0"s);

  // A section the reader cut (it then returns capacity - 2), or a line that does not fit, is
  // not written back: that would drop lines.
  char cut[16] = "NUL=C:\\ABCDEFG";
  EXPECT_FALSE(appendRenameLine(cut, 14, sizeof cut, "C:\\X"));
  char tight[16] = "NUL=C:\\A";                                  // 9 characters with its NUL
  EXPECT_FALSE(appendRenameLine(tight, 9, sizeof tight, "C:\\X"));  // 9 + 8 + 2 > 16
  EXPECT_EQ(std::string(tight, 10), "NUL=C:\\A\0\0"s) << "the section was changed";
  EXPECT_TRUE(appendRenameLine(tight, 9, sizeof tight, "X"));      // 9 + 5 + 2 = 16
  EXPECT_EQ(std::string(tight, 16), "NUL=C:\\A\0NUL=X\0\0"s);
}

TEST(RemovalPlan, NothingIsDeletedThroughALink) {
  // A folder inside the installation that is now a link, and an installation folder that is
  // one: what lies behind them stays.
  LogBuilder b("P", "C:\\P", {"data\\a.txt", "data\\sub\\b.txt", "keep\\c.txt", "top.txt"}, "", {});
  RecordingOps ops;
  ops.links = {"data"};
  Calls c = b.run(ops);
  EXPECT_EQ(Calls(c.begin(), c.begin() + 5),
            (Calls{"cd C:\\P", "del keep\\c.txt", "rmdir keep", "del top.txt", "del Uninstall.exe"}));

  LogBuilder inner("P", "C:\\P", {"a\\b\\c.txt"}, "", {});
  RecordingOps ops2;
  ops2.links = {"a\\b"};
  c = inner.run(ops2);
  EXPECT_EQ(Calls(c.begin(), c.begin() + 2), (Calls{"cd C:\\P", "del Uninstall.exe"}));

  LogBuilder linked("P", "C:\\P", {"top.txt"}, "", {});
  RecordingOps ops3;
  ops3.links = {"C:\\P"};
  EXPECT_EQ(linked.run(ops3), (Calls{"cd C:\\Temp\\", "rmdir C:\\P", kKey + "P"}));
}

TEST(RemovalPlan, DamagedLogNamesNoOtherFileAndNoTopLevelKey) {
  LogBuilder b("P", "C:\\P", {}, "",
               {"C:\\S\\a.lnk", "C:\\S\\B.LNK", "C:\\S\\dos.Pif", "C:\\Windows\\win.ini", "C:\\S\\lnk",
                "C:\\S\\a.lnk.txt", ".lnk"});
  b.a.appendRegistryRecord(kRecordCreated, 0x80000002, "SOFTWARE", nullptr, true);
  b.a.appendRegistryRecord(kRecordCreated, 0x80000002, "SOFTWARE\\Vendor", nullptr, true);
  b.a.appendRegistryRecord(kRecordCreated, 0x80000001, "\\Software", nullptr, true);
  b.a.appendRegistryRecord(kRecordCreated, 0x80000001, "Software\\\\Vendor", nullptr, true);
  RecordingOps ops;
  Calls c = b.run(ops);
  Calls deletions;
  for (const auto& call : c)
    if (call.rfind("del", 0) == 0) deletions.push_back(call);
  EXPECT_EQ(deletions, (Calls{"del Uninstall.exe", "del C:\\S\\a.lnk", "del C:\\S\\B.LNK", "del C:\\S\\dos.Pif",
                              "delvalue (default)", "delvalue (default)", "delkey 2:SOFTWARE\\Vendor",
                              "delvalue (default)", "delvalue (default)", kKey + "P"}));
  EXPECT_FALSE(isDeletableKey(""));
  EXPECT_FALSE(isDeletableKey("Software\\"));
  EXPECT_TRUE(isDeletableKey("Software\\Vendor\\Product"));
}

}  // namespace
}  // namespace mw
