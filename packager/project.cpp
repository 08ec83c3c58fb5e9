#include "packager/project.h"

#include <toml++/toml.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include "packager/bitmap.h"
#include "packager/codepage.h"
#include "packager/file_selection.h"
#include "packager/names.h"
#include "format/script.h"

namespace fs = std::filesystem;

namespace mw::packager {
namespace {

template <typename Map>
std::string namesOf(const Map& m) {
  std::string s;
  for (auto& [name, value] : m) {
    if (!s.empty()) s += ", ";
    s += '"' + name + '"';
  }
  return s;
}

// What a text may hold.
enum class TextKind {
  Line,      // one line: captions, names, addresses
  Paragraphs // several lines: line ends become CR LF
};

bool isWindowsForbidden(unsigned char c) {
  return c < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

bool isReservedDeviceName(std::string_view component) {
  std::string stem(component.substr(0, component.find('.')));
  for (char& c : stem) c = char(std::toupper(static_cast<unsigned char>(c)));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const std::set<std::string> names = {"CON", "PRN", "AUX", "NUL"};
  if (names.count(stem)) return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' && stem[3] <= '9';
}

class ProjectReader {
 public:
  ProjectReader(const std::string& text, std::string display, fs::path base, Diagnostics& d)
      : text_(text), display_(std::move(display)), base_(std::move(base)), d_(d) {}

  Project read() {
    Project project;
    toml::table root;
    try {
      root = toml::parse(std::string_view(text_), std::string_view(display_));
    } catch (const toml::parse_error& e) {
      d_.error(position(e.source().begin), std::string(e.description()));
      return project;
    }
    checkKeys(root, "the top level",
              {"codepage", "product", "texts", "destination", "requirements", "appearance", "link",
               "files", "start-menu", "shortcuts", "registry", "after-install"});

    project.codePage = 1252;
    if (const toml::node* n = root.get("codepage")) {
      auto value = n->value<int64_t>();
      if (!value) {
        d_.error(at(*n), "codepage must be a number such as 1252");
      } else if (!isAnsiCodePage(uint32_t(*value)) || *value < 0) {
        d_.error(at(*n), "code page " + std::to_string(*value) +
                             " is not a Windows ANSI code page (874, 932, 936, 949, 950, 1250-1258)");
      } else {
        project.codePage = uint32_t(*value);
      }
    }
    try {
      codePage_ = std::make_unique<CodePage>(project.codePage);
    } catch (const std::exception& e) {
      d_.error(SourcePosition{display_}, e.what());
      return project;
    }

    ScriptModel& s = project.script;
    readProduct(root, s);
    readTexts(root, s);
    readDestination(root, s);
    readRequirements(root, s);
    readAppearance(root, s);
    readLink(root, s);
    readFiles(root, project);
    readShortcuts(root, s);
    readRegistry(root, s);
    readAfterInstall(root, s);
    return project;
  }

 private:
  const std::string& text_;
  std::string display_;
  fs::path base_;
  Diagnostics& d_;
  std::unique_ptr<CodePage> codePage_;
  std::map<std::string, SourcePosition> installedNames_;  // upper-cased ANSI name -> where

  SourcePosition position(const toml::source_position& p) const { return {display_, p.line, p.column}; }
  SourcePosition at(const toml::node& n) const { return position(n.source().begin); }
  SourcePosition at(const toml::key& k) const { return position(k.source().begin); }
  SourcePosition at(const toml::table& t) const { return position(t.source().begin); }

  void checkKeys(const toml::table& t, const std::string& where, std::initializer_list<const char*> allowed) {
    for (auto&& [key, value] : t) {
      std::string name(key.str());
      bool known = std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; });
      if (!known) d_.error(at(key), "unknown key '" + name + "' in " + where);
    }
  }

  const toml::table* section(const toml::table& root, const char* name) {
    const toml::node* n = root.get(name);
    if (!n) return nullptr;
    if (!n->is_table()) {
      d_.error(at(*n), std::string("'") + name + "' must be a table ([" + name + "])");
      return nullptr;
    }
    return n->as_table();
  }

