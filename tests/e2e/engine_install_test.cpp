// The engine end to end: installers made by `marlowick build` from dist/stub.exe and
// dist/uninstaller.exe, run under wine, and the machine inspected afterwards (files, the bytes of
// Uninstall.exe, the registry files of the prefix, shortcut files). Questions are answered by
// the test driver (dist/mw_driver.exe). Wine is slow here, so the whole binary shares one prefix
// and each installation is inspected for as much as it can show; tests use folders of their own.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <ctime>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

#include "packager/wine_session.h"

namespace {

namespace fs = std::filesystem;
using mw::wine::RunResult;
using mw::wine::Session;

const fs::path kDist = MW_DIST;
const fs::path kSource = MW_SOURCE_DIR;

// Silent-mode exit codes (README.md, "Silent-mode exit codes").
constexpr int kInstalled = 0, kPayloadCorrupt = 3, kStopped = 4, kAlreadyRunning = 5,
              kBadDestination = 6, kIncomplete = 7;

std::vector<uint8_t> readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& p, const std::vector<uint8_t>& b) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

void writeText(const fs::path& p, const std::string& s) { writeBytes(p, std::vector<uint8_t>(s.begin(), s.end())); }

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Deterministic bytes that compress somewhat, like real files.
std::vector<uint8_t> sampleBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = (i / 64) % 3 == 0 ? uint8_t('a' + (x >> 16) % 7) : uint8_t(x >> 24);
  }
  return b;
}

Session* session() {
  static std::unique_ptr<Session> s;
  static bool tried = false;
  if (!tried) {
    tried = true;
    std::string error;
    s = Session::create(error, &std::cerr, kSource / "scripts" / "wine-env");
    if (!s) std::cerr << "wine session: " << error << "\n";
  }
  return s.get();
}

#define NEED_SESSION()                                        \
  Session* S = session();                                     \
  ASSERT_NE(S, nullptr) << "a wine prefix could not be made"; \
  (void)S

// The environment of the session, for host programs (marlowick) too.
mw::wine::Environment S_env() { return session()->environment(); }

// A project folder with files and a project.toml, built into setup.exe beside them.
struct Product {
  fs::path dir;
  fs::path installer;
  std::map<std::string, std::vector<uint8_t>> files;  // name as installed ('\' separated) -> bytes
  std::vector<std::string> listOrder;                  // file table order, from `marlowick list`
  uint32_t scriptOffset = 0, scriptLength = 0;
  std::map<std::string, uint32_t> dataOffset;
};

void addFile(Product& p, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string rel = name;
  for (char& c : rel)
    if (c == '\\') c = '/';
  writeBytes(p.dir / "files" / rel, bytes);
  p.files[name] = bytes;
}

// Builds the project with `toml` (its [[files]] takes the folder "files") and reads back the
// file table the packager wrote.
void build(Product& p, const std::string& toml) {
  writeText(p.dir / "project.toml", toml);
  p.installer = p.dir / "setup.exe";
  const mw::wine::Environment env(S_env());
  RunResult r = mw::wine::run({(kDist / "marlowick").string(), "build", (p.dir / "project.toml").string(), "-o",
                               p.installer.string(), "--no-progress", "-q"},
                              env, 600, {}, &std::cerr);
  ASSERT_EQ(r.exitCode, 0) << r.out;
  RunResult list = mw::wine::run({(kDist / "marlowick").string(), "list", "--json", p.installer.string()}, env, 120);
  ASSERT_EQ(list.exitCode, 0) << list.out;
  std::regex fileLine(R"re(\{"name": "((?:[^"\\]|\\.)*)", "dataOffset": (\d+))re");
  std::istringstream in(list.out);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, fileLine)) {
      std::string name = std::regex_replace(m[1].str(), std::regex(R"(\\\\)"), "\\");
      p.listOrder.push_back(name);
      p.dataOffset[name] = uint32_t(std::stoul(m[2].str()));
    }
  }
  const std::vector<uint8_t> bytes = readBytes(p.installer);
  p.scriptOffset = u32(bytes, 15856 + 4);
  p.scriptLength = u32(bytes, 15856 + 8);
}

Product newProduct(const std::string& name) {
  Product p;
  p.dir = session()->scratch() / name;
  fs::remove_all(p.dir);
  fs::create_directories(p.dir);
  return p;
}

RunResult drive(const std::vector<std::string>& steps, const fs::path& installer, const std::string& tail,
                double timeout = 900) {
  std::vector<std::string> args{Session::windowsPath(kDist / "mw_driver.exe"), "--timeout",
                                std::to_string(int(timeout)), "--step-timeout", "300"};
  args.insert(args.end(), steps.begin(), steps.end());
  args.push_back("--");
  args.push_back(Session::windowsPath(installer));
  if (!tail.empty()) args.push_back(tail);
  RunResult r = session()->wine(args, timeout + 120, installer.parent_path());
  session()->waitIdle();
  std::cerr << r.out;
  return r;
}

