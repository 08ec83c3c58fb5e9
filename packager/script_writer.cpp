#include "packager/script_writer.h"

#include <stdexcept>

#include "core/bytes.h"
#include "format/script.h"

namespace mw::packager {
namespace {

struct Out {
  std::vector<uint8_t> v;
  void u8(uint8_t b) { v.push_back(b); }
  void u16(uint16_t x) { u8(uint8_t(x)); u8(uint8_t(x >> 8)); }
  void u32(uint32_t x) { u16(uint16_t(x)); u16(uint16_t(x >> 16)); }
  void str(const std::string& s, const char* what) {
    if (s.find('\0') != std::string::npos) throw std::invalid_argument(std::string(what) + " holds a NUL");
    v.insert(v.end(), s.begin(), s.end());
    u8(0);
  }
  void bytes(const std::vector<uint8_t>& b) { v.insert(v.end(), b.begin(), b.end()); }
};

void pictureBlock(Out& o, const std::vector<uint8_t>& bmp, uint32_t field, int fieldBytes) {
  if (bmp.empty()) {
    o.u32(0);
    return;
  }
  o.u32(uint32_t(bmp.size()));
  if (fieldBytes == 1) o.u8(uint8_t(field));
  else o.u32(field);
  o.bytes(bmp);
}

std::string toString(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

std::vector<uint8_t> writeScript(const ScriptModel& m) {
  Out o;
  pictureBlock(o, m.splashBitmap, m.splashSeconds, 1);
  pictureBlock(o, m.sideBitmap, m.sideTextColour, 4);
  pictureBlock(o, m.bannerBitmap, m.bannerAlignment, 1);
  o.u8(m.minimumOs);
  o.u8(m.dotNetRequired);
  if (m.dotNetRequired != 0) o.str(m.dotNetInstaller, "dotNetInstaller");
  o.u8(m.requireAdmin);
  o.u32(m.headerTextColour);
  o.str(m.windowCaption, "windowCaption");
  o.str(m.productName, "productName");
  o.str(m.welcomeText, "welcomeText");
  o.str(m.licenceText, "licenceText");
  o.u8(m.destinationKind);
  o.str(m.destinationPath, "destinationPath");
  o.str(m.linkText, "linkText");
  o.str(m.linkTarget, "linkTarget");

  // The engine creates the first entry before it looks for the end of the table.
  if (m.files.empty()) throw std::invalid_argument("the file table is empty");
  for (const ScriptFile& f : m.files) {
    if (f.name.empty()) throw std::invalid_argument("a file has an empty name");
    o.str(f.name, "file name");
    o.u32(f.dataOffset);
    if (f.dataOffset != 0) {
      if (f.chunkCount == 0) throw std::invalid_argument("a file with data has no chunks");
      o.u16(f.chunkCount);
      o.u32(f.checksum);
    }
  }
  o.u8(0);

  if (!m.programGroup.empty()) {
    if (m.programGroup.back() == '\\') throw std::invalid_argument("the program group ends with a backslash");
    o.str(m.programGroup, "programGroup");
  }
  o.u8(0);

  for (const ScriptShortcut& s : m.shortcuts) {
    if (s.kind != 'D' && s.kind != 'M' && s.kind != 'P' && s.kind != 'Q' && s.kind != 'S')
      throw std::invalid_argument("unknown shortcut kind");
    o.u8(s.kind);
    o.str(s.target, "shortcut target");
  }
  o.u8(0);

  for (const ScriptRegistryValue& r : m.registry) {
    if (r.root < kFirstRegistryRoot || r.root > kLastRegistryRoot) throw std::invalid_argument("registry root outside the predefined keys");
    if ((r.typeByte >= 0) != r.valueName.has_value())
      throw std::invalid_argument("a named registry value needs a type of 0 or more, a default value a negative one");
    o.u32(r.root);
    o.u8(uint8_t(r.typeByte));
    o.str(r.subkey, "registry key");
    if (r.valueName) o.str(*r.valueName, "registry value name");
    if (r.valueType() == kRegDword) o.u32(r.dword);
    else o.str(r.text, "registry value");
  }
  o.u32(0);

  o.str(m.finishText, "finishText");
  o.u8(m.rebootMode);
  o.u8(m.runKind);
  if (m.runKind != 0) o.str(m.runTarget, "runTarget");

  // The uninstaller blob is decoded with the script's last six bytes in front of its u32; the
  // decoder takes the fifth of those ten for the first block's magic, and 0x17 there would
  // read as the end of the stream.
  if (o.v.size() >= 2 && o.v[o.v.size() - 2] == 0x17)
    throw std::invalid_argument("the script's second-to-last byte would be 0x17");
  return o.v;
}

std::optional<ScriptModel> readScript(const uint8_t* script, uint32_t length, std::string& error,
                                      uint32_t* endPosition) {
  SetupScript front;
  if (!parseFront(script, length, front)) {
    error = "the script's front (texts, pictures, options) is corrupt";
    return std::nullopt;
  }
  ScriptModel m;
  auto picture = [](const Picture& p) {
    return p.length ? std::vector<uint8_t>(p.file, p.file + p.length) : std::vector<uint8_t>();
  };
  m.splashSeconds = front.splashSeconds;
  m.splashBitmap = picture(front.splashBitmap);
  m.sideTextColour = front.sideTextColour;
  m.sideBitmap = picture(front.sideBitmap);
  m.bannerAlignment = front.bannerAlignment;
  m.bannerBitmap = picture(front.bannerBitmap);
  m.minimumOs = front.minimumOs;
  m.dotNetRequired = front.dotNetRequired;
  m.dotNetInstaller = toString(front.dotNetInstaller);
  m.requireAdmin = front.requireAdmin;
  m.headerTextColour = front.headerTextColour;
  m.windowCaption = front.windowCaption;
  m.productName = front.productName;
  m.welcomeText = front.welcomeText;
  m.licenceText = front.licenceText;
  m.destinationKind = front.destinationKind;
  m.destinationPath = front.destinationPath;
  m.linkText = front.linkText;
  m.linkTarget = front.linkTarget;

  ScriptCursor c;
  startLists(c, script, length, front);
  ReadResult r;
  FileEntry f;
  while ((r = nextFileEntry(c, f)) == ReadItem) m.files.push_back({f.name, f.dataOffset, f.chunkCount, f.checksum});
  if (r == ReadCorrupt) {
    error = "the file table is corrupt after " + std::to_string(m.files.size()) + " entries";
    return std::nullopt;
  }
  const char* group;
  if (readProgramGroup(c, group) == ReadCorrupt) {
    error = "the program group is corrupt";
    return std::nullopt;
  }
  m.programGroup = toString(group);
  ShortcutEntry s;
  while ((r = nextShortcut(c, s)) == ReadItem) m.shortcuts.push_back({s.kind, s.target});
  if (r == ReadCorrupt) {
    error = "the shortcut list is corrupt";
    return std::nullopt;
  }
  RegistryEntry e;
  while ((r = nextRegistryEntry(c, e)) == ReadItem) {
    ScriptRegistryValue v{};
    v.root = e.root;
    v.typeByte = e.typeByte;
    v.subkey = e.subkey;
    if (e.valueName) v.valueName = e.valueName;
    if (e.valueType == kRegDword) v.dword = e.dword;
    else v.text.assign(reinterpret_cast<const char*>(e.data), e.dataLength);
    m.registry.push_back(v);
  }
  if (r == ReadCorrupt) {
    error = "the registry list is corrupt";
    return std::nullopt;
  }
  const char* finish;
  if (readFinishText(c, finish) != ReadItem) {
    error = "the finish text is corrupt";
    return std::nullopt;
  }
  m.finishText = finish;
  PostInstall post;
  if (readPostInstall(c, post) != ReadItem) {
    error = "the after-install record is corrupt";
    return std::nullopt;
  }
  m.rebootMode = post.rebootMode;
  m.runKind = post.runKind;
  m.runTarget = toString(post.runTarget);
  if (endPosition) *endPosition = c.position;
  return m;
}

}  // namespace mw::packager
