#include "packager/commands.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

#include "packager/codepage.h"
#include "packager/installer_reader.h"
#include "packager/names.h"
#include "packager/output_file.h"
#include "packager/signing.h"
#include "format/script.h"

namespace fs = std::filesystem;

namespace mw::packager {
namespace {

std::string hex32(uint32_t v) {
  char s[12];
  std::snprintf(s, sizeof s, "0x%08X", v);
  return s;
}

std::string size(uint64_t bytes) {
  char s[32];
  if (bytes < 1048576)
    std::snprintf(s, sizeof s, "%.1f KiB", double(bytes) / 1024.0);
  else
    std::snprintf(s, sizeof s, "%.2f MiB", double(bytes) / 1048576.0);
  return s;
}

std::string jsonString(const std::string& utf8) {
  std::string s = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      case '\n': s += "\\n"; break;
      case '\r': s += "\\r"; break;
      case '\t': s += "\\t"; break;
      default:
        if (c < 0x20) {
          char u[8];
          std::snprintf(u, sizeof u, "\\u%04X", c);
          s += u;
        } else {
          s += char(c);
        }
    }
  }
  return s + "\"";
}

std::string pictureSummary(const std::vector<uint8_t>& bmp) {
  if (bmp.empty()) return "none";
  // Read the size the way the engine does: core header u16, otherwise i32.
  uint32_t headerSize = bmp.size() >= 18 ? uint32_t(bmp[14] | bmp[15] << 8 | bmp[16] << 16 | bmp[17] << 24) : 0;
  int32_t w = 0, h = 0;
  if (headerSize == 12 && bmp.size() >= 22) {
    w = bmp[18] | bmp[19] << 8;
    h = bmp[20] | bmp[21] << 8;
  } else if (bmp.size() >= 26) {
    w = int32_t(bmp[18] | bmp[19] << 8 | bmp[20] << 16 | uint32_t(bmp[21]) << 24);
    h = int32_t(bmp[22] | bmp[23] << 8 | bmp[24] << 16 | uint32_t(bmp[25]) << 24);
  }
  return std::to_string(w) + " x " + std::to_string(h) + ", " + std::to_string(bmp.size()) + " bytes";
}

// Built with append: GCC 12 warns falsely about "literal" + std::string temporaries.
std::string quoted(const std::string& text) {
  std::string q;
  q.reserve(text.size() + 2);
  q.append(1, '"').append(text).append(1, '"');
  return q;
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find_first_of("\r\n"));
  if (line.size() > 60) line = line.substr(0, 57) + "...";
  if (line.size() < text.size()) line += " (" + std::to_string(text.size()) + " characters)";
  return line;
}

struct Shown {
  const CodePage& cp;
  std::string operator()(const std::string& ansi) const { return cp.decode(ansi); }
};

// Everything wrong with the payload's frame: record, length, what follows the blob.
std::vector<std::string> frameProblems(const Installer& inst) {
  std::vector<std::string> problems;
  uint64_t end = inst.payloadEnd();
  if (end > inst.fileSize())
    problems.push_back("the file is truncated: the payload ends at " + std::to_string(end) + " but the file has " +
                       std::to_string(inst.fileSize()) + " bytes");
  else if (end < inst.contentEnd())
    problems.push_back(std::to_string(inst.contentEnd() - end) +
                       " bytes follow the uninstaller blob, which must end the file (or be followed by a signature)");
  if (!inst.payloadIntact()) problems.push_back("payload checksum mismatch: the setup script or the uninstaller blob is damaged");
  return problems;
}

// Every stored content decoded and checked once (files that share their data share the check).
std::map<uint32_t, Installer::FileCheck> checkFileData(Installer& inst) {
  std::map<uint32_t, Installer::FileCheck> checked;
  if (!inst.script()) return checked;
  for (const ScriptFile& f : inst.script()->files)
    if (f.dataOffset != 0 && !checked.count(f.dataOffset)) checked.emplace(f.dataOffset, inst.readFile(f));
  return checked;
}

// The engine's bytes are covered by the PE checksum the build writes over the whole file (and
// signing recomputes).
struct EngineCheck {
  bool checked = false;
  bool ok = false;
  std::string text;  // what was found, for people
};

