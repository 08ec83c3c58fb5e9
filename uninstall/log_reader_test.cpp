#include "uninstall/log_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "format/log_format.h"

namespace mw {
namespace {

using Bytes = std::vector<uint8_t>;

// A log as the installer writes it, built with the shared appender.
Bytes sampleLog() {
  Bytes buf(1024);
  LogAppender a(buf.data(), uint32_t(buf.size()));
  a.appendString("Tool");
  a.appendString("C:\\Apps\\Tool");
  a.appendString("tool.exe");
  a.appendString("Help\\Tool.HLP");
  a.appendListEnd();
  a.appendString("Vendor\\Tool");
  a.appendString("C:\\Desktop\\Tool.lnk");
  a.appendListEnd();
  a.appendRegistryRecord(kRecordOpened, 0x80000001, "Software\\Vendor", "Path", true);
  a.appendRegistryRecord(kRecordCreated, 0x80000002, "Software\\Vendor\\Tool", nullptr, true);
  a.appendUninstallKeyRecord("Tool");
  EXPECT_FALSE(a.overflow);
  buf.resize(a.length);
  return buf;
}

// Reads from a heap block of exactly the log's size, so the sanitizer run sees any read past it.
struct Exact {
  explicit Exact(const Bytes& b) : size(uint32_t(b.size())), data(new uint8_t[b.size() ? b.size() : 1]) {
    if (size) std::memcpy(data.get(), b.data(), size);
  }
  bool read(UninstallLog* log) { return readUninstallLog(size ? data.get() : nullptr, size, log); }
  uint32_t size;
  std::unique_ptr<uint8_t[]> data;
};

std::vector<std::string> list(char* first) {
  std::vector<std::string> out;
  for (char* s = first; *s; s = nextEntry(s)) out.push_back(s);
  return out;
}

TEST(LogReader, ReadsEveryPartOfACompleteLog) {
  Bytes log = sampleLog();
  Exact e(log);
  UninstallLog l;
  ASSERT_TRUE(e.read(&l));
  EXPECT_STREQ(l.productName, "Tool");
  EXPECT_STREQ(l.installDir, "C:\\Apps\\Tool");
  EXPECT_EQ(list(l.files), (std::vector<std::string>{"tool.exe", "Help\\Tool.HLP"}));
  EXPECT_STREQ(l.programGroup, "Vendor\\Tool");
  EXPECT_EQ(list(l.shortcuts), (std::vector<std::string>{"C:\\Desktop\\Tool.lnk"}));

  uint8_t* cursor = l.records;
  RegistryRecord r;
  ASSERT_TRUE(nextRegistryRecord(&cursor, l.end, &r));
  EXPECT_EQ(r.kind, kRecordOpened);
  EXPECT_EQ(r.root, 0x80000001u);
  EXPECT_STREQ(r.subkey, "Software\\Vendor");
  EXPECT_STREQ(r.valueName, "Path");
  ASSERT_TRUE(nextRegistryRecord(&cursor, l.end, &r));
  EXPECT_EQ(r.kind, kRecordCreated);
  EXPECT_EQ(r.valueName, nullptr);  // 0xFF marker
  ASSERT_TRUE(nextRegistryRecord(&cursor, l.end, &r));
  EXPECT_EQ(r.root, kRootLocalMachine);
  EXPECT_STREQ(r.subkey, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool");
  EXPECT_EQ(r.valueName, nullptr);  // empty name
  EXPECT_FALSE(nextRegistryRecord(&cursor, l.end, &r));
  EXPECT_EQ(cursor, l.end);
}

TEST(LogReader, RecordsEndAtAZeroKindByteOrAtTheEndOfTheData) {
  // The smallest installation: nothing but the two strings, empty lists and the uninstall key.
  Bytes buf(256);
  LogAppender a(buf.data(), 256);
  a.appendString("P");
  a.appendString("C:\\P");
  a.appendListEnd();
  a.appendString("");
  a.appendListEnd();
  a.appendUninstallKeyRecord("P");
  buf.resize(a.length);
  UninstallLog l;
  Exact atEnd(buf);
  ASSERT_TRUE(atEnd.read(&l));
  EXPECT_EQ(*l.files, 0);
  EXPECT_EQ(*l.programGroup, 0);
  EXPECT_EQ(*l.shortcuts, 0);

  // With the writer's trailing 0 counted in (as a size one too large would have it), the
  // records stop there and the rest is never looked at.
  buf.push_back(0);
  buf.push_back('X');
  Exact withZero(buf);
  ASSERT_TRUE(withZero.read(&l));
  uint8_t* cursor = l.records;
  RegistryRecord r;
  int n = 0;
  while (nextRegistryRecord(&cursor, l.end, &r)) ++n;
  EXPECT_EQ(n, 1);
}

TEST(LogReader, RefusesEveryLogCutShortAndNeverReadsPastItsSize) {
  const Bytes log = sampleLog();
  // Record boundaries: cutting exactly there is a complete (shorter) list of records.
  UninstallLog whole;
  Bytes copy = log;
  ASSERT_TRUE(readUninstallLog(copy.data(), uint32_t(copy.size()), &whole));
  std::vector<size_t> boundaries{size_t(whole.records - copy.data())};
  uint8_t* cursor = whole.records;
  RegistryRecord r;
  while (nextRegistryRecord(&cursor, whole.end, &r)) boundaries.push_back(size_t(cursor - copy.data()));

  for (size_t n = 0; n < log.size(); ++n) {
    Exact e(Bytes(log.begin(), log.begin() + long(n)));
    UninstallLog l;
    const bool atBoundary = std::find(boundaries.begin(), boundaries.end(), n) != boundaries.end();
    EXPECT_EQ(e.read(&l), atBoundary) << "cut at " << n;
  }
}

TEST(LogReader, RefusesUnknownKindsAndRoots) {
  const Bytes log = sampleLog();
  UninstallLog l;
  Bytes copy = log;
  ASSERT_TRUE(readUninstallLog(copy.data(), uint32_t(copy.size()), &l));
  const size_t first = size_t(l.records - copy.data());

  Bytes badKind = log;
  badKind[first] = 'X';
  EXPECT_FALSE(readUninstallLog(badKind.data(), uint32_t(badKind.size()), &l));

  for (uint32_t root : {0x7FFFFFFFu, 0x80000007u, 0u, 0x10u}) {
    Bytes badRoot = log;
    writeU32(&badRoot[first + 1], root);
    EXPECT_FALSE(readUninstallLog(badRoot.data(), uint32_t(badRoot.size()), &l)) << root;
  }
  EXPECT_FALSE(readUninstallLog(nullptr, 10, &l));
}

}  // namespace
}  // namespace mw
