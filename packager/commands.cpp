#include "packager/commands.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "packager/codepage.h"
#include "packager/installer_reader.h"
#include "packager/names.h"
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

void listText(Installer& inst, const fs::path& path, const CodePage& cp, std::ostream& out) {
  Shown u{cp};
  out << "installer:       " << path.string() << " (" << inst.fileSize() << " bytes)\n";
  if (!inst.hasRecord()) return;
  const LocatorRecord& r = inst.record();
  out << "locator record:  checksum " << hex32(r.checksum) << ", script at " << r.scriptOffset << ", "
      << r.scriptLength << " bytes stored\n";
  out << "payload:         " << (inst.payloadIntact() ? "intact" : "CHECKSUM MISMATCH") << "\n";
  if (!inst.script()) return;
  const ScriptModel& s = *inst.script();
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
  out << "      offset  chunks    checksum      stored  name\n";
  for (const ScriptFile& f : s.files) {
    char row[64];
    if (f.dataOffset == 0) {
      std::snprintf(row, sizeof row, "  %10s  %6s  %10s  %10s  ", "-", "-", "-", "0");
    } else {
      auto stored = inst.storedSize(f);
      std::snprintf(row, sizeof row, "  %10u  %6u  %10s  %10s  ", f.dataOffset, unsigned(f.chunkCount),
                    hex32(f.checksum).c_str(), stored ? std::to_string(*stored).c_str() : "?");
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

void listJson(Installer& inst, const CodePage& cp, std::ostream& out) {
  Shown u{cp};
  auto str = [&](const std::string& ansi) { return jsonString(u(ansi)); };
  out << "{\n  \"size\": " << inst.fileSize();
  if (inst.hasRecord()) {
    const LocatorRecord& r = inst.record();
    out << ",\n  \"record\": {\"checksum\": " << r.checksum << ", \"scriptOffset\": " << r.scriptOffset
        << ", \"scriptLength\": " << r.scriptLength << "}";
    out << ",\n  \"payloadIntact\": " << (inst.payloadIntact() ? "true" : "false");
  }
  if (!inst.script()) {
    out << ",\n  \"error\": " << jsonString(inst.scriptError()) << "\n}\n";
    return;
  }
  const ScriptModel& s = *inst.script();
  auto picture = [&](const char* name, const std::vector<uint8_t>& bmp) {
    out << ",\n  \"" << name << "\": ";
    if (bmp.empty()) out << "null";
    else out << "{\"bytes\": " << bmp.size() << "}";
  };
  out << ",\n  \"scriptDecodedLength\": " << inst.scriptDecodedLength();
  out << ",\n  \"productName\": " << str(s.productName);
  out << ",\n  \"windowCaption\": " << str(s.windowCaption);
  out << ",\n  \"welcomeText\": " << str(s.welcomeText);
  out << ",\n  \"licenceText\": " << str(s.licenceText);
  out << ",\n  \"finishText\": " << str(s.finishText);
  out << ",\n  \"destinationKind\": " << int(s.destinationKind) << ", \"destinationKindName\": "
      << jsonString(nameOf(kDestinationKinds, s.destinationKind));
  out << ",\n  \"destinationPath\": " << str(s.destinationPath);
  out << ",\n  \"minimumOs\": " << int(s.minimumOs);
  out << ",\n  \"dotNetRequired\": " << int(s.dotNetRequired);
  out << ",\n  \"dotNetInstaller\": " << str(s.dotNetInstaller);
  out << ",\n  \"requireAdmin\": " << (s.requireAdmin ? "true" : "false");
  out << ",\n  \"headerTextColour\": " << s.headerTextColour;
  out << ",\n  \"sideTextColour\": " << s.sideTextColour;
  out << ",\n  \"splashSeconds\": " << int(s.splashSeconds);
  out << ",\n  \"bannerAlignment\": " << int(s.bannerAlignment);
  picture("splashBitmap", s.splashBitmap);
  picture("sideBitmap", s.sideBitmap);
  picture("bannerBitmap", s.bannerBitmap);
  out << ",\n  \"linkText\": " << str(s.linkText);
  out << ",\n  \"linkTarget\": " << str(s.linkTarget);
  out << ",\n  \"files\": [";
  for (size_t i = 0; i < s.files.size(); ++i) {
    const ScriptFile& f = s.files[i];
    auto stored = inst.storedSize(f);
    out << (i ? ",\n" : "\n") << "    {\"name\": " << str(f.name) << ", \"dataOffset\": " << f.dataOffset
        << ", \"chunkCount\": " << f.chunkCount << ", \"checksum\": " << f.checksum
        << ", \"stored\": " << (stored ? std::to_string(*stored) : std::string("null")) << "}";
  }
  out << "\n  ]";
  out << ",\n  \"programGroup\": " << str(s.programGroup);
  out << ",\n  \"shortcuts\": [";
  for (size_t i = 0; i < s.shortcuts.size(); ++i)
    out << (i ? ", " : "") << "{\"kind\": \"" << char(s.shortcuts[i].kind) << "\", \"target\": " << str(s.shortcuts[i].target) << "}";
  out << "]";
  out << ",\n  \"registry\": [";
  for (size_t i = 0; i < s.registry.size(); ++i) {
    const ScriptRegistryValue& v = s.registry[i];
    out << (i ? ",\n" : "\n") << "    {\"root\": " << jsonString(rootName(v.root)) << ", \"key\": " << str(v.subkey)
        << ", \"name\": " << (v.valueName ? str(*v.valueName) : std::string("null")) << ", \"type\": " << v.valueType()
        << ", \"value\": " << (v.valueType() == kRegDword ? std::to_string(v.dword) : str(v.text)) << "}";
  }
  out << "\n  ]";
  out << ",\n  \"rebootMode\": " << int(s.rebootMode) << ", \"runKind\": " << int(s.runKind)
      << ", \"runTarget\": " << str(s.runTarget);
  out << "\n}\n";
}

// Everything wrong with the payload's frame: record, length, what follows the blob.
std::vector<std::string> frameProblems(const Installer& inst) {
  std::vector<std::string> problems;
  if (!inst.hasRecord()) {
    problems.push_back("the file is too short to hold the locator record");
    return problems;
  }
  uint64_t end = inst.payloadEnd();
  if (end > inst.fileSize())
    problems.push_back("the file is truncated: the payload ends at " + std::to_string(end) + " but the file has " +
                       std::to_string(inst.fileSize()) + " bytes");
  else if (end < inst.fileSize())
    problems.push_back(std::to_string(inst.fileSize() - end) +
                       " bytes follow the uninstaller blob, which must end the file");
  if (!inst.payloadIntact()) problems.push_back("payload checksum mismatch: the setup script or the uninstaller blob is damaged");
  return problems;
}

}  // namespace

fs::path defaultDistFile(const char* name) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::path(name);
  return self.parent_path() / name;
}

int runBuild(const BuildCommand& command, std::ostream& out, std::ostream& err) {
  Diagnostics diagnostics;
  Project project = loadProject(command.project, diagnostics, command.defines);
  diagnostics.print(err);
  if (diagnostics.failed()) {
    err << command.project.string() << ": " << diagnostics.errorCount() << " error"
        << (diagnostics.errorCount() == 1 ? "" : "s") << "; no installer written\n";
    return 1;
  }
  try {
    BuildSummary s = buildInstaller(std::move(project), command.options);
    if (!command.quiet)
      out << command.options.output.string() << ": " << s.files << " files (" << s.storedContents
          << " distinct contents, " << s.chunks << " chunks), " << size(s.inputBytes) << " packed into "
          << size(s.installerSize) << "\n";
    return 0;
  } catch (const BuildError& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
}

int runList(const fs::path& path, bool json, uint32_t codePage, std::ostream& out, std::ostream& err) {
  try {
    CodePage cp(codePage);
    Installer inst(path);
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
  std::unique_ptr<Installer> inst;
  try {
    inst = std::make_unique<Installer>(path);
  } catch (const std::exception& e) {
    err << "marlowick: error: " << e.what() << "\n";
    return 2;
  }
  std::vector<std::string> problems = frameProblems(*inst);
  if (!inst->script()) {
    problems.push_back("setup script: " + inst->scriptError());
  } else {
    if (inst->scriptEnd() != inst->scriptDecodedLength())
      problems.push_back("setup script: " + std::to_string(inst->scriptDecodedLength() - inst->scriptEnd()) +
                         " bytes follow its last field");
    // Files that share their data are checked once.
    std::map<uint32_t, Installer::FileCheck> checked;
    for (const ScriptFile& f : inst->script()->files) {
      if (f.dataOffset == 0) continue;
      auto it = checked.find(f.dataOffset);
      if (it == checked.end()) it = checked.emplace(f.dataOffset, inst->readFile(f)).first;
      if (!it->second.ok) problems.push_back("file '" + f.name + "': " + it->second.problem);
    }
  }
  std::vector<uint8_t> image;
  std::string problem;
  if (inst->hasRecord() && !inst->decodeUninstaller(image, problem)) problems.push_back(problem);

  if (problems.empty()) {
    out << path.string() << ": intact (" << (inst->script() ? inst->script()->files.size() : 0) << " files)\n";
    return 0;
  }
  for (const std::string& p : problems) out << path.string() << ": damaged: " << p << "\n";
  return 1;
}

int runExtract(const fs::path& path, const fs::path& directory, uint32_t codePage, std::ostream& out, std::ostream& err) {
  try {
    CodePage cp(codePage);
    Installer inst(path);
    if (!inst.script()) {
      err << path.string() << ": " << inst.scriptError() << "\n";
      return 1;
    }
    int status = 0;
    fs::create_directories(directory);
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