  // A string value, or nullopt (with an error when present but of another type).
  std::optional<std::string> utf8(const toml::table* t, const char* key) {
    if (!t) return std::nullopt;
    const toml::node* n = t->get(key);
    if (!n) return std::nullopt;
    if (!n->is_string()) {
      d_.error(at(*n), std::string("'") + key + "' must be a string");
      return std::nullopt;
    }
    return n->as_string()->get();
  }

  std::optional<int64_t> integer(const toml::table* t, const char* key, int64_t min, int64_t max) {
    if (!t) return std::nullopt;
    const toml::node* n = t->get(key);
    if (!n) return std::nullopt;
    auto v = n->value_exact<int64_t>();
    if (!v) {
      d_.error(at(*n), std::string("'") + key + "' must be a whole number");
      return std::nullopt;
    }
    if (*v < min || *v > max) {
      d_.error(at(*n), std::string("'") + key + "' is " + std::to_string(*v) + ", outside " +
                           std::to_string(min) + " to " + std::to_string(max));
      return std::nullopt;
    }
    return v;
  }

  std::optional<bool> boolean(const toml::table* t, const char* key) {
    if (!t) return std::nullopt;
    const toml::node* n = t->get(key);
    if (!n) return std::nullopt;
    if (!n->is_boolean()) {
      d_.error(at(*n), std::string("'") + key + "' must be true or false");
      return std::nullopt;
    }
    return n->as_boolean()->get();
  }

  template <typename Map>
  std::optional<typename Map::mapped_type> named(const toml::table* t, const char* key, const Map& names,
                                                 const char* what) {
    auto v = utf8(t, key);
    if (!v) return std::nullopt;
    auto it = names.find(*v);
    if (it == names.end()) {
      d_.error(at(*t->get(key)), "unknown " + std::string(what) + " \"" + *v + "\"; use one of " + namesOf(names));
      return std::nullopt;
    }
    return it->second;
  }

  // Converts a TOML string to the code page, pointing any refusal at the offending character.
  std::string ansi(const toml::node& node, const std::string& value, TextKind kind, const char* what) {
    std::optional<ConversionFailure> failure;
    std::string out = codePage_->encode(value, failure);
    if (failure) {
      d_.error(positionInTomlString(text_, at(node), failure->index), describe(*failure, what));
      return {};
    }
    return finishText(out, kind, [&](size_t index) { return positionInTomlString(text_, at(node), index); }, what);
  }

  template <typename Locate>
  std::string finishText(const std::string& ansiText, TextKind kind, Locate locate, const char* what) {
    if (kind == TextKind::Paragraphs) return crlfLineEnds(ansiText);
    size_t brk = ansiText.find_first_of("\r\n");
    if (brk != std::string::npos) {
      // Single-byte position equals the character index for the code pages' ASCII part.
      d_.error(locate(codePointCount(ansiText.substr(0, brk))), std::string(what) + " must be a single line");
      return {};
    }
    return ansiText;
  }

  static std::string describe(const ConversionFailure& f, const std::string& what) {
    if (f.codePoint == 0) return what + ": " + f.reason;
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", unsigned(f.codePoint));
    return what + ": character " + hex + " " + f.reason;
  }

