// The image check against the built image: it accepts the image as built, and it notices each
// field the installer relies on when that field is wrong, and an image that compresses too big.
#include "uninstall/image_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "format/log_format.h"

namespace mw {
namespace {

Bytes readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class ImageCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    image = readFile(std::filesystem::path(MW_DIST_DIR) / "uninstaller.exe");
    ASSERT_EQ(image.size(), kUninstallerImageSize);
  }
  Bytes image;
};

TEST_F(ImageCheck, AcceptsTheBuiltImageAndNoticesEveryFixedField) {
  EXPECT_EQ(checkUninstallerImage(image), std::vector<std::string>{});
  const uint32_t fields[] = {kLfanewOffset,         kPeHeaderOffset,          kTimeDateStampOffset,
                             kSizeOfImageOffset,    kResourceDirRvaOffset,    kResourceDirSizeOffset,
                             kResourceVirtualSizeOffset, kResourceVirtualAddressOffset,
                             kResourceRawSizeOffset, kResourceRawPointerOffset, kLogEntryOffset,
                             kLogSizeOffset,        kManifestEntryOffset,     kManifestSizeOffset,
                             kResourceSectionFileOffset + 0x1C /* RT_RCDATA's id */};
  for (uint32_t at : fields) {
    Bytes bad = image;
    writeU32(&bad[at], readU32(&bad[at]) + 0x10);
    EXPECT_FALSE(checkUninstallerImage(bad).empty()) << std::hex << at;
  }
  Bytes longer = image;
  longer.push_back(0);
  EXPECT_FALSE(checkUninstallerImage(longer).empty());
}

TEST_F(ImageCheck, NoticesAnImageWhoseStoredStreamOverflowsTheBlob) {
  const size_t stored = storedStreamSize(image);
  EXPECT_LE(stored, kUninstallerBlobBody);
  // Noise over the icons and the free room behind them makes the image incompressible.
  Bytes noisy = image;
  std::mt19937 random(5);
  for (uint32_t at = kResourceSectionFileOffset + 0x200; at < kUninstallerImageSize - 0x200; ++at)
    noisy[at] = uint8_t(random());
  bool reported = false;
  for (const std::string& p : checkUninstallerImage(noisy)) reported |= p.find("stored stream") != std::string::npos;
  EXPECT_TRUE(reported);
}

TEST_F(ImageCheck, FinishedFileResolvesTheLogAndTheManifestThroughItsResourceEntries) {
  Bytes manifest(kManifestSize);
  for (size_t i = 0; i < manifest.size(); ++i) manifest[i] = uint8_t('a' + i % 26);
  for (uint32_t n : {1u, 7u, 8u, 4999u, 5000u}) {
    Bytes log(n);
    for (uint32_t i = 0; i < n; ++i) log[i] = uint8_t(i * 7 + 1);
    const Bytes file = makeUninstallFile(image, log, manifest, 1000000000);
    const UninstallLayout l = uninstallLayout(n);
    ASSERT_EQ(file.size(), l.fileSize);
    // As the loader sees it: the section maps file offset x to x + 0x3000.
    const uint32_t logAt = readU32(&file[kLogEntryOffset]) - kResourceRvaDelta;
    EXPECT_EQ(Bytes(file.begin() + logAt, file.begin() + logAt + readU32(&file[kLogSizeOffset])), log);
    EXPECT_EQ(file[logAt + n], 0) << "the log is followed by its final zero";
    const uint32_t manAt = readU32(&file[kManifestEntryOffset]) - kResourceRvaDelta;
    EXPECT_EQ(Bytes(file.begin() + manAt, file.begin() + manAt + readU32(&file[kManifestSizeOffset])), manifest);
    // The section's raw data covers the file exactly; its size in memory covers the manifest.
    EXPECT_EQ(kResourceSectionFileOffset + readU32(&file[kResourceRawSizeOffset]), file.size());
    EXPECT_GE(kResourceSectionRva + readU32(&file[kResourceVirtualSizeOffset]),
              readU32(&file[kManifestEntryOffset]) + kManifestSize);
    EXPECT_EQ(readU32(&file[kSizeOfImageOffset]) % kSectionAlignment, 0u);
    EXPECT_GE(readU32(&file[kSizeOfImageOffset]), kResourceSectionRva + readU32(&file[kResourceVirtualSizeOffset]));
  }
}

}  // namespace
}  // namespace mw
