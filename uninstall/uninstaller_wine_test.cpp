// The uninstaller under wine, end to end: an Uninstall.exe assembled from the built image, a
// composed log and the shared manifest, exactly as the installer lays it out; the files, folders,
// shortcuts and registry values that log names, set up in a fresh prefix; then the test driver
// answers the uninstaller's questions. One prefix serves the whole test: first No (nothing may
// go), then Yes (everything the log names goes, and nothing else).
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "uninstall/image_builder.h"
#include "uninstall/log_format.h"

namespace fs = std::filesystem;

namespace mw {
namespace {

const std::string kProduct = "Marlowick Test Tool";
const std::string kGroup = "Marlowick Test\\Tool Group";
const std::string kUninstallKey =
    std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kProduct;

Bytes readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void writeFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}
std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}
std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The keys and values of one of wine's registry files (system.reg: HKLM, user.reg: HKCU), with
// key paths and value names lowercased and values decoded to text (REG_MULTI_SZ entries joined
// with '|').
using RegFile = std::map<std::string, std::map<std::string, std::string>>;

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char n = s[++i];
    out += n == '0' ? '|' : n == 'n' ? '\n' : n;
  }
  return out;
}

std::string decodeValue(const std::string& v) {
  if (!v.empty() && v[0] == '"') return unescape(v.substr(1, v.rfind('"') - 1));
  const size_t colon = v.find(':');
  const std::string type = v.substr(0, colon), data = colon == std::string::npos ? "" : v.substr(colon + 1);
  if (type.rfind("str(", 0) == 0) return unescape(data.substr(1, data.rfind('"') - 1));
  if (type == "hex(7)" || type == "hex(2)") {  // UTF-16LE bytes
    std::string out;
    std::stringstream ss(data);
    std::string byte;
    int index = 0;
    while (std::getline(ss, byte, ',')) {
      const int b = std::stoi(byte, nullptr, 16);
      if (index++ % 2 == 0) out += b ? char(b) : '|';
    }
    return out;
  }
  return v;
}

RegFile readRegistry(const fs::path& file) {
  RegFile reg;
  std::ifstream in(file);
  std::string line, key, pending;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!pending.empty()) {
      size_t start = line.find_first_not_of(' ');
      line = pending + (start == std::string::npos ? "" : line.substr(start));
      pending.clear();
    }
    if (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
      pending = line.substr(0, line.size() - 1);
      continue;
    }
    if (line.rfind("[", 0) == 0) {
      key = lower(unescape(line.substr(1, line.find(']') - 1)));
      reg[key];
    } else if (line.rfind("\"", 0) == 0 || line.rfind("@=", 0) == 0) {
      std::string name, rest;
      if (line[0] == '@') {
        rest = line.substr(2);
      } else {
        size_t i = 1;
        for (; i < line.size() && line[i] != '"'; ++i)
          if (line[i] == '\\') ++i;
        name = unescape(line.substr(1, i - 1));
        rest = line.substr(i + 2);
      }
      reg[key][lower(name)] = decodeValue(rest);
    }
  }
  return reg;
}

class UninstallerUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = readFile(fs::path(MW_DIST_DIR) / "uninstaller.exe");
    ASSERT_EQ(image_.size(), kUninstallerImageSize) << "build dist/uninstaller.exe first";
    ASSERT_TRUE(fs::exists(fs::path(MW_DIST_DIR) / "mw_driver.exe"));
    work_ = fs::temp_directory_path() / ("mw-uninstall-" + std::to_string(::getpid()));
    fs::remove_all(work_);
    fs::create_directories(work_);
    prefix_ = work_ / "pfx";
    // Message boxes need a screen; the test command provides one, a lone run starts its own.
    if (!std::getenv("DISPLAY")) {
      std::string display;
      ASSERT_EQ(sh("mw_wine_display && echo \"$mw_xvfb_pid $DISPLAY\"", &display), 0);
      std::istringstream in(display);
      std::string name;
      in >> xvfbPid_ >> name;
      ASSERT_FALSE(name.empty());
      setenv("DISPLAY", name.c_str(), 1);
    }
    // The shared template's copy. Its wine server is ended again: with one that ends by itself
    // `wineserver -w` waits for the uninstaller's copy and leaves the registry saved on disk.
    ASSERT_EQ(sh("mw_wine_prefix " + shellQuote(prefix_.string()) + " && mw_wine_end " +
                 shellQuote(prefix_.string())),
              0)
        << "no wine prefix";
    drive_ = prefix_ / "drive_c";
    for (const auto& e : fs::directory_iterator(drive_ / "users"))
      if (e.is_directory() && e.path().filename() != "Public") user_ = e.path().filename().string();
    ASSERT_FALSE(user_.empty());
    programs_ = "AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
  }
  void TearDown() override {
    sh("mw_wine_end " + shellQuote(prefix_.string()));
    if (xvfbPid_ > 0) kill(xvfbPid_, SIGTERM);
    if (!HasFailure()) fs::remove_all(work_);
    else std::fprintf(stderr, "kept %s for inspection\n", work_.c_str());
  }

  // Runs a command with the wine environment of this test's prefix.
  int sh(const std::string& command, std::string* output = nullptr) {
    const std::string script = ". " + shellQuote(std::string(MW_SOURCE_DIR) + "/scripts/wine-env") +
                               " && export WINEPREFIX=" + shellQuote(prefix_.string()) + " && " +
                               command;
    const fs::path out = work_ / "out.txt";
    const int rc = std::system(("bash -c " + shellQuote(script) + " >" + shellQuote(out.string()) +
                                " 2>&1").c_str());
    const Bytes text = readFile(out);
    if (output) *output = std::string(text.begin(), text.end());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  // The uninstaller run by the driver; `steps` answer its boxes. Waits for every process of the
  // prefix (the copy in the temporary folder outlives the program the driver started).
  std::string runUninstaller(const std::string& steps) {
    std::string out;
    const std::string driver = (fs::path(MW_DIST_DIR) / "mw_driver.exe").string();
    // A copy left waiting (a failed step) is ended so that it cannot disturb the next run.
    const int rc = sh("timeout 600 wine " + shellQuote(driver) + " --follow --timeout 500 --step-timeout 300 " + steps +
                          " -- 'C:\\Apps\\Tool\\Uninstall.exe'; rc=$?;"
                          " timeout 120 wineserver -w || { wineserver -k; rc=99; }; exit $rc",
                      &out);
    EXPECT_EQ(rc, 0) << out;
    std::printf("%s", out.c_str());
    return out;
  }

  fs::path user(const std::string& rel) const { return drive_ / "users" / user_ / rel; }
  std::string userWin(const std::string& rel) const {
    std::string p = "C:\\users\\" + user_ + "\\" + rel;
    for (char& c : p)
      if (c == '/') c = '\\';
    return p;
  }

  Bytes image_;
  pid_t xvfbPid_ = 0;
  fs::path work_, prefix_, drive_;
  std::string user_, programs_;
};

