// Seed corpora for the fuzz targets, made from a real installer built by the packager:
//   make_seeds SETUP.EXE OUTDIR
// writes OUTDIR/installer (the installer and cut copies of it), OUTDIR/script (the decoded
// setup script), OUTDIR/decoder (every stored stream of the installer, in the decoder
// target's input form) and OUTDIR/uninstall_log (logs like those an installation writes).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "format/arena.h"
#include "format/payload.h"
#include "format/script.h"

namespace fs = std::filesystem;

namespace {

void save(const fs::path& dir, const std::string& name, const uint8_t* data, size_t size) {
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

// The decoder target takes three bytes that seed its piece sizes, then a stored body.
void saveStream(const fs::path& dir, const std::string& name, const uint8_t* body, size_t size) {
  std::vector<uint8_t> seed = {0x5a, 0x13, 0x77};
  seed.insert(seed.end(), body, body + size);
  save(dir, name, seed.data(), seed.size());
}

void addString(std::vector<uint8_t>& log, const std::string& s) {
  log.insert(log.end(), s.begin(), s.end());
  log.push_back(0);
}

void addRecord(std::vector<uint8_t>& log, uint8_t kind, uint32_t root, const std::string& key,
               const std::string* value) {
  log.push_back(kind);
  for (int i = 0; i < 4; ++i) log.push_back(uint8_t(root >> (8 * i)));
  addString(log, key);
  if (value) addString(log, *value); else log.push_back(0xFF);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_seeds SETUP.EXE OUTDIR\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::path out = argv[2];
  if (file.size() < mw::kMinimumStubSize) {
    std::fprintf(stderr, "make_seeds: %s is not an installer\n", argv[1]);
    return 1;
  }

  save(out / "installer", "whole", file.data(), file.size());
  save(out / "installer", "cut-in-blob", file.data(), file.size() - 100);
  save(out / "installer", "cut-in-stub", file.data(), mw::kMinimumStubSize + 64);

  mw::LocatorRecord record = mw::parseLocator(file.data() + mw::kLocatorOffset);
  uint32_t allocate = 0, readLength = 0;
  if (!mw::readBufferSizes(record, allocate, readLength) ||
      uint64_t(record.scriptOffset) + readLength > file.size()) {
    std::fprintf(stderr, "make_seeds: the locator record does not fit the file\n");
    return 1;
  }
  std::vector<uint8_t> readBuffer(allocate, 0);
  std::copy_n(file.begin() + record.scriptOffset, readLength, readBuffer.begin() + mw::kReadBufferLead);
  saveStream(out / "decoder", "script", readBuffer.data() + mw::kReadBufferLead + 4, record.scriptLength - 4);
  const uint8_t* blob = file.data() + record.scriptOffset + record.scriptLength;
  saveStream(out / "decoder", "uninstaller", blob + 4, mw::kBlobBodySize);

  uint32_t scriptLength = mw::scriptDecodedLength(readBuffer.data());
  uint32_t arenaSize = 0;
  if (!mw::arenaSizeFor(scriptLength, arenaSize)) return 1;
  std::unique_ptr<uint8_t[]> block(new uint8_t[arenaSize]());
  mw::Arena arena{};
  mw::layOutArena(arena, block.get(), scriptLength);
  mw::loadScript(readBuffer.data(), record, arena);
  save(out / "script", "sample", arena.base, scriptLength);

  // Every file's chunks, one seed per chunk (the first few files are plenty).
  mw::SetupScript front;
  if (mw::parseFront(arena.base, scriptLength, front)) {
    mw::ScriptCursor cursor;
    mw::startLists(cursor, arena.base, scriptLength, front);
    mw::FileEntry entry;
    for (int n = 0; n < 8 && mw::nextFileEntry(cursor, entry) == mw::ReadItem; ++n) {
      if (!entry.dataOffset || entry.dataOffset + 4 > file.size()) continue;
      uint32_t h = mw::readU32(file.data() + entry.dataOffset);
      if (h < mw::kChunkHeaderCount ||
          entry.dataOffset + mw::kChunkPrefix + uint64_t(h - mw::kChunkHeaderCount) > file.size())
        continue;
      saveStream(out / "decoder", "file" + std::to_string(n), file.data() + entry.dataOffset + mw::kChunkPrefix,
                 h - mw::kChunkHeaderCount);
    }
  }

  std::vector<uint8_t> log;
  addString(log, "Sample Product");
  addString(log, "C:\\Program Files\\Sample");
  addString(log, "readme.txt");
  addString(log, "bin\\tool.exe");
  addString(log, "docs\\guide.hlp");
  log.push_back(0);
  addString(log, "Sample\\Tools");
  addString(log, "C:\\Users\\me\\Desktop\\Tool.lnk");
  log.push_back(0);
  std::string value = "Path";
  addRecord(log, 'C', 0x80000001, "Software\\Sample", &value);
  addRecord(log, 'O', 0x80000002, "Software\\Classes\\.smp", nullptr);
  std::string empty;
  addRecord(log, 'C', 0x80000002, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sample Product", &empty);
  save(out / "uninstall_log", "sample", log.data(), log.size());
  log.push_back(0);
  save(out / "uninstall_log", "sample-terminated", log.data(), log.size());
  return 0;
}
