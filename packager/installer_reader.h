// Reading an installer the way the stub does, with the engine's own locator, checksum,
// decoder and script readers, for `list`, `verify` and `extract`. Nothing in a damaged
// installer makes it read outside the file or its buffers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "packager/project.h"
#include "format/arena.h"
#include "format/payload.h"

namespace mw::packager {

class Installer {
 public:
  // Opens the file and reads the record, the payload and the script. Throws std::runtime_error
  // only when the file cannot be opened; damage is reported through the accessors.
  explicit Installer(const std::filesystem::path& file);

  uint64_t fileSize() const { return fileSize_; }
  bool hasRecord() const { return hasRecord_; }  // the file reaches past the record
  const LocatorRecord& record() const { return record_; }
  uint64_t payloadEnd() const;                   // scriptOffset + scriptLength + blob
  bool payloadIntact() const { return intact_; }
  // The script as decoded and parsed; nullopt with scriptError() when it cannot be had.
  const std::optional<ScriptModel>& script() const { return script_; }
  const std::string& scriptError() const { return scriptError_; }
  uint32_t scriptDecodedLength() const { return scriptDecoded_; }
  uint32_t scriptEnd() const { return scriptEnd_; }  // where the last field ended

  struct FileCheck {
    bool ok = false;
    std::string problem;     // what is damaged, when not ok
    uint64_t stored = 0;     // bytes of the chunks on disk
    uint64_t decoded = 0;    // bytes the chunks decoded to
  };
  // Reads a file's chunks, checks their Adler-32 against the entry and decodes each one,
  // handing the output to `sink` (may be empty). Stops at the first damaged chunk.
  FileCheck readFile(const ScriptFile& entry,
                     const std::function<void(const uint8_t*, size_t)>& sink = {});
  // Only sums the chunk lengths (cheap; for listing).
  std::optional<uint64_t> storedSize(const ScriptFile& entry);

  // Decodes the uninstaller blob as the installation worker does, from the last 4,272 bytes of
  // the file with the script's last six bytes in front of it.
  bool decodeUninstaller(std::vector<uint8_t>& image, std::string& problem);

 private:
  bool readAt(uint64_t offset, uint8_t* out, size_t length);
  void useDecoderRegions();

  std::ifstream file_;
  uint64_t fileSize_ = 0;
  bool hasRecord_ = false;
  LocatorRecord record_{};
  bool intact_ = false;
  std::vector<uint8_t> readBuffer_;
  std::unique_ptr<uint8_t[]> arenaBlock_;
  Arena arena_{};
  std::optional<ScriptModel> script_;
  std::string scriptError_;
  uint32_t scriptDecoded_ = 0;
  uint32_t scriptEnd_ = 0;
  std::vector<uint8_t> chunkBuffer_;
};

// A decoded script larger than this is taken as damage rather than allocated. A script holds
// texts and at most three pictures; 64 MiB is ten times a full-screen splash, and a damaged
// length field must not make every `list` of the file allocate and clear hundreds of megabytes.
constexpr uint32_t kMaxPlausibleScript = 64u << 20;

}  // namespace mw::packager