EngineCheck checkEngine(Installer& inst) {
  EngineCheck e;
  if (!inst.peHeaders()) {
    e.text = "not checked (the stub has no PE headers)";
    return e;
  }
  const uint32_t stored = inst.peHeaders()->checksum;
  if (stored == 0) {
    e.text = "not checked (the file carries no PE checksum)";
    return e;
  }
  const uint32_t computed = inst.computePeChecksum();
  e.checked = true;
  e.ok = computed == stored;
  e.text = e.ok ? "PE checksum " + hex32(stored) + " matches the file's bytes"
                : "the PE checksum does not match the file's bytes (stored " + hex32(stored) + ", the bytes give " +
                      hex32(computed) + ")";
  return e;
}

std::string signatureText(const Installer& inst, const SignatureCheck* check) {
  if (!inst.isSigned()) return "none";
  std::string where = std::to_string(inst.signatureSize()) + " bytes at " + std::to_string(inst.signatureOffset());
  if (!check) return "present (" + where + "; run verify to check it)";
  if (!check->checked) return "present (" + where + "), not checked: " + check->detail;
  if (!check->matches) return "DOES NOT MATCH the installer's bytes: " + check->detail;
  return "matches the installer's bytes; its certificate is " +
         std::string(check->trusted ? "trusted by this system" : "NOT trusted by this system (" + check->detail + ")");
}

// Bytes after each entry's decode, for listing: the unpacked size, or nullopt when damaged.
std::optional<uint64_t> unpackedSize(const ScriptFile& f, const std::map<uint32_t, Installer::FileCheck>& checked) {
  if (f.dataOffset == 0) return 0;
  auto it = checked.find(f.dataOffset);
  if (it == checked.end() || !it->second.ok) return std::nullopt;
  return it->second.decoded;
}

size_t damagedFiles(const ScriptModel& s, const std::map<uint32_t, Installer::FileCheck>& checked) {
  size_t n = 0;
  for (const ScriptFile& f : s.files)
    if (f.dataOffset != 0 && !unpackedSize(f, checked)) ++n;
  return n;
}

void listText(Installer& inst, const fs::path& path, const CodePage& cp, std::ostream& out) {
  Shown u{cp};
  out << "installer:       " << path.string() << " (" << inst.fileSize() << " bytes)\n";
  if (!inst.hasRecord()) return;
  const LocatorRecord& r = inst.record();
  out << "locator record:  checksum " << hex32(r.checksum) << ", script at " << r.scriptOffset << ", "
      << r.scriptLength << " bytes stored\n";
  out << "payload:         checksum " << (inst.payloadIntact() ? "ok" : "MISMATCH")
      << " (setup script and uninstaller blob)\n";
  if (!inst.script()) return;
  const ScriptModel& s = *inst.script();
  const auto checked = checkFileData(inst);
  const size_t damaged = damagedFiles(s, checked);
  out << "file data:       "
      << (damaged ? std::to_string(damaged) + " of " + std::to_string(s.files.size()) + " files DAMAGED (run verify)"
                  : std::string("every file decoded, checksums ok"))
      << "\n";
  out << "engine:          " << checkEngine(inst).text << "\n";
  out << "signature:       " << signatureText(inst, nullptr) << "\n";
  out << "script:          " << inst.scriptDecodedLength() << " bytes decoded\n";
  out << "product:         " << u(s.productName) << "\n";
  out << "caption:         " << u(s.windowCaption) << "\n";
  out << "destination:     " << nameOf(kDestinationKinds, s.destinationKind) << " \"" << u(s.destinationPath) << "\"\n";
  out << "minimum OS:      " << nameOf(kWindowsReleases, s.minimumOs) << "\n";
  out << ".NET Framework:  "
      << (s.dotNetRequired ? nameOf(kDotNetReleases, s.dotNetRequired) +
                                 (s.dotNetInstaller.empty() ? std::string() : std::string(", installer ") + quoted(u(s.dotNetInstaller)))
                           : std::string("not required"))
      << "\n";
  out << "administrator:   " << (s.requireAdmin ? "required" : "not required") << "\n";
  out << "header texts:    " << (s.headerTextColour == kNoTitleTexts ? std::string("none") : colourName(s.headerTextColour)) << "\n";
  out << "splash:          " << pictureSummary(s.splashBitmap);
  if (!s.splashBitmap.empty()) out << ", " << int(s.splashSeconds) + 1 << " s";
  out << "\n";
  out << "side picture:    " << pictureSummary(s.sideBitmap);
  if (!s.sideBitmap.empty()) out << ", text " << colourName(s.sideTextColour);
  out << "\n";
  out << "banner:          " << pictureSummary(s.bannerBitmap);
  if (!s.bannerBitmap.empty()) out << ", " << nameOf(kBannerAlignments, s.bannerAlignment);
  out << "\n";
  out << "link:            " << (s.linkText.empty() ? std::string("none") : quoted(u(s.linkText)) + " -> " + quoted(u(s.linkTarget))) << "\n";
  out << "welcome text:    " << u(firstLine(s.welcomeText)) << "\n";
  out << "licence text:    " << (s.licenceText.empty() ? std::string("none (no licence page)") : u(firstLine(s.licenceText))) << "\n";
  out << "finish text:     " << u(firstLine(s.finishText)) << "\n";
  out << "program group:   " << (s.programGroup.empty() ? std::string("none") : u(s.programGroup)) << "\n";

  out << "files (" << s.files.size() << "):\n";
  out << "      offset  chunks    checksum      stored        size  name\n";
  for (const ScriptFile& f : s.files) {
    char row[96];
    auto unpacked = unpackedSize(f, checked);
    const std::string sizeText = unpacked ? std::to_string(*unpacked) : "DAMAGED";
    if (f.dataOffset == 0) {
      std::snprintf(row, sizeof row, "  %10s  %6s  %10s  %10s  %10s  ", "-", "-", "-", "0", "0");
    } else {
      auto stored = inst.storedSize(f);
      std::snprintf(row, sizeof row, "  %10u  %6u  %10s  %10s  %10s  ", f.dataOffset, unsigned(f.chunkCount),
                    hex32(f.checksum).c_str(), stored ? std::to_string(*stored).c_str() : "?", sizeText.c_str());
    }
    out << row << u(f.name) << "\n";
  }
  out << "shortcuts (" << s.shortcuts.size() << "):\n";
  for (const ScriptShortcut& sc : s.shortcuts) {
    char row[32];
    std::snprintf(row, sizeof row, "  %-15s ", nameOf(kShortcutPlaces, sc.kind).c_str());
    out << row << u(sc.target) << "\n";
  }
  out << "registry values (" << s.registry.size() << "):\n";
  for (const ScriptRegistryValue& v : s.registry) {
    out << "  " << rootName(v.root) << "\\" << u(v.subkey) << "  "
        << (v.valueName ? quoted(u(*v.valueName)) : std::string("(default)")) << "  "
        << nameOf(kRegistryTypes, uint8_t(v.valueType())) << "  "
        << (v.valueType() == kRegDword ? std::to_string(v.dword) : quoted(u(v.text))) << "\n";
  }
  out << "after install:   restart " << (s.rebootMode ? "asked" : "not asked") << "; ";
  if (s.runKind == 0) out << "nothing started\n";
  else out << "run \"" << u(s.runTarget) << "\" from " << nameOf(kRunFrom, s.runKind) << "\n";
}

