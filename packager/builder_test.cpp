#include "packager/builder.h"

#include <gtest/gtest.h>

#include "core/bytes.h"
#include "packager/installer_reader.h"
#include "packager/script_writer.h"
#include "packager/test_support.h"
#include "format/payload.h"

namespace fs = std::filesystem;

namespace mw::packager {
namespace {

using test::ScratchDir;

// A project folder with a payload tree, built with the real program.
struct Product {
  ScratchDir dir;
  fs::path stub = test::standInStub(dir);
  fs::path uninstaller = test::standInUninstaller(dir);

  void file(const std::string& relative, const std::vector<uint8_t>& bytes) { test::writeBytes(dir / ("payload/" + relative), bytes); }

  fs::path project(const std::string& extra = "") {
    fs::path p = dir / "project.toml";
    test::writeFile(p, "[product]\nname = \"Round Trip\"\n[destination]\nkind = \"program-files\"\npath = \"RT\"\n"
                       "[[files]]\nsource = \"payload\"\n" + extra);
    return p;
  }

  test::RunResult build(const fs::path& out, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"build", project().string(), "-o", out.string(), "--stub", stub.string(),
                                     "--uninstaller", uninstaller.string()};
    args.insert(args.end(), more.begin(), more.end());
    return test::runMarlowick(args);
  }

  // Builds, then extracts with the program and compares with the payload.
  void roundTrip(const std::vector<std::string>& more = {}) {
    fs::path out = dir / "setup.exe";
    test::RunResult b = build(out, more);
    ASSERT_EQ(b.exitCode, 0) << b.out;
    test::RunResult v = test::runMarlowick({"verify", out.string()});
    EXPECT_EQ(v.exitCode, 0) << v.out;
    test::RunResult e = test::runMarlowick({"extract", out.string(), "-o", (dir / "out").string()});
    ASSERT_EQ(e.exitCode, 0) << e.out;
    EXPECT_EQ(test::treeContents(dir / "out"), test::treeContents(dir / "payload"));
  }
};

TEST(RoundTrip, SmallProjectWithEmptyFile) {
  Product p;
  p.file("bin/tool.exe", test::patternBytes(5000, 1));
  p.file("docs/readme.txt", {'h', 'i', '\n'});
  p.file("empty.dat", {});
  p.roundTrip();
}

TEST(RoundTrip, OnlyAnEmptyFile) {
  Product p;
  p.file("nothing.txt", {});
  p.roundTrip();
  Installer inst(p.dir / "setup.exe");
  ASSERT_TRUE(inst.script());
  EXPECT_EQ(inst.script()->files.at(0).dataOffset, 0u);
}

TEST(RoundTrip, MultiChunkFile) {
  Product p;
  // Just over 3 MiB: four chunks, the last one short; noise makes bodies of real size.
  p.file("big.bin", test::patternBytes(3 * 1048576 + 12345, 7, false));
  p.file("big2.bin", test::patternBytes(3 * 1048576, 8, true));
  p.roundTrip();
  Installer inst(p.dir / "setup.exe");
  ASSERT_TRUE(inst.script());
  EXPECT_EQ(inst.script()->files.at(0).chunkCount, 4);
  EXPECT_EQ(inst.script()->files.at(1).chunkCount, 3);
}

TEST(RoundTrip, ManyFiles) {
  Product p;
  for (int i = 0; i < 300; ++i)
    p.file(std::string("d").append(std::to_string(i % 7)).append("/f").append(std::to_string(i)).append(".txt"),
           test::patternBytes(size_t(i * 37 % 2000), uint32_t(i)));
  p.roundTrip({"-j", "2"});
}

TEST(Build, IdenticalContentsAreStoredOnce) {
  Product p;
  std::vector<uint8_t> same = test::patternBytes(200000, 3, false);
  p.file("a/one.bin", same);
  p.file("b/two.bin", same);
  std::vector<uint8_t> nearly = same;
  nearly.back() ^= 1;  // same size, same start: must not be merged
  p.file("c/three.bin", nearly);
  p.roundTrip();
  Installer inst(p.dir / "setup.exe");
  const auto& files = inst.script()->files;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].dataOffset, files[1].dataOffset);
  EXPECT_EQ(files[0].checksum, files[1].checksum);
  EXPECT_NE(files[0].dataOffset, files[2].dataOffset);
  // Noise does not compress: two copies stored would make the installer at least 400 KB.
  EXPECT_LT(fs::file_size(p.dir / "setup.exe"), 16384u + 2 * 200000 + 8000);
}

