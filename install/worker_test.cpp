// The whole worker, run natively against real folders through the host platform, on
// installers made here: script bytes written field by field, file chunks and the uninstaller
// blob compressed with the stored stream writer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "decompress/stored_writer.h"
#include "install/install.h"
#include "install/fake_system.h"

namespace mw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kHkcu = 0x80000001, kHklm = 0x80000002;
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = uint8_t("abcdefghij\n0123"[rng() % 15]);
  return out;
}

// An uninstaller image with the header fields the worker patches, as the real one ships them.
Bytes uninstallerImage() {
  Bytes image(8088);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t((i * 7) >> 5);
  image[0] = 'M';
  image[1] = 'Z';
  writeU32(&image[0x3C], 0xB8);
  std::memcpy(&image[0xB8], "PE\0\0", 4);
  writeU32(&image[0xC0], 0);
  writeU32(&image[0x108], 0x6000);
  writeU32(&image[0x140], 0x4000);
  writeU32(&image[0x144], 0x1428);
  std::memcpy(&image[0x228], ".rsrc\0\0\0", 8);
  writeU32(&image[0x230], 0x1428);
  writeU32(&image[0x234], 0x4000);
  writeU32(&image[0x238], 0x1600);
  writeU32(&image[0x23C], 0x1000);
  writeU32(&image[0x1130], 0x4F98);
  writeU32(&image[0x1134], 1);
  writeU32(&image[0x1150], 0x4FA0);
  writeU32(&image[0x1154], 1154);
  return image;
}

struct TestFile {
  std::string name;
  Bytes data;                 // empty: an empty file (dataOffset 0)
  uint32_t chunkSize = 1 << 20;
  // Faults the packer puts in.
  bool wrongChecksum = false;
  bool truncated = false;     // the first chunk's stream cut short, the checksum made to match
  bool badFraming = false;    // the first chunk's h larger than any chunk may be
  int sharesWith = -1;        // >= 0: no chunks of its own, the data of that earlier file
};

struct Shortcut {
  char kind;
  std::string target;
};

struct Reg {
  uint32_t root;
  int8_t type;
  std::string subkey;
  std::string name;  // for type >= 0
  Bytes data;        // 4 bytes for a DWORD, else the string without NUL
};

class Writer {
 public:
  Bytes b;
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) { u8(uint8_t(v)); u8(uint8_t(v >> 8)); }
  void u32(uint32_t v) { u16(uint16_t(v)); u16(uint16_t(v >> 16)); }
  void str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); u8(0); }
  void raw(const Bytes& d) { b.insert(b.end(), d.begin(), d.end()); }
};

class WorkerTest : public ::testing::Test {
 protected:
  std::string product = "Sample Tool";
  std::vector<TestFile> files;
  std::string group;
  std::vector<Shortcut> shortcuts;
  std::vector<Reg> values;
  std::string finishText = "All done.";
  Bytes manifest;
  Bytes image = uninstallerImage();
  Bytes trailer;  // bytes appended after the blob (a signature table, for one)

  fs::path root;
  std::unique_ptr<HostPlatform> os;
  Bytes arenaBlock;
  Arena arena{};
  SetupScript front{};
  ScriptCursor cursor{};
  InstallJob job{};

  void SetUp() override {
    char pattern[] = "/tmp/mw-worker-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    os = std::make_unique<HostPlatform>(root);
    manifest = noise(1154, 99);
    os->manifestBytes = manifest;
  }
  void TearDown() override {
    os.reset();
    fs::remove_all(root);
  }

  // Packs the installer: a stand-in stub, the file chunks, a stand-in stored script, the blob.
  Bytes pack(Writer& script) {
    Bytes installer(64, 'S');
    auto frontFields = [&](Writer& w) {
      w.u32(0); w.u32(0); w.u32(0);  // no splash, side or banner picture
      w.u8(0); w.u8(0); w.u8(0);     // minimumOs, dotNetRequired, requireAdmin
      w.u32(0);                      // headerTextColour
      w.str("Sample Setup"); w.str(product); w.str("Welcome"); w.str("");
      w.u8(0); w.str("C:\\Apps"); w.str(""); w.str("");
    };
    Writer lists;
    struct Placed {
      uint32_t offset;
      uint16_t chunks;
      uint32_t adler;
    };
    std::vector<Placed> placed;  // per file, for the ones that share data
    for (const TestFile& f : files) {
      lists.str(f.name);
      if (f.data.empty() && f.sharesWith < 0) {
        lists.u32(0);
        placed.push_back({0, 0, 1});
        continue;
      }
      if (f.sharesWith >= 0) {
        lists.u32(placed.at(size_t(f.sharesWith)).offset);
        lists.u16(placed.at(size_t(f.sharesWith)).chunks);
        lists.u32(placed.at(size_t(f.sharesWith)).adler);
        placed.push_back(placed.at(size_t(f.sharesWith)));
        continue;
      }
      const uint32_t offset = uint32_t(installer.size());
      uint32_t adler = 1;
      uint16_t chunks = 0;
      for (size_t at = 0; at < f.data.size(); at += f.chunkSize, ++chunks) {
        const size_t n = std::min<size_t>(f.chunkSize, f.data.size() - at);
        Bytes body = writeStoredStream(f.data.data() + at, n);
        if (f.truncated && chunks == 0) body.erase(body.end() - 16, body.end());
        uint8_t h[4];
        writeU32(h, uint32_t(body.size() + 10));
        if (f.badFraming && chunks == 0) writeU32(h, 1114113);
        installer.insert(installer.end(), h, h + 4);
        installer.insert(installer.end(), body.begin(), body.end());
        adler = adler32(adler, body.data(), uInt(body.size()));
      }
      lists.u32(offset);
      lists.u16(chunks);
      lists.u32(f.wrongChecksum ? adler + 1 : adler);
      placed.push_back({offset, chunks, f.wrongChecksum ? adler + 1 : adler});
    }
    lists.u8(0);
    if (group.empty()) {
      lists.u8(0);
    } else {
      lists.str(group);
      lists.u8(0);
    }
    for (const Shortcut& s : shortcuts) {
      lists.u8(uint8_t(s.kind));
      lists.str(s.target);
    }
    lists.u8(0);
    for (const Reg& r : values) {
      lists.u32(r.root);
      lists.u8(uint8_t(r.type));
      lists.str(r.subkey);
      if (r.type >= 0) lists.str(r.name);
      lists.raw(r.data);
      if ((r.type < 0 ? -r.type : r.type) != 4) lists.u8(0);
    }
    lists.u32(0);
    lists.str(finishText);
    lists.u8(0);  // rebootMode
    lists.u8(0);  // runKind
    frontFields(script);
    script.raw(lists.b);
    // The script as stored is not read by the worker; only its end matters, where the blob is.
    Bytes stored(40, 'X');
    installer.insert(installer.end(), stored.begin(), stored.end());
    job.blobOffset = uint32_t(installer.size());
    Bytes body = writeStoredStream(image.data(), image.size());
    EXPECT_LE(body.size(), 4268u);
    body.resize(4268, 0);
    uint8_t h[4];
    writeU32(h, 4278);
    installer.insert(installer.end(), h, h + 4);
    installer.insert(installer.end(), body.begin(), body.end());
    installer.insert(installer.end(), trailer.begin(), trailer.end());
    return installer;
  }