int boxCount(const std::string& out) {
  int n = 0;
  for (size_t at = 0; (at = out.find("\nbox ", at)) != std::string::npos; ++at) ++n;
  return n + (out.rfind("box ", 0) == 0 ? 1 : 0);
}

void expectFilesInstalled(const Product& p, const fs::path& folder, const std::set<std::string>& skip = {}) {
  for (const auto& [name, bytes] : p.files) {
    if (skip.count(name)) continue;
    std::string rel = name;
    for (char& c : rel)
      if (c == '\\') c = '/';
    const fs::path f = folder / rel;
    ASSERT_TRUE(fs::is_regular_file(f)) << f;
    EXPECT_TRUE(readBytes(f) == bytes) << name << " differs from its source";
  }
}

// ---- Uninstall.exe ---------------------------------------------------------------------------

struct LogRecord {
  char kind;
  uint32_t root;
  std::string subkey;
  bool defaultValue;
  std::string name;
};

struct UninstallLog {
  std::string product, installDir, group;
  std::vector<std::string> files, shortcuts;
  std::vector<LogRecord> records;
  size_t end = 0;  // t: the offset just after the last record
};

std::string cstr(const std::vector<uint8_t>& b, size_t& at) {
  std::string s;
  while (at < b.size() && b[at]) s.push_back(char(b[at++]));
  ++at;
  return s;
}

UninstallLog readLog(const std::vector<uint8_t>& b) {
  UninstallLog log;
  size_t at = 8088;
  log.product = cstr(b, at);
  log.installDir = cstr(b, at);
  for (std::string s; !(s = cstr(b, at)).empty();) log.files.push_back(s);
  log.group = cstr(b, at);
  for (std::string s; !(s = cstr(b, at)).empty();) log.shortcuts.push_back(s);
  while (at < b.size() && (b[at] == 'C' || b[at] == 'O')) {
    LogRecord r{char(b[at]), u32(b, at + 1), {}, false, {}};
    at += 5;
    r.subkey = cstr(b, at);
    if (b[at] == 0xFF) {
      r.defaultValue = true;
      ++at;
    } else {
      r.name = cstr(b, at);
    }
    log.records.push_back(r);
  }
  log.end = at;
  return log;
}

// The layout after the log and every patched header field.
void expectImageLayout(const std::vector<uint8_t>& b, const UninstallLog& log) {
  const std::vector<uint8_t> image = readBytes(kDist / "uninstaller.exe");
  ASSERT_GE(image.size(), 8088u);
  ASSERT_GE(b.size(), 8088u + 1154u);
  EXPECT_TRUE(std::equal(b.begin() + 4, b.begin() + 0xC0, image.begin() + 4)) << "headers before the time stamp";
  EXPECT_TRUE(std::equal(b.begin() + 0x1158, b.begin() + 8088, image.begin() + 0x1158)) << "image after the patched entries";
  const size_t t = log.end;
  const size_t a = (t / 8 + 1) * 8;
  for (size_t i = t; i < a; ++i) EXPECT_EQ(b[i], 0) << "gap byte " << i;
  const std::vector<uint8_t> manifest = readBytes(kSource / "resources" / "common" / "manifest.xml");
  ASSERT_EQ(manifest.size(), 1154u);
  EXPECT_TRUE(std::equal(manifest.begin(), manifest.end(), b.begin() + long(a))) << "manifest at " << a;
  const size_t f = (a + 1154 + 511) / 512 * 512;
  EXPECT_EQ(b.size(), f);
  for (size_t i = a + 1154; i < b.size(); ++i) EXPECT_EQ(b[i], 0) << "tail byte " << i;

  const uint32_t vs = 0x1428 + uint32_t(a) - 8097;
  EXPECT_EQ(u32(b, 0x1134), t - 8088) << "log resource size";
  EXPECT_EQ(u32(b, 0x1150), 0x4FA0 + uint32_t(a) - 8096) << "manifest address";
  EXPECT_EQ(u32(b, 0x230), vs) << "section virtual size";
  EXPECT_EQ(u32(b, 0x144), vs) << "resource directory size";
  EXPECT_EQ(u32(b, 0x238), (vs + 511) / 512 * 512) << "section raw size";
  EXPECT_EQ(u32(b, 0x108), (vs + 0x4000 + 4095) / 4096 * 4096) << "size of image";
  // The stamp counts local time; wine's local time is the host's.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const int64_t localNow = int64_t(now) + local.tm_gmtoff;
  EXPECT_LT(std::llabs(int64_t(u32(b, 0xC0)) - localNow), 3600) << "time stamp";
}


const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// ---- The main product ------------------------------------------------------------------------

const char kMainProject[] = R"toml(
[product]
name = "Sample Tool"

[texts]
welcome = "Welcome."
finish = "Done."

[destination]
kind = "program-files"
path = 'Sample Vendor\Sample Tool'

[[files]]
source = "files"

[start-menu]
group = 'Sample Vendor\Sample Tool'

[[shortcuts]]
place = "desktop"
target = 'bin\tool.exe'

