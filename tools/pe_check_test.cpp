// mw_pe_check against the engine as built and against copies damaged in the ways the build
// check exists to catch.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kStubChecks =
    " --reserve 15856:12 --min-size 15868 --gui --resource 5:1 --resource 14:1 --resource 24:1:1154"
    " --allow-dll kernel32.dll,user32.dll,gdi32.dll,advapi32.dll,shell32.dll,ole32.dll,comctl32.dll ";

std::vector<char> stubBytes() {
  std::ifstream in(MW_STUB, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int check(const std::string& options, const std::vector<char>& image) {
  const fs::path copy = fs::temp_directory_path() / ("pe_check_test_" + std::to_string(::getpid()) + ".exe");
  std::ofstream(copy, std::ios::binary).write(image.data(), std::streamsize(image.size()));
  const std::string command = std::string(MW_PE_CHECK) + options + "'" + copy.string() + "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  fs::remove(copy);
  return status;
}

TEST(PeCheck, AcceptsTheEngineAsBuilt) {
  const std::vector<char> image = stubBytes();
  ASSERT_GT(image.size(), 15868u);
  EXPECT_EQ(check(kStubChecks, image), 0);
}

TEST(PeCheck, RefusesDamagedImages) {
  const std::vector<char> image = stubBytes();
  ASSERT_GT(image.size(), 15868u);

  std::vector<char> used = image;
  used[15860] = 1;  // something of the program's own at the locator's bytes
  EXPECT_NE(check(kStubChecks, used), 0);

  std::vector<char> truncated(image.begin(), image.begin() + long(image.size() - 512));
  EXPECT_NE(check(kStubChecks, truncated), 0) << "the last section runs past the end";

  std::vector<char> noPe = image;
  const uint32_t pe = uint8_t(image[0x3C]) | uint8_t(image[0x3D]) << 8;
  noPe[pe] = 'X';
  EXPECT_NE(check(kStubChecks, noPe), 0);

  std::vector<char> console = image;
  console[pe + 24 + 68] = 3;  // subsystem: console
  EXPECT_NE(check(kStubChecks, console), 0);

  // Options the image does not meet: a DLL list without user32, a manifest of another size, a
  // resource it does not have, a reservation inside the code.
  EXPECT_NE(check(" --allow-dll kernel32.dll ", image), 0);
  EXPECT_NE(check(" --resource 24:1:1000 ", image), 0);
  EXPECT_NE(check(" --resource 3:77 ", image), 0);
  EXPECT_NE(check(" --reserve 1024:12 ", image), 0);
}

}  // namespace
