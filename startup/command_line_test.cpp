// The silent switch and the folder after it, as the start-up reads them before anything else.
#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace mw {
namespace {

TEST(CommandLine, SilentSwitchAndFolder) {
  SilentSwitch s = findSilentSwitch("\"C:\\dl\\setup.exe\" /s");
  EXPECT_EQ(s.mode, ModeSilent);
  EXPECT_EQ(s.folder, nullptr);
  s = findSilentSwitch("\"C:\\dl\\setup.exe\" /s D:\\Apps\\Tool  ");
  EXPECT_EQ(s.mode, ModeSilentFolder);
  EXPECT_STREQ(s.folder, "D:\\Apps\\Tool  ");
  EXPECT_EQ(findSilentSwitch("\"C:\\dl\\setup.exe\" /S").mode, ModeWizard);
  EXPECT_EQ(findSilentSwitch("").mode, ModeWizard);
  // Anywhere after the first character, the program's own path included.
  EXPECT_EQ(findSilentSwitch("C:/setup.exe").mode, ModeSilent);
  EXPECT_EQ(findSilentSwitch("/s").mode, ModeWizard);
}

TEST(CommandLine, FolderMustBeAbsoluteAndFit) {
  for (const char* ok : {"C:\\", "d:\\Apps\\Tool", "\\\\server\\share\\Tool", "Z:\\a b\\"})
    EXPECT_EQ(checkSilentFolder(ok, 1024), FolderAccepted) << ok;
  // Resolved against wherever the installer was started: refused as the wizard refuses them.
  for (const char* relative : {"Tool", "Apps\\Tool", ".\\Tool", "..\\Tool", "\\Apps\\Tool", "C:Tool",
                               "C:", "\"C:\\Some Dir\"", "1:\\x", "", " C:\\x"})
    EXPECT_EQ(checkSilentFolder(relative, 1024), FolderRelative) << relative;
  const std::string longest = "C:\\" + std::string(1020, 'x');  // 1023 characters: fits with its NUL
  EXPECT_EQ(checkSilentFolder(longest.c_str(), 1024), FolderAccepted);
  EXPECT_EQ(checkSilentFolder((longest + "x").c_str(), 1024), FolderTooLong);
  EXPECT_EQ(checkSilentFolder((std::string(1024, 'x')).c_str(), 1024), FolderTooLong);
}

}  // namespace
}  // namespace mw
