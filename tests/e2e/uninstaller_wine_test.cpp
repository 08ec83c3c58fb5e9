// The uninstaller under wine with a log no installer would write: an Uninstall.exe assembled
// from the built image, a composed log and the shared manifest, exactly as the installer lays
// it out. The log names a path that climbs out of the installation folder, a file behind a link
// inside it, a help file with its index, a shortcut outside any group and a file in the shortcut
// list that is no shortcut, a pre-existing key that only got a value, created keys in both roots
// and a created key right under its root. The test driver answers No (nothing may go), then Yes
// (everything the log names goes, and nothing else), following the hand-over to the copy.
//
// A second test plants libraries beside the uninstaller and its copy, makes the hand-over fail,
// and runs the wininit.ini road of the systems outside the NT family.
//
// MW_UNINSTALLER_IMAGE, when set, names another image to test (to see a test fail on an older one).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>

#include "packager/wine_session.h"
#include "uninstall/image_builder.h"
#include "format/log_format.h"

namespace fs = std::filesystem;
using mw::wine::RunResult;
using mw::wine::Session;

namespace mw {
namespace {

const fs::path kDist = MW_DIST_DIR;
const std::string kProduct = "Marlowick Test Tool";
const std::string kUninstallKey = std::string(kUninstallKeyPrefix) + kProduct;

Bytes readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void writeFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}
void writeBytes(const fs::path& p, const Bytes& b) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
std::string readText(const fs::path& p) {
  const Bytes b = readFile(p);
  return std::string(b.begin(), b.end());
}

// The driver ends when the program it started has; the copy that program handed over to may
// still be finishing (it schedules its removal after the answer). Wait until every program of
// the prefix has ended: the prefix's server goes a few seconds after the last one.
void waitForCopy(Session& S) {
  auto it = S.environment().find("WINESERVER");
  mw::wine::run({it != S.environment().end() ? it->second : "wineserver", "-w"}, S.environment(), 120);
}

Bytes uninstallerImage() {
  const char* other = std::getenv("MW_UNINSTALLER_IMAGE");
  return readFile(other && *other ? fs::path(other) : kDist / "uninstaller.exe");
}

std::string userName(Session& S) {
  for (const auto& e : fs::directory_iterator(S.driveC() / "users"))
    if (e.is_directory() && e.path().filename() != "Public") return e.path().filename().string();
  return {};
}

// What the prefix will do at its next start (wine's "restart"), as wine writes it.
std::string pendingAtRestart(Session& S) {
  auto pending = S.registry().value("HKLM", "System\\CurrentControlSet\\Control\\Session Manager",
                                    "PendingFileRenameOperations", false);
  return pending ? pending->raw : std::string();
}

// The copy folders named in what is pending: "Uninstall-" and eight letters, each scheduled
// first with the copy inside it and then on its own.
std::vector<std::string> scheduledCopyFolders(const std::string& pending) {
  std::vector<std::string> folders;
  static const std::regex copy(R"(Temp\\\\(Uninstall-[A-P]{8})\\\\Uninstall\.exe\\0\\0[^"]*?Temp\\\\\1\\0)");
  for (std::sregex_iterator i(pending.begin(), pending.end(), copy), end; i != end; ++i)
    folders.push_back((*i)[1]);
  return folders;
}

