// marlowick: builds installers from project files, and lists, verifies, extracts and signs them.
//
// Exit codes never come from the command-line library: a usage error is one
// "marlowick: error: ..." line and exit 2, help and --version exit 0.
#include <CLI/CLI.hpp>

#include <cstring>
#include <iostream>

#include "packager/commands.h"
#include "packager/progress.h"
#include "packager/try.h"

#ifndef MARLOWICK_VERSION
#define MARLOWICK_VERSION "unknown"
#endif

using namespace mw::packager;

namespace {

constexpr const char* kCommands[] = {"build", "list", "verify", "extract", "sign", "try"};

int usageError(const std::string& message) {
  std::cerr << "marlowick: error: " << message << " (marlowick --help lists the commands)\n";
  return 2;
}

// The signing inputs as options, shared by `sign`; a project gives them in its [signing] table.
void addSigningOptions(CLI::App* cmd, SigningSettings& s, std::string& certificate, std::string& key,
                       std::string& pkcs12) {
  cmd->add_option("--certificate", certificate, "the certificate (PEM or DER), with --key");
  cmd->add_option("--key", key, "the certificate's private key");
  cmd->add_option("--pkcs12", pkcs12, "a PKCS#12 file holding certificate and key");
  cmd->add_option("--password-env", s.passwordVariable,
                  "the environment variable that holds the key's or the PKCS#12 file's password");
  cmd->add_option("--timestamp-url", s.timestampUrl, "an RFC 3161 time-stamping service");
  cmd->add_option("--description", s.description, "the program name the signature shows");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2) {
    const std::string first = argv[1];
    // `try` has its own command line; hand it everything after the word.
    if (first == "try") return runTry(argc - 1, argv + 1);
    if (first == "--version" || first == "-V") {
      std::cout << "marlowick " << MARLOWICK_VERSION << "\n";
      return 0;
    }
    if (!first.empty() && first[0] != '-' &&
        std::none_of(std::begin(kCommands), std::end(kCommands), [&](const char* c) { return first == c; }))
      return usageError("unknown command '" + first + "'; the commands are build, list, verify, extract, sign and try");
  }

  CLI::App app{"marlowick: self-extracting installers for 32-bit Windows"};
  app.require_subcommand(1);
  app.set_version_flag("-V,--version", "marlowick " MARLOWICK_VERSION);

  BuildCommand build;
  build.options.output = "setup.exe";
  std::string stub, uninstaller;
  bool noProgress = false;
  CLI::App* buildCmd = app.add_subcommand("build", "build an installer from a project file (signed when it has [signing])");
  buildCmd->add_option("project", build.project, "the project file (TOML)")->required();
  buildCmd->add_option("-o,--output", build.options.output, "the installer to write (default setup.exe)");
  buildCmd->add_option("--stub", stub, "the engine stub (default: stub.exe next to marlowick)");
  buildCmd->add_option("--uninstaller", uninstaller, "the uninstaller image (default: uninstaller.exe next to marlowick)");
  buildCmd->add_option("-j,--jobs", build.options.threads, "compression threads (default: one per core)");
  buildCmd->add_flag("-q,--quiet", build.quiet, "print nothing on success");
  buildCmd->add_flag("--no-progress", noProgress, "never draw the progress bar");
  std::vector<std::string> defines;
  buildCmd->add_option("-D,--define", defines, "NAME=VALUE: ${NAME} in the project's strings becomes VALUE")
      ->allow_extra_args(false);  // one value per -D, so a project named after it stays the project

  std::string installer;
  bool json = false;
  uint32_t codePage = 1252;
  CLI::App* listCmd = app.add_subcommand("list", "show an installer's setup script and file table");
  listCmd->add_option("installer", installer, "the installer")->required();
  listCmd->add_flag("--json", json, "machine-readable output");
  listCmd->add_option("--codepage", codePage, "code page of the installer's texts (default 1252)");

  CLI::App* verifyCmd = app.add_subcommand("verify", "check an installer's record, payload, every file, engine and signature");
  verifyCmd->add_option("installer", installer, "the installer")->required();

  std::string directory;
  CLI::App* extractCmd = app.add_subcommand("extract", "write an installer's files into a folder");
  extractCmd->add_option("installer", installer, "the installer")->required();
  extractCmd->add_option("-o,--output", directory, "the folder to write into")->required();
  extractCmd->add_option("--codepage", codePage, "code page of the file names (default 1252)");

  SigningSettings signing;
  std::string certificate, key, pkcs12, signedOutput;
  CLI::App* signCmd = app.add_subcommand("sign", "sign an installer with osslsigncode (Authenticode)");
  signCmd->add_option("installer", installer, "the installer")->required();
  signCmd->add_option("-o,--output", signedOutput, "write the signed installer here (default: sign in place)");
  addSigningOptions(signCmd, signing, certificate, key, pkcs12);

  app.add_subcommand("try", "build a project and run its installer under wine");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return usageError(e.what());
  }

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
  if (signCmd->parsed()) {
    signing.certificate = certificate;
    signing.key = key;
    signing.pkcs12 = pkcs12;
    return runSign(installer, signedOutput, signing, std::cout, std::cerr);
  }
  return usageError("no command given");
}
