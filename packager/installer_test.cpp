#include "packager/installer_reader.h"

#include <gtest/gtest.h>

#include <sstream>

#include "core/bytes.h"
#include "packager/builder.h"
#include "packager/commands.h"
#include "packager/test_support.h"

namespace fs = std::filesystem;

namespace mw::packager {
namespace {

using test::ScratchDir;

// One good installer, built once, that the tests damage in copies.
class Damaged : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    ScratchDir& d = *dir_;
    test::writeBytes(d / "payload/a.bin", test::patternBytes(1048576 + 5000, 1));  // two chunks
    test::writeBytes(d / "payload/b.txt", test::patternBytes(3000, 2));
    test::writeBytes(d / "payload/empty", {});
    test::writeFile(d / "project.toml",
                    "[product]\nname = \"Damage\"\n[destination]\nkind = \"program-files\"\npath = \"D\"\n"
                    "[[files]]\nsource = \"payload\"\n[after-install]\nrun = \"a.bin\"\n");
    Diagnostics diag;
    Project project = loadProject(d / "project.toml", diag);
    ASSERT_FALSE(diag.failed());
    buildInstaller(project, {test::standInStub(d), test::standInUninstaller(d), d / "good.exe", 2, false});
    good_ = new std::vector<uint8_t>(test::readBytes(d / "good.exe"));
  }
  static void TearDownTestSuite() {
    delete good_;
    delete dir_;
  }

  // Writes a damaged copy and returns its path.
  fs::path variant(const std::vector<uint8_t>& bytes) {
    fs::path p = *dir_ / ("v" + std::to_string(counter_++) + ".exe");
    test::writeBytes(p, bytes);
    return p;
  }
  struct Verdict {
    int code;
    std::string text;
  };
  Verdict verify(const fs::path& p) {
    std::ostringstream out, err;
    int code = runVerify(p, out, err);
    return {code, out.str() + err.str()};
  }
  LocatorRecord record() const { return parseLocator(good_->data() + kLocatorOffset); }
  uint32_t firstChunk() const {
    Installer inst(*dir_ / "good.exe");
    return inst.script()->files.at(0).dataOffset;
  }

  static ScratchDir* dir_;
  static std::vector<uint8_t>* good_;
  int counter_ = 0;
};
ScratchDir* Damaged::dir_ = nullptr;
std::vector<uint8_t>* Damaged::good_ = nullptr;

TEST_F(Damaged, VerdictsNameWhatIsDamaged) {
  EXPECT_EQ(verify(*dir_ / "good.exe").code, 0);

  LocatorRecord r = record();
  std::vector<uint8_t> script = *good_;
  script[r.scriptOffset + r.scriptLength / 2] ^= 0x40;
  Verdict v = verify(variant(script));
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.text.find("payload checksum mismatch"), std::string::npos) << v.text;

  std::vector<uint8_t> blob = *good_;
  blob[blob.size() - 100] ^= 0x01;
  v = verify(variant(blob));
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.text.find("payload checksum mismatch"), std::string::npos) << v.text;

  // File data has its own checksum: the payload stays intact and the file is named.
  std::vector<uint8_t> data = *good_;
  data[firstChunk() + 500] ^= 0x80;
  v = verify(variant(data));
  EXPECT_EQ(v.code, 1);
  EXPECT_EQ(v.text.find("payload checksum"), std::string::npos) << v.text;
  EXPECT_NE(v.text.find("file 'a.bin': checksum mismatch"), std::string::npos) << v.text;

  std::vector<uint8_t> truncated(good_->begin(), good_->end() - 1);
  v = verify(variant(truncated));
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.text.find("truncated"), std::string::npos) << v.text;

  std::vector<uint8_t> appended = *good_;
  appended.insert(appended.end(), {1, 2, 3});
  v = verify(variant(appended));
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.text.find("3 bytes follow the uninstaller blob"), std::string::npos) << v.text;

  std::vector<uint8_t> record = *good_;
  writeU32(&record[kLocatorOffset + 4], 0xFFFFFF00u);  // scriptOffset far outside the file
  v = verify(variant(record));
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.text.find("does not point at a setup script"), std::string::npos) << v.text;

  v = verify(variant(std::vector<uint8_t>(good_->begin(), good_->begin() + 15000)));
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.text.find("too short"), std::string::npos) << v.text;
}