TEST(Build, ReproducibleAcrossThreadCounts) {
  Product p;
  for (int i = 0; i < 5; ++i) p.file("f" + std::to_string(i) + ".bin", test::patternBytes(700000 + size_t(i) * 400000, uint32_t(i)));
  ASSERT_EQ(p.build(p.dir / "one.exe", {"-j", "1"}).exitCode, 0);
  ASSERT_EQ(p.build(p.dir / "two.exe", {"-j", "2"}).exitCode, 0);
  ASSERT_EQ(p.build(p.dir / "again.exe", {"-j", "2"}).exitCode, 0);
  std::vector<uint8_t> one = test::readBytes(p.dir / "one.exe");
  EXPECT_EQ(one, test::readBytes(p.dir / "two.exe"));
  EXPECT_EQ(one, test::readBytes(p.dir / "again.exe"));
}

TEST(Build, LayoutOfTheInstaller) {
  Product p;
  p.file("x.bin", test::patternBytes(100000, 5));
  fs::path out = p.dir / "setup.exe";
  ASSERT_EQ(p.build(out).exitCode, 0);
  std::vector<uint8_t> bytes = test::readBytes(out);
  std::vector<uint8_t> stub = test::readBytes(p.stub);
  // The stub is copied unchanged except for the 12 bytes of the record.
  EXPECT_TRUE(std::equal(stub.begin(), stub.begin() + kLocatorOffset, bytes.begin()));
  EXPECT_TRUE(std::equal(stub.begin() + kMinimumStubSize, stub.end(), bytes.begin() + kMinimumStubSize));
  LocatorRecord r = parseLocator(&bytes[kLocatorOffset]);
  EXPECT_EQ(uint64_t(r.scriptOffset) + r.scriptLength + kBlobSize, bytes.size());
  EXPECT_EQ(r.checksum, adler32Update(1, &bytes[r.scriptOffset], r.scriptLength + kBlobSize));
  // The blob: h = 4278, and it is the file's last 4,272 bytes.
  EXPECT_EQ(readU32(&bytes[bytes.size() - kBlobSize]), kBlobHeader);
  // The first chunk starts right after the stub: [h][body], h counting ten header bytes.
  uint32_t h = readU32(&bytes[stub.size()]);
  Installer inst(out);
  EXPECT_EQ(inst.script()->files.at(0).dataOffset, stub.size());
  EXPECT_EQ(inst.script()->files.at(0).checksum, adler32Update(1, &bytes[stub.size() + 4], h - 10));
  std::vector<uint8_t> image;
  std::string problem;
  ASSERT_TRUE(inst.decodeUninstaller(image, problem)) << problem;
  EXPECT_EQ(image, test::readBytes(p.uninstaller));
}

