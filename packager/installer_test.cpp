#include "packager/installer_reader.h"

#include <signal.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

  // A record that points nowhere cannot be told from no record at all.
  std::vector<uint8_t> record = *good_;
  writeU32(&record[kLocatorOffset + 4], 0xFFFFFF00u);  // scriptOffset far outside the file
  v = verify(variant(record));
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.text.find("not an installer: no locator record"), std::string::npos) << v.text;
  EXPECT_EQ(v.text.find("damaged:"), std::string::npos) << v.text;

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
  test::writeBytes(d / "p/big.bin", test::patternBytes(1048576 + 777, 3));
  test::writeFile(d / "project.toml",
                  "[product]\nname = \"Caf\xC3\xA9\"\n[destination]\nkind = \"absolute\"\npath = \"C:\\\\Tools\"\n"
                  "[[files]]\nsource = \"p\"\n[[shortcuts]]\nplace = \"desktop\"\ntarget = \"a.txt\"\n"
                  "[[registry]]\nroot = \"HKCU\"\nkey = \"Software\\\\Caf\xC3\xA9\"\nname = \"N\"\nvalue = \"v\"\n");
  test::RunResult b = test::runMarlowick({"build", (d / "project.toml").string(), "-o", (d / "s.exe").string(), "--stub",
                                          test::standInStub(d).string(), "--uninstaller", test::standInUninstaller(d).string()});
  ASSERT_EQ(b.exitCode, 0) << b.out;
  test::RunResult j = test::runMarlowick({"list", "--json", (d / "s.exe").string()});
  EXPECT_EQ(j.exitCode, 0);
  for (const char* expected : {"\"format\": 1", "\"product\": {\"name\": \"Caf\xC3\xA9\"", "\"kind\": \"absolute\"",
                               "{\"place\": \"desktop\", \"target\": \"a.txt\"}", "\"type\": \"string\"",
                               "\"fileData\": \"ok\""})
    EXPECT_NE(j.out.find(expected), std::string::npos) << expected << "\n" << j.out;
  // The unpacked sizes, read by decoding: 1 byte and two chunks' worth.
  EXPECT_NE(j.out.find("{\"name\": \"a.txt\", \"dataOffset\": "), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("\"size\": 1, \"intact\": true"), std::string::npos) << j.out;
  EXPECT_NE(j.out.find("\"size\": 1049353, \"intact\": true"), std::string::npos) << j.out;
  test::RunResult t = test::runMarlowick({"list", (d / "s.exe").string()});
  EXPECT_NE(t.out.find("HKEY_CURRENT_USER\\Software\\Caf\xC3\xA9  \"N\"  string  \"v\""), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("1049353  big.bin"), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("file data:       every file decoded, checksums ok"), std::string::npos) << t.out;

  // Damaged file data: list says so instead of "intact", and names the file.
  std::vector<uint8_t> bytes = test::readBytes(d / "s.exe");
  Installer inst(d / "s.exe");
  bytes[inst.script()->files.at(1).dataOffset + 300] ^= 0x10;
  test::writeBytes(d / "damaged.exe", bytes);
  t = test::runMarlowick({"list", (d / "damaged.exe").string()});
  EXPECT_NE(t.out.find("payload:         checksum ok"), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("file data:       1 of 2 files DAMAGED (run verify)"), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("DAMAGED  big.bin"), std::string::npos) << t.out;
  j = test::runMarlowick({"list", "--json", (d / "damaged.exe").string()});
  EXPECT_NE(j.out.find("\"fileData\": \"damaged\""), std::string::npos) << j.out;
}

