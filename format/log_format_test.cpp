#include "format/log_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace mw {
namespace {

TEST(LogFormat, LayoutBehindLogsOfEveryAlignment) {
  const UninstallLayout l = uninstallLayout(4999);  // t = 13087
  EXPECT_EQ(l.manifestAt, 13088u);
  EXPECT_EQ(l.fileSize, 14336u);
  EXPECT_EQ(l.manifestRva, 0x6320u);
  EXPECT_EQ(l.virtualSize, 10151u);
  EXPECT_EQ(l.rawSize, 0x2800u);
  EXPECT_EQ(l.sizeOfImage, 0x7000u);
  EXPECT_EQ(uninstallLayout(5000).manifestAt, 13096u);  // t on a multiple of 8: eight zeros

  for (uint32_t n = 1; n < 5000; ++n) {
    const UninstallLayout x = uninstallLayout(n);
    ASSERT_GT(x.manifestAt, x.logEnd);
    ASSERT_LE(x.manifestAt, x.logEnd + 8);
    ASSERT_EQ(x.manifestAt % 8, 0u);
    ASSERT_EQ(x.fileSize % 512, 0u);
    // The section's file data ends exactly where the file does.
    ASSERT_EQ(kResourceSectionFileOffset + x.rawSize, x.fileSize) << n;
    // The manifest's address is its file offset moved into the resource section.
    ASSERT_EQ(x.manifestRva, x.manifestAt + kResourceRvaDelta);
    ASSERT_GE(x.virtualSize + kResourceSectionFileOffset, x.manifestAt + kManifestSize);
  }
}

TEST(LogFormat, PatchSetsEveryHeaderField) {
  const UninstallLayout l = uninstallLayout(4999);
  std::vector<uint8_t> file(l.fileSize, 0);
  writeU32(&file[kSizeOfImageOffset], kImageSizeOfImage);
  writeU32(&file[kResourceDirSizeOffset], kImageResourceSize);
  writeU32(&file[kResourceVirtualSizeOffset], kImageResourceSize);
  writeU32(&file[kResourceVirtualAddressOffset], kResourceSectionRva);
  writeU32(&file[kResourceRawSizeOffset], kImageResourceRawSize);
  writeU32(&file[kLogEntryOffset], kImageLogRva);
  writeU32(&file[kLogSizeOffset], kImageLogSize);
  writeU32(&file[kManifestEntryOffset], kImageManifestRva);
  writeU32(&file[kManifestSizeOffset], kManifestSize);

  EXPECT_FALSE(patchUninstallHeader(file.data(), l.fileSize - 1, 4999, 1));
  EXPECT_EQ(readU32(&file[kLogSizeOffset]), kImageLogSize);  // untouched
  ASSERT_TRUE(patchUninstallHeader(file.data(), l.fileSize, 4999, 1000000000));
  EXPECT_EQ(readU32(&file[kTimeDateStampOffset]), 1000000000u);
  EXPECT_EQ(readU32(&file[kLogSizeOffset]), 4999u);
  EXPECT_EQ(readU32(&file[kLogEntryOffset]), kImageLogRva);
  EXPECT_EQ(readU32(&file[kManifestEntryOffset]), 0x6320u);
  EXPECT_EQ(readU32(&file[kManifestSizeOffset]), kManifestSize);
  EXPECT_EQ(readU32(&file[kResourceVirtualSizeOffset]), 10151u);
  EXPECT_EQ(readU32(&file[kResourceDirSizeOffset]), 10151u);
  EXPECT_EQ(readU32(&file[kResourceRawSizeOffset]), 0x2800u);
  EXPECT_EQ(readU32(&file[kSizeOfImageOffset]), 0x7000u);
}

TEST(LogFormat, LocalTimeStamp) {
  EXPECT_EQ(localTimeStamp(2001, 9, 9, 1, 46, 40), 1000000000u);
  EXPECT_EQ(localTimeStamp(1970, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(localTimeStamp(2000, 2, 29, 0, 0, 0), 951782400u);
  EXPECT_EQ(localTimeStamp(2000, 3, 1, 0, 0, 0), 951868800u);
  EXPECT_EQ(localTimeStamp(2038, 1, 19, 3, 14, 8), 0x80000000u);
}

TEST(LogFormat, AppenderWritesRecordsWholeOrNotAtAll) {
  uint8_t buf[32];
  LogAppender a(buf, sizeof buf);
  ASSERT_TRUE(a.appendRegistryRecord(kRecordOpened, 0x80000001, "K", "V", true));
  const uint8_t want[] = {'O', 1, 0, 0, 0x80, 'K', 0, 'V', 0};
  ASSERT_EQ(a.length, sizeof want);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + a.length), std::vector<uint8_t>(want, want + sizeof want));
  ASSERT_TRUE(a.appendRegistryRecord(kRecordCreated, 0x80000002, "K", nullptr, true));
  EXPECT_EQ(buf[a.length - 1], kDefaultValueMarker);
  ASSERT_TRUE(a.appendRegistryRecord(kRecordCreated, 0x80000002, "K", "", false));
  EXPECT_EQ(buf[a.length - 1], 0);

  const uint32_t before = a.length;  // 25: room for 7 more
  EXPECT_FALSE(a.appendRegistryRecord(kRecordOpened, 0x80000001, "Key", "V", true));  // 11 bytes
  EXPECT_EQ(a.length, before);
  EXPECT_FALSE(a.appendString("x"));  // once overflowed, nothing more is written
  EXPECT_EQ(a.length, before);
  EXPECT_TRUE(a.overflow);

  uint8_t small[60];
  LogAppender u(small, sizeof small);
  EXPECT_FALSE(u.appendUninstallKeyRecord("Tool"));  // 5 + 52 + 4 + 2 = 63
  EXPECT_EQ(u.length, 0u);
}

}  // namespace
}  // namespace mw
