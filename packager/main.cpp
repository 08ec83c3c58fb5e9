// marlowick: builds installers from project files, and lists, verifies and extracts them.
#include <CLI/CLI.hpp>

#include <cstring>
#include <iostream>

#include "packager/commands.h"
#include "packager/progress.h"
#include "packager/try.h"

using namespace mw::packager;

int main(int argc, char** argv) {
  // `try` has its own command line; hand it everything after the word.
  if (argc >= 2 && std::strcmp(argv[1], "try") == 0) return runTry(argc - 1, argv + 1);

  CLI::App app{"marlowick: self-extracting installers for 32-bit Windows"};
  app.require_subcommand(1);

  BuildCommand build;
  build.options.output = "setup.exe";
  std::string stub, uninstaller;
  bool noProgress = false;
  CLI::App* buildCmd = app.add_subcommand("build", "build an installer from a project file");
  buildCmd->add_option("project", build.project, "the project file (TOML)")->required();
  buildCmd->add_option("-o,--output", build.options.output, "the installer to write (default setup.exe)");
  buildCmd->add_option("--stub", stub, "the engine stub (default: stub.exe next to marlowick)");
  buildCmd->add_option("--uninstaller", uninstaller, "the uninstaller image (default: uninstaller.exe next to marlowick)");
  buildCmd->add_option("-j,--jobs", build.options.threads, "compression threads (default: one per core)");
  buildCmd->add_flag("-q,--quiet", build.quiet, "print nothing on success");
  buildCmd->add_flag("--no-progress", noProgress, "never draw the progress bar");
  std::vector<std::string> defines;
  buildCmd->add_option("-D,--define", defines, "NAME=VALUE: ${NAME} in the project's strings becomes VALUE");

  std::string installer;
  bool json = false;
  uint32_t codePage = 1252;
  CLI::App* listCmd = app.add_subcommand("list", "show an installer's setup script and file table");
  listCmd->add_option("installer", installer, "the installer")->required();
  listCmd->add_flag("--json", json, "machine-readable output");
  listCmd->add_option("--codepage", codePage, "code page of the installer's texts (default 1252)");

  CLI::App* verifyCmd = app.add_subcommand("verify", "check an installer's record, payload and every file");
  verifyCmd->add_option("installer", installer, "the installer")->required();

  std::string directory;
  CLI::App* extractCmd = app.add_subcommand("extract", "write an installer's files into a folder");
  extractCmd->add_option("installer", installer, "the installer")->required();
  extractCmd->add_option("-o,--output", directory, "the folder to write into")->required();
  extractCmd->add_option("--codepage", codePage, "code page of the file names (default 1252)");

  app.add_subcommand("try", "build a project and run its installer under wine");

  CLI11_PARSE(app, argc, argv);

  if (buildCmd->parsed()) {
    build.options.stub = stub.empty() ? defaultDistFile("stub.exe") : std::filesystem::path(stub);
    build.options.uninstaller = uninstaller.empty() ? defaultDistFile("uninstaller.exe") : std::filesystem::path(uninstaller);
    build.options.progress = !noProgress && !build.quiet && stderrIsTerminal();
    for (const std::string& d : defines) {
      std::string error;
      if (!addDefine(d, build.defines, error)) {
        std::cerr << "marlowick: error: " << error << "\n";
        return 2;
      }
    }
    return runBuild(build, std::cout, std::cerr);
  }
  if (listCmd->parsed()) return runList(installer, json, codePage, std::cout, std::cerr);
  if (verifyCmd->parsed()) return runVerify(installer, std::cout, std::cerr);
  if (extractCmd->parsed()) return runExtract(installer, directory, codePage, std::cout, std::cerr);
  return 2;
}
