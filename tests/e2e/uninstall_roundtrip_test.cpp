// Install, then uninstall, for real: a product built by `marlowick build` from dist/stub.exe and
// dist/uninstaller.exe is installed with "/s" under wine; its Uninstall.exe, started through the
// command its registration names, is answered No (nothing may go) and then Yes (everything the
// installation made goes, and only that). The test driver follows the uninstaller's hand-over
// to its copy in the temporary folder.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>

#include "packager/wine_session.h"
#include "format/log_format.h"
#include "uninstall/log_reader.h"

namespace {

namespace fs = std::filesystem;
using mw::wine::RunResult;
using mw::wine::Session;

const fs::path kDist = MW_DIST;
const fs::path kSource = MW_SOURCE_DIR;
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\RT Tool";

void writeText(const fs::path& p, const std::string& s) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << s;
}

const char kProject[] = R"toml(
[product]
name = "RT Tool"

[texts]
welcome = "Welcome."
finish = "Done."

[destination]
kind = "program-files"
path = 'RT Vendor\RT Tool'

[[files]]
source = "files"

[start-menu]
group = 'RT Vendor\RT Tool'

[[shortcuts]]
place = "program-group"
target = 'bin\tool.exe'

[[shortcuts]]
place = "start-menu"
target = 'readme.txt'

[[registry]]
root = "HKCU"
key = 'Software\RT Vendor\Existing'
name = "Added"
value = "by the installer"

[[registry]]
root = "HKCU"
key = 'Software\RT Vendor\RT Tool'
name = "Path"
value = '<SetupPath>'

[[registry]]
root = "HKLM"
key = 'Software\RT Vendor\RT Tool'
value = "machine default"
)toml";