[[shortcuts]]
place = "program-group"
target = 'bin\tool.exe'

[[shortcuts]]
place = "start-menu"
target = 'bin\old.exe'

[[shortcuts]]
place = "startup"
target = 'bin\setup.com'

[[shortcuts]]
place = "quick-launch"
target = 'readme.txt'

[[registry]]
root = "HKCU"
key = 'Software\Sample Vendor\Sample Tool'
name = "Path"
value = '<SetupPath>\bin;<SetupPath>\lib'

[[registry]]
root = "HKCU"
key = 'Software\Sample Vendor\Sample Tool'
name = "Count"
value = 7

[[registry]]
root = "HKCU"
key = 'Software\Sample Vendor\Sample Tool'
name = "Home"
type = "expand-string"
value = '%USERPROFILE%\<SetupPath>'

[[registry]]
root = "HKCU"
key = 'Software\Sample Vendor\Existing'
name = "Added"
value = "yes"

[[registry]]
root = "HKLM"
key = 'Software\Sample Vendor\Sample Tool'
value = "machine default"
)toml";

Product mainProduct(const std::string& name) {
  Product p = newProduct(name);
  addFile(p, "readme.txt", {'h', 'e', 'l', 'l', 'o', '\r', '\n'});
  addFile(p, "empty.txt", {});
  addFile(p, "docs\\deep\\er\\empty too.txt", {});
  addFile(p, "docs\\deep\\note.txt", sampleBytes(5000, 1));
  addFile(p, "data\\big.dat", sampleBytes(3 * 1048576 + 123457, 2));  // four chunks
  addFile(p, "bin\\tool.exe", readBytes(kDist / "mw_driver.exe"));     // a PE program
  addFile(p, "bin\\old.exe", {'M', 'Z', 0x90, 0, 'o', 'l', 'd'});      // MZ without PE: DOS
  addFile(p, "bin\\setup.com", {0xB4, 0x4C, 0xCD, 0x21});
  return p;
}

class EngineWine : public ::testing::Test {};

