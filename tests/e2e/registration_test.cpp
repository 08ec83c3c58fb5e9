// The uninstall registration as the system's list of programs reads it, after a real silent
// installation under wine: the name and command the engine always writes, and the version,
// publisher, icon, address, size and the absent Change and Repair that the packager adds through
// the setup script's registry list; then the installed uninstaller removes all of it with the
// key. The installer also carries the product's icon and version resource, so this shows that
// an engine patched that way still runs.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>

#include "packager/wine_session.h"

namespace {

namespace fs = std::filesystem;
using mw::wine::RunResult;
using mw::wine::Session;

const fs::path kDist = MW_DIST;
const fs::path kSource = MW_SOURCE_DIR;
const std::string kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Reg Tool";

void writeText(const fs::path& p, const std::string& s) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << s;
}

const char kProject[] = R"toml(
[product]
name = "Reg Tool"
version = "${VERSION}"
publisher = "Reg Vendor"
url = "https://example.invalid/reg-tool"
display-icon = 'bin\tool.exe'
icon = "../../resources/common/marlowick.ico"

[destination]
kind = "program-files"
path = 'Reg Vendor\Reg Tool'

[[files]]
source = "files"
)toml";

TEST(Registration, ListOfProgramsShowsTheProductAndTheUninstallerRemovesIt) {
  std::string error;
  std::unique_ptr<Session> S = Session::create(error, &std::cerr, kSource / "scripts" / "wine-env");
  ASSERT_NE(S, nullptr) << error;

  const fs::path dir = S->scratch() / "reg";
  writeText(dir / "files/bin/tool.exe", "MZ not really");
  writeText(dir / "files/data.bin", std::string(300 * 1024, 'x'));
  std::string project = kProject;
  // The icon is the engine's own, given by path from the source tree.
  project.replace(project.find("../../resources"), 15, (kSource / "resources").string());
  writeText(dir / "project.toml", project);
  const fs::path installer = dir / "setup.exe";
  RunResult built = mw::wine::run({(kDist / "marlowick").string(), "build", (dir / "project.toml").string(), "-o",
                                   installer.string(), "--no-progress", "-q", "-D", "VERSION=2.5.1"},
                                  S->environment(), 600, {}, &std::cerr);
  ASSERT_EQ(built.exitCode, 0) << built.out;

  RunResult setup = S->wine({Session::windowsPath(installer), "/s"}, 900);
  S->waitIdle();
  ASSERT_EQ(setup.exitCode, 0) << setup.out;

  mw::wine::Registry reg = S->registry();
  auto text = [&](const char* name) {
    auto v = reg.value("HKLM", kUninstallKey, name);
    EXPECT_TRUE(v) << name << " is missing";
    if (v) EXPECT_EQ(v->type, 1u) << name;
    return v ? v->text : std::string();
  };
  auto number = [&](const char* name) {
    auto v = reg.value("HKLM", kUninstallKey, name);
    EXPECT_TRUE(v) << name << " is missing";
    if (v) EXPECT_EQ(v->type, 4u) << name;
    return v ? v->dword : 0u;
  };
  const std::string command = text("UninstallString");
  ASSERT_GT(command.size(), 14u);
  // The registration quotes the program's path (it may hold blanks).
  ASSERT_TRUE(command.front() == '"' && command.back() == '"') << command;
  const std::string program = command.substr(1, command.size() - 2);
  const std::string installDir = program.substr(0, program.rfind('\\'));
  EXPECT_EQ(text("DisplayName"), "Reg Tool");
  EXPECT_EQ(text("DisplayVersion"), "2.5.1");
  EXPECT_EQ(text("Publisher"), "Reg Vendor");
  EXPECT_EQ(text("URLInfoAbout"), "https://example.invalid/reg-tool");
  EXPECT_EQ(text("DisplayIcon"), installDir + "\\bin\\tool.exe");
  // 300 KiB of data, 13 bytes, and the allowance for Uninstall.exe: about 317 KiB.
  const uint32_t kib = number("EstimatedSize");
  EXPECT_GE(kib, 301u);
  EXPECT_LE(kib, 330u);
  EXPECT_EQ(number("NoModify"), 1u);
  EXPECT_EQ(number("NoRepair"), 1u);
  const fs::path folder = S->hostPath(installDir);
  ASSERT_TRUE(fs::is_regular_file(folder / "bin/tool.exe"));

  std::vector<std::string> args{Session::windowsPath(kDist / "mw_driver.exe"), "--follow", "--timeout", "600",
                                "--step-timeout", "300", "box", "Yes", "box", "OK", "--", program};
  RunResult removal = S->wine(args, 720);
  S->waitIdle();
  std::cerr << removal.out;
  EXPECT_EQ(removal.exitCode, 0) << removal.out;
  reg = S->registry();
  EXPECT_FALSE(reg.hasKey("HKLM", kUninstallKey)) << "the registration stays after the uninstallation";
  EXPECT_FALSE(fs::exists(folder));
  if (HasFailure()) S->keep();
}

}  // namespace