// Every way of calling marlowick wrongly: one "marlowick: error:" line, exit 2, and nothing
// written anywhere.
TEST(Cli, MistakesAreOneLineAndExit2) {
  ScratchDir d;
  test::writeBytes(d / "p/a.txt", {'a'});
  test::writeFile(d / "project.toml",
                  "[product]\nname = \"C\"\n[destination]\nkind = \"program-files\"\npath = \"C\"\n[[files]]\nsource = \"p\"\n");
  const std::string stub = test::standInStub(d).string(), un = test::standInUninstaller(d).string();
  ASSERT_EQ(test::runMarlowick({"build", (d / "project.toml").string(), "-o", (d / "setup.exe").string(), "--stub", stub,
                                "--uninstaller", un}).exitCode, 0);
  fs::create_directories(d / "folder");
  auto before = test::treeContents(d.path());
  const std::string project = (d / "project.toml").string(), setup = (d / "setup.exe").string();
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"build", project, "-o", "/dev/null", "--stub", stub, "--uninstaller", un}, 2, "not a regular file"},
      {{"build", project, "-o", "-", "--stub", stub, "--uninstaller", un}, 2, "standard output"},
      {{"build", project, "-o", (d / "folder").string(), "--stub", stub, "--uninstaller", un}, 2, "is a folder"},
      {{"build", (d / "folder").string()}, 2, "the project file '" + (d / "folder").string() + "' is a folder"},
      {{"verify", (d / "folder").string()}, 2, "is a folder"},
      {{"list", (d / "folder").string()}, 2, "is a folder"},
      {{"list", (d / "missing.exe").string()}, 2, "does not exist"},
      {{"extract", setup, "-o", project}, 2, "is not a folder"},
      {{"sign", (d / "folder").string(), "--pkcs12", project}, 2, "is a folder"},
      {{"try", (d / "folder").string()}, 2, "is a folder"},
      {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
      {{}, 2, "A subcommand is required"},
      {{"verify"}, 2, "installer is required"},
      {{"list", setup, "--bogus"}, 2, "--bogus"},
      {{"list", setup, "--codepage", "many"}, 2, "many"},
      {{"try"}, 2, "no installer given"},
      {{"try", setup, "--timeout", "soon"}, 2, "--timeout"},
      {{"try", setup, "-D", "V=1"}, 2, "-D applies to a project"},
      {{"try", project, "-D", "1V=1"}, 2, "-D 1V=1: give NAME=VALUE"},
      {{"try", project, "-D"}, 2, "-D needs NAME=VALUE"},
  };
  for (const Case& c : cases) {
    test::RunResult r = test::runMarlowick(c.args);
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    EXPECT_EQ(r.exitCode, c.code) << shown << "\n" << r.out;
    EXPECT_EQ(r.out.rfind("marlowick: error: ", 0), 0u) << shown << "\n" << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << shown << "\n" << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << shown << "\n" << r.out;
  }
  EXPECT_EQ(test::treeContents(d.path()), before);
  EXPECT_EQ(fs::status("/dev/null").type(), fs::file_type::character);

  for (const char* help : {"--help", "--version"}) EXPECT_EQ(test::runMarlowick({help}).exitCode, 0) << help;
  for (const char* command : {"build", "list", "verify", "extract", "sign", "try"}) {
    test::RunResult r = test::runMarlowick({command, "--help"});
    EXPECT_EQ(r.exitCode, 0) << command << "\n" << r.out;
    EXPECT_NE(r.out.find("sage"), std::string::npos) << command << "\n" << r.out;
  }
  // A missing output folder is made.
  test::RunResult made = test::runMarlowick({"build", project, "-o", (d / "new/deeper/setup.exe").string(), "--stub", stub,
                                             "--uninstaller", un});
  EXPECT_EQ(made.exitCode, 0) << made.out;
  EXPECT_TRUE(fs::is_regular_file(d / "new/deeper/setup.exe"));
}