TEST_F(UninstallerUnderWine, NoRemovesNothingAndYesRemovesWhatTheLogNames) {
  // The installation as its log records it.
  const std::string shortcutA = userWin(programs_ + "/" + "Marlowick Test/Tool Group/Tool.lnk");
  const std::string shortcutB = "C:\\Shortcuts\\Tool.lnk";
  Bytes buf(4096);
  LogAppender log(buf.data(), uint32_t(buf.size()));
  log.appendString(kProduct.c_str());
  log.appendString("C:\\Apps\\Tool");
  for (const char* f : {"tool.exe", "Help\\Tool.HLP", "data\\sub\\a.txt", "..\\outside.txt"})
    log.appendString(f);
  log.appendListEnd();
  log.appendString(kGroup.c_str());
  log.appendString(shortcutA.c_str());
  log.appendString(shortcutB.c_str());
  log.appendListEnd();
  log.appendRegistryRecord(kRecordOpened, 0x80000001, "Software\\MarlowickTest\\Existing", "Added", true);
  log.appendRegistryRecord(kRecordCreated, 0x80000001, "Software\\MarlowickTest\\Created", nullptr, true);
  log.appendRegistryRecord(kRecordCreated, 0x80000002, "Software\\MarlowickTest\\Machine", "Name", true);
  log.appendUninstallKeyRecord(kProduct.c_str());
  ASSERT_FALSE(log.overflow);
  buf.resize(log.length);
  const Bytes manifest = readFile(fs::path(MW_SOURCE_DIR) / "resources/common/manifest.xml");
  const Bytes file = makeUninstallFile(image_, buf, manifest, localTimeStamp(2024, 5, 1, 12, 0, 0));

  const fs::path dir = drive_ / "Apps/Tool";
  for (const char* f : {"tool.exe", "Help/Tool.HLP", "Help/tool.gid", "data/sub/a.txt"})
    writeFile(dir / f, "installed");
  writeFile(drive_ / "Apps/outside.txt", "not ours");
  writeFile(drive_ / "Shortcuts/Tool.lnk", "link");
  writeFile(user(programs_ + "/Marlowick Test/Tool Group/Tool.lnk"), "link");
  {
    std::ofstream out(dir / "Uninstall.exe", std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  }
  writeFile(work_ / "setup.reg",
            "REGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\MarlowickTest\\Existing]\r\n"
            "\"Keep\"=\"yes\"\r\n\"Added\"=\"by the installer\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\MarlowickTest\\Created]\r\n@=\"default\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\MarlowickTest\\Machine]\r\n\"Name\"=\"v\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\" + kUninstallKey + "]\r\n"
            "\"DisplayName\"=\"" + kProduct + "\"\r\n"
            "\"UninstallString\"=\"C:\\\\Apps\\\\Tool\\\\Uninstall.exe\"\r\n");
  std::string out;
  ASSERT_EQ(sh("cp " + shellQuote((work_ / "setup.reg").string()) +
                   " \"$WINEPREFIX/drive_c/setup.reg\" && timeout 300 wine reg import 'C:\\setup.reg' /reg:32"
                   " && timeout 120 wineserver -w",
               &out),
            0)
      << out;

  auto hklm = [&] { return readRegistry(prefix_ / "system.reg"); };
  auto hkcu = [&] { return readRegistry(prefix_ / "user.reg"); };
  const std::string existing = "software\\marlowicktest\\existing";
  const std::string created = "software\\marlowicktest\\created";
  // The prefix is 64-bit Windows: the 32-bit uninstaller sees HKLM\Software in its 32-bit view.
  const std::string machine = "software\\wow6432node\\marlowicktest\\machine";
  const std::string uninstallKey = "software\\wow6432node" + lower(kUninstallKey).substr(8);
  ASSERT_TRUE(hkcu()[existing].count("added")) << "registry set-up did not arrive";
  ASSERT_TRUE(hklm().count(uninstallKey));

  auto everythingInstalled = [&] {
    for (const char* f : {"tool.exe", "Help/Tool.HLP", "Help/tool.gid", "data/sub/a.txt", "Uninstall.exe"})
      EXPECT_TRUE(fs::exists(dir / f)) << f;
    EXPECT_TRUE(fs::exists(drive_ / "Shortcuts/Tool.lnk"));
    EXPECT_TRUE(fs::exists(user(programs_ + "/Marlowick Test/Tool Group/Tool.lnk")));
    RegFile cu = hkcu(), lm = hklm();
    EXPECT_TRUE(cu[existing].count("added"));
    EXPECT_TRUE(cu.count(created));
    EXPECT_TRUE(lm.count(machine));
    EXPECT_TRUE(lm.count(uninstallKey));
  };
  // The running copy in the temporary folder is what goes at the next restart.
  auto scheduledForRestart = [&] {
    const std::string pending =
        hklm()["system\\currentcontrolset\\control\\session manager"]["pendingfilerenameoperations"];
    EXPECT_NE(lower(pending).find("\\temp\\uninstall.exe"), std::string::npos) << pending;
    EXPECT_EQ(lower(pending).find("apps\\tool\\uninstall.exe"), std::string::npos) << pending;
  };

  const std::string confirm =
      "'This program will remove " + kProduct +
      " and all of its components from your computer.\\r\\nDo you wish to proceed?'";
  out = runUninstaller("box-text " + confirm + " No");
  EXPECT_NE(out.find("caption=\"Uninstall " + kProduct + "\""), std::string::npos) << out;
  EXPECT_NE(out.find("buttons=Yes,No"), std::string::npos) << out;
  everythingInstalled();
  scheduledForRestart();

  out = runUninstaller("box-text " + confirm + " Yes box-text '" + kProduct +
                       " has been successfully removed from your computer.' OK");
  EXPECT_NE(out.find("caption=\"Uninstall Complete\""), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir)) << "installation folder still there";
  EXPECT_TRUE(fs::exists(drive_ / "Apps/outside.txt")) << "a path outside the folder was deleted";
  EXPECT_FALSE(fs::exists(drive_ / "Shortcuts/Tool.lnk"));
  EXPECT_TRUE(fs::exists(drive_ / "Shortcuts")) << "only the shortcut was logged, not its folder";
  EXPECT_FALSE(fs::exists(user(programs_ + "/Marlowick Test"))) << "program group left behind";
  EXPECT_TRUE(fs::exists(user(programs_)));
  RegFile cu = hkcu(), lm = hklm();
  ASSERT_TRUE(cu.count(existing)) << "a key that existed before was deleted";
  EXPECT_FALSE(cu[existing].count("added"));
  EXPECT_EQ(cu[existing]["keep"], "yes");
  EXPECT_FALSE(cu.count(created));
  EXPECT_FALSE(lm.count(machine));
  EXPECT_FALSE(lm.count(uninstallKey));
  scheduledForRestart();
}

}  // namespace
}  // namespace mw
