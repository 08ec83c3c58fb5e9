#include "packager/builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#ifdef MARLOWICK_HAVE_PNG
#include <png.h>
#endif

#include "core/bytes.h"
#include "packager/installer_reader.h"
#include "packager/script_writer.h"
#include "packager/test_support.h"
#include "format/payload.h"

namespace fs = std::filesystem;

namespace mw::packager {
namespace {

using test::ScratchDir;

#ifdef MARLOWICK_HAVE_PNG
std::vector<uint8_t> pngBytes(uint32_t w, uint32_t h, const std::vector<uint8_t>& rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = w, image.height = h, image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, rgba.data(), 0, nullptr)) return {};
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

std::vector<uint8_t> readPng(const fs::path& file, uint32_t& w, uint32_t& h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  w = h = 0;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> px(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, px.data(), 0, nullptr)) return {};
  w = image.width, h = image.height;
  return px;
}
#endif

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

// The product's icon and version resource read back from setup.exe by icoutils (wrestool,
// icotool), which know nothing of the packager: built on the real engine.
#ifdef MARLOWICK_HAVE_PNG
TEST(Identity, IconAndVersionResourceReadBackFromSetupExe) {
  const fs::path engine = fs::path(MARLOWICK_PRODUCTS_DIST) / "stub.exe";
  if (!fs::exists(engine) || std::system("command -v wrestool >/dev/null && command -v icotool >/dev/null") != 0)
    GTEST_SKIP() << "needs dist/stub.exe and icoutils";
  Product p;
  p.stub = engine;
  p.file("a.txt", test::patternBytes(100, 1));
  // A 64 x 64 PNG icon: a red square with a transparent border, scaled to the engine's
  // 48 x 48 and 32 x 32 16-colour images.
  std::vector<uint8_t> rgba(64 * 64 * 4, 0);
  for (int y = 8; y < 56; ++y)
    for (int x = 8; x < 56; ++x) {
      uint8_t* px = &rgba[(y * 64 + x) * 4];
      px[0] = 220, px[1] = 20, px[2] = 30, px[3] = 255;
    }
  test::writeBytes(p.dir / "icon.png", pngBytes(64, 64, rgba));
  fs::path project = p.project();
  test::writeFile(project, "[product]\nname = \"Round Trip\"\nversion = \"${V}\"\npublisher = \"Pub Co\"\n"
                           "copyright = \"\xC2\xA9 Pub\"\nicon = \"icon.png\"\n[destination]\nkind = \"program-files\"\n"
                           "path = \"RT\"\n[[files]]\nsource = \"payload\"\n");
  const fs::path out = p.dir / "setup.exe";
  // -D before the project: one value per -D, the project stays the project.
  test::RunResult b = test::runMarlowick({"build", "-D", "V=4.3.2.1", project.string(), "-o", out.string(), "--stub",
                                          engine.string(), "--uninstaller", p.uninstaller.string()});
  ASSERT_EQ(b.exitCode, 0) << b.out;
  EXPECT_EQ(test::runMarlowick({"verify", out.string()}).exitCode, 0);
  // The headers and the code up to the locator record are the engine's as built: only
  // resource data changed, and the header's checksum field, which the build fills in last.
  std::vector<uint8_t> before = test::readBytes(engine), after = test::readBytes(out);
  ASSERT_GT(after.size(), before.size());
  const uint32_t checksumAt = mw::readU32(before.data() + 0x3C) + 0x58;
  ASSERT_LT(checksumAt + 4, kLocatorOffset);
  mw::fillBytes(before.data() + checksumAt, 0, 4);
  mw::fillBytes(after.data() + checksumAt, 0, 4);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + kLocatorOffset, after.begin()));

  const fs::path ico = p.dir / "group.ico";
  const std::string q = "'" + out.string() + "'";
  ASSERT_EQ(std::system(("wrestool -x --type=14 --name=1 " + q + " -o '" + ico.string() + "'").c_str()), 0);
  ASSERT_EQ(std::system(("cd '" + p.dir.path().string() + "' && icotool -x group.ico").c_str()), 0);
  for (int size : {48, 32}) {
    const fs::path png = p.dir / ("group_" + std::to_string(size == 48 ? 1 : 2) + "_" + std::to_string(size) + "x" +
                                  std::to_string(size) + "x4.png");
    ASSERT_TRUE(fs::exists(png)) << png;
    uint32_t w, h;
    std::vector<uint8_t> px = readPng(png, w, h);
    ASSERT_EQ(w, uint32_t(size));
    auto at = [&](int x, int y) { return &px[(size_t(y) * w + x) * 4]; };
    EXPECT_EQ(at(0, 0)[3], 0) << "the border stays transparent";
    const uint8_t* centre = at(size / 2, size / 2);
    EXPECT_EQ(centre[3], 255);
    EXPECT_NEAR(centre[0], 220, 8);
    EXPECT_NEAR(centre[1], 20, 8);
    EXPECT_NEAR(centre[2], 30, 8);
  }

  // The version resource: its fixed part and its texts, read with a walker of the tests' own.
  const fs::path raw = p.dir / "version.bin";
  ASSERT_EQ(std::system(("wrestool -x --raw --type=16 --name=1 " + q + " -o '" + raw.string() + "'").c_str()), 0);
  const std::vector<uint8_t> v = test::readBytes(raw);
  ASSERT_GT(v.size(), 92u);
  std::map<std::string, std::string> texts;
  uint32_t fileMs = 0, fileLs = 0;
  auto utf16 = [&](size_t at, size_t units) {
    std::string s;
    for (size_t i = 0; i < units && at + 2 * i + 1 < v.size(); ++i) {
      const uint16_t u = uint16_t(v[at + 2 * i] | v[at + 2 * i + 1] << 8);
      if (!u) break;
      if (u < 0x80) s += char(u);
      else s += "\xC2", s += char(0x80 | (u & 0x3F));  // enough for the copyright sign
    }
    return s;
  };
  auto walk = [&](auto& self, size_t at, size_t end) -> void {
    while (at + 6 <= end) {
      const uint16_t length = readU16(&v[at]), valueLength = readU16(&v[at + 2]), type = readU16(&v[at + 4]);
      ASSERT_GE(length, 6);
      size_t keyEnd = at + 6;
      while (keyEnd + 1 < v.size() && (v[keyEnd] || v[keyEnd + 1])) keyEnd += 2;
      const std::string key = utf16(at + 6, (keyEnd - at - 6) / 2);
      const size_t value = (keyEnd + 2 + 3) & ~size_t(3);
      if (key == "VS_VERSION_INFO") fileMs = readU32(&v[value + 8]), fileLs = readU32(&v[value + 12]);
      if (type == 1 && valueLength) texts[key] = utf16(value, valueLength);
      const size_t children = (value + (type == 1 ? 2u * valueLength : valueLength) + 3) & ~size_t(3);
      self(self, children, at + length);
      at = (at + length + 3) & ~size_t(3);
    }
  };
  walk(walk, 0, v.size());
  EXPECT_EQ(fileMs, 0x00040003u);
  EXPECT_EQ(fileLs, 0x00020001u);
  EXPECT_EQ(texts["ProductName"], "Round Trip");
  EXPECT_EQ(texts["ProductVersion"], "4.3.2.1");
  EXPECT_EQ(texts["FileVersion"], "4.3.2.1");
  EXPECT_EQ(texts["CompanyName"], "Pub Co");
  EXPECT_EQ(texts["FileDescription"], "Round Trip Setup");
  EXPECT_EQ(texts["LegalCopyright"], "\xC2\xA9 Pub");

  // Texts beyond the engine's room are refused with a message that says so, and nothing is left.
  test::writeFile(project, "[product]\nname = \"Round Trip\"\ndescription = \"" + std::string(250, 'd') +
                               "\"\ncopyright = \"" + std::string(250, 'c') + "\"\n[destination]\nkind = \"current\"\n"
                               "path = \"\"\n[[files]]\nsource = \"payload\"\n");
  fs::remove(out);
  b = test::runMarlowick({"build", project.string(), "-o", out.string(), "--stub", engine.string(), "--uninstaller",
                          p.uninstaller.string()});
  EXPECT_EQ(b.exitCode, 1);
  EXPECT_NE(b.out.find("bytes in the version resource; the engine holds 960: shorten them"), std::string::npos) << b.out;
  EXPECT_FALSE(fs::exists(out));
}
#endif

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
