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
#include "install/texts.h"
#include "format/log_format.h"

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
  ProjectReader(const std::string& text, std::string display, fs::path base, Diagnostics& d, const Defines& defines)
      : text_(text), display_(std::move(display)), base_(std::move(base)), d_(d), defines_(defines) {}

  Project read() {
    Project project;
    toml::table root;
    try {
      root = toml::parse(std::string_view(text_), std::string_view(display_));
    } catch (const toml::parse_error& e) {
      d_.error(position(e.source().begin), std::string(e.description()));
      return project;
    }
    expandStrings(root, "");
    for (auto& [name, value] : defines_)
      if (!usedDefines_.count(name)) d_.warning(SourcePosition{display_}, "-D " + name + " is not used by the project");
    checkKeys(root, "the top level",
              {"codepage", "product", "texts", "destination", "requirements", "appearance", "link",
               "files", "start-menu", "shortcuts", "registry", "after-install", "signing"});

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
    readProduct(root, s, project.identity);
    readTexts(root, s);
    readDestination(root, s);
    readRequirements(root, s);
    readAppearance(root, s);
    readLink(root, s);
    readFiles(root, project);
    readShortcuts(root, s);
    readRegistry(root, s);
    addRegistration(project);
    readAfterInstall(root, s);
    checkWhatThePagesShow(root, s);
    readSigning(root, project);
    return project;
  }

 private:
  const std::string& text_;
  std::string display_;
  fs::path base_;
  Diagnostics& d_;
  std::unique_ptr<CodePage> codePage_;
  std::map<std::string, SourcePosition> installedNames_;  // upper-cased ANSI name -> where
  const Defines& defines_;
  std::set<std::string> usedDefines_;
  // Where the characters of an expanded string came from, for strings that held a ${NAME} or
  // a $${: each piece of the expanded text (in code points) with the piece of the source that
  // gave it.
  struct Piece {
    size_t expandedStart, expandedLength, sourceStart, sourceLength;
  };
  std::map<const toml::node*, std::vector<Piece>> expansions_;
  // The uninstall registration's texts as the code page holds them.
  std::string versionAnsi_, publisherAnsi_, urlAnsi_, displayIcon_;
  const toml::node* urlNode_ = nullptr;
  const toml::node* displayIconNode_ = nullptr;

  SourcePosition position(const toml::source_position& p) const { return {display_, p.line, p.column}; }
  SourcePosition at(const toml::node& n) const { return position(n.source().begin); }
  SourcePosition at(const toml::key& k) const { return position(k.source().begin); }
  SourcePosition at(const toml::table& t) const { return position(t.source().begin); }

  // The position of the `index`-th character of a string value as the reader sees it (after
  // ${NAME} expansion): a character that came from a variable points at its ${.
  SourcePosition inString(const toml::node& node, size_t index) const {
    auto it = expansions_.find(&node);
    if (it != expansions_.end()) {
      size_t shift = 0;  // source characters minus expanded ones before `index`
      for (const Piece& p : it->second) {
        if (index < p.expandedStart) break;
        if (index < p.expandedStart + p.expandedLength) return positionInTomlString(text_, at(node), p.sourceStart);
        shift = (p.sourceStart + p.sourceLength) - (p.expandedStart + p.expandedLength);
      }
      index += shift;
    }
    return positionInTomlString(text_, at(node), index);
  }

  static bool isVariableName(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
  }

  // Every string of the project with its ${NAME} replaced by the -D value and $${ by ${; and
  // the marker the installer replaces in registry values looked for where it would do nothing.
  void expandStrings(toml::node& node, const std::string& path) {
    if (toml::table* t = node.as_table()) {
      for (auto&& [key, value] : *t) expandStrings(value, path.empty() ? std::string(key.str()) : path + "/" + std::string(key.str()));
    } else if (toml::array* a = node.as_array()) {
      for (toml::node& item : *a) expandStrings(item, path);
    } else if (toml::value<std::string>* v = node.as_string()) {
      expandString(*v);
      checkSetupPathMarker(*v, path == "registry/value");
    }
  }

  void expandString(toml::value<std::string>& v) {
    const std::string& in = v.get();
    if (in.find('$') == std::string::npos) return;
    std::string out;
    std::vector<Piece> pieces;
    size_t source = 0, expanded = 0;  // code points read and written
    for (size_t i = 0; i < in.size();) {
      if (in.compare(i, 3, "$${") == 0) {
        out += "${";
        pieces.push_back({expanded, 2, source, 3});
        i += 3, source += 3, expanded += 2;
        continue;
      }
      if (in.compare(i, 2, "${") == 0) {
        const size_t close = in.find('}', i + 2);
        if (close == std::string::npos) {
          d_.error(inStringSource(v, source), "'${' without its closing '}' (write '$${' for a '${' of its own)");
          return;
        }
        const std::string name = in.substr(i + 2, close - i - 2);
        const size_t length = codePointCount(std::string_view(in).substr(i, close + 1 - i));
        auto def = defines_.find(name);
        if (!isVariableName(name)) {
          d_.error(inStringSource(v, source), "'${" + name + "}' is not a variable name (letters, digits and '_'; write '$${' for a '${' of its own)");
        } else if (def == defines_.end()) {
          d_.error(inStringSource(v, source), "'${" + name + "}' is not defined; give it with -D " + name + "=VALUE");
        } else {
          usedDefines_.insert(name);
          const size_t n = codePointCount(def->second);
          out += def->second;
          pieces.push_back({expanded, n, source, length});
          expanded += n;
        }
        source += length;
        i = close + 1;
        continue;
      }
      size_t next = i + 1;
      while (next < in.size() && (static_cast<unsigned char>(in[next]) & 0xC0) == 0x80) ++next;
      out.append(in, i, next - i);
      i = next, ++source, ++expanded;
    }
    v = std::move(out);
    if (!pieces.empty()) expansions_[&v] = std::move(pieces);
  }

  SourcePosition inStringSource(const toml::node& node, size_t sourceIndex) const {
    return positionInTomlString(text_, at(node), sourceIndex);
  }

  // The installer replaces "<SetupPath>" in registry values, exactly in this case, and nowhere
  // else: the marker in another case, or outside a registry value, stays as it is written.
  void checkSetupPathMarker(const toml::value<std::string>& v, bool registryValue) {
    std::string folded = v.get();
    for (char& c : folded) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (size_t at = folded.find("<setuppath>"); at != std::string::npos; at = folded.find("<setuppath>", at + 1)) {
      const SourcePosition where = inString(v, codePointCount(std::string_view(v.get()).substr(0, at)));
      // Built with append: GCC 12 warns falsely about "literal" + std::string temporaries.
      std::string message(1, '\'');
      message.append(v.get(), at, 11).append(1, '\'');
      if (!registryValue)
        d_.warning(where, message.append(" is replaced by the installation folder only in registry values; here it stays as written"));
      else if (v.get().compare(at, 11, "<SetupPath>") != 0)
        d_.warning(where, message.append(" stays as written: the installer replaces only '<SetupPath>', in exactly this case"));
    }
  }

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
      d_.error(inString(node, failure->index), describe(*failure, what));
      return {};
    }
    return finishText(out, kind, [&](size_t index) { return inString(node, index); }, what);
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

  void readProduct(const toml::table& root, ScriptModel& s, ProductIdentity& id) {
    const toml::table* t = section(root, "product");
    if (!t) {
      d_.error(SourcePosition{display_}, "the project has no [product] table with the product's name");
      return;
    }
    checkKeys(*t, "[product]", {"name", "caption", "version", "publisher", "description", "copyright", "url",
                                "icon", "display-icon"});
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
    readIdentity(*t, id);
  }

  // A one-line text of the version resource (Unicode: any character will do); `ansi`, when
  // given, receives it in the code page for the uninstall registration.
  std::string identityText(const toml::table& t, const char* key, const char* what, std::string* ansiText = nullptr) {
    auto v = utf8(&t, key);
    if (!v) return {};
    const toml::node& node = *t.get(key);
    const size_t brk = v->find_first_of("\r\n");
    if (brk != std::string::npos) {
      d_.error(inString(node, codePointCount(std::string_view(*v).substr(0, brk))), std::string(what) + " must be a single line");
      return {};
    }
    if (codePointCount(*v) > kMaxIdentityText) {
      d_.error(at(node), std::string(what) + " is " + std::to_string(codePointCount(*v)) + " characters long; at most " +
                             std::to_string(kMaxIdentityText) + " fit");
      return {};
    }
    if (ansiText) *ansiText = ansi(node, *v, TextKind::Line, what);
    return *v;
  }

  void readIdentity(const toml::table& t, ProductIdentity& id) {
    if (auto name = utf8(&t, "name")) id.name = *name;
    id.version = identityText(t, "version", "version", &versionAnsi_);
    if (const toml::node* n = t.get("version"); n && !id.version.empty()) {
      // The file version's four numbers come from the version's leading "1.2.3.4"; what follows
      // ("-rc1", "+build5") stays in the texts only.
      size_t i = 0, part = 0;
      while (part < 4 && i < id.version.size() && std::isdigit(static_cast<unsigned char>(id.version[i]))) {
        uint32_t number = 0;
        const size_t start = i;
        while (i < id.version.size() && std::isdigit(static_cast<unsigned char>(id.version[i])) && number <= 65535)
          number = number * 10 + uint32_t(id.version[i++] - '0');
        if (number > 65535) {
          d_.error(inString(*n, start), "a version number is at most 65535 (the file version holds four 16-bit numbers)");
          break;
        }
        id.fileVersion[part++] = uint16_t(number);
        if (i + 1 < id.version.size() && id.version[i] == '.' && std::isdigit(static_cast<unsigned char>(id.version[i + 1]))) ++i;
        else break;
      }
      if (part == 0)
        d_.warning(at(*n), "the version does not start with a number: the file version reads 0.0.0.0");
    }
    id.publisher = identityText(t, "publisher", "publisher", &publisherAnsi_);
    id.description = identityText(t, "description", "description");
    if (!t.get("description") && !id.name.empty()) id.description = id.name + " Setup";
    id.copyright = identityText(t, "copyright", "copyright");
    if ((urlNode_ = t.get("url"))) {
      urlAnsi_ = lineText(&t, "url", "url");
      if (urlNode_->is_string() && urlAnsi_.rfind("http://", 0) != 0 && urlAnsi_.rfind("https://", 0) != 0)
        d_.warning(at(*urlNode_), "the url does not start with \"http://\" or \"https://\"");
    }
    if ((displayIconNode_ = t.get("display-icon")))
      displayIcon_ = relativePath(*displayIconNode_, lineText(&t, "display-icon", "display icon"), "display icon");
    if (auto icon = utf8(&t, "icon")) {
      try {
        id.icon = loadIcon(base_ / *icon);
      } catch (const std::exception& e) {
        d_.error(at(*t.get("icon")), "icon '" + *icon + "': " + e.what());
      }
    }
  }

  // Warnings for what the wizard cannot show as given: a picture much larger than its place, a
  // welcome text longer than its page, a licence the licence box cannot hold or that is blank.
  void checkWhatThePagesShow(const toml::table& root, const ScriptModel& s) {
    const toml::table* appearance = root.get("appearance") ? root.get("appearance")->as_table() : nullptr;
    auto picture = [&](const char* key, const std::vector<uint8_t>& bmp, uint32_t areaW, uint32_t areaH, const char* place) {
      if (bmp.empty() || !appearance || !appearance->get(key)) return;
      const bool core = readU32(&bmp[14]) == 12;
      const uint32_t w = core ? readU16(&bmp[18]) : readU32(&bmp[18]);
      const int32_t h = core ? int32_t(readU16(&bmp[20])) : std::abs(int32_t(readU32(&bmp[22])));
      // The area grows with the dialog font; up to 125 % scaling the picture would still be cut.
      if (w * 4 > areaW * 5 || uint32_t(h) * 4 > areaH * 5)
        d_.warning(at(*appearance->get(key)), std::string(key) + " is " + std::to_string(w) + " x " + std::to_string(h) +
                                                  " pixels; " + place + " is about " + std::to_string(areaW) + " x " +
                                                  std::to_string(areaH) + ", so most of it is cut off");
    };
    picture("side-picture", s.sideBitmap, kSideAreaWidth, kSideAreaHeight, "the side area of the welcome and finished pages");
    picture("banner", s.bannerBitmap, kSideAreaWidth, kBannerHeight, "the banner band");
    picture("splash", s.splashBitmap, kLargeScreenWidth, kLargeScreenHeight, "a large screen");

    const toml::table* texts = root.get("texts") ? root.get("texts")->as_table() : nullptr;
    auto node = [&](const char* key) -> const toml::node* {
      if (!texts) return nullptr;
      if (const toml::node* n = texts->get(key)) return n;
      return texts->get(std::string(key) + "-file");
    };
    if (const toml::node* n = node("welcome")) {
      // The welcome page's body is a static text of fixed size beside the side picture or below
      // the banner: wrapped lines beyond its height are not shown.
      const bool side = !s.sideBitmap.empty();
      const uint32_t columns = side ? kSideBodyColumns : kBodyColumns, rows = side ? kSideBodyRows : kBodyRows;
      const uint32_t lines = wrappedLines(s.welcomeText, columns);
      if (lines > rows)
        d_.warning(at(*n), "the welcome text takes about " + std::to_string(lines) + " lines; the welcome page shows " +
                               std::to_string(rows) + " and cuts off the rest");
    }
    if (const toml::node* n = node("licence")) {
      if (!s.licenceText.empty() && s.licenceText.find_first_not_of(" \t\r\n") == std::string::npos)
        d_.warning(at(*n), "the licence text is blank: the wizard shows an empty licence page");
      // Windows 95, 98 and Me keep at most 64 KiB in an edit control; later releases any length.
      const bool only2000OrLater = s.minimumOs >= 1 && s.minimumOs <= 8;
      if (s.licenceText.size() > kNinetyFiveEditLimit && !only2000OrLater)
        d_.warning(at(*n), "the licence text is " + std::to_string(s.licenceText.size()) +
                               " bytes; the licence box of Windows 95, 98 and Me holds " +
                               std::to_string(kNinetyFiveEditLimit) + " (require \"windows-2000\" or later, or shorten it)");
    }
  }

  // Lines a text wraps to in a box `columns` average characters wide.
  static uint32_t wrappedLines(const std::string& text, uint32_t columns) {
    uint32_t lines = 0;
    size_t start = 0;
    while (true) {
      size_t end = text.find("\r\n", start);
      const size_t length = codePointCount(std::string_view(text).substr(start, end == std::string::npos ? std::string::npos : end - start));
      lines += length == 0 ? 1 : uint32_t((length + columns - 1) / columns);
      if (end == std::string::npos) break;
      start = end + 2;
    }
    return lines;
  }

  // The uninstall registration beyond its name and command, through the script's registry
  // list (the uninstaller deletes the whole key): what the system's list of programs shows.
  void addRegistration(Project& project) {
    ScriptModel& s = project.script;
    if (s.productName.empty()) return;
    const std::string key = std::string(kUninstallKeyPrefix) + s.productName;
    auto text = [&](const char* name, const std::string& value) {
      if (!value.empty()) s.registry.push_back(ScriptRegistryValue{kRootLocalMachine, 1, key, name, 0, value});
    };
    auto number = [&](const char* name, uint32_t value) {
      s.registry.push_back(ScriptRegistryValue{kRootLocalMachine, int8_t(kRegDword), key, name, value, {}});
    };
    text("DisplayVersion", versionAnsi_);
    text("Publisher", publisherAnsi_);
    // Without a url of its own, the wizard's link when it is a web address.
    std::string url = urlNode_ ? urlAnsi_ : s.linkTarget;
    if (!urlNode_ && url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) url.clear();
    text("URLInfoAbout", url);
    if (displayIconNode_ && !displayIcon_.empty()) {
      std::string folded = displayIcon_;
      for (char& c : folded) c = char(std::toupper(static_cast<unsigned char>(c)));
      if (!installedNames_.count(folded))
        d_.warning(at(*displayIconNode_), "display icon '" + displayIcon_ + "' is not one of the packaged files");
    }
    text("DisplayIcon", std::string(kSetupPathMarker) + "\\" + (displayIcon_.empty() ? std::string(kUninstallerName) : displayIcon_));
    // In KiB: the files as installed, and Uninstall.exe with its log.
    uint64_t bytes = kUninstallerAllowance;
    for (const SourceFile& f : project.sources) bytes += f.size;
    number("EstimatedSize", uint32_t(std::min<uint64_t>((bytes + 1023) / 1024, UINT32_MAX)));
    // The uninstaller only removes: the list offers no Change or Repair for the product.
    number("NoModify", 1);
    number("NoRepair", 1);
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

  // [signing]: what signs the installer. Paths are checked here, where an error can point at
  // them; a password comes from an environment variable, never from the file.
  void readSigning(const toml::table& root, Project& project) {
    const toml::table* t = section(root, "signing");
    if (!t) return;
    checkKeys(*t, "[signing]", {"certificate", "key", "pkcs12", "password-env", "timestamp-url"});
    SigningSettings s;
    bool ok = true;
    auto file = [&](const char* key, fs::path& into) {
      auto v = utf8(t, key);
      if (!v) return;
      into = base_ / fs::path(*v);
      std::error_code ec;
      if (!fs::is_regular_file(into, ec)) {
        d_.error(at(*t->get(key)), std::string("cannot read the ") + key + " file '" + into.string() + "'");
        ok = false;
      }
    };
    file("certificate", s.certificate);
    file("key", s.key);
    file("pkcs12", s.pkcs12);
    if (auto v = utf8(t, "password-env")) {
      s.passwordVariable = *v;
      if (v->empty() || v->find_first_of("= ") != std::string::npos) {
        d_.error(at(*t->get("password-env")), "'password-env' names an environment variable, such as \"SIGNING_PASSWORD\"");
        ok = false;
      }
    }
    if (auto v = utf8(t, "timestamp-url")) {
      s.timestampUrl = *v;
      if (v->rfind("http://", 0) != 0 && v->rfind("https://", 0) != 0) {
        d_.error(at(*t->get("timestamp-url")), "'timestamp-url' must be an http:// or https:// address");
        ok = false;
      }
    }
    const bool pair = t->get("certificate") || t->get("key");
    if (pair == bool(t->get("pkcs12")) || (pair && !(t->get("certificate") && t->get("key")))) {
      d_.error(at(*t), "[signing] needs either 'certificate' and 'key', or 'pkcs12'");
      ok = false;
    }
    if (const toml::table* product = root.get_as<toml::table>("product"))
      if (auto name = utf8(product, "name")) s.description = *name;
    if (ok) project.signing = s;
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
      d_.error(inString(*runNode, codePointCount(target) - 1),
               "the run target may not end with the control character 0x17");
    s.runKind = kRunFrom.at(from);
    s.runTarget = target;
  }
};

}  // namespace

bool addDefine(const std::string& assignment, Defines& defines, std::string& error) {
  const size_t eq = assignment.find('=');
  const std::string name = assignment.substr(0, eq);
  bool valid = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
               std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
  size_t bad;
  if (eq == std::string::npos || !valid || !validUtf8(assignment, bad)) {
    error = "-D " + assignment + ": give NAME=VALUE, the name made of letters, digits and '_' (not starting with a digit)";
    return false;
  }
  defines[name] = assignment.substr(eq + 1);
  return true;
}

Project parseProject(const std::string& text, const std::string& displayName, const fs::path& baseDirectory,
                     Diagnostics& diagnostics, const Defines& defines) {
  Project p = ProjectReader(text, displayName, baseDirectory, diagnostics, defines).read();
  return p;
}

Project loadProject(const fs::path& file, Diagnostics& diagnostics, const Defines& defines) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    diagnostics.error(SourcePosition{file.string()}, "cannot read the project file");
    return {};
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::path base = file.has_parent_path() ? file.parent_path() : fs::path(".");
  Project p = parseProject(text, file.string(), base, diagnostics, defines);
  p.projectFile = file;
  return p;
}

}  // namespace mw::packager