TEST(UninstallerUnderWine, NoRemovesNothingAndYesRemovesWhatTheLogNames) {
  const Bytes image = uninstallerImage();
  ASSERT_EQ(image.size(), kUninstallerImageSize) << "build dist/uninstaller.exe first";
  std::string error;
  std::unique_ptr<Session> S = Session::create(error, &std::cerr, fs::path(MW_SOURCE_DIR) / "scripts/wine-env");
  ASSERT_NE(S, nullptr) << error;
  const std::string user = userName(*S);
  ASSERT_FALSE(user.empty());
  // The installer makes the group in the user's Programs folder.
  const std::string programs = "C:\\users\\" + user + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  const std::string groupLink = programs + "\\Marlowick Test\\Tool Group\\Tool.lnk";
  const std::string looseLink = "C:\\Shortcuts\\Tool.lnk";
  const std::string notAShortcut = "C:\\Shortcuts\\notes.txt";

  Bytes buf(4096);
  LogAppender log(buf.data(), uint32_t(buf.size()));
  log.appendString(kProduct.c_str());
  log.appendString("C:\\Apps\\Tool");
  for (const char* f : {"tool.exe", "Help\\Tool.HLP", "data\\sub\\a.txt", "..\\outside.txt", "linked\\victim.txt"})
    log.appendString(f);
  log.appendListEnd();
  log.appendString("Marlowick Test\\Tool Group");
  log.appendString(groupLink.c_str());
  log.appendString(looseLink.c_str());
  log.appendString(notAShortcut.c_str());
  log.appendListEnd();
  log.appendRegistryRecord(kRecordOpened, 0x80000001, "Software\\MarlowickTest\\Existing", "Added", true);
  log.appendRegistryRecord(kRecordCreated, 0x80000001, "Software\\MarlowickTest\\Created", nullptr, true);
  log.appendRegistryRecord(kRecordCreated, 0x80000002, "Software\\MarlowickTest\\Machine", "Name", true);
  log.appendRegistryRecord(kRecordCreated, 0x80000001, "MarlowickTop", nullptr, true);
  log.appendUninstallKeyRecord(kProduct.c_str());
  ASSERT_FALSE(log.overflow);
  buf.resize(log.length);
  const Bytes manifest = readFile(fs::path(MW_SOURCE_DIR) / "resources/common/manifest.xml");
  const Bytes file = makeUninstallFile(image, buf, manifest, localTimeStamp(2024, 5, 1, 12, 0, 0));

  const fs::path dir = S->hostPath("C:\\Apps\\Tool");
  const char* installed[] = {"tool.exe", "Help/Tool.HLP", "Help/tool.gid", "data/sub/a.txt"};
  for (const char* f : installed) writeFile(dir / f, "installed");
  writeFile(S->hostPath("C:\\Apps\\outside.txt"), "not ours");
  writeFile(S->hostPath(looseLink), "link");
  writeFile(S->hostPath(groupLink), "link");
  writeFile(S->hostPath(notAShortcut), "notes");
  // A folder inside the installation that is a link to one outside it (a junction on Windows).
  writeFile(S->hostPath("C:\\Outside\\victim.txt"), "not ours");
  fs::create_directory_symlink(S->hostPath("C:\\Outside"), dir / "linked");
  // Whatever lies in the temporary folder under the copy's old fixed name stays untouched.
  const fs::path temp = S->hostPath("C:\\users\\" + user + "\\Temp");
  writeFile(temp / "Uninstall.exe", "not ours");
  std::ofstream(dir / "Uninstall.exe", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  writeFile(S->hostPath("C:\\setup.reg"),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\MarlowickTest\\Existing]\r\n"
            "\"Keep\"=\"yes\"\r\n\"Added\"=\"by the installer\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\MarlowickTest\\Created]\r\n@=\"default\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\MarlowickTest\\Machine]\r\n\"Name\"=\"v\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\MarlowickTop]\r\n@=\"top\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\" + kUninstallKey + "]\r\n\"DisplayName\"=\"" + kProduct + "\"\r\n");
  // The 32-bit view, as the 32-bit installer and uninstaller see HKEY_LOCAL_MACHINE\Software.
  ASSERT_EQ(S->wine({"reg", "import", "C:\\setup.reg", "/reg:32"}, 300).exitCode, 0);
  S->waitIdle();
  ASSERT_TRUE(S->registry().hasKey("HKLM", kUninstallKey)) << "registry set-up did not arrive";

  auto uninstall = [&](const std::vector<std::string>& steps) {
    std::vector<std::string> args{Session::windowsPath(kDist / "mw_driver.exe"), "--follow", "--timeout", "600",
                                  "--step-timeout", "300"};
    args.insert(args.end(), steps.begin(), steps.end());
    args.insert(args.end(), {"--", "C:\\Apps\\Tool\\Uninstall.exe"});
    RunResult r = S->wine(args, 720);
    waitForCopy(*S);
    S->waitIdle();
    std::cerr << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return r.out;
  };
  // The running copy, in a new folder of its own, goes at the next restart with its folder,
  // whatever the answer; the file in the installation folder never does.
  auto scheduledForRestart = [&] {
    const std::string pending = pendingAtRestart(*S);
    EXPECT_EQ(scheduledCopyFolders(pending).size(), 1u) << pending;
    EXPECT_EQ(pending.find("Tool\\\\Uninstall.exe"), std::string::npos) << pending;
    return scheduledCopyFolders(pending);
  };
  const std::string confirm = "This program will remove " + kProduct +
                              " and all of its components from your computer.\\r\\nDo you wish to proceed?";

  std::string out = uninstall({"box-text", confirm, "No"});
  EXPECT_NE(out.find("caption=\"Uninstall " + kProduct + "\""), std::string::npos);
  EXPECT_NE(out.find("buttons=Yes,No"), std::string::npos);
  for (const char* f : installed) EXPECT_TRUE(fs::exists(dir / f)) << f;
  EXPECT_TRUE(fs::exists(dir / "Uninstall.exe"));
  EXPECT_TRUE(fs::exists(S->hostPath(groupLink)));
  mw::wine::Registry reg = S->registry();
  EXPECT_TRUE(reg.value("HKCU", "Software\\MarlowickTest\\Existing", "Added"));
  EXPECT_TRUE(reg.hasKey("HKCU", "Software\\MarlowickTest\\Created"));
  EXPECT_TRUE(reg.hasKey("HKLM", "Software\\MarlowickTest\\Machine"));
  EXPECT_TRUE(reg.hasKey("HKLM", kUninstallKey));
  const auto noCopy = scheduledForRestart();

  out = uninstall({"box-text", confirm, "Yes", "box-text", kProduct + " has been successfully removed from your computer.", "OK"});
  EXPECT_NE(out.find("caption=\"Uninstall Complete\""), std::string::npos);
  // Only the link is left in the installation folder: nothing is removed through it.
  std::vector<std::string> left;
  if (fs::exists(dir))
    for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"linked"});
  EXPECT_TRUE(fs::exists(S->hostPath("C:\\Apps\\outside.txt"))) << "a path outside the folder was deleted";
  EXPECT_FALSE(fs::exists(S->hostPath(looseLink)));
  EXPECT_TRUE(fs::exists(S->hostPath("C:\\Shortcuts"))) << "only the shortcut was logged, not its folder";
  EXPECT_FALSE(fs::exists(S->hostPath(programs + "\\Marlowick Test"))) << "program group left behind";
  EXPECT_TRUE(fs::exists(S->hostPath(programs)));
  reg = S->registry();
  ASSERT_TRUE(reg.hasKey("HKCU", "Software\\MarlowickTest\\Existing")) << "a key that existed before was deleted";
  EXPECT_FALSE(reg.value("HKCU", "Software\\MarlowickTest\\Existing", "Added"));
  auto keep = reg.value("HKCU", "Software\\MarlowickTest\\Existing", "Keep");
  ASSERT_TRUE(keep);
  EXPECT_EQ(keep->text, "yes");
  EXPECT_FALSE(reg.hasKey("HKCU", "Software\\MarlowickTest\\Created"));
  EXPECT_FALSE(reg.hasKey("HKLM", "Software\\MarlowickTest\\Machine"));
  EXPECT_FALSE(reg.hasKey("HKLM", kUninstallKey));
  EXPECT_TRUE(reg.hasKey("HKCU", "MarlowickTop")) << "a key right under its root was deleted";
  EXPECT_TRUE(fs::exists(S->hostPath("C:\\Outside\\victim.txt"))) << "a file behind a link was deleted";
  EXPECT_TRUE(fs::exists(S->hostPath(notAShortcut))) << "a file in the shortcut list that is no shortcut was deleted";
  EXPECT_EQ(readText(temp / "Uninstall.exe"), "not ours");
  scheduledForRestart();
  // The restart that started this second run removed the first copy. (Wine's restart deletes
  // files only; Windows removes the then empty folder too.)
  for (const std::string& folder : noCopy) EXPECT_FALSE(fs::exists(temp / folder / "Uninstall.exe")) << folder;
  if (::testing::Test::HasFailure()) S->keep();
}