TEST(UninstallRoundTrip, InstalledProductIsRemovedWholeOnYesAndKeptOnNo) {
  std::string error;
  std::unique_ptr<Session> S = Session::create(error, &std::cerr, kSource / "scripts" / "wine-env");
  ASSERT_NE(S, nullptr) << error;

  const fs::path dir = S->scratch() / "rt";
  writeText(dir / "files/readme.txt", "read me\r\n");
  writeText(dir / "files/bin/tool.exe", "MZ not really");
  writeText(dir / "files/Help/Tool.HLP", "help");
  writeText(dir / "files/docs/deep/note.txt", "note");
  writeText(dir / "project.toml", kProject);
  const fs::path installer = dir / "setup.exe";
  RunResult built = mw::wine::run({(kDist / "marlowick").string(), "build", (dir / "project.toml").string(),
                                   "-o", installer.string(), "--no-progress", "-q"},
                                  S->environment(), 600, {}, &std::cerr);
  ASSERT_EQ(built.exitCode, 0) << built.out;

  // A key the installation only adds a value to.
  ASSERT_EQ(S->wine({"reg", "add", "HKCU\\Software\\RT Vendor\\Existing", "/v", "Keep", "/d", "mine", "/f"}, 300).exitCode, 0);
  RunResult setup = S->wine({Session::windowsPath(installer), "/s"}, 900);
  S->waitIdle();
  ASSERT_EQ(setup.exitCode, 0) << setup.out;

  mw::wine::Registry reg = S->registry();
  auto command = reg.value("HKLM", kUninstallKey, "UninstallString");
  ASSERT_TRUE(command) << "no uninstall registration";
  // The registration quotes the program's path (it may hold blanks).
  ASSERT_TRUE(command->text.size() > 2 && command->text.front() == '"' && command->text.back() == '"')
      << command->text;
  const std::string program = command->text.substr(1, command->text.size() - 2);
  const std::string installDir = program.substr(0, program.rfind('\\'));
  const fs::path folder = S->hostPath(installDir);
  ASSERT_TRUE(fs::is_regular_file(folder / "Uninstall.exe"));
  ASSERT_TRUE(fs::is_regular_file(folder / "Help/Tool.HLP"));
  // The help viewer leaves an index beside a help file; the uninstaller knows to remove it.
  writeText(folder / "Help/tool.gid", "index");
  // Where the shortcuts went, as the installation logged them.
  std::ifstream in(folder / "Uninstall.exe", std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  ASSERT_GT(file.size(), mw::kUninstallerImageSize);
  mw::UninstallLog log;
  ASSERT_TRUE(mw::readUninstallLog(file.data() + mw::kUninstallerImageSize,
                                   mw::readU32(&file[mw::kLogSizeOffset]), &log));
  EXPECT_STREQ(log.programGroup, "RT Vendor\\RT Tool");
  std::vector<std::string> links;
  for (char* s = log.shortcuts; *s; s = mw::nextEntry(s)) links.push_back(s);
  ASSERT_EQ(links.size(), 2u);
  const std::string groupSuffix = "\\RT Vendor\\RT Tool\\tool.pif";  // MZ without PE: a DOS program
  ASSERT_GT(links[0].size(), groupSuffix.size());
  ASSERT_EQ(links[0].substr(links[0].size() - groupSuffix.size()), groupSuffix);
  const fs::path groupLink = S->hostPath(links[0]);
  const fs::path group = S->hostPath(links[0].substr(0, links[0].size() - groupSuffix.size()) + "\\RT Vendor");
  const fs::path menuLink = S->hostPath(links[1]);
  ASSERT_TRUE(fs::is_regular_file(groupLink)) << links[0];
  ASSERT_TRUE(fs::is_regular_file(menuLink)) << links[1];
  ASSERT_TRUE(reg.value("HKCU", "Software\\RT Vendor\\Existing", "Added"));

  auto uninstall = [&](const std::vector<std::string>& steps) {
    std::vector<std::string> args{Session::windowsPath(kDist / "mw_driver.exe"), "--follow", "--timeout", "600",
                                  "--step-timeout", "300"};
    args.insert(args.end(), steps.begin(), steps.end());
    args.push_back("--");
    args.push_back(program);
    RunResult r = S->wine(args, 720);
    // The copy the uninstaller hands over to may outlive the driver by a moment: wait for every
    // program of the prefix (its server goes a few seconds after the last one) before ending it.
    auto server = S->environment().find("WINESERVER");
    mw::wine::run({server != S->environment().end() ? server->second : "wineserver", "-w"}, S->environment(), 120);
    S->waitIdle();
    std::cerr << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return r.out;
  };
  const std::string confirm =
      "This program will remove RT Tool and all of its components from your computer.\\r\\nDo you wish to proceed?";

  uninstall({"box-text", confirm, "No"});
  EXPECT_TRUE(fs::is_regular_file(folder / "Uninstall.exe"));
  EXPECT_TRUE(fs::is_regular_file(folder / "bin/tool.exe"));
  EXPECT_TRUE(fs::is_regular_file(groupLink));
  reg = S->registry();
  EXPECT_TRUE(reg.value("HKCU", "Software\\RT Vendor\\Existing", "Added"));
  EXPECT_TRUE(reg.hasKey("HKLM", kUninstallKey));

  const std::string out = uninstall({"box-text", confirm, "Yes", "box-text",
                                     "RT Tool has been successfully removed from your computer.", "OK"});
  EXPECT_NE(out.find("caption=\"Uninstall Complete\""), std::string::npos);
  EXPECT_FALSE(fs::exists(folder)) << "the installation folder stays";
  EXPECT_FALSE(fs::exists(groupLink));
  EXPECT_FALSE(fs::exists(menuLink));
  EXPECT_FALSE(fs::exists(group)) << "the program group stays";
  reg = S->registry();
  EXPECT_FALSE(reg.hasKey("HKLM", kUninstallKey));
  EXPECT_FALSE(reg.hasKey("HKCU", "Software\\RT Vendor\\RT Tool"));
  EXPECT_FALSE(reg.hasKey("HKLM", "Software\\RT Vendor\\RT Tool"));
  EXPECT_FALSE(reg.value("HKCU", "Software\\RT Vendor\\Existing", "Added"));
  auto keep = reg.value("HKCU", "Software\\RT Vendor\\Existing", "Keep");
  ASSERT_TRUE(keep) << "a key that existed before lost its own value";
  EXPECT_EQ(keep->text, "mine");
  auto pending = reg.value("HKLM", "System\\CurrentControlSet\\Control\\Session Manager",
                           "PendingFileRenameOperations", false);
  ASSERT_TRUE(pending) << "the copy in the temporary folder is not scheduled for deletion";
  // The copy ran from a new folder of its own in the temporary folder; it goes with that folder.
  static const std::regex copy(R"(Temp\\\\(Uninstall-[A-P]{8})\\\\Uninstall\.exe\\0\\0[^"]*?Temp\\\\\1\\0)");
  EXPECT_TRUE(std::regex_search(pending->raw, copy)) << pending->raw;
  EXPECT_EQ(pending->raw.find("RT Tool\\\\Uninstall.exe"), std::string::npos) << pending->raw;
  if (HasFailure()) S->keep();
}

}  // namespace