// The installer as JSON, in the project file's words: its tables and key names, and its names
// for kinds, places and types. "format" changes only when a key changes meaning or goes away.
void listJson(Installer& inst, const CodePage& cp, std::ostream& out) {
  Shown u{cp};
  auto str = [&](const std::string& ansi) { return jsonString(u(ansi)); };
  auto word = [](const std::string& w) { return jsonString(w); };
  auto boolean = [](bool b) { return b ? "true" : "false"; };
  out << "{\n  \"format\": 1";
  out << ",\n  \"installer\": {\"size\": " << inst.fileSize() << ", \"signed\": " << boolean(inst.isSigned());
  if (inst.hasRecord()) {
    const LocatorRecord& r = inst.record();
    out << ", \"record\": {\"checksum\": " << r.checksum << ", \"scriptOffset\": " << r.scriptOffset
        << ", \"scriptLength\": " << r.scriptLength << "}";
    out << ", \"payloadChecksum\": " << word(inst.payloadIntact() ? "ok" : "mismatch");
  }
  std::map<uint32_t, Installer::FileCheck> checked;
  if (inst.script()) {
    checked = checkFileData(inst);
    out << ", \"fileData\": " << word(damagedFiles(*inst.script(), checked) ? "damaged" : "ok");
    const EngineCheck e = checkEngine(inst);
    out << ", \"engineChecksum\": " << word(!e.checked ? "none" : e.ok ? "ok" : "mismatch");
    out << ", \"scriptDecodedLength\": " << inst.scriptDecodedLength();
  }
  out << "}";
  if (!inst.script()) {
    out << ",\n  \"error\": " << jsonString(inst.isInstaller() ? inst.scriptError() : "not an installer: " + inst.notInstallerReason())
        << "\n}\n";
    return;
  }
  const ScriptModel& s = *inst.script();
  auto picture = [&](const std::vector<uint8_t>& bmp) {
    return bmp.empty() ? std::string("null") : "{\"bytes\": " + std::to_string(bmp.size()) + "}";
  };
  out << ",\n  \"product\": {\"name\": " << str(s.productName) << ", \"caption\": " << str(s.windowCaption) << "}";
  out << ",\n  \"texts\": {\"welcome\": " << str(s.welcomeText) << ", \"licence\": " << str(s.licenceText)
      << ", \"finish\": " << str(s.finishText) << "}";
  out << ",\n  \"destination\": {\"kind\": " << word(nameOf(kDestinationKinds, s.destinationKind))
      << ", \"path\": " << str(s.destinationPath) << "}";
  out << ",\n  \"requirements\": {\"minimum-os\": " << word(nameOf(kWindowsReleases, s.minimumOs)) << ", \"dotnet\": "
      << (s.dotNetRequired ? word(nameOf(kDotNetReleases, s.dotNetRequired)) : std::string("null"))
      << ", \"dotnet-installer\": " << str(s.dotNetInstaller) << ", \"administrator\": " << boolean(s.requireAdmin) << "}";
  out << ",\n  \"appearance\": {\"splash\": " << picture(s.splashBitmap) << ", \"splash-seconds\": " << int(s.splashSeconds) + 1
      << ", \"side-picture\": " << picture(s.sideBitmap) << ", \"side-text-colour\": " << word(colourName(s.sideTextColour))
      << ", \"banner\": " << picture(s.bannerBitmap) << ", \"banner-alignment\": "
      << word(nameOf(kBannerAlignments, s.bannerAlignment)) << ", \"header-text-colour\": "
      << word(s.headerTextColour == kNoTitleTexts ? std::string("none") : colourName(s.headerTextColour)) << "}";
  out << ",\n  \"link\": {\"text\": " << str(s.linkText) << ", \"target\": " << str(s.linkTarget) << "}";
  // A file keeps the installer's own placement fields: tools find a file's chunks with them.
  out << ",\n  \"files\": [";
  for (size_t i = 0; i < s.files.size(); ++i) {
    const ScriptFile& f = s.files[i];
    auto stored = inst.storedSize(f);
    auto unpacked = unpackedSize(f, checked);
    out << (i ? ",\n" : "\n") << "    {\"name\": " << str(f.name) << ", \"dataOffset\": " << f.dataOffset
        << ", \"chunkCount\": " << f.chunkCount << ", \"checksum\": " << f.checksum
        << ", \"stored\": " << (stored ? std::to_string(*stored) : std::string("null"))
        << ", \"size\": " << (unpacked ? std::to_string(*unpacked) : std::string("null"))
        << ", \"intact\": " << boolean(unpacked.has_value()) << "}";
  }
  out << "\n  ]";
  out << ",\n  \"start-menu\": {\"group\": " << str(s.programGroup) << "}";
  out << ",\n  \"shortcuts\": [";
  for (size_t i = 0; i < s.shortcuts.size(); ++i)
    out << (i ? ", " : "") << "{\"place\": " << word(nameOf(kShortcutPlaces, s.shortcuts[i].kind))
        << ", \"target\": " << str(s.shortcuts[i].target) << "}";
  out << "]";
  out << ",\n  \"registry\": [";
  for (size_t i = 0; i < s.registry.size(); ++i) {
    const ScriptRegistryValue& v = s.registry[i];
    out << (i ? ",\n" : "\n") << "    {\"root\": " << jsonString(rootName(v.root)) << ", \"key\": " << str(v.subkey)
        << ", \"name\": " << (v.valueName ? str(*v.valueName) : std::string("null"))
        << ", \"type\": " << word(nameOf(kRegistryTypes, uint8_t(v.valueType())))
        << ", \"value\": " << (v.valueType() == kRegDword ? std::to_string(v.dword) : str(v.text)) << "}";
  }
  out << "\n  ]";
  out << ",\n  \"after-install\": {\"restart\": " << boolean(s.rebootMode) << ", \"run\": "
      << (s.runKind ? str(s.runTarget) : std::string("null")) << ", \"run-from\": "
      << (s.runKind ? word(nameOf(kRunFrom, s.runKind)) : std::string("null")) << "}";
  out << "\n}\n";
}

}  // namespace