  // A text given inline (`key`) or read from a UTF-8 file (`key`-file).
  std::string text(const toml::table* t, const char* key, TextKind kind, const char* what) {
    if (!t) return {};
    std::string fileKey = std::string(key) + "-file";
    const toml::node* inlineNode = t->get(key);
    const toml::node* fileNode = t->get(fileKey);
    if (inlineNode && fileNode) {
      d_.error(at(*fileNode), "give either '" + std::string(key) + "' or '" + fileKey + "', not both");
      return {};
    }
    if (inlineNode) {
      auto v = utf8(t, key);
      return v ? ansi(*inlineNode, *v, kind, what) : std::string();
    }
    if (!fileNode) return {};
    auto name = utf8(t, fileKey.c_str());
    if (!name) return {};
    fs::path path = base_ / *name;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      d_.error(at(*fileNode), "cannot read '" + path.string() + "'");
      return {};
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string shown = path.lexically_normal().string();
    size_t bom = content.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    size_t bad;
    if (!validUtf8(std::string_view(content).substr(bom), bad)) {
      d_.error(positionInText(content, shown, codePointCount(std::string_view(content).substr(0, bom + bad))),
               std::string(what) + ": the file is not UTF-8");
      return {};
    }
    std::optional<ConversionFailure> failure;
    std::string out = codePage_->encode(std::string_view(content).substr(bom), failure);
    auto locate = [&](size_t index) { return positionInText(content, shown, index + (bom ? 1 : 0)); };
    if (failure) {
      d_.error(locate(failure->index), describe(*failure, what));
      return {};
    }
    return finishText(out, kind, locate, what);
  }

  std::string lineText(const toml::table* t, const char* key, const char* what) {
    auto v = utf8(t, key);
    return v ? ansi(*t->get(key), *v, TextKind::Line, what) : std::string();
  }

  // A relative Windows path: '/' becomes '\', every component must be a legal file name.
  std::string relativePath(const toml::node& node, const std::string& ansiPath, const char* what,
                           bool allowEmpty = false) {
    std::string p = ansiPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (p.empty()) {
      if (!allowEmpty) d_.error(at(node), std::string(what) + " is empty");
      return p;
    }
    if (!checkRelative(p, at(node), what)) return {};
    return p;
  }

