// What an installer is made of: the setup script's fields with their final bytes (already in
// the target code page, line ends already CR LF), and where each packaged file comes from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "packager/diagnostics.h"
#include "packager/icon.h"
#include "packager/signing.h"

namespace mw::packager {

// One row of the script's file table. The placement is filled in by the builder.
struct ScriptFile {
  std::string name;          // ANSI, '\' separated, relative to the install folder
  uint32_t dataOffset = 0;   // 0: empty file
  uint16_t chunkCount = 0;
  uint32_t checksum = 1;

  bool operator==(const ScriptFile&) const = default;
};

struct ScriptShortcut {
  uint8_t kind;              // 'D', 'M', 'P', 'Q' or 'S'
  std::string target;

  bool operator==(const ScriptShortcut&) const = default;
};

struct ScriptRegistryValue {
  uint32_t root;                         // 0x80000000 .. 0x80000006
  int8_t typeByte;                       // >= 0 named value; < 0 the key's default value
  std::string subkey;
  std::optional<std::string> valueName;  // present exactly when typeByte >= 0
  uint32_t dword = 0;                    // data when the type is 4
  std::string text;                      // data otherwise

  uint32_t valueType() const { return typeByte < 0 ? uint32_t(-int32_t(typeByte)) : uint32_t(typeByte); }
  bool operator==(const ScriptRegistryValue&) const = default;
};

// Every field of the setup script, in script order.
struct ScriptModel {
  uint8_t splashSeconds = 0;
  std::vector<uint8_t> splashBitmap;   // a whole BMP file; empty: no splash
  uint32_t sideTextColour = 0;
  std::vector<uint8_t> sideBitmap;
  uint8_t bannerAlignment = 0;
  std::vector<uint8_t> bannerBitmap;
  uint8_t minimumOs = 0;
  uint8_t dotNetRequired = 0;
  std::string dotNetInstaller;         // written only when dotNetRequired != 0
  uint8_t requireAdmin = 0;
  uint32_t headerTextColour = 0;
  std::string windowCaption;
  std::string productName;
  std::string welcomeText;
  std::string licenceText;
  uint8_t destinationKind = 0;
  std::string destinationPath;
  std::string linkText;
  std::string linkTarget;
  std::vector<ScriptFile> files;
  std::string programGroup;
  std::vector<ScriptShortcut> shortcuts;
  std::vector<ScriptRegistryValue> registry;
  std::string finishText;
  uint8_t rebootMode = 0;
  uint8_t runKind = 0;
  std::string runTarget;               // written only when runKind != 0

  bool operator==(const ScriptModel&) const = default;
};

// Where the bytes of each file table row come from (parallel to ScriptModel::files).
struct SourceFile {
  std::filesystem::path path;
  uint64_t size = 0;
  SourcePosition declaredAt;           // the [[files]] entry that selected it
};

// What setup.exe shows of the product before it runs (its icon and version resource). The
// texts stay UTF-8: the version resource holds Unicode.
struct ProductIdentity {
  std::string name;               // the product's name
  std::string version;            // empty: none
  uint16_t fileVersion[4] = {};   // the version's leading numbers ("1.2.3-rc1": 1, 2, 3, 0)
  std::string publisher;
  std::string description;        // default: "<name> Setup"
  std::string copyright;
  std::vector<RgbaImage> icon;    // empty: the engine's own icon stays

  bool operator==(const ProductIdentity&) const = default;
};

struct Project {
  std::filesystem::path projectFile;
  uint32_t codePage = 1252;
  ScriptModel script;
  std::vector<SourceFile> sources;
  ProductIdentity identity;
  std::optional<SigningSettings> signing;  // the [signing] table: the build signs as its last step
};

// Values given on the command line with -D NAME=VALUE, for ${NAME} in the project's strings.
using Defines = std::map<std::string, std::string>;

// "NAME=VALUE" into `defines`; false (with `error` set) for anything else: a name is a letter
// or '_' followed by letters, digits and '_'.
bool addDefine(const std::string& assignment, Defines& defines, std::string& error);

// Reads a project file. Every problem goes to `diagnostics` (with line and column); the
// returned project is usable only when diagnostics.failed() is false.
Project loadProject(const std::filesystem::path& file, Diagnostics& diagnostics, const Defines& defines = {});

// The same from text already in memory; `displayName` is used in messages and relative
// sources are resolved against `baseDirectory`.
Project parseProject(const std::string& text, const std::string& displayName,
                     const std::filesystem::path& baseDirectory, Diagnostics& diagnostics,
                     const Defines& defines = {});

// Limits that come from the engine's fixed buffers.
constexpr size_t kMaxProductName = 138;    // every page text formatted with it fits 260 bytes
constexpr size_t kMaxPathText = 259;       // MAX_PATH less the NUL: names, targets, folders
constexpr size_t kMaxRegistryText = 2047;  // the expansion buffer holds 2047 characters
constexpr size_t kMaxRunTarget = 1023 - 260;  // built behind a folder of up to 260 in installDir
constexpr size_t kMaxIdentityText = 260;   // each text of the version resource, in characters
// What Uninstall.exe with a long log takes, added to the files for the estimated size.
constexpr uint64_t kUninstallerAllowance = 16 * 1024;

// The wizard's places, in pixels at 96 dpi (MS Sans Serif 8: a dialog unit is 1.5 pixels
// across and 1.625 down), and what its static texts hold in average characters and lines.
constexpr uint32_t kSideAreaWidth = 498, kSideAreaHeight = 304, kBannerHeight = 62;
constexpr uint32_t kLargeScreenWidth = 1920, kLargeScreenHeight = 1200;
// Body texts: 203 x 105 units beside the side picture, 303 x 100 below the banner; an average
// character of running text is about 3.5 units wide, a line 8 high.
constexpr uint32_t kSideBodyColumns = 58, kSideBodyRows = 13, kBodyColumns = 86, kBodyRows = 12;
constexpr size_t kNinetyFiveEditLimit = 65535;

}  // namespace mw::packager