// Damage anywhere must never make list, verify or extract crash or read out of bounds (run
// under the address sanitizer too); a damaged file must never be extracted as if whole.
TEST_F(Damaged, ListAndExtractSurviveAnyDamage) {
  LocatorRecord r = record();
  std::vector<size_t> places = {0, 2, kLocatorOffset, kLocatorOffset + 5, kLocatorOffset + 9, firstChunk(),
                                firstChunk() + 2, firstChunk() + 4, firstChunk() + 77, r.scriptOffset, r.scriptOffset + 3,
                                r.scriptOffset + 4, r.scriptOffset + 9, good_->size() - kBlobSize, good_->size() - 1};
  for (size_t i = 0; i < 12; ++i) places.push_back((i * 7919 + 13) % good_->size());
  int n = 0;
  for (size_t at : places) {
    for (uint8_t mask : {uint8_t(0x01), uint8_t(0xFF)}) {
      std::vector<uint8_t> bytes = *good_;
      bytes[at] ^= mask;
      fs::path p = variant(bytes);
      std::ostringstream out, err;
      runList(p, false, 1252, out, err);
      runList(p, true, 1252, out, err);
      int verdict = runVerify(p, out, err);
      fs::path target = *dir_ / std::string("x").append(std::to_string(n++));
      int extracted = runExtract(p, target, 1252, out, err);
      // Whatever was extracted is byte-identical to the source.
      if (fs::exists(target)) {
        for (auto& [name, content] : test::treeContents(target)) {
          std::vector<uint8_t> expected = test::readBytes(*dir_ / ("payload/" + name));
          EXPECT_EQ(content, expected) << "damage at " << at << " gave a wrong " << name;
        }
      }
      if (verdict == 0) {
        EXPECT_EQ(extracted, 0) << "damage at " << at;
      }
      fs::remove_all(target);
      fs::remove(p);
    }
  }
  // Every truncation length along the payload.
  for (size_t len = good_->size(); len > 15000; len -= 997) {
    fs::path p = variant(std::vector<uint8_t>(good_->begin(), good_->begin() + long(len - 1)));
    std::ostringstream out, err;
    runList(p, true, 1252, out, err);
    EXPECT_EQ(runVerify(p, out, err), 1) << len - 1;
    fs::remove(p);
  }
}

TEST(Extract, RefusesNamesOutsideTheFolder) {
  ScratchDir d;
  test::writeBytes(d / "in.bin", {1, 2, 3});
  // The project reader refuses such names, so the project is assembled by hand.
  Project p;
  for (const char* name : {"..\\evil.txt", "C:\\evil.txt", "\\evil.txt", "ok\\good.txt"}) {
    p.script.files.push_back({name});
    p.sources.push_back({d / "in.bin", 3, {}});
  }
  p.script.productName = "X";
  buildInstaller(p, {test::standInStub(d), test::standInUninstaller(d), d / "setup.exe", 1, false});
  std::ostringstream out, err;
  EXPECT_EQ(runExtract(d / "setup.exe", d / "out" / "inner", 1252, out, err), 1);
  EXPECT_EQ(test::treeContents(d / "out"), (decltype(test::treeContents(d / "out"))({{"inner/ok/good.txt", {1, 2, 3}}})));
  EXPECT_NE(err.str().find("refused '..\\evil.txt'"), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(d / "evil.txt"));
  EXPECT_FALSE(fs::exists(d / "out" / "evil.txt"));
}

TEST(List, JsonAndTextShowTheScript) {
  ScratchDir d;
  test::writeBytes(d / "p/a.txt", {'a'});
  test::writeFile(d / "project.toml",
                  "[product]\nname = \"Caf\xC3\xA9\"\n[destination]\nkind = \"absolute\"\npath = \"C:\\\\Tools\"\n"
                  "[[files]]\nsource = \"p\"\n[[registry]]\nroot = \"HKCU\"\nkey = \"Software\\\\Caf\xC3\xA9\"\nname = \"N\"\nvalue = \"v\"\n");
  test::RunResult b = test::runMarlowick({"build", (d / "project.toml").string(), "-o", (d / "s.exe").string(), "--stub",
                                          test::standInStub(d).string(), "--uninstaller", test::standInUninstaller(d).string()});
  ASSERT_EQ(b.exitCode, 0) << b.out;
  test::RunResult j = test::runMarlowick({"list", "--json", (d / "s.exe").string()});
  EXPECT_EQ(j.exitCode, 0);
  EXPECT_NE(j.out.find("\"productName\": \"Caf\xC3\xA9\""), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("\"destinationKindName\": \"absolute\""), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("\"name\": \"a.txt\""), std::string::npos) << j.out;
  test::RunResult t = test::runMarlowick({"list", (d / "s.exe").string()});
  EXPECT_NE(t.out.find("HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9  \"N\"  string  \"v\""), std::string::npos) << t.out;
}

}  // namespace
}  // namespace mw::packager