// One silent installation into the default destination, inspected for the files, the bytes of
// Uninstall.exe, the registry, the uninstall registration and the shortcuts.
TEST_F(EngineWine, SilentInstallIntoTheDefaultDestination) {
  NEED_SESSION();
  Product p = mainProduct("main");
  build(p, kMainProject);
  // A key that exists before the installation is logged as opened, not created.
  RunResult pre = S->wine({"reg", "add", "HKCU\\Software\\Sample Vendor\\Existing", "/v", "Before", "/d", "1", "/f"}, 300);
  ASSERT_EQ(pre.exitCode, 0);
  S->waitIdle();

  RunResult r = drive({"--stop-boxes"}, p.installer, "/s");
  ASSERT_EQ(r.exitCode, kInstalled) << r.out;
  EXPECT_EQ(boxCount(r.out), 0) << "a silent install that works asks nothing";

  const mw::wine::Registry reg = S->registry();
  auto programFiles = reg.value("HKLM", "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir");
  ASSERT_TRUE(programFiles);
  const std::string installDir = programFiles->text + "\\Sample Vendor\\Sample Tool";
  const fs::path folder = S->hostPath(installDir);
  expectFilesInstalled(p, folder);

  // Uninstall.exe: the image, the log in script order, the gap, the manifest, the header.
  const std::vector<uint8_t> un = readBytes(folder / "Uninstall.exe");
  ASSERT_GT(un.size(), 8088u);
  const UninstallLog log = readLog(un);
  EXPECT_EQ(log.product, "Sample Tool");
  EXPECT_EQ(log.installDir, installDir) << "the folder as the installation started, without a final backslash";
  EXPECT_EQ(log.files, p.listOrder);
  EXPECT_EQ(log.group, "Sample Vendor\\Sample Tool");
  // Quick Launch exists only on some systems: where its folder is missing, its shortcut is
  // neither made nor missed.
  bool quickLaunch = false;
  for (const auto& user : fs::directory_iterator(S->driveC() / "users"))
    quickLaunch = quickLaunch || fs::is_directory(user.path() / "AppData" / "Roaming" / "Microsoft" /
                                                  "Internet Explorer" / "Quick Launch");
  ASSERT_EQ(log.shortcuts.size(), quickLaunch ? 5u : 4u);
  expectImageLayout(un, log);

  // Registry values, with "<SetupPath>" expanded and each key's created/opened state logged.
  auto path = reg.value("HKCU", "Software\\Sample Vendor\\Sample Tool", "Path");
  ASSERT_TRUE(path);
  EXPECT_EQ(path->type, 1u);
  EXPECT_EQ(path->text, installDir + "\\bin;" + installDir + "\\lib");
  auto count = reg.value("HKCU", "Software\\Sample Vendor\\Sample Tool", "Count");
  ASSERT_TRUE(count);
  EXPECT_EQ(count->type, 4u);
  EXPECT_EQ(count->dword, 7u);
  auto home = reg.value("HKCU", "Software\\Sample Vendor\\Sample Tool", "Home");
  ASSERT_TRUE(home);
  EXPECT_EQ(home->type, 2u);
  EXPECT_EQ(home->text, "%USERPROFILE%\\" + installDir);
  auto added = reg.value("HKCU", "Software\\Sample Vendor\\Existing", "Added");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->text, "yes");
  auto machine = reg.value("HKLM", "Software\\Sample Vendor\\Sample Tool", "");
  ASSERT_TRUE(machine) << "the default value, in the 32-bit view of HKEY_LOCAL_MACHINE";
  EXPECT_EQ(machine->text, "machine default");

  ASSERT_EQ(log.records.size(), 10u);
  const char* keys[] = {"Software\\Sample Vendor\\Sample Tool", "Software\\Sample Vendor\\Sample Tool",
                        "Software\\Sample Vendor\\Sample Tool", "Software\\Sample Vendor\\Existing",
                        "Software\\Sample Vendor\\Sample Tool"};
  const char kinds[] = {'C', 'O', 'O', 'O', 'C'};
  const uint32_t roots[] = {0x80000001, 0x80000001, 0x80000001, 0x80000001, 0x80000002};
  const char* names[] = {"Path", "Count", "Home", "Added", nullptr};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(log.records[i].kind, kinds[i]) << "record " << i;
    EXPECT_EQ(log.records[i].root, roots[i]) << "record " << i;
    EXPECT_EQ(log.records[i].subkey, keys[i]) << "record " << i;
    EXPECT_EQ(log.records[i].defaultValue, names[i] == nullptr) << "record " << i;
    if (names[i]) {
      EXPECT_EQ(log.records[i].name, names[i]);
    }
  }
  // The packager's values for the list of programs, in the registration's key (made by the
  // first of them), then the registration's own record.
  const char* listValues[] = {"DisplayIcon", "EstimatedSize", "NoModify", "NoRepair"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(log.records[5 + i].kind, i == 0 ? 'C' : 'O') << "record " << 5 + i;
    EXPECT_EQ(log.records[5 + i].root, 0x80000002u);
    EXPECT_EQ(log.records[5 + i].subkey, std::string(kUninstallKey) + "Sample Tool");
    EXPECT_EQ(log.records[5 + i].name, listValues[i]);
  }
  EXPECT_EQ(log.records[9].kind, 'C');
  EXPECT_EQ(log.records[9].root, 0x80000002u);
  EXPECT_EQ(log.records[9].subkey, std::string(kUninstallKey) + "Sample Tool");
  EXPECT_TRUE(!log.records[9].defaultValue && log.records[9].name.empty());

  auto displayName = reg.value("HKLM", std::string(kUninstallKey) + "Sample Tool", "DisplayName");
  auto uninstallString = reg.value("HKLM", std::string(kUninstallKey) + "Sample Tool", "UninstallString");
  ASSERT_TRUE(displayName && uninstallString);
  EXPECT_EQ(displayName->type, 1u);
  EXPECT_EQ(displayName->text, "Sample Tool");
  EXPECT_EQ(uninstallString->type, 1u);
  // Quoted: a blank in the folder must not make the system start "C:\Program" first.
  EXPECT_EQ(uninstallString->text, "\"" + installDir + "\\Uninstall.exe\"");

  // Shortcuts: .lnk for a PE program and a document, .pif for DOS programs; the program group
  // is made level by level below Programs.
  // Folder names as the shell spells them (wine writes "StartUp"); compared without case.
  auto endsWith = [](std::string s, std::string t) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
  };
  EXPECT_TRUE(endsWith(log.shortcuts[0], "\\Desktop\\tool.lnk")) << log.shortcuts[0];
  EXPECT_TRUE(endsWith(log.shortcuts[1], "\\Programs\\Sample Vendor\\Sample Tool\\tool.lnk")) << log.shortcuts[1];
  EXPECT_TRUE(endsWith(log.shortcuts[2], "\\Start Menu\\old.pif")) << log.shortcuts[2];
  EXPECT_TRUE(endsWith(log.shortcuts[3], "\\Startup\\setup.pif")) << log.shortcuts[3];
  if (quickLaunch) {
    EXPECT_TRUE(endsWith(log.shortcuts[4], "\\Microsoft\\Internet Explorer\\Quick Launch\\readme.lnk")) << log.shortcuts[4];
  }
  for (const std::string& link : log.shortcuts) EXPECT_TRUE(fs::is_regular_file(S->hostPath(link))) << link;
  const std::vector<uint8_t> lnk = readBytes(S->hostPath(log.shortcuts[0]));
  ASSERT_GT(lnk.size(), 0x4Cu);
  EXPECT_EQ(u32(lnk, 0), 0x4Cu) << "a shell link file";
  const std::string lnkText(lnk.begin(), lnk.end());
  EXPECT_NE(lnkText.find("tool.exe"), std::string::npos) << "the link names its target";
}