  bool checkRelative(const std::string& p, const SourcePosition& where, const std::string& what) {
    if (p.size() >= 2 && p[1] == ':') {
      d_.error(where, what + " '" + p + "' holds a drive letter; it must be relative");
      return false;
    }
    if (p[0] == '\\') {
      d_.error(where, what + " '" + p + "' is absolute; it must be relative");
      return false;
    }
    if (p.size() > kMaxPathText) {
      d_.error(where, what + " is " + std::to_string(p.size()) + " characters long; at most " +
                          std::to_string(kMaxPathText) + " fit a Windows path");
      return false;
    }
    size_t start = 0;
    while (true) {
      size_t end = p.find('\\', start);
      std::string component = p.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (component.empty()) {
        d_.error(where, what + " '" + p + "' has an empty folder name (doubled or trailing backslash)");
        return false;
      }
      if (component == "." || component == "..") {
        d_.error(where, what + " '" + p + "' holds a '" + component + "' component");
        return false;
      }
      for (unsigned char c : component) {
        if (isWindowsForbidden(c)) {
          char shown[8];
          std::snprintf(shown, sizeof shown, c < 32 ? "0x%02X" : "'%c'", c);
          d_.error(where, what + " '" + p + "' holds " + shown + ", which Windows forbids in file names");
          return false;
        }
      }
      if (component.back() == '.' || component.back() == ' ') {
        d_.error(where, what + " '" + p + "': a name may not end with a dot or a blank on Windows");
        return false;
      }
      if (isReservedDeviceName(component)) {
        d_.error(where, what + " '" + p + "': '" + component + "' is a reserved device name on Windows");
        return false;
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
    // The engine's own containment rule, so the packager never writes what the readers refuse.
    return isContainedPath(p.c_str());
  }

  std::optional<uint32_t> colour(const toml::table* t, const char* key, bool allowNone) {
    auto v = utf8(t, key);
    if (!v) return std::nullopt;
    if (allowNone && *v == "none") return 0xFFFFFFFFu;
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (v->size() != 7 || (*v)[0] != '#' || !std::all_of(v->begin() + 1, v->end(), hex)) {
      d_.error(at(*t->get(key)), std::string("'") + key + "' must be \"#RRGGBB\"" + (allowNone ? " or \"none\"" : ""));
      return std::nullopt;
    }
    uint32_t rgb = uint32_t(std::stoul(v->substr(1), nullptr, 16));
    // COLORREF keeps red in the low byte: 0x00BBGGRR.
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
  }

  std::vector<uint8_t> picture(const toml::table* t, const char* key) {
    auto v = utf8(t, key);
    if (!v) return {};
    try {
      return loadPicture(base_ / *v);
    } catch (const std::exception& e) {
      d_.error(at(*t->get(key)), std::string(key) + " '" + *v + "': " + e.what());
      return {};
    }
  }

  void readProduct(const toml::table& root, ScriptModel& s) {
    const toml::table* t = section(root, "product");
    if (!t) {
      d_.error(SourcePosition{display_}, "the project has no [product] table with the product's name");
      return;
    }
    checkKeys(*t, "[product]", {"name", "caption"});
    const toml::node* nameNode = t->get("name");
    if (!nameNode) {
      d_.error(at(*t), "[product] has no 'name'");
    } else {
      s.productName = lineText(t, "name", "product name");
      if (nameNode->is_string() && s.productName.empty() && !d_.failed())
        d_.error(at(*nameNode), "the product name is empty");
      if (s.productName.size() > kMaxProductName)
        d_.error(at(*nameNode), "the product name is " + std::to_string(s.productName.size()) +
                                    " characters long; the installer's texts hold at most " +
                                    std::to_string(kMaxProductName));
      // The name becomes a key below ...\Uninstall; a backslash would make it a path.
      if (s.productName.find('\\') != std::string::npos)
        d_.error(at(*nameNode), "the product name may not contain a backslash (it names a registry key)");
    }
    if (t->get("caption"))
      s.windowCaption = lineText(t, "caption", "caption");
    else
      s.windowCaption = s.productName.empty() ? std::string() : s.productName + " Setup";
  }

  void readTexts(const toml::table& root, ScriptModel& s) {
    const toml::table* t = section(root, "texts");
    if (!t) return;
    checkKeys(*t, "[texts]", {"welcome", "welcome-file", "licence", "licence-file", "finish", "finish-file"});
    s.welcomeText = text(t, "welcome", TextKind::Paragraphs, "welcome text");
    s.licenceText = text(t, "licence", TextKind::Paragraphs, "licence text");
    s.finishText = text(t, "finish", TextKind::Paragraphs, "finish text");
  }

  void readDestination(const toml::table& root, ScriptModel& s) {
    const toml::table* t = section(root, "destination");
    if (!t) {
      d_.error(SourcePosition{display_}, "the project has no [destination] table (kind and path of the default folder)");
      return;
    }
    checkKeys(*t, "[destination]", {"kind", "path"});
    if (!t->get("kind")) d_.error(at(*t), "[destination] has no 'kind'; use one of " + namesOf(kDestinationKinds));
    if (auto k = named(t, "kind", kDestinationKinds, "destination kind")) s.destinationKind = *k;
    const toml::node* pathNode = t->get("path");
    if (!pathNode) {
      d_.error(at(*t), "[destination] has no 'path'");
      return;
    }
    std::string p = lineText(t, "path", "destination path");
    std::replace(p.begin(), p.end(), '/', '\\');
    // The wizard's destination check refuses these characters, so a default holding one could
    // never be accepted.
    size_t refused = p.find_first_of("\"*<>?|");
    if (refused != std::string::npos)
      d_.error(at(*pathNode), std::string("the destination path holds '") + p[refused] +
                                  "', which the destination page refuses");
    if (s.destinationKind != 0 && !p.empty() && p[0] == '\\')
      d_.error(at(*pathNode), "the destination path is appended to the base folder after a backslash; it may not start with one");
    if (s.destinationKind == 0 && p.empty())
      d_.error(at(*pathNode), "an absolute destination needs a path");
    if (p.size() > 255)
      d_.error(at(*pathNode), "the destination path is longer than the 255 characters the destination page shows");
    s.destinationPath = p;
  }

  void readRequirements(const toml::table& root, ScriptModel& s) {
    const toml::table* t = section(root, "requirements");
    if (!t) return;
    checkKeys(*t, "[requirements]", {"minimum-os", "dotnet", "dotnet-installer", "administrator"});
    if (auto v = named(t, "minimum-os", kWindowsReleases, "Windows release")) s.minimumOs = *v;
    if (t->get("dotnet")) {
      const toml::node& n = *t->get("dotnet");
      auto v = utf8(t, "dotnet");
      if (v) {
        auto it = kDotNetReleases.find(*v == "4" ? std::string("4.0") : *v);
        if (it == kDotNetReleases.end())
          d_.error(at(n), "cannot require .NET Framework \"" + *v + "\"; the installer recognises " +
                              namesOf(kDotNetReleases) + " (4.7 also accepts every later release)");
        else
          s.dotNetRequired = it->second;
      }
    }
    if (t->get("dotnet-installer")) {
      if (!t->get("dotnet"))
        d_.error(at(*t->get("dotnet-installer")), "'dotnet-installer' needs a 'dotnet' version to require");
      s.dotNetInstaller = lineText(t, "dotnet-installer", ".NET installer");
    }
    if (auto v = boolean(t, "administrator")) s.requireAdmin = *v ? 1 : 0;
  }

  void readAppearance(const toml::table& root, ScriptModel& s) {
    const toml::table* t = section(root, "appearance");
    if (!t) return;
    checkKeys(*t, "[appearance]", {"splash", "splash-seconds", "side-picture", "side-text-colour", "banner",
                                   "banner-alignment", "header-text-colour"});
    s.splashBitmap = picture(t, "splash");
    if (auto v = integer(t, "splash-seconds", 1, 256)) {
      s.splashSeconds = uint8_t(*v - 1);  // the splash stays splashSeconds + 1 seconds
      if (!t->get("splash")) d_.warning(at(*t->get("splash-seconds")), "'splash-seconds' without a 'splash' picture");
    } else if (!s.splashBitmap.empty()) {
      s.splashSeconds = 2;
    }
    // The side text colour and the banner alignment are stored inside their picture's block:
    // without the picture there is nowhere to keep them.
    s.sideBitmap = picture(t, "side-picture");
    if (auto c = colour(t, "side-text-colour", false)) {
      if (!t->get("side-picture")) d_.warning(at(*t->get("side-text-colour")), "'side-text-colour' without a 'side-picture'");
      else s.sideTextColour = *c;
    }
    s.bannerBitmap = picture(t, "banner");
    if (auto v = named(t, "banner-alignment", kBannerAlignments, "banner alignment")) {
      if (!t->get("banner")) d_.warning(at(*t->get("banner-alignment")), "'banner-alignment' without a 'banner'");
      else s.bannerAlignment = *v;
    }
    if (auto c = colour(t, "header-text-colour", true)) s.headerTextColour = *c;
  }

  void readLink(const toml::table& root, ScriptModel& s) {
    const toml::table* t = section(root, "link");
    if (!t) return;
    checkKeys(*t, "[link]", {"text", "target"});
    s.linkText = lineText(t, "text", "link text");
    s.linkTarget = lineText(t, "target", "link target");
    if (s.linkText.empty() && !s.linkTarget.empty())
      d_.warning(at(*t), "a link target without link text shows no link");
  }

  std::vector<std::string> patterns(const toml::table& t, const char* key, std::vector<std::string> fallback) {
    const toml::node* n = t.get(key);
    if (!n) return fallback;
    std::vector<std::string> out;
    const toml::array* a = n->as_array();
    if (!a) {
      d_.error(at(*n), std::string("'") + key + "' must be a list of patterns such as [\"**/*.dll\"]");
      return out;
    }
    for (const toml::node& item : *a) {
      if (!item.is_string()) d_.error(at(item), "a pattern must be a string");
      else out.push_back(item.as_string()->get());
    }
    return out;
  }

  void addFile(Project& project, const std::string& utf8Name, const fs::path& source, uint64_t size,
               const toml::node& where) {
    std::optional<ConversionFailure> failure;
    std::string name = codePage_->encode(utf8Name, failure);
    if (failure) {
      d_.error(at(where), describe(*failure, "file name '" + utf8Name + "'"));
      return;
    }
    std::replace(name.begin(), name.end(), '/', '\\');
    if (!checkRelative(name, at(where), "file name")) return;
    std::string folded = name;
    for (char& c : folded) c = char(std::toupper(static_cast<unsigned char>(c)));
    auto [it, fresh] = installedNames_.emplace(folded, at(where));
    if (!fresh) {
      d_.error(at(where), "'" + utf8Name + "' is installed twice (Windows names ignore case); first at line " +
                              std::to_string(it->second.line));
      return;
    }
    project.script.files.push_back(ScriptFile{name});
    project.sources.push_back(SourceFile{source, size, at(where)});
  }

  void readFiles(const toml::table& root, Project& project) {
    const toml::node* n = root.get("files");
    if (!n) {
      d_.error(SourcePosition{display_}, "the project installs no files; add at least one [[files]] entry");
      return;
    }
    const toml::array* entries = n->as_array();
    if (!entries || !entries->is_array_of_tables()) {
      d_.error(at(*n), "'files' must be an array of tables ([[files]])");
      return;
    }
    for (const toml::node& node : *entries) {
      const toml::table& t = *node.as_table();
      checkKeys(t, "[[files]]", {"source", "destination", "include", "exclude"});
      const toml::node* sourceNode = t.get("source");
      if (!sourceNode || !sourceNode->is_string()) {
        d_.error(sourceNode ? at(*sourceNode) : at(t), "[[files]] needs a 'source' string: a file or a folder");
        continue;
      }
      std::string sourceText = sourceNode->as_string()->get();
      fs::path source = base_ / sourceText;
      std::optional<std::string> destination = utf8(&t, "destination");
      std::error_code ec;
      auto status = fs::status(source, ec);
      if (ec || !fs::exists(status)) {
        d_.error(at(*sourceNode), "source '" + sourceText + "' does not exist");
        continue;
      }
      if (fs::is_regular_file(status)) {
        if (t.get("include") || t.get("exclude"))
          d_.error(at(t), "'include' and 'exclude' apply to folders; '" + sourceText + "' is a file");
        std::ifstream probe(source, std::ios::binary);
        if (!probe) {
          d_.error(at(*sourceNode), "source '" + sourceText + "' cannot be read");
          continue;
        }
        // A destination ending in a separator is a folder that receives the file.
        std::string name = source.filename().string();
        if (destination) {
          bool folder = !destination->empty() && (destination->back() == '/' || destination->back() == '\\');
          name = folder ? *destination + name : *destination;
        }
        addFile(project, name, source, fs::file_size(source, ec), destination ? *t.get("destination") : *sourceNode);
        continue;
      }
      if (!fs::is_directory(status)) {
        d_.error(at(*sourceNode), "source '" + sourceText + "' is neither a file nor a folder");
        continue;
      }
      std::vector<std::string> include = patterns(t, "include", {"**"});
      std::vector<std::string> exclude = patterns(t, "exclude", {});
      std::vector<SelectedFile> selected;
      try {
        selected = selectFiles(source, include, exclude);
      } catch (const fs::filesystem_error& e) {
        d_.error(at(*sourceNode), "cannot read folder '" + sourceText + "': " + e.code().message());
        continue;
      }
      if (selected.empty()) {
        d_.error(at(t), "no file of folder '" + sourceText + "' matches the patterns");
        continue;
      }
      std::string prefix = destination.value_or("");
      if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += '/';
      for (const SelectedFile& f : selected) {
        std::ifstream probe(f.path, std::ios::binary);
        if (!probe) {
          d_.error(at(*sourceNode), "'" + f.path.string() + "' cannot be read");
          continue;
        }
        addFile(project, prefix + f.relative, f.path, f.size, *sourceNode);
      }
    }
    if (project.script.files.empty() && !d_.failed())
      d_.error(at(*n), "the project installs no files");
  }

  void readShortcuts(const toml::table& root, ScriptModel& s) {
    if (const toml::table* t = section(root, "start-menu")) {
      checkKeys(*t, "[start-menu]", {"group"});
      if (const toml::node* g = t->get("group")) {
        std::string group = lineText(t, "group", "program group");
        std::replace(group.begin(), group.end(), '/', '\\');
        // The engine stops creating the group's folders at a 0 after a backslash, so a
        // trailing backslash would end the list early and shift every later field.
        if (!group.empty() && group.back() == '\\')
          d_.error(at(*g), "the program group may not end with a backslash");
        else if (!group.empty())
          group = relativePath(*g, group, "program group");
        s.programGroup = group;
      }
    }
    const toml::node* n = root.get("shortcuts");
    if (!n) return;
    const toml::array* entries = n->as_array();
    if (!entries || !entries->is_array_of_tables()) {
      d_.error(at(*n), "'shortcuts' must be an array of tables ([[shortcuts]])");
      return;
    }
    for (const toml::node& node : *entries) {
      const toml::table& t = *node.as_table();
      checkKeys(t, "[[shortcuts]]", {"place", "target"});
      auto place = named(&t, "place", kShortcutPlaces, "shortcut place");
      if (!t.get("place")) d_.error(at(t), "[[shortcuts]] needs a 'place': one of " + namesOf(kShortcutPlaces));
      const toml::node* targetNode = t.get("target");
      if (!targetNode) {
        d_.error(at(t), "[[shortcuts]] needs a 'target': an installed file");
        continue;
      }
      std::string target = relativePath(*targetNode, lineText(&t, "target", "shortcut target"), "shortcut target");
      if (!place || target.empty()) continue;
      std::string folded = target;
      for (char& c : folded) c = char(std::toupper(static_cast<unsigned char>(c)));
      if (!installedNames_.count(folded))
        d_.warning(at(*targetNode), "shortcut target '" + target + "' is not one of the packaged files");
      s.shortcuts.push_back({*place, target});
    }
  }

  void readRegistry(const toml::table& root, ScriptModel& s) {
    const toml::node* n = root.get("registry");
    if (!n) return;
    const toml::array* entries = n->as_array();
    if (!entries || !entries->is_array_of_tables()) {
      d_.error(at(*n), "'registry' must be an array of tables ([[registry]])");
      return;
    }
    for (const toml::node& node : *entries) {
      const toml::table& t = *node.as_table();
      checkKeys(t, "[[registry]]", {"root", "key", "name", "type", "value"});
      ScriptRegistryValue v{};
      bool ok = true;
      if (!t.get("root")) {
        d_.error(at(t), "[[registry]] needs a 'root' such as \"HKEY_LOCAL_MACHINE\"");
        ok = false;
      } else if (auto r = named(&t, "root", kRegistryRoots, "registry root")) {
        v.root = *r;
      } else {
        ok = false;
      }
      const toml::node* keyNode = t.get("key");
      if (!keyNode) {
        d_.error(at(t), "[[registry]] needs a 'key' below the root");
        ok = false;
      } else {
        v.subkey = lineText(&t, "key", "registry key");
        if (keyNode->is_string() && (v.subkey.empty() || v.subkey.front() == '\\' || v.subkey.back() == '\\' ||
                                     v.subkey.find("\\\\") != std::string::npos)) {
          d_.error(at(*keyNode), "the registry key must be a non-empty path without leading, trailing or doubled backslashes");
          ok = false;
        }
      }
      const toml::node* valueNode = t.get("value");
      if (!valueNode) {
        d_.error(at(t), "[[registry]] needs a 'value'");
        continue;
      }
      uint8_t type = valueNode->is_integer() ? 4 : 1;
      if (t.get("type")) {
        if (auto ty = named(&t, "type", kRegistryTypes, "registry type")) type = *ty;
        else ok = false;
      }
      if (type == 4) {
        auto d = valueNode->value_exact<int64_t>();
        if (!d || *d < INT32_MIN || *d > int64_t(UINT32_MAX)) {
          d_.error(at(*valueNode), "a dword value must be a whole number from -2147483648 to 4294967295");
          ok = false;
        } else {
          v.dword = uint32_t(*d);
        }
      } else if (!valueNode->is_string()) {
        d_.error(at(*valueNode), "a value of this type must be a string");
        ok = false;
      } else {
        v.text = ansi(*valueNode, valueNode->as_string()->get(), TextKind::Line, "registry value");
        if (v.text.size() > kMaxRegistryText) {
          d_.error(at(*valueNode), "the value is " + std::to_string(v.text.size()) + " characters; the installer expands at most " +
                                       std::to_string(kMaxRegistryText));
          ok = false;
        }
      }
      if (t.get("name")) {
        v.valueName = lineText(&t, "name", "value name");
        v.typeByte = int8_t(type);
      } else {
        v.typeByte = int8_t(-int(type));  // the key's default value
      }
      if (ok) s.registry.push_back(v);
    }
  }

  void readAfterInstall(const toml::table& root, ScriptModel& s) {
    const toml::table* t = section(root, "after-install");
    if (!t) return;
    checkKeys(*t, "[after-install]", {"restart", "run", "run-from"});
    if (auto v = boolean(t, "restart")) s.rebootMode = *v ? 1 : 0;
    const toml::node* runNode = t->get("run");
    if (!runNode) {
      if (t->get("run-from")) d_.error(at(*t->get("run-from")), "'run-from' without 'run'");
      return;
    }
    std::string target = lineText(t, "run", "run target");
    if (target.empty()) {
      if (runNode->is_string()) d_.error(at(*runNode), "'run' is empty");
      return;
    }
    std::string from = "install-dir";
    if (t->get("run-from")) {
      auto kind = named(t, "run-from", kRunFrom, "run-from place");
      if (!kind) return;
      from = *utf8(t, "run-from");
    }
    bool url = target.rfind("http", 0) == 0;
    if (from == "url" && !url) d_.error(at(*runNode), "a 'url' run target must start with \"http\"");
    if (from == "path" && url) d_.warning(at(*runNode), "a run target starting with \"http\" is opened as an address");
    if (from != "url" && from != "path" && url)
      d_.warning(at(*runNode), "the run target starts with \"http\" but is opened as a file below a folder");
    if (target.size() > kMaxRunTarget)
      d_.error(at(*runNode), "the run target is longer than " + std::to_string(kMaxRunTarget) + " characters");
    // The uninstaller blob is decoded with the script's last six bytes as filler in front of
    // it; a 0x17 as the script's second-to-last byte would read as the end-of-stream mark.
    if (static_cast<unsigned char>(target.back()) == 0x17)
      d_.error(positionInTomlString(text_, at(*runNode), codePointCount(target) - 1),
               "the run target may not end with the control character 0x17");
    s.runKind = kRunFrom.at(from);
    s.runTarget = target;
  }
};

}  // namespace

Project parseProject(const std::string& text, const std::string& displayName, const fs::path& baseDirectory,
                     Diagnostics& diagnostics) {
  Project p = ProjectReader(text, displayName, baseDirectory, diagnostics).read();
  return p;
}

Project loadProject(const fs::path& file, Diagnostics& diagnostics) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    diagnostics.error(SourcePosition{file.string()}, "cannot read the project file");
    return {};
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::path base = file.has_parent_path() ? file.parent_path() : fs::path(".");
  Project p = parseProject(text, file.string(), base, diagnostics);
  p.projectFile = file;
  return p;
}

}  // namespace mw::packager