// Runs PROGRAM [ARGS] through the driver with `steps`; `libraryOrder` is added to the wine
// library order of this run.
std::string runDriver(Session& S, const std::vector<std::string>& steps,
                      const std::vector<std::string>& program, const std::string& libraryOrder = "") {
  mw::wine::Environment env = S.environment();
  if (!libraryOrder.empty()) env["WINEDLLOVERRIDES"] += ";" + libraryOrder;
  std::vector<std::string> args{"wine", Session::windowsPath(kDist / "mw_driver.exe"), "--follow", "--timeout",
                                "600", "--step-timeout", "300"};
  args.insert(args.end(), steps.begin(), steps.end());
  args.push_back("--");
  args.insert(args.end(), program.begin(), program.end());
  RunResult r = mw::wine::run(args, env, 720);
  waitForCopy(S);
  S.waitIdle();
  std::cerr << r.out;
  EXPECT_EQ(r.exitCode, 0) << r.out;
  return r.out;
}

TEST(UninstallerUnderWine, PlantedLibrariesDoNotRunAndNoMeansNothingIsScheduled) {
  const Bytes image = uninstallerImage();
  ASSERT_EQ(image.size(), kUninstallerImageSize) << "build dist/uninstaller.exe first";
  const Bytes marker = readFile(kDist / "marker.dll");
  ASSERT_FALSE(marker.empty()) << "build dist/marker.dll first";
  std::string error;
  std::unique_ptr<Session> S = Session::create(error, &std::cerr, fs::path(MW_SOURCE_DIR) / "scripts/wine-env");
  ASSERT_NE(S, nullptr) << error;
  const std::string user = userName(*S);
  ASSERT_FALSE(user.empty());
  const fs::path temp = S->hostPath("C:\\users\\" + user + "\\Temp");

  Bytes buf(1024);
  LogAppender log(buf.data(), uint32_t(buf.size()));
  log.appendString(kProduct.c_str());
  log.appendString("C:\\Apps\\Tool");
  log.appendString("tool.exe");
  log.appendListEnd();
  log.appendString("");
  log.appendListEnd();
  log.appendUninstallKeyRecord(kProduct.c_str());
  buf.resize(log.length);
  const Bytes manifest = readFile(fs::path(MW_SOURCE_DIR) / "resources/common/manifest.xml");
  const Bytes file = makeUninstallFile(image, buf, manifest, localTimeStamp(2024, 5, 1, 12, 0, 0));
  const std::string confirm = "This program will remove " + kProduct + "*";

  // The message box makes the system load uxtheme.dll on the program's behalf, by name: a file of
  // that name beside the program is found first unless the search was narrowed to the system
  // folder. (Wine prefers its own builtin copy to a file it finds; "n,b" makes it take the file
  // it finds, as Windows does.)
  const std::string uxthemeFromFile = "uxtheme=n,b";

  // 1. Beside the copy: the copy is this program in a folder of its own, started with "U".
  const fs::path copyFolder = temp / "Uninstall-MAKEBEAD";
  writeBytes(copyFolder / "Uninstall.exe", file);
  writeBytes(copyFolder / "uxtheme.dll", marker);
  const std::string copyPath = "C:\\users\\" + user + "\\Temp\\Uninstall-MAKEBEAD\\Uninstall.exe";
  std::string out = runDriver(*S, {"box-text", confirm, "No"}, {copyPath, "U"}, uxthemeFromFile);
  EXPECT_NE(out.find("buttons=Yes,No"), std::string::npos) << "the copy asked no question";
  EXPECT_FALSE(fs::exists(copyFolder / "uxtheme.dll.ran")) << "a library planted beside the copy ran";
  // No in the copy: the copy and its folder still go at the next restart.
  EXPECT_EQ(scheduledCopyFolders(pendingAtRestart(*S)), std::vector<std::string>{"Uninstall-MAKEBEAD"});

  // 2. Beside Uninstall.exe, with no temporary folder to hand over to: it works in place.
  const fs::path dir = S->hostPath("C:\\Apps\\Tool");
  writeFile(dir / "tool.exe", "installed");
  writeBytes(dir / "Uninstall.exe", file);
  writeBytes(dir / "uxtheme.dll", marker);
  std::map<std::string, mw::wine::RegValue> saved;
  for (const char* name : {"TMP", "TEMP"}) {
    auto v = S->registry().value("HKCU", "Environment", name, false);
    ASSERT_TRUE(v) << name;
    saved[name] = *v;
    ASSERT_EQ(S->wine({"reg", "add", "HKCU\\Environment", "/v", name, "/d", "C:\\No Such Folder", "/f"}, 300).exitCode, 0);
  }
  S->waitIdle();
  out = runDriver(*S, {"box-text", confirm, "No"}, {"C:\\Apps\\Tool\\Uninstall.exe"}, uxthemeFromFile);
  EXPECT_NE(out.find("buttons=Yes,No"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "uxtheme.dll.ran")) << "a library planted beside Uninstall.exe ran";
  std::string pending = pendingAtRestart(*S);
  EXPECT_EQ(pending.find("Tool\\\\Uninstall.exe"), std::string::npos) << "No scheduled Uninstall.exe's deletion: " << pending;
  EXPECT_TRUE(fs::exists(dir / "Uninstall.exe"));

  // Yes in place: now the installed file goes at the next restart (it cannot go while it runs).
  out = runDriver(*S, {"box-text", confirm, "Yes", "box", "OK"}, {"C:\\Apps\\Tool\\Uninstall.exe"});
  EXPECT_FALSE(fs::exists(dir / "tool.exe"));
  pending = pendingAtRestart(*S);
  EXPECT_NE(pending.find("Tool\\\\Uninstall.exe"), std::string::npos) << pending;
  for (const auto& [name, v] : saved)
    ASSERT_EQ(S->wine({"reg", "add", "HKCU\\Environment", "/v", name, "/t", v.type == 2 ? "REG_EXPAND_SZ" : "REG_SZ",
                       "/d", v.text, "/f"}, 300).exitCode, 0);

  // 3. Systems outside the NT family: the copy's removal is added to wininit.ini's [Rename]
  // beside another program's pending line, under its short name.
  ASSERT_EQ(S->wine({"reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d", "win98", "/f"}, 300).exitCode, 0);
  S->waitIdle();
  // Wine carries out wininit.ini when its server starts (its restart): start it first, and
  // write the file while it still runs.
  ASSERT_EQ(S->wine({"cmd", "/c", "exit"}, 300).exitCode, 0);
  const fs::path wininit = S->hostPath("C:\\windows\\wininit.ini");
  writeFile(wininit, "[Rename]\r\nNUL=C:\\OTHER.TMP\r\n");
  const fs::path oldCopy = temp / "Uninstall-NINEPAGE";
  writeBytes(oldCopy / "Uninstall.exe", file);
  out = runDriver(*S, {"box-text", confirm, "No"},
                  {"C:\\users\\" + user + "\\Temp\\Uninstall-NINEPAGE\\Uninstall.exe", "U"});
  const std::string ini = readText(wininit);
  EXPECT_NE(ini.find("NUL=C:\\OTHER.TMP"), std::string::npos) << "another program's line was lost:\n" << ini;
  // The long names "Uninstall-NINEPAGE" and "Uninstall.exe" have no place in it.
  static const std::regex shortLine(R"(NUL=C:\\users\\[^\r\n]*\\[^\\\r\n]*~[^\\\r\n]*\\[^\\\r\n]*~[^\\\r\n]*\.EXE\r?\n)",
                                    std::regex::icase);
  EXPECT_TRUE(std::regex_search(ini, shortLine)) << "no line for the copy under its short name:\n" << ini;
  S->wine({"reg", "delete", "HKCU\\Software\\Wine", "/v", "Version", "/f"}, 300);
  if (::testing::Test::HasFailure()) S->keep();
}

}  // namespace
}  // namespace mw