// "/s FOLDER" installs there; the folder is copied as given, blanks included. A folder of 1024
// characters or more is refused with a message instead of overflowing the destination buffer.
TEST_F(EngineWine, SilentInstallIntoAFolderFromTheCommandLine) {
  NEED_SESSION();
  Product p = newProduct("cmdline");
  addFile(p, "a.txt", {'a'});
  addFile(p, "sub\\b.txt", sampleBytes(10000, 3));
  build(p, R"toml(
[product]
name = "Command Line Tool"
[destination]
kind = "program-files"
path = "Never Here"
[[files]]
source = "files"
)toml");
  RunResult r = drive({"--stop-boxes"}, p.installer, "/s C:\\Some Dir");
  ASSERT_EQ(r.exitCode, kInstalled) << r.out;
  expectFilesInstalled(p, S->driveC() / "Some Dir");
  const UninstallLog log = readLog(readBytes(S->driveC() / "Some Dir" / "Uninstall.exe"));
  EXPECT_EQ(log.installDir, "C:\\Some Dir");
  auto uninstallString = S->registry().value("HKLM", std::string(kUninstallKey) + "Command Line Tool", "UninstallString");
  ASSERT_TRUE(uninstallString);
  EXPECT_EQ(uninstallString->text, "\"C:\\Some Dir\\Uninstall.exe\"");

  const std::string tooLong = "C:\\" + std::string(1021, 'x');  // 1024 characters
  RunResult refused = drive({"box-text", "*too long*", "OK"}, p.installer, "/s " + tooLong);
  EXPECT_EQ(refused.exitCode, kBadDestination) << refused.out;

  // A relative folder would install below wherever the installer was started: refused as the
  // wizard refuses it, before anything is made.
  RunResult relative = drive({"box-text", "*must be a full path*", "OK"}, p.installer, "/s Relative Dir");
  EXPECT_EQ(relative.exitCode, kBadDestination) << relative.out;
  EXPECT_FALSE(fs::exists(p.dir / "Relative Dir"));
}

// A second copy of an installer that is running ends at once, silently, with its own code.
TEST_F(EngineWine, ASecondCopyEndsAtOnce) {
  NEED_SESSION();
  Product p = newProduct("mutex");
  addFile(p, "a.txt", {'a'});
  build(p, R"toml(
[product]
name = "Mutex Tool"
[destination]
kind = "absolute"
path = 'C:\Mutex Tool'
[[files]]
source = "files"
)toml");
  // The first copy shows the wizard and waits there, holding the mutex; once the second copy
  // has ended, the prefix's server is ended, which ends the first copy too.
  std::string first = "wine";
  for (const std::string& a : {Session::windowsPath(kDist / "mw_driver.exe"), std::string("--timeout"),
                               std::string("900"), std::string("dialog"), std::string("*"), std::string("sleep"),
                               std::string("600000"), std::string("--"), Session::windowsPath(p.installer)})
    first += " '" + a + "'";
  const std::string firstOut = (p.dir / "first.out").string();
  const std::vector<std::string> script{
      "bash", "-c",
      first + " > '" + firstOut + "' 2>/dev/null & "
      "for i in $(seq 1 600); do grep -q 'dialog found' '" + firstOut + "' && break; sleep 1; done; "
      "wine '" + Session::windowsPath(p.installer) + "' /s; echo \"second=$?\"; "
      "\"${WINESERVER:-wineserver}\" -k; wait"};
  RunResult r = mw::wine::run(script, S->environment(), 1500);
  S->waitIdle();
  std::cerr << r.out;
  const std::vector<uint8_t> firstLog = readBytes(firstOut);
  EXPECT_NE(std::string(firstLog.begin(), firstLog.end()).find("dialog found"), std::string::npos)
      << "the first copy showed its wizard";
  EXPECT_NE(r.out.find("second=" + std::to_string(kAlreadyRunning)), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(S->driveC() / "Mutex Tool")) << "the second copy installed nothing";
}

// The corrupted-payload question: No ends with nothing installed; Yes goes on with the data as
// read. The changed byte lies in the uninstaller blob after its end-of-stream mark, so going on
// installs everything even though the checksum over the payload fails.
TEST_F(EngineWine, CorruptPayloadQuestion) {
  NEED_SESSION();
  Product p = newProduct("corrupt");
  addFile(p, "a.txt", sampleBytes(3000, 4));
  build(p, R"toml(
[product]
name = "Corrupt Tool"
[destination]
kind = "absolute"
path = 'C:\Corrupt Tool'
[[files]]
source = "files"
)toml");
  std::vector<uint8_t> bytes = readBytes(p.installer);
  bytes.back() ^= 0x5A;
  writeBytes(p.installer, bytes);

  RunResult no = drive({"box-text", "Installer corrupted or incomplete.\\r\\nAre you sure*", "No"}, p.installer, "/s");
  EXPECT_EQ(no.exitCode, kPayloadCorrupt) << no.out;
  EXPECT_FALSE(fs::exists(S->driveC() / "Corrupt Tool"));

  // Going on installs everything, but nothing vouches for the uninstaller any more: never
  // reported as complete.
  RunResult yes = drive({"box-text", "Installer corrupted*", "Yes"}, p.installer, "/s");
  EXPECT_EQ(yes.exitCode, kIncomplete) << yes.out;
  expectFilesInstalled(p, S->driveC() / "Corrupt Tool");

  // The bare stub has no payload at all: the same question, and going on is refused with a
  // message instead of running on garbage.
  const fs::path bare = p.dir / "bare.exe";
  fs::copy_file(kDist / "stub.exe", bare, fs::copy_options::overwrite_existing);
  RunResult none = drive({"box-text", "Installer corrupted*", "Yes", "box-text", "*cannot be read*", "OK"}, bare, "/s");
  EXPECT_EQ(none.exitCode, kPayloadCorrupt) << none.out;
}