  InstallOutcome install(const std::string& dir, bool wizard = false) {
    Writer script;
    os->installer = pack(script);
    const uint32_t length = uint32_t(script.b.size());
    arenaBlock.assign(length + arenaFixedSize(), 0);
    layOutArena(arena, arenaBlock.data(), length);
    std::memcpy(arena.base, script.b.data(), length);
    EXPECT_TRUE(parseFront(arena.base, length, front));
    std::memcpy(arena.installDir, dir.c_str(), dir.size() + 1);
    job.platform = os.get();
    job.arena = &arena;
    job.front = &front;
    job.wizard = wizard;
    job.cursor = &cursor;
    const InstallOutcome outcome = installWorker(job);
    EXPECT_EQ(os->openFiles, 0);
    EXPECT_EQ(os->liveBlocks, 0);
    EXPECT_EQ(os->liveThreads, 0) << "the decoding thread is joined on every way out";
    EXPECT_EQ(os->liveSignals, 0);
    return outcome;
  }

  Bytes read(const std::string& windowsPath) {
    std::ifstream in(os->hostPath(windowsPath), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& windowsPath) { return fs::exists(os->hostPath(windowsPath)); }

  // The log as it must be, built from the test's own description of the installation.
  Bytes expectedLog(const std::string& dirAsGiven, const std::vector<std::string>& shortcutPaths,
                    const std::vector<char>& kinds) {
    Writer log;
    log.str(product);
    log.str(dirAsGiven);
    for (const auto& f : files) log.str(f.name);
    log.u8(0);
    log.str(group);
    for (const auto& s : shortcutPaths) log.str(s);
    log.u8(0);
    for (size_t i = 0; i < values.size(); ++i) {
      log.u8(uint8_t(kinds[i]));
      log.u32(values[i].root);
      log.str(values[i].subkey);
      if (values[i].type < 0) log.u8(0xFF); else log.str(values[i].name);
    }
    log.u8('C');
    log.u32(kHklm);
    log.str(kUninstallKey + product);
    log.u8(0);
    return log.b;
  }

  // Checks the whole of Uninstall.exe against the log it must carry.
  void checkUninstaller(const std::string& path, const Bytes& log) {
    const Bytes file = read(path);
    const uint32_t t = 8088 + uint32_t(log.size());
    const uint32_t a = (t / 8 + 1) * 8;
    const uint32_t f = (a + 1154 + 511) / 512 * 512;
    ASSERT_EQ(file.size(), f);
    EXPECT_TRUE(std::equal(log.begin(), log.end(), file.begin() + 8088))
        << "log differs: " << std::string(file.begin() + 8088, file.begin() + std::min<size_t>(file.size(), 8088 + log.size() + 40));
    for (uint32_t i = t; i < a; ++i) ASSERT_EQ(file[i], 0) << i;
    EXPECT_TRUE(std::equal(manifest.begin(), manifest.end(), file.begin() + a));
    for (uint32_t i = a + 1154; i < f; ++i) ASSERT_EQ(file[i], 0) << i;

    Bytes patched = image;
    const uint32_t vs = 0x1428 + a - 8097;
    writeU32(&patched[0xC0], 1000000000);  // 2001-09-09 01:46:40
    writeU32(&patched[0x1134], uint32_t(log.size()));
    writeU32(&patched[0x1150], 0x4FA0 + a - 8096);
    writeU32(&patched[0x230], vs);
    writeU32(&patched[0x144], vs);
    writeU32(&patched[0x238], (vs + 511) / 512 * 512);
    writeU32(&patched[0x108], (vs + 0x4000 + 4095) / 4096 * 4096);
    for (uint32_t i = 0; i < 8088; ++i) ASSERT_EQ(file[i], patched[i]) << "image byte " << i;
  }

  std::string regString(uint32_t root, const std::string& key, const std::string& name) {
    const auto* v = os->value(root, key, name);
    if (!v) return "<none>";
    return std::string(v->data.begin(), v->data.end());
  }
};

Bytes peProgram() {
  Bytes exe(256, 0);
  exe[0] = 'M'; exe[1] = 'Z';
  writeU32(&exe[60], 0x80);
  exe[0x80] = 'P'; exe[0x81] = 'E';
  return exe;
}

Bytes dosProgram() {
  Bytes exe(256, 0x90);
  exe[0] = 'M'; exe[1] = 'Z';
  writeU32(&exe[60], 0x40);  // "NE"-less: no PE signature there
  return exe;
}

TEST_F(WorkerTest, SilentInstallOfEverything) {
  files = {{"readme.txt", text("Read me first.\r\n")},
           {"empty.dat", {}},
           {"bin\\tool.exe", peProgram()},
           {"bin\\old.exe", dosProgram()},
           {"lib\\deep\\nested\\data.bin", noise(70000, 1)},
           {"big.bin", noise(2621440 + 123, 2)},
           {"setup.COM", text("com")}};
  group = "Sample Vendor\\Sample Tool";
  shortcuts = {{'P', "bin\\tool.exe"}, {'D', "bin\\tool.exe"}, {'S', "bin\\old.exe"},
               {'M', "setup.COM"}, {'Q', "readme.txt"}, {'D', "lib\\deep\\nested\\data.bin"}};
  fs::create_directories(os->hostPath("C:\\Users\\tester\\AppData\\Microsoft\\Internet Explorer\\Quick Launch"));
  os->addKey(kHkcu, "Software\\Existing");
  values = {{kHkcu, 1, "Software\\Sample", "Path", text("<SetupPath>\\bin;<SetupPath>\\lib")},
            {kHkcu, -1, "Software\\Sample\\Default", "", text("abc")},
            {kHkcu, 4, "Software\\Existing", "Count", {1, 0, 0, 0}},
            {kHkcu, -4, "Software\\Sample\\Dword", "", {7, 1, 0, 0}},
            {kHkcu, 2, "software\\SAMPLE", "Expand", text("%TEMP%\\<setuppath>")}};
  fs::create_directories(os->hostPath("C:\\Apps\\Tool"));
  std::ofstream(os->hostPath("C:\\Apps\\Tool\\Uninstall.exe"), std::ios::binary)
      .write(reinterpret_cast<const char*>(noise(30000, 3).data()), 30000);

  ASSERT_EQ(install("C:\\Apps\\Tool"), InstallDone);
  EXPECT_TRUE(os->questions.empty());
  EXPECT_TRUE(os->labels.empty());
  EXPECT_TRUE(os->progress.empty());
  EXPECT_EQ(os->pauseCalls, 0);

  for (const auto& f : files) EXPECT_EQ(read("C:\\Apps\\Tool\\" + f.name), f.data) << f.name;
  EXPECT_TRUE(fs::is_regular_file(os->hostPath("C:\\Apps\\Tool\\empty.dat")));

  const std::string programs = "C:\\Users\\tester\\Start Menu\\Programs";
  const std::vector<std::string> links = {
      programs + "\\Sample Vendor\\Sample Tool\\tool.lnk",
      "C:\\Users\\tester\\Desktop\\tool.lnk",
      programs + "\\Startup\\old.pif",
      "C:\\Users\\tester\\Start Menu\\setup.pif",
      "C:\\Users\\tester\\AppData\\Microsoft\\Internet Explorer\\Quick Launch\\readme.lnk",
      "C:\\Users\\tester\\Desktop\\data.lnk"};
  for (const auto& l : links) EXPECT_TRUE(exists(l)) << l;
  const Bytes link = read(links[0]);
  EXPECT_EQ(std::string(link.begin(), link.end()),
            "C:\\Apps\\Tool\\bin\\tool.exe\nC:\\Apps\\Tool\\bin\n");

  EXPECT_EQ(regString(kHkcu, "Software\\Sample", "Path"), "C:\\Apps\\Tool\\bin;C:\\Apps\\Tool\\lib");
  EXPECT_EQ(os->value(kHkcu, "Software\\Sample", "Path")->type, 1u);
  EXPECT_EQ(regString(kHkcu, "Software\\Sample", "Expand"), "%TEMP%\\<setuppath>");
  EXPECT_EQ(os->value(kHkcu, "Software\\Sample", "Expand")->type, 2u);
  EXPECT_EQ(regString(kHkcu, "Software\\Sample\\Default", ""), "abc");
  EXPECT_EQ(os->value(kHkcu, "Software\\Existing", "Count")->data, (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(os->value(kHkcu, "Software\\Existing", "Count")->type, 4u);
  EXPECT_EQ(os->value(kHkcu, "Software\\Sample\\Dword", "")->data, (Bytes{7, 1, 0, 0}));
  EXPECT_EQ(regString(kHklm, kUninstallKey + product, "DisplayName"), product);
  // Quoted: the folder may hold blanks.
  EXPECT_EQ(regString(kHklm, kUninstallKey + product, "UninstallString"),
            "\"C:\\Apps\\Tool\\Uninstall.exe\"");
  EXPECT_FALSE(exists("C:\\Apps\\Tool\\Uninstall.tmp")) << "the new image took the old one's place";

  // The first key is new, the fifth names it again in other letters and finds it.
  checkUninstaller("C:\\Apps\\Tool\\Uninstall.exe",
                   expectedLog("C:\\Apps\\Tool", links, {'C', 'C', 'O', 'C', 'O'}));

  ASSERT_NE(job.finishText, nullptr);
  EXPECT_STREQ(job.finishText, "All done.");
  PostInstall post{};
  EXPECT_EQ(readPostInstall(cursor, post), ReadItem);
  EXPECT_EQ(cursor.position, cursor.length);
}

TEST_F(WorkerTest, WizardSeesLabelsProgressAndPausePoints) {
  files = {{"a.bin", noise(5000, 4), 2048},  // three chunks
           {"b.txt", text("b")},
           {"c.txt", {}}};
  const std::string longDir = "C:\\Program Files\\Sample Vendor Group\\Sample Product Suite\\";
  files.push_back({"runtime\\lib\\security\\policy\\unlimited\\local_policy.jar", text("jar")});
  ASSERT_EQ(install(longDir, true), InstallDone);
  EXPECT_EQ(os->progress, (std::vector<uint32_t>{16, 33, 50, 66, 83, 100}));
  ASSERT_EQ(os->labels.size(), 4u);
  EXPECT_EQ(os->labels[0], longDir + "a.bin");
  EXPECT_EQ(os->labels[3], "C:\\ ...\\runtime\\lib\\security\\policy\\unlimited\\local_policy.jar");
  // Before each file and each chunk.
  EXPECT_EQ(os->pauseCalls, 4 + 3 + 1 + 1);
  EXPECT_EQ(read(longDir + "a.bin"), files[0].data);
}

TEST_F(WorkerTest, QuitAtAPausePointStopsWhereItStands) {
  files = {{"a.txt", text("a")}, {"b.txt", text("b")}};
  os->quitAtPause = 3;  // before a's chunk, then before b
  EXPECT_EQ(install("C:\\Apps", true), InstallQuit);
  EXPECT_TRUE(exists("C:\\Apps\\a.txt"));
  EXPECT_FALSE(exists("C:\\Apps\\b.txt"));
  EXPECT_EQ(job.finishText, nullptr);
}

TEST_F(WorkerTest, DestinationLevelsAndItsQuestion) {
  files = {{"x.txt", text("x")}};
  values = {{kHkcu, 1, "Software\\S", "Home", text("<SetupPath>")}};
  // A file where a level should be: the folder cannot be made current.
  fs::create_directories(os->hostPath("C:\\Data"));
  std::ofstream(os->hostPath("C:\\Data\\Deep")) << "in the way";
  int asked = 0;
  os->responder = [&](const HostPlatform::Question& q) {
    ++asked;
    EXPECT_EQ(q.caption, "Error");
    EXPECT_EQ(q.text, "Unable to create the directory:\r\nC:\\Data\\Deep\\Tool");
    EXPECT_EQ(q.style, 21u);
    EXPECT_FALSE(q.ownedByWizard);
    if (asked == 2) fs::remove(os->hostPath("C:\\Data\\Deep"));
    if (asked == 3) {
      // The levels below are not tried again on Retry, only the folder itself.
      fs::create_directories(os->hostPath("C:\\Data\\Deep"));
    }
    return int32_t(AnswerRetry);
  };
  ASSERT_EQ(install("C:\\Data\\Deep\\Tool"), InstallDone);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(read("C:\\Data\\Deep\\Tool\\x.txt"), text("x"));
  // The log keeps the folder as given; everything after sees the final backslash.
  EXPECT_EQ(regString(kHkcu, "Software\\S", "Home"), "C:\\Data\\Deep\\Tool");
  EXPECT_EQ(regString(kHklm, kUninstallKey + product, "UninstallString"),
            "\"C:\\Data\\Deep\\Tool\\Uninstall.exe\"");
  checkUninstaller("C:\\Data\\Deep\\Tool\\Uninstall.exe", expectedLog("C:\\Data\\Deep\\Tool", {}, {'C'}));

  // Cancel ends it with nothing made.
  TearDown();
  SetUp();
  files = {{"x.txt", text("x")}};
  values.clear();
  std::ofstream(os->hostPath("C:\\Blocked")) << "file";
  os->answers = {AnswerCancel};
  EXPECT_EQ(install("C:\\Blocked\\Tool\\"), InstallStopped);
  EXPECT_EQ(os->questions.size(), 1u);
  EXPECT_EQ(os->keyCount(), 0u);
}

TEST_F(WorkerTest, FileThatCannotBeCreated) {
  files = {{"a\\b\\c.txt", text("abc")}, {"keep.txt", text("k")}, {"last.txt", text("l")}};
  // A folder where the file should be: both attempts fail, then the user decides.
  fs::create_directories(os->hostPath("C:\\Apps\\a\\b\\c.txt"));
  int asked = 0;
  os->responder = [&](const HostPlatform::Question& q) {
    ++asked;
    EXPECT_EQ(q.text, "Error creatig file:\r\nC:\\Apps\\a\\b\\c.txt");
    EXPECT_EQ(q.style, 18u);
    EXPECT_TRUE(q.ownedByWizard);
    if (asked == 1) return int32_t(AnswerRetry);  // still in the way: asked again
    fs::remove(os->hostPath("C:\\Apps\\a\\b\\c.txt"));
    return int32_t(AnswerRetry);
  };
  ASSERT_EQ(install("C:\\Apps\\", true), InstallDone);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(read("C:\\Apps\\a\\b\\c.txt"), text("abc"));
}

TEST_F(WorkerTest, IgnoreAndAbortOnACreateFailure) {
  files = {{"blocked.txt", noise(3000, 5), 1000}, {"next.txt", text("n")}};
  fs::create_directories(os->hostPath("C:\\Apps\\blocked.txt"));
  os->answers = {AnswerIgnore};
  ASSERT_EQ(install("C:\\Apps", true), InstallIncomplete);
  EXPECT_EQ(os->questions.size(), 1u);
  EXPECT_TRUE(fs::is_directory(os->hostPath("C:\\Apps\\blocked.txt")));
  EXPECT_EQ(read("C:\\Apps\\next.txt"), text("n"));
  // Its chunks still count: the bar reaches 100.
  EXPECT_EQ(os->progress, (std::vector<uint32_t>{25, 50, 75, 100}));
  // Skipped files are logged all the same.
  checkUninstaller("C:\\Apps\\Uninstall.exe", expectedLog("C:\\Apps", {}, {}));

  TearDown();
  SetUp();
  files = {{"blocked.txt", text("b")}, {"next.txt", text("n")}};
  fs::create_directories(os->hostPath("C:\\Apps\\blocked.txt"));
  os->answers = {AnswerAbort};
  EXPECT_EQ(install("C:\\Apps"), InstallStopped);
  EXPECT_FALSE(exists("C:\\Apps\\next.txt"));
  EXPECT_EQ(os->keyCount(), 0u);
  EXPECT_EQ(job.finishText, nullptr);
}

TEST_F(WorkerTest, IntegrityQuestion) {
  files = {{"bad.bin", noise(4000, 6), 1500}, {"good.txt", text("g")}};
  files[0].wrongChecksum = true;
  os->answers = {AnswerYes};
  ASSERT_EQ(install("C:\\Apps"), InstallIncomplete);
  ASSERT_EQ(os->questions.size(), 1u);
  EXPECT_EQ(os->questions[0].text,
            "C:\\Apps\\bad.bin\r\n\r\nFile integrity check has failed. Do you want to continue?");
  EXPECT_EQ(os->questions[0].style, 52u);
  EXPECT_EQ(read("C:\\Apps\\bad.bin"), files[0].data);  // left as written
  EXPECT_EQ(read("C:\\Apps\\good.txt"), text("g"));

  TearDown();
  SetUp();
  files = {{"bad.bin", noise(4000, 6)}, {"good.txt", text("g")}};
  files[0].wrongChecksum = true;
  os->answers = {AnswerNo};
  EXPECT_EQ(install("C:\\Apps"), InstallStopped);
  EXPECT_FALSE(exists("C:\\Apps\\good.txt"));
}

// A chunk's body is read with the prefix after it, so chunks that follow one another cost one
// read each; a file whose data lies elsewhere (shared with an earlier file) reads its first
// prefix again.
TEST_F(WorkerTest, OneReadPerChunkWhereChunksFollowOneAnother) {
  files = {{"a.bin", noise(5000, 11), 2048},  // three chunks
           {"b.bin", noise(3000, 12)},
           {"copy of a.bin", {}},
           {"d.txt", text("d")}};
  files[2].sharesWith = 0;
  ASSERT_EQ(install("C:\\Apps"), InstallDone);
  EXPECT_EQ(read("C:\\Apps\\a.bin"), files[0].data);
  EXPECT_EQ(read("C:\\Apps\\b.bin"), files[1].data);
  EXPECT_EQ(read("C:\\Apps\\copy of a.bin"), files[0].data);
  EXPECT_EQ(read("C:\\Apps\\d.txt"), text("d"));
  // The blob; a: its first prefix and three chunks; b: one; the copy: a's first prefix again
  // and three; d: its prefix (the copy's last read ended at b) and its chunk.
  EXPECT_EQ(os->installerReads, 1 + 4 + 1 + 4 + 2);
}

// The chunks are decoded on a second thread. Where the system gives no thread, or not all
// of its signals, the worker decodes them itself: the same files, questions and reads.
TEST_F(WorkerTest, WithoutADecodingThreadTheInstallationIsTheSame) {
  files = {{"a.bin", noise(50000, 21), 4096},  // thirteen chunks
           {"b.bin", noise(3000, 22)},
           {"empty.dat", {}},
           {"copy of a.bin", {}},
           {"damaged.bin", noise(9000, 23), 3000},
           {"d.txt", text("d")}};
  files[3].sharesWith = 0;
  files[4].badFraming = true;
  struct Run {
    int threadsStarted;
    int installerReads;
    std::vector<std::string> questions;
    std::vector<uint32_t> progress;
    std::vector<Bytes> data;
  };
  auto run = [&](const char* dir) {
    os->answers = {AnswerYes};
    EXPECT_EQ(install(dir, true), InstallIncomplete);
    Run r{os->threadsStarted, os->installerReads, {}, os->progress, {}};
    for (const auto& q : os->questions) r.questions.push_back(q.text.substr(q.text.find("\\", 3)));
    for (const auto& f : files) r.data.push_back(read(std::string(dir) + "\\" + f.name));
    os->threadsStarted = os->installerReads = 0;
    os->questions.clear();
    os->progress.clear();
    return r;
  };
  const Run threaded = run("C:\\One");
  os->threads = false;
  const Run inline_ = run("C:\\Two");
  os->threads = true;
  os->failSignalAfter = 3;
  const Run noSignal = run("C:\\Three");
  EXPECT_EQ(threaded.threadsStarted, 1);
  EXPECT_EQ(inline_.threadsStarted, 0);
  EXPECT_EQ(noSignal.threadsStarted, 0);
  for (const Run* r : {&threaded, &inline_, &noSignal}) {
    ASSERT_EQ(r->questions.size(), 1u);
    EXPECT_NE(r->questions[0].find("damaged.bin\r\n\r\nFile integrity"), std::string::npos);
    EXPECT_EQ(r->data[0], files[0].data);
    EXPECT_EQ(r->data[3], files[0].data);
    EXPECT_EQ(r->data[1], files[1].data);
    EXPECT_EQ(r->data[5], files[5].data);
    EXPECT_EQ(r->data, threaded.data);
    EXPECT_EQ(r->installerReads, threaded.installerReads);
    EXPECT_EQ(r->progress, threaded.progress);
  }
}

// Stopping at any chunk leaves no thread behind and nothing decoded after the stop is written.
TEST_F(WorkerTest, AStopWhileTheDecoderIsAheadEndsItsThread) {
  files = {{"a.bin", noise(40000, 24), 1000}, {"b.bin", noise(40000, 25), 1000}};
  for (int at : {2, 3, 17, 41, 60}) {
    os->quitAtPause = at;
    os->pauseCalls = 0;
    const std::string dir = "C:\\Q" + std::to_string(at);
    EXPECT_EQ(install(dir, true), InstallQuit) << at;
    // Pause points: before a.bin, its 40 chunks, then before b.bin and its 40.
    const size_t aWritten = at <= 2 ? 0 : std::min(at - 2, 40) * 1000;
    const Bytes a = read(dir + "\\a.bin");
    EXPECT_EQ(a.size(), aWritten) << at;
    EXPECT_TRUE(std::equal(a.begin(), a.end(), files[0].data.begin())) << at;
  }
}

TEST_F(WorkerTest, DamagedChunksAskTheIntegrityQuestion) {
  // The checksum matches the damaged bytes, so only the decoder can notice.
  files = {{"truncated.bin", noise(50000, 7)}, {"unframed.bin", noise(3000, 8), 1000},
           {"fine.txt", text("f")}};
  files[0].truncated = true;
  files[1].badFraming = true;
  os->answers = {AnswerYes, AnswerYes};
  ASSERT_EQ(install("C:\\Apps", true), InstallIncomplete);
  ASSERT_EQ(os->questions.size(), 2u);
  EXPECT_NE(os->questions[0].text.find("truncated.bin\r\n\r\nFile integrity"), std::string::npos);
  EXPECT_NE(os->questions[1].text.find("unframed.bin\r\n\r\nFile integrity"), std::string::npos);
  EXPECT_EQ(read("C:\\Apps\\unframed.bin").size(), 0u);
  EXPECT_EQ(read("C:\\Apps\\fine.txt"), text("f"));
  EXPECT_EQ(os->progress.back(), 100u);
}

TEST_F(WorkerTest, WriteFailureAsksAndRetryCompletesTheFile) {
  files = {{"big.bin", noise(300000, 9), 100000}, {"after.txt", text("after")}};
  os->diskSpace = 8088 + 200 + 150000;  // fills during the second chunk
  int asked = 0;
  os->responder = [&](const HostPlatform::Question& q) {
    ++asked;
    EXPECT_EQ(q.text, "Error writing file:\r\nC:\\Apps\\big.bin");
    EXPECT_EQ(q.style, 18u);
    os->diskSpace.reset();  // space made
    return int32_t(AnswerRetry);
  };
  ASSERT_EQ(install("C:\\Apps"), InstallDone);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(read("C:\\Apps\\big.bin"), files[0].data);
  checkUninstaller("C:\\Apps\\Uninstall.exe", expectedLog("C:\\Apps", {}, {}));
}

TEST_F(WorkerTest, WriteFailureIgnoredOrAborted) {
  files = {{"big.bin", noise(300000, 9), 100000}, {"after.txt", text("after")}};
  os->diskSpace = 8088 + 200 + 150000;
  os->responder = [&](const HostPlatform::Question& q) {
    if (q.text.find("big.bin") != std::string::npos) {
      os->diskSpace.reset();
      return int32_t(AnswerIgnore);
    }
    return int32_t(AnswerAbort);
  };
  // Silent: the lost data must not read as success.
  ASSERT_EQ(install("C:\\Apps"), InstallIncomplete);
  EXPECT_EQ(os->questions.size(), 1u);
  EXPECT_LT(read("C:\\Apps\\big.bin").size(), files[0].data.size());
  EXPECT_EQ(read("C:\\Apps\\after.txt"), text("after"));

  TearDown();
  SetUp();
  files = {{"big.bin", noise(300000, 9), 100000}, {"after.txt", text("after")}};
  os->diskSpace = 8088 + 200 + 150000;
  os->answers = {AnswerAbort};
  EXPECT_EQ(install("C:\\Apps"), InstallStopped);
  EXPECT_FALSE(exists("C:\\Apps\\after.txt"));
  // The disk is still full when the stopped installation's log is finished: that is not asked
  // about a second time (the user has chosen to stop), and no half-written uninstaller is left.
  EXPECT_EQ(os->questions.size(), 1u);
  EXPECT_FALSE(exists("C:\\Apps\\Uninstall.tmp"));

  // A full disk while the uninstaller itself is written is asked about too.
  TearDown();
  SetUp();
  files = {{"a.txt", text("a")}};
  os->diskSpace = 100;
  os->answers = {AnswerAbort};
  EXPECT_EQ(install("C:\\Apps"), InstallStopped);
  ASSERT_EQ(os->questions.size(), 1u);
  // The new image is written under its temporary name; nothing of it is left after the stop.
  EXPECT_EQ(os->questions[0].text, "Error writing file:\r\nC:\\Apps\\Uninstall.tmp");
  EXPECT_FALSE(exists("C:\\Apps\\Uninstall.tmp"));
  EXPECT_FALSE(exists("C:\\Apps\\Uninstall.exe"));
}

TEST_F(WorkerTest, NamesOutsideTheFolderAreRefusedBeforeAnythingIsMade) {
  const std::vector<std::string> badNames = {"..\\evil.txt", "C:\\evil.txt", "\\evil.txt",
                                             "a\\..\\..\\evil.txt", "a/../../evil.txt", "d:x"};
  for (const auto& bad : badNames) {
    TearDown();
    SetUp();
    files = {{"fine.txt", text("f")}, {bad, text("evil")}};
    EXPECT_EQ(install("C:\\Apps\\Tool"), InstallCorrupt) << bad;
    EXPECT_TRUE(os->questions.empty());  // the caller reports the refusal
    EXPECT_FALSE(exists("C:\\Apps")) << bad;
  }
  TearDown();
  SetUp();
  files = {{"fine.txt", text("f")}};
  shortcuts = {{'D', "..\\..\\Windows\\notepad.exe"}};
  EXPECT_EQ(install("C:\\Apps"), InstallCorrupt);
  TearDown();
  SetUp();
  files = {{"fine.txt", text("f")}};
  group = "..\\..\\Startup";
  EXPECT_EQ(install("C:\\Apps"), InstallCorrupt);
  EXPECT_FALSE(exists("C:\\Apps"));
}

// A reinstall that is stopped keeps the registered Uninstall.exe of the installation before
// whole: the new image is written beside it and takes its place only when complete.
TEST_F(WorkerTest, AStoppedReinstallKeepsTheWorkingUninstaller) {
  files = {{"a.txt", text("a")}, {"b.txt", text("b")}};
  ASSERT_EQ(install("C:\\Apps"), InstallDone);
  const Bytes working = read("C:\\Apps\\Uninstall.exe");
  ASSERT_GT(working.size(), 8088u);

  // Abort at a file error, No at the integrity question, a quit in the wizard: each stop leaves
  // the old uninstaller and no temporary file.
  for (int stop = 0; stop < 3; ++stop) {
    files = {{"a.txt", text("A")}, {"b.txt", noise(3000, 12)}, {"c.txt", text("c")}};
    os->questions.clear();
    os->responder = nullptr;
    os->quitAtPause = -1;
    os->pauseCalls = 0;
    std::error_code ec;
    fs::remove_all(os->hostPath("C:\\Apps\\b.txt"), ec);
    if (stop == 0) {
      fs::create_directories(os->hostPath("C:\\Apps\\b.txt"));
      os->answers = {AnswerAbort};
    } else if (stop == 1) {
      files[1].wrongChecksum = true;
      os->answers = {AnswerNo};
    } else {
      os->quitAtPause = 3;  // before a's chunk, then before b
    }
    const InstallOutcome outcome = install("C:\\Apps", stop == 2);
    EXPECT_EQ(outcome, stop == 2 ? InstallQuit : InstallStopped) << stop;
    EXPECT_EQ(read("C:\\Apps\\Uninstall.exe"), working) << stop;
    EXPECT_FALSE(exists("C:\\Apps\\Uninstall.tmp")) << stop;
    EXPECT_EQ(read("C:\\Apps\\a.txt"), text("A")) << stop;
  }

  // A new image that cannot be moved into place leaves the old one too, and is not complete.
  files = {{"a.txt", text("a")}};
  os->questions.clear();
  os->quitAtPause = -1;
  os->failReplace = true;
  EXPECT_EQ(install("C:\\Apps"), InstallIncomplete);
  EXPECT_EQ(read("C:\\Apps\\Uninstall.exe"), working);
  EXPECT_FALSE(exists("C:\\Apps\\Uninstall.tmp"));
}

// A stopped first installation has no uninstaller to keep: its log is closed after what was
// made, so the Uninstall.exe it leaves removes exactly that.
TEST_F(WorkerTest, AStoppedFirstInstallLeavesAnUninstallerForWhatItMade) {
  files = {{"a.txt", text("a")}, {"sub\\b.txt", text("b")}, {"c.txt", text("c")}};
  fs::create_directories(os->hostPath("C:\\Apps\\c.txt"));
  os->answers = {AnswerAbort};
  ASSERT_EQ(install("C:\\Apps"), InstallStopped);
  files.pop_back();  // never created, so not logged
  group = "";
  values.clear();
  Bytes log = expectedLog("C:\\Apps", {}, {});
  log.resize(log.size() - (5 + kUninstallKey.size() + product.size() + 2));  // not registered
  checkUninstaller("C:\\Apps\\Uninstall.exe", log);
  EXPECT_FALSE(exists("C:\\Apps\\Uninstall.tmp"));

  // Stopped among the shortcuts (a quit in the wizard): the group and the shortcuts made so far.
  TearDown();
  SetUp();
  files = {{"tool.exe", peProgram()}};
  group = "Vendor\\Tool";
  shortcuts = {{'P', "tool.exe"}, {'D', "tool.exe"}};
  os->quitAtPause = 3;  // before the file, its chunk, then the first shortcut
  ASSERT_EQ(install("C:\\Apps", true), InstallQuit);
  Writer expect;
  expect.str(product);
  expect.str("C:\\Apps");
  expect.str("tool.exe");
  expect.u8(0);
  expect.str(group);
  expect.u8(0);
  checkUninstaller("C:\\Apps\\Uninstall.exe", expect.b);

  // Stopped among the registry values: the records so far end at the gap.
  TearDown();
  SetUp();
  files = {{"tool.exe", peProgram()}};
  group.clear();
  shortcuts.clear();
  values = {{kHkcu, 1, "Software\\One", "V", text("1")}, {kHkcu, 1, "Software\\Two", "V", text("2")}};
  os->quitAtPause = 4;  // before the file, its chunk, the first value, then the second
  ASSERT_EQ(install("C:\\Apps", true), InstallQuit);
  EXPECT_EQ(os->key(kHkcu, "Software\\Two"), nullptr);
  Writer records;
  records.str(product);
  records.str("C:\\Apps");
  records.str("tool.exe");
  records.u8(0);
  records.u8(0);  // no group
  records.u8(0);  // no shortcuts
  records.u8('C');
  records.u32(kHkcu);
  records.str("Software\\One");
  records.str("V");
  checkUninstaller("C:\\Apps\\Uninstall.exe", records.b);
}

// Device names are refused like names outside the folder: such a "file" would be the device
// in every folder, and the uninstaller could never remove it.
TEST_F(WorkerTest, DeviceNamesAreRefusedBeforeAnythingIsMade) {
  for (const char* bad : {"nul", "CON.txt", "docs\\aux", "lpt1.log", "Com9", "bin\\clock$\\x.txt"}) {
    TearDown();
    SetUp();
    files = {{"fine.txt", text("f")}, {bad, text("x")}};
    EXPECT_EQ(install("C:\\Apps"), InstallCorrupt) << bad;
    EXPECT_FALSE(exists("C:\\Apps")) << bad;
  }
  TearDown();
  SetUp();
  files = {{"fine.txt", text("f")}};
  group = "Vendor\\PRN";
  EXPECT_EQ(install("C:\\Apps"), InstallCorrupt);
}

TEST_F(WorkerTest, BlobIsReadWhereTheLocatorSaysNotAtTheEnd) {
  files = {{"a.txt", text("a")}};
  trailer = noise(3000, 10);  // e.g. a certificate table appended by a signing tool
  ASSERT_EQ(install("C:\\Apps"), InstallDone);
  checkUninstaller("C:\\Apps\\Uninstall.exe", expectedLog("C:\\Apps", {}, {}));
}

TEST_F(WorkerTest, APayloadThatFailedItsCheckIsNeverComplete) {
  // The user went on past the corruption question: everything is made, but the uninstaller
  // image came from bytes nothing vouches for.
  files = {{"a.txt", text("a")}};
  job.payloadSuspect = true;
  ASSERT_EQ(install("C:\\Apps"), InstallIncomplete);
  EXPECT_EQ(read("C:\\Apps\\a.txt"), text("a"));
  checkUninstaller("C:\\Apps\\Uninstall.exe", expectedLog("C:\\Apps", {}, {}));
}

// Values, shortcuts and the registration that could not be made: each one makes the
// installation incomplete, and none of them is logged as made (the uninstaller would otherwise
// delete a key or a shortcut this installation never created).
TEST_F(WorkerTest, WhatCouldNotBeMadeIsIncompleteAndNotLogged) {
  files = {{"tool.exe", peProgram()}};
  values = {{kHkcu, 1, "Software\\Denied", "V", text("x")},
            {kHkcu, 1, "Software\\Fine", "V", text("y")}};
  os->deniedKeys = {"80000001\\software\\denied"};
  shortcuts = {{'D', "tool.exe"}, {'S', "tool.exe"}};
  os->shellFolders[FolderDesktop] = "";
  ASSERT_EQ(install("C:\\Apps"), InstallIncomplete);
  EXPECT_EQ(os->key(kHkcu, "Software\\Denied"), nullptr);
  EXPECT_EQ(regString(kHkcu, "Software\\Fine", "V"), "y");
  values.erase(values.begin());
  checkUninstaller("C:\\Apps\\Uninstall.exe",
                   expectedLog("C:\\Apps", {"C:\\Users\\tester\\Start Menu\\Programs\\Startup\\tool.lnk"},
                               {'C'}));

  // Each kind of failure on its own.
  const std::vector<std::function<void(HostPlatform&)>> faults = {
      [](HostPlatform& p) { p.failValues = {"V"}; },
      [](HostPlatform& p) { p.failValues = {"UninstallString"}; },
      [](HostPlatform& p) { p.deniedKeys = {"80000002\\" + kUninstallKey + "Sample Tool"}; },
      [](HostPlatform& p) { p.failLinks = {"C:\\Users\\tester\\Desktop\\tool.lnk"}; },
  };
  for (size_t i = 0; i < faults.size(); ++i) {
    TearDown();
    SetUp();
    files = {{"tool.exe", peProgram()}};
    values = {{kHkcu, 1, "Software\\Fine", "V", text("y")}};
    shortcuts = {{'D', "tool.exe"}};
    faults[i](*os);
    EXPECT_EQ(install("C:\\Apps"), InstallIncomplete) << "fault " << i;
    EXPECT_TRUE(os->questions.empty());
  }
  // The denied registration is not logged; the shortcut that was not saved is not either.
  Bytes log = read("C:\\Apps\\Uninstall.exe");
  const std::string logText(log.begin() + 8088, log.end());
  EXPECT_EQ(logText.find("tool.lnk"), std::string::npos);
  TearDown();
  SetUp();
  files = {{"tool.exe", peProgram()}};
  os->deniedKeys = {"80000002\\" + kUninstallKey + "Sample Tool"};
  ASSERT_EQ(install("C:\\Apps"), InstallIncomplete);
  log = read("C:\\Apps\\Uninstall.exe");
  EXPECT_EQ(std::string(log.begin() + 8088, log.end()).find("Uninstall\\Sample Tool"), std::string::npos);
}

// Quick Launch exists only on some systems: where its folder is missing, the shortcut is not
// made and not missed.
TEST_F(WorkerTest, QuickLaunchOnlyWhereItExists) {
  files = {{"readme.txt", text("r")}};
  shortcuts = {{'Q', "readme.txt"}};
  ASSERT_EQ(install("C:\\Apps"), InstallDone);
  checkUninstaller("C:\\Apps\\Uninstall.exe", expectedLog("C:\\Apps", {}, {}));
}

TEST_F(WorkerTest, NoMemoryAndAPathTooLongForTheSystem) {
  files = {{"a.txt", text("a")}};
  os->failAllocation = true;
  EXPECT_EQ(install("C:\\Apps"), InstallNoMemory);
  EXPECT_FALSE(exists("C:\\Apps"));

  TearDown();
  SetUp();
  const std::string longName = std::string(200, 'n') + "\\" + std::string(900, 'm');
  files = {{longName, text("x")}, {"b.txt", text("b")}};
  os->answers = {AnswerIgnore};
  ASSERT_EQ(install("C:\\Apps"), InstallIncomplete);
  ASSERT_EQ(os->questions.size(), 1u);
  EXPECT_EQ(os->questions[0].text.size(), 1023u);  // cut to the message buffer, not beyond
  EXPECT_EQ(os->questions[0].text.substr(1020), "...");
  EXPECT_EQ(read("C:\\Apps\\b.txt"), text("b"));
}

}  // namespace
}  // namespace mw