TEST(Build, RefusedInputsLeaveNoOutput) {
  Product p;
  p.file("x.bin", {1, 2, 3});
  fs::path out = p.dir / "setup.exe";
  auto leftovers = [&] {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(p.dir.path()))
      if (e.path().filename().string().find("setup.exe") != std::string::npos) ++n;
    return n;
  };

  // An uninstaller image that does not compress into its 4,268-byte blob.
  test::writeBytes(p.uninstaller, test::patternBytes(8088, 4, false));
  test::RunResult r = p.build(out);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("the uninstaller blob holds at most 4268"), std::string::npos) << r.out;
  EXPECT_EQ(leftovers(), 0u);

  test::writeBytes(p.uninstaller, test::patternBytes(8000, 4));
  r = p.build(out);
  EXPECT_NE(r.out.find("must be exactly 8088"), std::string::npos) << r.out;
  EXPECT_EQ(leftovers(), 0u);

  test::standInUninstaller(p.dir);
  test::writeBytes(p.stub, std::vector<uint8_t>(15867, 'M'));
  r = p.build(out);
  EXPECT_NE(r.out.find("at least 15868"), std::string::npos) << r.out;
  EXPECT_EQ(leftovers(), 0u);

  // A project error: the compiler-style message and no output.
  test::standInStub(p.dir);
  test::writeFile(p.dir / "project.toml", "[product]\nname = 5\n");
  r = test::runMarlowick({"build", (p.dir / "project.toml").string(), "-o", out.string(), "--stub", p.stub.string(),
                          "--uninstaller", p.uninstaller.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("project.toml:2:8: error: 'name' must be a string"), std::string::npos) << r.out;
  EXPECT_EQ(leftovers(), 0u);

  // A source that vanishes after the project was read fails the build part way through.
  Diagnostics d;
  Project project = loadProject(p.project(), d);
  ASSERT_FALSE(d.failed());
  fs::remove(p.dir / "payload/x.bin");
  BuildOptions options{p.stub, p.uninstaller, out, 2, false};
  EXPECT_THROW(buildInstaller(project, options), BuildError);
  EXPECT_EQ(leftovers(), 0u);
}

TEST(ScriptWriter, ReadsBackAndRefusesWhatTheEngineCannotRead) {
  ScriptModel m;
  m.splashSeconds = 3;
  m.splashBitmap = test::smallBmp(3, 3);
  m.sideTextColour = 0x123456;
  m.sideBitmap = test::smallBmp(2, 5);
  m.bannerAlignment = 2;
  m.bannerBitmap = test::smallBmp(7, 1);
  m.minimumOs = 7;
  m.dotNetRequired = 3;
  m.dotNetInstaller = "";
  m.requireAdmin = 1;
  m.headerTextColour = 0xFFFFFFFF;
  m.windowCaption = "C";
  m.productName = "P";
  m.welcomeText = "W\r\nX";
  m.destinationKind = 2;
  m.destinationPath = "A\\B";
  m.files = {{"a.txt", 20000, 2, 77}, {"e", 0, 0, 1}};
  m.programGroup = "G\\H";
  m.shortcuts = {{'D', "a.txt"}, {'S', "a.txt"}};
  m.registry = {{0x80000001, 1, "K", std::string("N"), 0, "<SetupPath>"}, {0x80000002, -4, "K2", std::nullopt, 9, ""}};
  m.finishText = "F";
  m.rebootMode = 1;
  m.runKind = 9;
  m.runTarget = "x.exe /q";
  std::vector<uint8_t> bytes = writeScript(m);
  std::string error;
  uint32_t end = 0;
  auto back = readScript(bytes.data(), uint32_t(bytes.size()), error, &end);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(*back, m);
  EXPECT_EQ(end, bytes.size());

  // runKind 0: the script ends in rebootMode, runKind; rebootMode 0x17 is never written.
  ScriptModel bad = m;
  bad.runKind = 0;
  bad.runTarget.clear();
  bad.rebootMode = 0x17;
  EXPECT_THROW(writeScript(bad), std::invalid_argument);
  bad.rebootMode = 1;
  bad.programGroup = "G\\";
  EXPECT_THROW(writeScript(bad), std::invalid_argument);
  bad.programGroup.clear();
  bad.files.clear();
  EXPECT_THROW(writeScript(bad), std::invalid_argument);
}

}  // namespace
}  // namespace mw::packager
