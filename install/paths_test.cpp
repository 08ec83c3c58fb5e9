#include "install/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace mw {
namespace {

std::string shortened(const std::string& path) {
  std::string buffer = path;
  buffer.push_back(0);
  shortenDisplayPath(buffer.data());
  return buffer.c_str();
}

TEST(DeviceNames, AnyComponentWithOrWithoutExtension) {
  for (const char* device :
       {"NUL", "nul", "Con", "PRN", "aux", "COM1", "com9", "LPT1", "lpt9", "CLOCK$", "clock$",
        "nul.txt", "CON.tar.gz", "aux ", "nul .txt", "nul.", "docs\\nul", "docs/aux.txt",
        "a\\com3\\b.txt", "LPT5\\x"})
    EXPECT_TRUE(namesDevice(device)) << device;
  for (const char* name :
       {"null", "nul1", "console", "COM0", "COM10", "LPT", "lpt0.txt", "com", "clock", "clock$$",
        "a.nul", "xcon", "docs\\nully\\con1.txt", "my aux", "readme.txt", "COM1x"})
    EXPECT_FALSE(namesDevice(name)) << name;
}

TEST(DisplayPath, ShortensLongPathsToHeadEllipsisAndTail) {
  const std::string dir = "C:\\Program Files\\Sample Vendor Group\\Sample Product Suite\\";
  const std::string name = "runtime\\lib\\security\\policy\\unlimited\\local_policy.jar";
  ASSERT_EQ((dir + name).size(), 112u);
  const std::string shown = shortened(dir + name);
  EXPECT_EQ(shown, "C:\\ ...\\runtime\\lib\\security\\policy\\unlimited\\local_policy.jar");
  EXPECT_EQ(shown.size(), 62u);

  // 80 characters stay whole; 81 are cut at the first backslash that leaves at most 80.
  const std::string p80 = "C:\\" + std::string(40, 'a') + "\\" + std::string(36, 'b');
  ASSERT_EQ(p80.size(), 80u);
  EXPECT_EQ(shortened(p80), p80);
  const std::string p81 = "C:\\" + std::string(10, 'a') + "\\" + std::string(30, 'c') + "\\" +
                          std::string(36, 'b');
  ASSERT_EQ(p81.size(), 81u);
  const std::string s81 = shortened(p81);
  EXPECT_EQ(s81, "C:\\ ...\\" + std::string(30, 'c') + "\\" + std::string(36, 'b'));
  EXPECT_LE(s81.size(), 80u);

  // A server path keeps "\\server\" as its head.
  const std::string unc = "\\\\srv\\share\\" + std::string(50, 'd') + "\\" + std::string(30, 'e');
  EXPECT_EQ(shortened(unc), "\\\\srv\\ ...\\" + std::string(30, 'e'));

  // No backslash in the tail's range: the path is shown whole.
  const std::string noCut = "C:\\" + std::string(100, 'x');
  EXPECT_EQ(shortened(noCut), noCut);
}

TEST(Messages, FormatsBothValuesAndCutsVisibly) {
  char out[64];
  EXPECT_TRUE(formatMessage(out, sizeof out, "Error creatig file:\r\n%s%s", "C:\\A\\", "b.txt"));
  EXPECT_STREQ(out, "Error creatig file:\r\nC:\\A\\b.txt");
  char small[16];
  EXPECT_FALSE(formatMessage(small, sizeof small, "Unable to create the directory:\r\n%s", "C:\\x"));
  EXPECT_EQ(std::string(small).size(), 15u);
  EXPECT_EQ(std::string(small).substr(12), "...");
}

TEST(SetupPath, ExpandsEveryMarkerWithoutTheFinalBackslash) {
  char out[64];
  EXPECT_EQ(expandSetupPath("<SetupPath>\\bin;<SetupPath>\\lib", "C:\\Apps\\Tool\\", out, sizeof out), 33);
  EXPECT_STREQ(out, "C:\\Apps\\Tool\\bin;C:\\Apps\\Tool\\lib");
  EXPECT_EQ(expandSetupPath("<setuppath>\\x<SetupPath", "C:\\A\\", out, sizeof out), 23);
  EXPECT_STREQ(out, "<setuppath>\\x<SetupPath");
  char tiny[8];
  EXPECT_EQ(expandSetupPath("<SetupPath>", "C:\\Long\\Folder\\", tiny, sizeof tiny), -1);
  EXPECT_EQ(std::string(tiny).size(), 7u);
}

std::string nameFor(const char* target, bool pif) {
  char buffer[64];
  TextBuilder out(buffer, sizeof buffer);
  appendShortcutName(out, target, pif);
  return buffer;
}

TEST(Shortcuts, NamesAndExtensions) {
  EXPECT_EQ(linkExtensionFor("App.EXE"), LinkLookAtPe);
  EXPECT_EQ(linkExtensionFor("setup.COM"), LinkPif);
  EXPECT_EQ(linkExtensionFor("x.exe"), LinkLookAtPe);  // five characters: examined
  EXPECT_EQ(linkExtensionFor("a.ex"), LinkLnk);
  EXPECT_EQ(linkExtensionFor(".com"), LinkLnk);         // four: never examined
  EXPECT_EQ(linkExtensionFor("docs\\manual.html"), LinkLnk);

  EXPECT_EQ(nameFor("App.EXE", false), "App.lnk");
  EXPECT_EQ(nameFor("setup.COM", true), "setup.pif");
  EXPECT_EQ(nameFor("README", false), "README.lnk");
  EXPECT_EQ(nameFor("MYAPP", false), "MYAPP.lnk");
  EXPECT_EQ(nameFor("docs\\manual.html", false), "manual.lnk");
  EXPECT_EQ(nameFor("ver1.2\\tool", false), "tool.lnk");
  EXPECT_EQ(nameFor("bin\\my.tool.exe", false), "my.tool.lnk");
  EXPECT_EQ(nameFor(".profile", false), ".profile.lnk");
}

TEST(Shortcuts, DosProgramLook) {
  const uint8_t zm[] = {'Z', 'M'};
  const uint8_t mz[] = {'M', 'Z'};
  const uint8_t pe[] = {'P', 'E'};
  const uint8_t ne[] = {'N', 'E'};
  EXPECT_TRUE(isDosProgram(zm, 2, nullptr, 0));
  EXPECT_TRUE(isDosProgram(mz, 2, ne, 2));
  EXPECT_TRUE(isDosProgram(mz, 2, nullptr, 0));
  EXPECT_FALSE(isDosProgram(mz, 2, pe, 2));
  EXPECT_FALSE(isDosProgram(pe, 2, pe, 2));
  EXPECT_FALSE(isDosProgram(mz, 1, nullptr, 0));  // nothing readable: a plain link
}

TEST(Progress, UnitsToPercent) {
  EXPECT_EQ(progressPosition(1, 4), 25u);
  EXPECT_EQ(progressPosition(3, 4), 75u);
  EXPECT_EQ(progressPosition(4, 4), 100u);
  EXPECT_EQ(progressPosition(1, 3), 33u);
  EXPECT_EQ(progressPosition(50000000, 100000000), 50u);  // no wrap in the product
  EXPECT_EQ(progressPosition(0xFFFFFFFEu, 0xFFFFFFFFu), 99u);
  EXPECT_EQ(progressPosition(7, 0xFFFFFFFFu), 0u);
  for (uint32_t total : {7u, 100u, 999u, 123456789u, 0xFFFFFFF0u})
    for (uint32_t done = 0; done < total; done += total / 13 + 1)
      EXPECT_EQ(progressPosition(done, total), uint32_t(uint64_t(done) * 100 / total))
          << done << "/" << total;
}

}  // namespace
}  // namespace mw
