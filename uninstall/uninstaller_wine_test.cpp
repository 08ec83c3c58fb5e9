// The uninstaller under wine with a log no installer would write: an Uninstall.exe assembled
// from the built image, a composed log and the shared manifest, exactly as the installer lays
// it out. The log names a path that climbs out of the installation folder, a help file with its
// index, a shortcut outside any group, a pre-existing key that only got a value, and created keys
// in both roots. The test driver answers No (nothing may go), then Yes (everything the log names
// goes, and nothing else), following the hand-over to the copy in the temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "packager/wine_session.h"
#include "uninstall/image_builder.h"
#include "uninstall/log_format.h"

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

TEST(UninstallerUnderWine, NoRemovesNothingAndYesRemovesWhatTheLogNames) {
  const Bytes image = readFile(kDist / "uninstaller.exe");
  ASSERT_EQ(image.size(), kUninstallerImageSize) << "build dist/uninstaller.exe first";
  std::string error;
  std::unique_ptr<Session> S = Session::create(error, &std::cerr, fs::path(MW_SOURCE_DIR) / "scripts/wine-env");
  ASSERT_NE(S, nullptr) << error;
  std::string user;
  for (const auto& e : fs::directory_iterator(S->driveC() / "users"))
    if (e.is_directory() && e.path().filename() != "Public") user = e.path().filename().string();
  ASSERT_FALSE(user.empty());
  // The installer makes the group in the user's Programs folder.
  const std::string programs = "C:\\users\\" + user + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
  const std::string groupLink = programs + "\\Marlowick Test\\Tool Group\\Tool.lnk";
  const std::string looseLink = "C:\\Shortcuts\\Tool.lnk";

  Bytes buf(4096);
  LogAppender log(buf.data(), uint32_t(buf.size()));
  log.appendString(kProduct.c_str());
  log.appendString("C:\\Apps\\Tool");
  for (const char* f : {"tool.exe", "Help\\Tool.HLP", "data\\sub\\a.txt", "..\\outside.txt"}) log.appendString(f);
  log.appendListEnd();
  log.appendString("Marlowick Test\\Tool Group");
  log.appendString(groupLink.c_str());
  log.appendString(looseLink.c_str());
  log.appendListEnd();
  log.appendRegistryRecord(kRecordOpened, 0x80000001, "Software\\MarlowickTest\\Existing", "Added", true);
  log.appendRegistryRecord(kRecordCreated, 0x80000001, "Software\\MarlowickTest\\Created", nullptr, true);
  log.appendRegistryRecord(kRecordCreated, 0x80000002, "Software\\MarlowickTest\\Machine", "Name", true);
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
  std::ofstream(dir / "Uninstall.exe", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  writeFile(S->hostPath("C:\\setup.reg"),
            "REGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\MarlowickTest\\Existing]\r\n"
            "\"Keep\"=\"yes\"\r\n\"Added\"=\"by the installer\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\MarlowickTest\\Created]\r\n@=\"default\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\MarlowickTest\\Machine]\r\n\"Name\"=\"v\"\r\n\r\n"
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
    S->waitIdle();
    std::cerr << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return r.out;
  };
  // The running copy in the temporary folder is what goes at the next restart, never the file
  // in the installation folder.
  auto scheduledForRestart = [&] {
    auto pending = S->registry().value("HKLM", "System\\CurrentControlSet\\Control\\Session Manager",
                                       "PendingFileRenameOperations", false);
    ASSERT_TRUE(pending);
    EXPECT_NE(pending->raw.find("Temp\\\\Uninstall.exe"), std::string::npos) << pending->raw;
    EXPECT_EQ(pending->raw.find("Tool\\\\Uninstall.exe"), std::string::npos) << pending->raw;
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
  scheduledForRestart();

  out = uninstall({"box-text", confirm, "Yes", "box-text", kProduct + " has been successfully removed from your computer.", "OK"});
  EXPECT_NE(out.find("caption=\"Uninstall Complete\""), std::string::npos);
  EXPECT_FALSE(fs::exists(dir)) << "installation folder still there";
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
  scheduledForRestart();
  if (::testing::Test::HasFailure()) S->keep();
}

}  // namespace
}  // namespace mw
