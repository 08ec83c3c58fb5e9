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

#include "packager/pe_image.h"
#include "packager/project.h"
#include "format/arena.h"
#include "format/payload.h"

namespace mw::packager {

class Installer {
 public:
  // Opens the file and reads the record, the payload and the script. Throws std::runtime_error
  // only when the file cannot be opened or is no regular file; damage is reported through the
  // accessors.
  explicit Installer(const std::filesystem::path& file);

  uint64_t fileSize() const { return fileSize_; }
  // A Windows program whose locator record points at a payload inside the file. Otherwise
  // notInstallerReason() says why; a damaged record reads the same as none.
  bool isInstaller() const { return notInstaller_.empty(); }
  const std::string& notInstallerReason() const { return notInstaller_; }
  bool hasRecord() const { return hasRecord_; }  // the file reaches past the record
  const LocatorRecord& record() const { return record_; }
  uint64_t payloadEnd() const;                   // scriptOffset + scriptLength + blob

  // An Authenticode signature: the PE certificate table, found exactly after the payload (up
  // to the 8-byte alignment the table needs) and ending the file. Signing adds it after the
  // build, so it is a known tail and not damage.
  bool isSigned() const { return signatureSize_ != 0; }
  uint64_t signatureOffset() const { return signatureOffset_; }
  uint64_t signatureSize() const { return signatureSize_; }
  // Where the installer's own bytes end: the file's size, or the payload's end when signed
  // (the alignment bytes belong to the signing).
  uint64_t contentEnd() const { return isSigned() ? payloadEnd() : fileSize_; }

  // The PE headers, when the file has them.
  const std::optional<PeHeaders>& peHeaders() const { return pe_; }
  // The PE checksum the file's bytes give (reads the whole file).
  uint32_t computePeChecksum();
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

  // Decodes the uninstaller blob as the installation worker does, from the 4,272 bytes after
  // the script with the script's last six bytes in front of it.
  bool decodeUninstaller(std::vector<uint8_t>& image, std::string& problem);

 private:
  bool readAt(uint64_t offset, uint8_t* out, size_t length);
  void useDecoderRegions();
  void findSignature();

  std::ifstream file_;
  uint64_t fileSize_ = 0;
  std::string notInstaller_;
  std::optional<PeHeaders> pe_;
  uint64_t signatureOffset_ = 0;
  uint64_t signatureSize_ = 0;
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
