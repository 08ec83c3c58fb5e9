#include "packager/installer_reader.h"

#include <cstring>
#include <stdexcept>

#include "core/bytes.h"
#include "decompress/decompress.h"
#include "packager/script_writer.h"

namespace mw::packager {

namespace {

// Only regular files are read: a folder opens as a stream of no bytes with an absurd size, and
// a device or a pipe has no size at all.
void requireRegularFile(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) throw std::runtime_error("'" + path.string() + "' does not exist");
  if (fs::is_directory(st)) throw std::runtime_error("'" + path.string() + "' is a folder, not an installer");
  if (!fs::is_regular_file(st)) throw std::runtime_error("'" + path.string() + "' is not a regular file");
}

}  // namespace

Installer::Installer(const std::filesystem::path& path) : file_((requireRegularFile(path), path), std::ios::binary) {
  if (!file_) throw std::runtime_error("cannot open '" + path.string() + "'");
  file_.seekg(0, std::ios::end);
  fileSize_ = uint64_t(file_.tellg());
  chunkBuffer_.assign(kMaxChunkHeader, 0);
  pe_ = readPeHeaders([this](uint64_t o, uint8_t* out, size_t n) { return readAt(o, out, n); }, fileSize_);

  uint8_t mz[2] = {0, 0};
  if (fileSize_ < kMinimumStubSize) {
    scriptError_ = "the file is too short to hold a locator record";
    notInstaller_ = "the file is " + std::to_string(fileSize_) + " bytes, too short to hold a locator record";
    return;
  }
  if (!readAt(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') {
    scriptError_ = notInstaller_ = "the file is not a Windows program (it does not start with \"MZ\")";
    return;
  }
  hasRecord_ = true;
  uint8_t raw[kLocatorSize];
  readAt(kLocatorOffset, raw, kLocatorSize);
  record_ = parseLocator(raw);

  uint32_t allocate = 0, read = 0;
  if (!readBufferSizes(record_, allocate, read) || record_.scriptOffset >= fileSize_ ||
      record_.scriptOffset < kMinimumStubSize || record_.scriptLength > fileSize_ ||
      record_.scriptLength > kMaxPlausibleScript) {
    scriptError_ = "the locator record does not point at a setup script inside the file";
    notInstaller_ = "no locator record at offset " + std::to_string(kLocatorOffset) +
                    " points at a payload inside the file (a bare engine stub, another program, or a damaged record)";
    return;
  }
  findSignature();
  // Like the stub: a zero-filled buffer, filled with as much as the file holds.
  readBuffer_.assign(allocate, 0);
  uint64_t available = fileSize_ - record_.scriptOffset;
  readAt(record_.scriptOffset, readBuffer_.data() + kReadBufferLead, size_t(std::min<uint64_t>(read, available)));
  intact_ = mw::payloadIntact(readBuffer_.data(), record_);

  uint32_t u = mw::scriptDecodedLength(readBuffer_.data());
  if (u == 0 || u > kMaxPlausibleScript) {
    scriptError_ = "the setup script's length (" + std::to_string(u) + " bytes) is implausible";
    return;
  }
  uint32_t arenaSize = 0;
  arenaSizeFor(u, arenaSize);
  arenaBlock_.reset(new uint8_t[arenaSize]());
  layOutArena(arena_, arenaBlock_.get(), u);
  if (loadScript(readBuffer_.data(), record_, arena_) != LoadOk) {
    scriptError_ = "the setup script does not decompress";
    return;
  }
  scriptDecoded_ = u;
  script_ = readScript(arena_.base, u, scriptError_, &scriptEnd_);
}

uint64_t Installer::payloadEnd() const {
  return uint64_t(record_.scriptOffset) + record_.scriptLength + kBlobSize;
}

void Installer::findSignature() {
  if (!pe_ || pe_->certificateSize == 0) return;
  const uint64_t end = payloadEnd(), at = pe_->certificateOffset;
  if (at < end || at - end >= 8 || at + pe_->certificateSize != fileSize_) return;
  uint8_t gap[8] = {};
  if (!readAt(end, gap, size_t(at - end))) return;
  for (uint64_t i = 0; i < at - end; ++i)
    if (gap[i]) return;
  signatureOffset_ = at;
  signatureSize_ = pe_->certificateSize;
}

uint32_t Installer::computePeChecksum() {
  if (!pe_) return 0;
  return peChecksum([this](uint64_t o, uint8_t* out, size_t n) { return readAt(o, out, n); }, fileSize_,
                    pe_->checksumOffset);
}

bool Installer::readAt(uint64_t offset, uint8_t* out, size_t length) {
  if (offset > fileSize_ || length > fileSize_ - offset) return false;
  file_.clear();
  file_.seekg(std::streamoff(offset));
  file_.read(reinterpret_cast<char*>(out), std::streamsize(length));
  return size_t(file_.gcount()) == length;
}

void Installer::useDecoderRegions() {
  if (!arenaBlock_) {
    arenaBlock_.reset(new uint8_t[arenaFixedSize()]());
    layOutArena(arena_, arenaBlock_.get(), 0);
  }
  // The decoder finds its regions through one global; another Installer may have moved it.
  decoderRegions.stateRegion = arena_.stateRegion;
  decoderRegions.tableRegion = arena_.tableRegion;
}

std::optional<uint64_t> Installer::storedSize(const ScriptFile& entry) {
  if (entry.dataOffset == 0) return 0;
  uint64_t at = entry.dataOffset, total = 0;
  for (uint32_t k = 0; k < entry.chunkCount; ++k) {
    uint8_t h[4];
    if (!readAt(at, h, 4)) return std::nullopt;
    uint32_t length = readU32(h);
    if (length <= kChunkHeaderCount || length > kMaxChunkHeader) return std::nullopt;
    at += kChunkPrefix + (length - kChunkHeaderCount);
    total += kChunkPrefix + (length - kChunkHeaderCount);
  }
  return total;
}

Installer::FileCheck Installer::readFile(const ScriptFile& entry,
                                         const std::function<void(const uint8_t*, size_t)>& sink) {
  FileCheck result;
  if (entry.dataOffset == 0) {
    result.ok = true;
    return result;
  }
  useDecoderRegions();
  // File data lies between the stub and the script.
  uint64_t limit = hasRecord_ && record_.scriptOffset <= fileSize_ ? record_.scriptOffset : fileSize_;
  uint64_t at = entry.dataOffset;
  uint32_t checksum = 1;
  std::string decodeProblem;
  for (uint32_t k = 0; k < entry.chunkCount; ++k) {
    std::string which = "chunk " + std::to_string(k + 1) + " of " + std::to_string(entry.chunkCount);
    uint8_t* buf = chunkBuffer_.data();
    if (at + kChunkPrefix > limit || !readAt(at, buf, kChunkPrefix)) {
      result.problem = which + " lies outside the file data";
      return result;
    }
    uint32_t h = readU32(buf);
    if (h <= kChunkHeaderCount || h > kMaxChunkHeader) {
      result.problem = which + " has an impossible length (" + std::to_string(h) + ")";
      return result;
    }
    uint32_t bodyLength = h - kChunkHeaderCount;
    if (at + kChunkPrefix + bodyLength > limit) {
      result.problem = which + " runs past the file data";
      return result;
    }
    // The worker's chunk buffer: h, six zero bytes, then the body; the decoder takes the
    // first ten bytes for its headers.
    std::memset(buf + kChunkPrefix, 0, kChunkHeaderCount - kChunkPrefix);
    readAt(at + kChunkPrefix, buf + kChunkHeaderCount, bodyLength);
    checksum = adler32Update(checksum, buf + kChunkHeaderCount, bodyLength);
    result.stored += kChunkPrefix + bodyLength;
    at += kChunkPrefix + bodyLength;
    if (!decodeProblem.empty()) continue;  // keep summing the checksum only

    StreamRecord strm{};
    strm.next_in = buf;
    strm.avail_in = h;
    strm.next_out = arena_.outputRegion;
    strm.avail_out = kMaxChunkOutput;
    strm.bzalloc = arenaAlloc;
    decompressInit(&strm, 0, 0);
    int32_t r = decompress(&strm);
    if (r != DecodeStreamEnd) {
      decodeProblem = which + (r == DecodeOk && strm.avail_out == 0 ? " decodes to more than 1 MiB"
                                                                      : " does not decompress");
      continue;
    }
    result.decoded += strm.total_out_lo32;
    if (sink) sink(arena_.outputRegion, strm.total_out_lo32);
  }
  if (checksum != entry.checksum) {
    char text[96];
    std::snprintf(text, sizeof text, "checksum mismatch (stored 0x%08X, data gives 0x%08X)", entry.checksum, checksum);
    result.problem = text;
    if (!decodeProblem.empty()) result.problem += "; " + decodeProblem;
    return result;
  }
  if (!decodeProblem.empty()) {
    result.problem = decodeProblem;
    return result;
  }
  result.ok = true;
  return result;
}

bool Installer::decodeUninstaller(std::vector<uint8_t>& image, std::string& problem) {
  if (!hasRecord_ || payloadEnd() > fileSize_) {
    problem = "the file is too short to hold the uninstaller blob after the setup script";
    return false;
  }
  useDecoderRegions();
  // Six bytes of the script's end, then the blob: h is among the ten bytes the decoder skips.
  std::vector<uint8_t> input(kReadBufferLead + kBlobSize, 0);
  if (scriptDecoded_ >= kReadBufferLead)
    std::memcpy(input.data(), arena_.base + scriptDecoded_ - kReadBufferLead, kReadBufferLead);
  readAt(payloadEnd() - kBlobSize, input.data() + kReadBufferLead, kBlobSize);
  image.assign(kUninstallerImageSize + 1, 0);
  StreamRecord strm{};
  strm.next_in = input.data();
  strm.avail_in = uint32_t(input.size());
  strm.next_out = image.data();
  strm.avail_out = uint32_t(image.size());
  strm.bzalloc = arenaAlloc;
  decompressInit(&strm, 0, 0);
  int32_t r = decompress(&strm);
  if (r != DecodeStreamEnd || strm.total_out_lo32 != kUninstallerImageSize) {
    problem = r == DecodeStreamEnd ? "the uninstaller blob decodes to " + std::to_string(strm.total_out_lo32) +
                                         " bytes instead of " + std::to_string(kUninstallerImageSize)
                                   : "the uninstaller blob does not decompress";
    return false;
  }
  image.resize(kUninstallerImageSize);
  return true;
}

}  // namespace mw::packager
