#include "wizard/destination.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace mw {
namespace {

// Drives C, D and E exist (fixed, CD-ROM, network); every other letter has no root.
struct Drives {
  int asked = 0;
  static uint32_t type(const char* root, void* self) {
    auto* d = static_cast<Drives*>(self);
    ++d->asked;
    EXPECT_EQ(std::strlen(root), 3u);
    EXPECT_EQ(root[1], ':');
    EXPECT_EQ(root[2], '\\');
    switch (root[0]) {
      case 'C': return 3;
      case 'D': return 5;
      case 'E': return 4;
      case 'U': return 0;
      default: return 1;
    }
  }
};

bool accepts(const std::string& text, Drives* drives = nullptr) {
  Drives local;
  Drives* d = drives ? drives : &local;
  return destinationAcceptable(text.c_str(), uint32_t(text.size()), &Drives::type, d);
}

TEST(Destination, ShapeAndDrive) {
  EXPECT_FALSE(accepts("C:"));
  EXPECT_TRUE(accepts("C:\\"));
  EXPECT_TRUE(accepts("C:\\Program Files\\Tool"));
  EXPECT_TRUE(accepts("D:\\x"));  // a CD-ROM passes; creating the folder fails later
  EXPECT_FALSE(accepts("Q:\\Tool"));  // no such root
  EXPECT_FALSE(accepts("U:\\Tool"));  // unknown drive type
  EXPECT_FALSE(accepts("Programs\\Tool"));
  EXPECT_FALSE(accepts("\\Programs\\Tool"));
  EXPECT_FALSE(accepts("C:Tool"));
  EXPECT_FALSE(accepts(""));
  // The first character is not examined beyond the drive test.
  EXPECT_FALSE(accepts("1:\\x"));
}

TEST(Destination, NetworkPathsSkipTheDriveTest) {
  Drives d;
  EXPECT_TRUE(accepts("\\\\server\\share\\x", &d));
  EXPECT_TRUE(accepts("\\\\s", &d));
  EXPECT_FALSE(accepts("\\\\", &d));
  EXPECT_EQ(d.asked, 0);
}

TEST(Destination, RefusedCharactersAnywhere) {
  for (char c : std::string("\"*/<>?|")) {
    SCOPED_TRACE(c);
    EXPECT_FALSE(accepts(std::string("C:\\a") + c));
    EXPECT_FALSE(accepts(std::string("C:\\") + c + "a"));
    EXPECT_FALSE(accepts(std::string("\\\\") + c + "server"));
    EXPECT_FALSE(accepts(std::string(1, c) + "\\server"));
  }
  EXPECT_TRUE(accepts("C:\\a:b"));  // a further colon is allowed
  EXPECT_TRUE(accepts("C:\\a b\\c.d-e_f"));
}

TEST(Destination, LengthLimitMatchesWhatInstallTakes) {
  std::string path = "C:\\";
  path += std::string(kMaxDestinationChars - 3, 'a');
  EXPECT_EQ(path.size(), 259u);
  EXPECT_TRUE(accepts(path));
  EXPECT_FALSE(accepts(path + "b"));  // it would be cut on Install
  // A refused character beyond the first 255 characters still refuses.
  std::string tail = "C:\\" + std::string(254, 'a') + "?";
  EXPECT_FALSE(accepts(tail));
}

TEST(Destination, BrowseResult) {
  char out[1024];
  EXPECT_EQ(composeBrowseResult("D:\\", "Acme Tool", out, sizeof out), 12u);
  EXPECT_STREQ(out, "D:\\Acme Tool");
  composeBrowseResult("D:\\Apps", "Acme Tool", out, sizeof out);
  EXPECT_STREQ(out, "D:\\Apps\\Acme Tool");
  composeBrowseResult("D:\\Apps", "", out, sizeof out);
  EXPECT_STREQ(out, "D:\\Apps\\");
  composeBrowseResult("\\\\srv\\share", nullptr, out, sizeof out);
  EXPECT_STREQ(out, "\\\\srv\\share\\");

  // Too long for the buffer: cut, terminated, and longer than any destination accepted.
  char small[16];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(composeBrowseResult("C:\\Program Files", "Acme", small, sizeof small), 15u);
  EXPECT_STREQ(small, "C:\\Program File");
  std::string longChoice = "C:\\" + std::string(250, 'f');
  composeBrowseResult(longChoice.c_str(), "Acme Tool", out, sizeof out);
  EXPECT_FALSE(accepts(out));
}

TEST(Destination, WhatTheBrowserAppends) {
  for (uint8_t kind = 1; kind <= 10; ++kind)
    EXPECT_STREQ(browseSubfolder(kind, "Vendor\\Tool"), "Vendor\\Tool");
  // A complete destination contributes its last folder name only.
  EXPECT_STREQ(browseSubfolder(0, "C:\\Tools\\Acme"), "Acme");
  EXPECT_STREQ(browseSubfolder(11, "C:\\Tools\\Acme\\"), "Acme\\");
  EXPECT_STREQ(browseSubfolder(255, "\\\\server\\share\\Acme"), "Acme");
  EXPECT_STREQ(browseSubfolder(0, "D:Acme"), "Acme");
  EXPECT_STREQ(browseSubfolder(0, "Acme"), "Acme");
  EXPECT_STREQ(browseSubfolder(0, ""), "");
  EXPECT_STREQ(browseSubfolder(0, nullptr), "");
  char out[64];
  composeBrowseResult("D:\\Apps", browseSubfolder(0, "C:\\Tools\\Acme"), out, sizeof out);
  EXPECT_STREQ(out, "D:\\Apps\\Acme");
}

}  // namespace
}  // namespace mw