fs::path defaultDistFile(const char* name) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::path(name);
  return self.parent_path() / name;
}

namespace {

// Reads a command's file argument as it must be: a regular file. Folders, devices and missing
// files are refused with one line.
bool readableFile(const fs::path& path, const char* what, std::ostream& err) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  std::string why;
  if (!fs::exists(st)) why = "does not exist";
  else if (fs::is_directory(st)) why = "is a folder";
  else if (!fs::is_regular_file(st)) why = "is not a regular file";
  if (why.empty()) return true;
  err << "marlowick: error: " << what << " '" << path.string() << "' " << why << "\n";
  return false;
}

// The build's output goes to a temporary name when it is signed afterwards, so that the
// destination only ever receives the signed installer. An interrupt removes it too.
struct UnsignedOutput {
  fs::path path;
  std::optional<RemovedOnInterrupt> onInterrupt;
  explicit UnsignedOutput(const fs::path& destination) {
    fs::path dir = destination.has_parent_path() ? destination.parent_path() : fs::path(".");
    std::string pattern = (dir / ("." + destination.filename().string() + ".unsigned-XXXXXX")).string();
    onInterrupt.emplace(pattern);
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create a file in '" + dir.string() + "'");
    onInterrupt->named(pattern);
    close(fd);
    path = pattern;
  }
  ~UnsignedOutput() {
    std::error_code ec;
    fs::remove(path, ec);
  }
};

}  // namespace