// A destination that cannot be made the current folder (a file stands there) is asked about;
// Cancel stops the installation.
TEST_F(EngineWine, DestinationThatCannotBeMadeCurrent) {
  NEED_SESSION();
  Product p = newProduct("blocked");
  addFile(p, "a.txt", {'a'});
  build(p, R"toml(
[product]
name = "Blocked Tool"
[destination]
kind = "absolute"
path = 'C:\Blocked Tool'
[[files]]
source = "files"
)toml");
  writeText(S->driveC() / "Blocked Tool", "a file where the folder should be");
  RunResult r = drive({"box-text", "Unable to create the directory:\\r\\nC:\\Blocked Tool", "Cancel"}, p.installer, "/s");
  EXPECT_EQ(r.exitCode, kStopped) << r.out;
}

// Files that cannot be created, answered in one run: Retry after the obstacle is gone creates the
// file; Ignore goes on without it; Abort stops.
TEST_F(EngineWine, FileThatCannotBeCreated) {
  NEED_SESSION();
  Product p = newProduct("files");
  addFile(p, "1 retry.txt", {'r'});
  addFile(p, "2 ignore.txt", {'i'});
  addFile(p, "3 abort.txt", {'a'});
  addFile(p, "4 never.txt", {'n'});
  build(p, R"toml(
[product]
name = "Obstacle Tool"
[destination]
kind = "absolute"
path = 'C:\Obstacle Tool'
[[files]]
source = "files"
)toml");
  ASSERT_EQ(p.listOrder, (std::vector<std::string>{"1 retry.txt", "2 ignore.txt", "3 abort.txt", "4 never.txt"}));
  // Folders standing where the files should be.
  for (const char* n : {"1 retry.txt", "2 ignore.txt", "3 abort.txt"}) fs::create_directories(S->driveC() / "Obstacle Tool" / n);
  RunResult r = drive({"wait-box", "Error creatig file:\\r\\nC:\\Obstacle Tool\\1 retry.txt", "remove",
                       "C:\\Obstacle Tool\\1 retry.txt", "box", "Retry",
                       "box-text", "Error creatig file:\\r\\nC:\\Obstacle Tool\\2 ignore.txt", "Ignore",
                       "box-text", "Error creatig file:\\r\\nC:\\Obstacle Tool\\3 abort.txt", "Abort"},
                      p.installer, "/s");
  EXPECT_EQ(r.exitCode, kStopped) << r.out;
  const fs::path folder = S->driveC() / "Obstacle Tool";
  EXPECT_EQ(readBytes(folder / "1 retry.txt"), std::vector<uint8_t>{'r'});
  EXPECT_TRUE(fs::is_directory(folder / "2 ignore.txt"));
  EXPECT_FALSE(fs::exists(folder / "4 never.txt"));
  // The log names the ignored file too. A stopped first installation has no earlier
  // uninstaller to keep: its log is finished with what was made, so Uninstall.exe can remove it.
  const std::vector<uint8_t> un = readBytes(folder / "Uninstall.exe");
  const UninstallLog log = readLog(un);
  EXPECT_EQ(log.files, (std::vector<std::string>{"1 retry.txt", "2 ignore.txt"}));
  EXPECT_TRUE(log.shortcuts.empty() && log.records.empty());
  expectImageLayout(un, log);
  EXPECT_FALSE(fs::exists(folder / "Uninstall.tmp"));
}

