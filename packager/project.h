// What an installer is made of: the setup script's fields with their final bytes (already in
// the target code page, line ends already CR LF), and where each packaged file comes from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "packager/diagnostics.h"
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

struct Project {
  std::filesystem::path projectFile;
  uint32_t codePage = 1252;
  ScriptModel script;
  std::vector<SourceFile> sources;
  std::optional<SigningSettings> signing;  // the [signing] table: the build signs as its last step
};

// Reads a project file. Every problem goes to `diagnostics` (with line and column); the
// returned project is usable only when diagnostics.failed() is false.
Project loadProject(const std::filesystem::path& file, Diagnostics& diagnostics);

// The same from text already in memory; `displayName` is used in messages and relative
// sources are resolved against `baseDirectory`.
Project parseProject(const std::string& text, const std::string& displayName,
                     const std::filesystem::path& baseDirectory, Diagnostics& diagnostics);

// Limits that come from the engine's fixed buffers.
constexpr size_t kMaxProductName = 138;    // every page text formatted with it fits 260 bytes
constexpr size_t kMaxPathText = 259;       // MAX_PATH less the NUL: names, targets, folders
constexpr size_t kMaxRegistryText = 2047;  // the expansion buffer holds 2047 characters
constexpr size_t kMaxRunTarget = 1023 - 260;  // built behind a folder of up to 260 in installDir

}  // namespace mw::packager