int runBuild(const BuildCommand& command, std::ostream& out, std::ostream& err) {
  if (!readableFile(command.project, "the project file", err)) return 2;
  Diagnostics diagnostics;
  Project project = loadProject(command.project, diagnostics, command.defines);
  diagnostics.print(err);
  if (diagnostics.failed()) {
    err << command.project.string() << ": " << diagnostics.errorCount() << " error"
        << (diagnostics.errorCount() == 1 ? "" : "s") << "; no installer written\n";
    return 1;
  }
  const std::optional<SigningSettings> signing = project.signing;
  if (signing) {
    if (std::string problem = signingProblem(*signing); !problem.empty()) {
      err << "marlowick: error: signing: " << problem << "; no installer written\n";
      return 1;
    }
  }
  try {
    prepareOutputPath(command.options.output);
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
  try {
    BuildOptions options = command.options;
    std::unique_ptr<UnsignedOutput> unsignedOutput;
    if (signing) {
      unsignedOutput = std::make_unique<UnsignedOutput>(options.output);
      options.output = unsignedOutput->path;
    }
    BuildSummary s = buildInstaller(std::move(project), options);
    if (signing) {
      signInstaller(options.output, command.options.output, *signing);
      s.installerSize = fs::file_size(command.options.output);
    }
    if (!command.quiet)
      out << command.options.output.string() << ": " << s.files << " files (" << s.storedContents
          << " distinct contents, " << s.chunks << " chunks), " << size(s.inputBytes) << " packed into "
          << size(s.installerSize) << (signing ? ", signed" : "") << "\n";
    return 0;
  } catch (const BuildError& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 1;
  } catch (const SigningError& e) {
    err << "marlowick: error: signing: " << e.what() << "; no installer written\n";
    return 1;
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
}

int runSign(const fs::path& installer, const fs::path& output, const SigningSettings& settings, std::ostream& out,
            std::ostream& err) {
  if (!readableFile(installer, "the installer", err)) return 2;
  const fs::path target = output.empty() ? installer : output;
  try {
    signInstaller(installer, target, settings);
    out << target.string() << ": signed (" << fs::file_size(target) << " bytes)\n";
    return 0;
  } catch (const SigningError& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
}

int runList(const fs::path& path, bool json, uint32_t codePage, std::ostream& out, std::ostream& err) {
  if (!readableFile(path, "the installer", err)) return 2;
  try {
    CodePage cp(codePage);
    Installer inst(path);
    if (!inst.isInstaller()) {
      if (json) listJson(inst, cp, out);
      err << path.string() << ": not an installer: " << inst.notInstallerReason() << "\n";
      return 1;
    }
    if (json) listJson(inst, cp, out);
    else listText(inst, path, cp, out);
    if (!inst.script()) {
      err << path.string() << ": " << inst.scriptError() << "\n";
      return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
}

int runVerify(const fs::path& path, std::ostream& out, std::ostream& err) {
  if (!readableFile(path, "the installer", err)) return 2;
  std::unique_ptr<Installer> inst;
  try {
    inst = std::make_unique<Installer>(path);
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
  if (!inst->isInstaller()) {
    out << path.string() << ": not an installer: " << inst->notInstallerReason() << "\n";
    return 1;
  }
  std::vector<std::string> problems = frameProblems(*inst);
  if (!inst->script()) {
    problems.push_back("setup script: " + inst->scriptError());
  } else {
    if (inst->scriptEnd() != inst->scriptDecodedLength())
      problems.push_back("setup script: " + std::to_string(inst->scriptDecodedLength() - inst->scriptEnd()) +
                         " bytes follow its last field");
    const auto checked = checkFileData(*inst);
    for (const ScriptFile& f : inst->script()->files) {
      auto it = checked.find(f.dataOffset);
      if (it != checked.end() && !it->second.ok) problems.push_back("file '" + f.name + "': " + it->second.problem);
    }
  }
  std::vector<uint8_t> image;
  std::string problem;
  if (!inst->decodeUninstaller(image, problem)) problems.push_back(problem);
  std::optional<SignatureCheck> signature;
  if (inst->isSigned()) {
    signature = checkSignature(path);
    if (signature->checked && !signature->matches) problems.push_back("signature: " + signatureText(*inst, &*signature));
  }
  // The checksum covers the whole file, the signature all but its own table and the checksum
  // field: together with the payload's checks they tell where a mismatch lies.
  const EngineCheck engine = checkEngine(*inst);
  if (engine.checked && !engine.ok) {
    std::string where;
    if (problems.empty() && signature && signature->matches)
      where = "; the signature still matches the rest of the file, so the damage lies in the signature's table or "
              "in the checksum field";
    else if (problems.empty() || (problems.size() == 1 && signature && signature->digestMismatch))
      where = "; the payload and every file are intact, so the engine's own bytes are damaged";
    problems.push_back("engine: " + engine.text + where);
  }

  const std::string signatureLine =
      path.string() + ": signature: " + signatureText(*inst, signature ? &*signature : nullptr) + "\n";
  if (problems.empty()) {
    out << path.string() << ": intact (" << (inst->script() ? inst->script()->files.size() : 0)
        << " files; payload, file data and uninstaller checked; engine: " << engine.text << ")\n";
    out << signatureLine;
    return 0;
  }
  for (const std::string& p : problems) out << path.string() << ": damaged: " << p << "\n";
  if (!signature || signature->matches || !signature->checked) out << signatureLine;
  return 1;
}

int runExtract(const fs::path& path, const fs::path& directory, uint32_t codePage, std::ostream& out, std::ostream& err) {
  if (!readableFile(path, "the installer", err)) return 2;
  {
    std::error_code ec;
    if (fs::exists(directory, ec) && !fs::is_directory(directory, ec)) {
      err << "marlowick: error: '" << directory.string() << "' is not a folder; extract writes into a folder\n";
      return 2;
    }
  }
  try {
    CodePage cp(codePage);
    Installer inst(path);
    if (!inst.isInstaller()) {
      err << path.string() << ": not an installer: " << inst.notInstallerReason() << "\n";
      return 1;
    }
    if (!inst.script()) {
      err << path.string() << ": " << inst.scriptError() << "\n";
      return 1;
    }
    int status = 0;
    std::error_code made;
    fs::create_directories(directory, made);
    if (made) {
      err << "marlowick: error: cannot create the folder '" << directory.string() << "': " << made.message() << "\n";
      return 2;
    }
    for (const ScriptFile& f : inst.script()->files) {
      std::string shown = cp.decode(f.name);
      // A name that climbs out of the folder, names a drive or starts at a root is refused.
      if (!isContainedPath(f.name.c_str())) {
        err << path.string() << ": refused '" << shown << "': it would land outside " << directory.string() << "\n";
        status = 1;
        continue;
      }
      std::string relative = shown;
      for (char& c : relative)
        if (c == '\\') c = '/';
      fs::path target = directory / relative;
      std::error_code ec;
      fs::create_directories(target.parent_path(), ec);
      std::ofstream file(target, std::ios::binary | std::ios::trunc);
      if (!file) {
        err << path.string() << ": cannot write '" << target.string() << "'\n";
        status = 1;
        continue;
      }
      Installer::FileCheck check = inst.readFile(f, [&](const uint8_t* data, size_t n) {
        file.write(reinterpret_cast<const char*>(data), std::streamsize(n));
      });
      file.close();
      if (!check.ok || !file) {
        fs::remove(target, ec);
        err << path.string() << ": '" << shown << "': " << (check.ok ? std::string("write failed") : check.problem)
            << "; not extracted\n";
        status = 1;
        continue;
      }
      out << shown << "\n";
    }
    return status;
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace mw::packager