// The real engine: its PE checksum is written last and covers every byte, so a flipped byte
// of the engine's code is caught even though the payload is intact.
TEST(Engine, AFlippedStubByteIsCaught) {
  const fs::path dist = MARLOWICK_PRODUCTS_DIST;
  if (!fs::exists(dist / "stub.exe")) GTEST_SKIP() << "no stub.exe in " << dist;
  ScratchDir d;
  const fs::path setup = d / "setup.exe";
  test::RunResult b = test::runMarlowick({"build", MARLOWICK_SOURCE_DIR "/examples/sample/project.toml", "-o", setup.string(),
                                          "--stub", (dist / "stub.exe").string(), "--uninstaller",
                                          (dist / "uninstaller.exe").string()});
  ASSERT_EQ(b.exitCode, 0) << b.out;
  test::RunResult v = test::runMarlowick({"verify", setup.string()});
  EXPECT_EQ(v.exitCode, 0) << v.out;
  EXPECT_NE(v.out.find("matches the file's bytes"), std::string::npos) << v.out;

  std::vector<uint8_t> bytes = test::readBytes(setup);
  const uint32_t peAt = readU32(&bytes[0x3C]);
  const uint32_t codeAt = readU32(&bytes[peAt + 24 + 224 + 20]);  // the first section's file data
  bytes[codeAt + 40] ^= 0x01;
  test::writeBytes(d / "flipped.exe", bytes);
  v = test::runMarlowick({"verify", (d / "flipped.exe").string()});
  EXPECT_EQ(v.exitCode, 1) << v.out;
  EXPECT_NE(v.out.find("the engine's own bytes are damaged"), std::string::npos) << v.out;

  test::writeBytes(d / "random.bin", test::patternBytes(40000, 9, false));
  for (const fs::path& p : {d / "random.bin", dist / "stub.exe"}) {
    v = test::runMarlowick({"verify", p.string()});
    EXPECT_EQ(v.exitCode, 1) << v.out;
    EXPECT_NE(v.out.find(": not an installer: "), std::string::npos) << v.out;
    EXPECT_EQ(std::count(v.out.begin(), v.out.end(), '\n'), 1) << v.out;
  }
}

// Signing with a certificate made here: a signed installer reads as intact and signed (the
// certificate is reported untrusted, which it is), and damage to the signature or the engine is
// caught. Needs osslsigncode and openssl.
TEST(Signing, SignedInstallersReadIntactAndDamageIsCaught) {
  if (std::system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
    GTEST_SKIP() << "osslsigncode or openssl missing";
  // osslsigncode signs only real PE files: the engine's stub, not a stand-in.
  const fs::path dist = MARLOWICK_PRODUCTS_DIST;
  if (!fs::exists(dist / "stub.exe")) GTEST_SKIP() << "no stub.exe in " << dist;
  ScratchDir d;
  const std::string dir = d.path().string();
  ASSERT_EQ(std::system(("cd '" + dir + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                         "-days 7 -subj /CN=Marlowick-test 2>/dev/null && openssl pkcs12 -export -in cert.pem "
                         "-inkey key.pem -out cert.p12 -passout pass:s3cret")
                            .c_str()),
            0);
  test::writeBytes(d / "p/a.bin", test::patternBytes(70000, 4));
  const std::string base =
      "[product]\nname = \"Signed\"\n[destination]\nkind = \"program-files\"\npath = \"S\"\n[[files]]\nsource = \"p\"\n";
  test::writeFile(d / "project.toml", base + "[signing]\ncertificate = \"cert.pem\"\nkey = \"key.pem\"\n");
  const std::string stub = (dist / "stub.exe").string(), un = (dist / "uninstaller.exe").string();
  const fs::path setup = d / "out/setup.exe";
  test::RunResult r = test::runMarlowick({"build", (d / "project.toml").string(), "-o", setup.string(), "--stub", stub,
                                          "--uninstaller", un});
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find(", signed"), std::string::npos) << r.out;
  EXPECT_EQ(test::treeContents(d / "out").size(), 1u) << "only the signed installer is left";

  r = test::runMarlowick({"verify", setup.string()});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find(": intact ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("signature: matches the installer's bytes; its certificate is NOT trusted"), std::string::npos)
      << r.out;
  r = test::runMarlowick({"list", setup.string()});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("signature:       present ("), std::string::npos) << r.out;
  r = test::runMarlowick({"extract", setup.string(), "-o", (d / "x").string()});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(test::readBytes(d / "x/a.bin"), test::readBytes(d / "p/a.bin"));

  // Signed again later, from a PKCS#12 file whose password only the environment holds.
  ::setenv("MW_TEST_P12_PASSWORD", "s3cret", 1);
  r = test::runMarlowick({"sign", setup.string(), "-o", (d / "resigned.exe").string(), "--pkcs12",
                          (d / "cert.p12").string(), "--password-env", "MW_TEST_P12_PASSWORD"});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(test::runMarlowick({"verify", (d / "resigned.exe").string()}).exitCode, 0);

  // A byte of the signature's value, near its end, and a byte of the file data it covers.
  std::vector<uint8_t> bytes = test::readBytes(setup);
  std::vector<uint8_t> broken = bytes;
  broken[broken.size() - 60] ^= 0x55;
  test::writeBytes(d / "badsig.exe", broken);
  r = test::runMarlowick({"verify", (d / "badsig.exe").string()});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("damaged: signature: DOES NOT MATCH"), std::string::npos) << r.out;
  broken = bytes;
  broken[readU32(&broken[readU32(&broken[0x3C]) + 24 + 224 + 20]) + 40] ^= 0x01;  // the engine's code
  test::writeBytes(d / "badstub.exe", broken);
  r = test::runMarlowick({"verify", (d / "badstub.exe").string()});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("another digest than the signature holds"), std::string::npos) << r.out;

  // A password variable that is not set: refused, nothing written.
  ::unsetenv("MW_TEST_UNSET_PASSWORD");
  test::writeFile(d / "p12.toml", base + "[signing]\npkcs12 = \"cert.p12\"\npassword-env = \"MW_TEST_UNSET_PASSWORD\"\n");
  r = test::runMarlowick({"build", (d / "p12.toml").string(), "-o", (d / "none/setup.exe").string(), "--stub", stub,
                          "--uninstaller", un});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("MW_TEST_UNSET_PASSWORD"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(d / "none"));
  // Both ways at once, or a password in the file, are project errors with a position.
  test::writeFile(d / "both.toml", base + "[signing]\npkcs12 = \"cert.p12\"\ncertificate = \"cert.pem\"\npassword = \"x\"\n");
  r = test::runMarlowick({"build", (d / "both.toml").string(), "-o", (d / "both.exe").string(), "--stub", stub,
                          "--uninstaller", un});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("both.toml:11:1: error: unknown key 'password' in [signing]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("needs either 'certificate' and 'key', or 'pkcs12'"), std::string::npos) << r.out;
}