// A reinstall into the same folder that is stopped (Abort at a file error) must not destroy the
// working uninstaller the registration points at: it still starts and asks its question.
TEST_F(EngineWine, AStoppedReinstallKeepsAWorkingUninstaller) {
  NEED_SESSION();
  Product p = newProduct("reinstall");
  addFile(p, "1 first.txt", {'1'});
  addFile(p, "2 second.txt", {'2'});
  build(p, R"toml(
[product]
name = "Reinstall Tool"
[destination]
kind = "absolute"
path = 'C:\Reinstall Tool'
[[files]]
source = "files"
)toml");
  RunResult first = drive({"--stop-boxes"}, p.installer, "/s");
  ASSERT_EQ(first.exitCode, kInstalled) << first.out;
  const fs::path folder = S->driveC() / "Reinstall Tool";
  const std::vector<uint8_t> working = readBytes(folder / "Uninstall.exe");
  ASSERT_GT(working.size(), 8088u);

  fs::remove(folder / "2 second.txt");
  fs::create_directories(folder / "2 second.txt");  // a folder where the file should be
  RunResult again = drive({"box-text", "Error creatig file:\\r\\nC:\\Reinstall Tool\\2 second.txt", "Abort"},
                          p.installer, "/s");
  EXPECT_EQ(again.exitCode, kStopped) << again.out;
  EXPECT_TRUE(readBytes(folder / "Uninstall.exe") == working) << "the old uninstaller was changed";
  EXPECT_FALSE(fs::exists(folder / "Uninstall.tmp"));

  // The registered command starts it, and it asks before it removes anything (No keeps all).
  auto command = S->registry().value("HKLM", std::string(kUninstallKey) + "Reinstall Tool", "UninstallString");
  ASSERT_TRUE(command);
  ASSERT_EQ(command->text, "\"C:\\Reinstall Tool\\Uninstall.exe\"");
  std::vector<std::string> args{Session::windowsPath(kDist / "mw_driver.exe"), "--follow", "--timeout", "600",
                                "--step-timeout", "300", "box-text", "*remove Reinstall Tool*", "No", "--",
                                "C:\\Reinstall Tool\\Uninstall.exe"};
  RunResult un = S->wine(args, 720);
  S->waitIdle();
  std::cerr << un.out;
  EXPECT_NE(un.out.find("answer=No"), std::string::npos) << un.out;
  EXPECT_TRUE(fs::exists(folder / "1 first.txt"));
}

// A DLL planted beside the installer under the name of a system library is never loaded:
// netapi32.dll, which the administrator check loads at run time, is loaded by its full path from
// the system folder, and the search no longer looks beside the program. Wine prefers its own
// builtin libraries to files it finds; the run asks it to prefer a native netapi32, as Windows
// always does. (A version.dll planted beside it too stays unloaded with wine's defaults; under
// an override wine's own user32 imports it before any code of the program runs.) The same
// installer built on a stub that loaded netapi32 by name wrote the marker.
TEST_F(EngineWine, PlantedDllsBesideTheInstallerAreNotLoaded) {
  NEED_SESSION();
  Product p = newProduct("planted");
  addFile(p, "a.txt", {'a'});
  build(p, R"toml(
[product]
name = "Planted Tool"
[destination]
kind = "absolute"
path = 'C:\Planted Tool'
[requirements]
administrator = true
[[files]]
source = "files"
)toml");
  for (const char* name : {"netapi32.dll", "version.dll"})
    fs::copy_file(kDist / "planted_marker.dll", p.dir / name, fs::copy_options::overwrite_existing);
  const fs::path marker = S->driveC() / "planted_marker.txt";
  fs::remove(marker);
  mw::wine::Environment env = S->environment();
  env["WINEDLLOVERRIDES"] += ";netapi32=n,b";
  RunResult r = mw::wine::run({"wine", Session::windowsPath(kDist / "mw_driver.exe"), "--timeout", "600",
                               "--stop-boxes", "--", Session::windowsPath(p.installer), "/s"},
                              env, 720, p.dir);
  S->waitIdle();
  std::cerr << r.out;
  EXPECT_EQ(r.exitCode, kInstalled) << r.out;
  EXPECT_TRUE(fs::exists(S->driveC() / "Planted Tool" / "a.txt"));
  const std::vector<uint8_t> loaded = readBytes(marker);
  EXPECT_FALSE(fs::exists(marker)) << "loaded: " << std::string(loaded.begin(), loaded.end());
}

// A damaged scriptLength names a script larger than the file: a corrupt payload, asked about
// before any memory is requested, and never "not enough memory" or a silent 0.
TEST_F(EngineWine, ADamagedScriptLengthIsACorruptPayload) {
  NEED_SESSION();
  Product p = newProduct("scriptlength");
  addFile(p, "a.txt", {'a'});
  build(p, R"toml(
[product]
name = "Length Tool"
[destination]
kind = "absolute"
path = 'C:\Length Tool'
[[files]]
source = "files"
)toml");
  std::vector<uint8_t> bytes = readBytes(p.installer);
  bytes[15856 + 8 + 3] = 0x7F;  // scriptLength about 2 GiB
  writeBytes(p.installer, bytes);
  RunResult no = drive({"box-text", "Installer corrupted or incomplete.\\r\\nAre you sure*", "No"}, p.installer, "/s");
  EXPECT_EQ(no.exitCode, kPayloadCorrupt) << no.out;
  RunResult yes = drive({"box-text", "Installer corrupted*", "Yes", "box-text", "*cannot be read*", "OK"}, p.installer, "/s");
  EXPECT_EQ(yes.exitCode, kPayloadCorrupt) << yes.out;
  EXPECT_EQ(yes.out.find("memory"), std::string::npos) << yes.out;
  EXPECT_FALSE(fs::exists(S->driveC() / "Length Tool"));
}