// SIGTERM while the signer runs (a stand-in that waits) ends the signer and leaves nothing
// beside the destination: neither the unsigned build nor the signer's temporary file.
TEST(Signing, AnInterruptWhileSigningLeavesNothingBehind) {
  const fs::path dist = MARLOWICK_PRODUCTS_DIST;
  if (!fs::exists(dist / "stub.exe")) GTEST_SKIP() << "no stub.exe in " << dist;
  ScratchDir d;
  const std::string dir = d.path().string();
  test::writeFile(d / "cert.pem", "not read by the stand-in\n");
  test::writeFile(d / "key.pem", "not read by the stand-in\n");
  test::writeFile(d / "bin/osslsigncode", "#!/bin/sh\necho $$ > '" + dir + "/signer.pid'\nexec sleep 60\n");
  fs::permissions(d / "bin/osslsigncode", fs::perms::owner_all);
  test::writeBytes(d / "p/a.bin", test::patternBytes(70000, 5));
  test::writeFile(d / "project.toml",
                  "[product]\nname = \"Signed\"\n[destination]\nkind = \"program-files\"\npath = \"S\"\n"
                  "[[files]]\nsource = \"p\"\n[signing]\ncertificate = \"cert.pem\"\nkey = \"key.pem\"\n");
  const std::string command =
      "cd '" + dir + "' || exit 1; PATH='" + dir + "/bin':$PATH '" MARLOWICK_BINARY "' build project.toml -o out/setup.exe"
      " --stub '" + (dist / "stub.exe").string() + "' --uninstaller '" + (dist / "uninstaller.exe").string() +
      "' > log 2>&1 & pid=$!; i=0; while [ ! -s signer.pid ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done;"
      " kill -TERM $pid; wait $pid; echo $? > code";
  auto text = [](const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_TRUE(fs::exists(d / "signer.pid")) << "the signer never started";
  EXPECT_EQ(text(d / "code"), "143\n") << text(d / "log");
  EXPECT_TRUE(test::treeContents(d / "out").empty()) << "left: " << test::treeContents(d / "out").begin()->first;
  const pid_t signer = pid_t(std::stol(text(d / "signer.pid")));
  EXPECT_NE(::kill(signer, 0), 0) << "the signer still runs";
}

}  // namespace
}  // namespace mw::packager