// Damaged file data (the payload check still passes: it covers only the script and the
// uninstaller): the integrity question, Yes keeps the damaged file and goes on, No stops.
TEST_F(EngineWine, ChecksumMismatch) {
  NEED_SESSION();
  Product p = newProduct("checksum");
  addFile(p, "1 first.dat", sampleBytes(20000, 5));
  addFile(p, "2 second.dat", sampleBytes(20000, 6));
  addFile(p, "3 third.txt", {'t'});
  build(p, R"toml(
[product]
name = "Checksum Tool"
[destination]
kind = "absolute"
path = 'C:\Checksum Tool'
[[files]]
source = "files"
)toml");
  std::vector<uint8_t> bytes = readBytes(p.installer);
  for (const char* n : {"1 first.dat", "2 second.dat"}) {
    const uint32_t at = p.dataOffset.at(n);
    ASSERT_GT(at, 0u);
    bytes[at + 4 + 200] ^= 0xFF;  // inside the first chunk's body
  }
  writeBytes(p.installer, bytes);
  RunResult r = drive({"box-text", "C:\\Checksum Tool\\1 first.dat\\r\\n\\r\\nFile integrity check has failed. Do you want to continue?", "Yes",
                       "box-text", "*2 second.dat*File integrity check has failed*", "No"},
                      p.installer, "/s");
  EXPECT_EQ(r.exitCode, kStopped) << r.out;
  EXPECT_TRUE(fs::exists(S->driveC() / "Checksum Tool" / "1 first.dat")) << "kept as written after Yes";
  EXPECT_FALSE(fs::exists(S->driveC() / "Checksum Tool" / "3 third.txt"));
}

// The wizard road of the start-up: the wizard is shown with the default destination, the
// installation runs on the wizard's worker thread, and after Finish the process ends with 0.
// Cancel on the first page ends it with nothing installed.
TEST_F(EngineWine, WizardRoad) {
  NEED_SESSION();
  Product p = newProduct("wizard");
  addFile(p, "a.txt", {'a'});
  addFile(p, "sub\\b.dat", sampleBytes(1500000, 8));
  const std::string mark = "echo ran> ran.txt\r\n";
  addFile(p, "mark.cmd", std::vector<uint8_t>(mark.begin(), mark.end()));
  build(p, R"toml(
[product]
name = "Wizard Tool"
[texts]
finish = "All done."
[destination]
kind = "absolute"
path = 'C:\Wizard Tool'
[[files]]
source = "files"
[after-install]
run = "mark.cmd"
)toml");
  RunResult cancelled = drive({"dialog", "Wizard Tool Setup", "wait-text", "16", "Next >", "click", "15", "exit", "0"}, p.installer, "");
  EXPECT_EQ(cancelled.exitCode, 0) << cancelled.out;
  EXPECT_FALSE(fs::exists(S->driveC() / "Wizard Tool"));

  RunResult r = drive({"dialog", "Wizard Tool Setup", "wait-text", "16", "Next >", "click", "16",
                       "wait-visible", "20", "1", "expect-text", "20", "C:\\Wizard Tool",
                       "type", "20", "C:\\Wizard Chosen", "wait-enabled", "16", "1", "click", "16",
                       "wait-text", "16", "Install", "click", "16",
                       "wait-text", "15", "Finish", "expect-text", "9", "All done.", "click", "15",
                       "sleep", "20000", "exit", "0"},
                      p.installer, "");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(boxCount(r.out), 0);
  expectFilesInstalled(p, S->driveC() / "Wizard Chosen");
  // The run-after action started the installed command file in the installation folder.
  EXPECT_TRUE(fs::exists(S->driveC() / "Wizard Chosen" / "ran.txt")) << "the run-after action ran";
  EXPECT_FALSE(fs::exists(S->driveC() / "Wizard Tool"));
}

// A full disk: a 1 MiB tmpfs as drive T:. The write that fails is asked about like a file that
// cannot be created; Abort stops and the silent install does not report success.
TEST_F(EngineWine, DiskFull) {
  NEED_SESSION();
  const fs::path mountPoint = S->scratch() / "small-disk";
  fs::create_directories(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "mounting a tmpfs is not permitted here: " << std::strerror(errno);
  struct Unmount {
    fs::path p;
    ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  const fs::path driveT = S->prefix() / "dosdevices" / "t:";
  fs::remove(driveT);
  fs::create_directory_symlink(mountPoint, driveT);

  Product p = newProduct("diskfull");
  addFile(p, "big.dat", sampleBytes(2 * 1048576, 7));
  addFile(p, "after.txt", {'x'});
  build(p, R"toml(
[product]
name = "Full Tool"
[destination]
kind = "absolute"
path = 'T:\Full Tool'
[[files]]
source = "files"
)toml");
  RunResult r = drive({"box-text", "Error writing file:\\r\\nT:\\Full Tool\\*", "Abort"}, p.installer, "/s");
  EXPECT_EQ(r.exitCode, kStopped) << r.out;
  S->waitIdle();
  fs::remove(driveT);
}

}  // namespace
