#include "packager/builder.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "core/bytes.h"
#include "decompress/stored_writer.h"
#include "packager/output_file.h"
#include "packager/pe_image.h"
#include "packager/pe_resources.h"
#include "packager/progress.h"
#include "packager/script_writer.h"
#include "format/payload.h"

namespace fs = std::filesystem;

namespace mw::packager {
namespace {

// The decoder's block size: the engine always decodes with 900k blocks.
constexpr int kBlockSize100k = 9;
// Input bytes compressed ahead of the chunk being written, per thread: bounds memory while
// keeping every thread busy. Counted in bytes rather than chunks, since most chunks are
// small files: a window of three chunks a thread let one thread idle behind another's 1 MiB
// chunk after a few small ones.
constexpr uint64_t kAheadBytesPerThread = 4u << 20;

std::vector<uint8_t> readWhole(const fs::path& path, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw BuildError(std::string("cannot read the ") + what + " '" + path.string() + "'");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw BuildError(std::string("cannot read the ") + what + " '" + path.string() + "'");
  return bytes;
}

// Reads `length` bytes at `offset`; a short read means the file changed since it was listed.
void readRange(const SourceFile& source, uint64_t offset, uint8_t* out, size_t length) {
  std::ifstream in(source.path, std::ios::binary);
  if (!in) throw BuildError("cannot read '" + source.path.string() + "'");
  in.seekg(std::streamoff(offset));
  in.read(reinterpret_cast<char*>(out), std::streamsize(length));
  if (size_t(in.gcount()) != length)
    throw BuildError("'" + source.path.string() + "' changed while the installer was being built");
}

// A 64-bit content hash (FNV-1a over 8-byte words, then mixed): only used to find candidates
// for deduplication, which are then compared byte for byte.
uint64_t hashFile(const SourceFile& source) {
  std::ifstream in(source.path, std::ios::binary);
  if (!in) throw BuildError("cannot read '" + source.path.string() + "'");
  std::vector<char> buffer(1 << 20);
  uint64_t h = 0xcbf29ce484222325ull, total = 0;
  while (in) {
    in.read(buffer.data(), std::streamsize(buffer.size()));
    size_t n = size_t(in.gcount());
    total += n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, buffer.data() + i, 8);
      h = (h ^ w) * 0x100000001b3ull;
      h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ uint8_t(buffer[i])) * 0x100000001b3ull;
  }
  if (total != source.size)
    throw BuildError("'" + source.path.string() + "' changed while the installer was being built");
  return h;
}

bool sameContent(const SourceFile& a, const SourceFile& b) {
  std::ifstream x(a.path, std::ios::binary), y(b.path, std::ios::binary);
  if (!x || !y) return false;
  std::vector<char> bx(1 << 20), by(1 << 20);
  while (true) {
    x.read(bx.data(), std::streamsize(bx.size()));
    y.read(by.data(), std::streamsize(by.size()));
    if (x.gcount() != y.gcount()) return false;
    if (x.gcount() == 0) return true;
    if (std::memcmp(bx.data(), by.data(), size_t(x.gcount())) != 0) return false;
  }
}

// Distinct non-empty contents, in order of first appearance; `contentOf[i]` for file i (or -1
// for an empty file).
struct Contents {
  std::vector<size_t> representative;  // a file index per content
  std::vector<long> contentOf;
};

Contents findContents(const std::vector<SourceFile>& sources) {
  Contents c;
  c.contentOf.assign(sources.size(), -1);
  // Only files that share their size with another can be duplicates; most files are not read
  // an extra time.
  std::map<uint64_t, std::vector<size_t>> bySize;
  for (size_t i = 0; i < sources.size(); ++i)
    if (sources[i].size) bySize[sources[i].size].push_back(i);
  std::vector<size_t> duplicateOf(sources.size(), SIZE_MAX);
  for (auto& [size, group] : bySize) {
    if (group.size() < 2) continue;
    std::map<uint64_t, std::vector<size_t>> byHash;
    for (size_t i : group) byHash[hashFile(sources[i])].push_back(i);
    for (auto& [hash, same] : byHash) {
      std::vector<size_t> kept;  // first files of each truly distinct content
      for (size_t i : same) {
        auto it = std::find_if(kept.begin(), kept.end(), [&](size_t k) { return sameContent(sources[k], sources[i]); });
        if (it == kept.end()) kept.push_back(i);
        else duplicateOf[i] = *it;
      }
    }
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!sources[i].size) continue;
    if (duplicateOf[i] != SIZE_MAX) {
      c.contentOf[i] = c.contentOf[duplicateOf[i]];
    } else {
      c.contentOf[i] = long(c.representative.size());
      c.representative.push_back(i);
    }
  }
  return c;
}

struct ChunkJob {
  size_t content;
  uint64_t offset;
  uint32_t length;
};

// Compresses the jobs on `threads` threads and hands the framed chunks to `sink` in job order.
template <typename Sink>
void compressInOrder(const std::vector<ChunkJob>& jobs, const std::vector<SourceFile>& sources,
                     const std::vector<size_t>& representative, unsigned threads, Sink sink) {
  std::vector<std::optional<std::vector<uint8_t>>> done(jobs.size());
  std::mutex mutex;
  std::condition_variable changed;
  size_t written = 0;
  std::atomic<size_t> next{0};
  std::exception_ptr error;
  bool stop = false;
  // A job may start once the input from the first unwritten job to its own end fits in the
  // window (the first unwritten job itself always may).
  std::vector<uint64_t> endOf(jobs.size() + 1, 0);
  for (size_t j = 0; j < jobs.size(); ++j) endOf[j + 1] = endOf[j] + jobs[j].length;
  const uint64_t window = uint64_t(threads) * kAheadBytesPerThread;

  auto work = [&] {
    std::vector<uint8_t> input;
    while (true) {
      size_t j = next++;
      if (j >= jobs.size()) return;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || j == written || endOf[j + 1] - endOf[written] <= window; });
        if (stop) return;
      }
      try {
        const ChunkJob& job = jobs[j];
        input.resize(job.length);
        readRange(sources[representative[job.content]], job.offset, input.data(), job.length);
        std::vector<uint8_t> framed = frameChunk(writeStoredStream(input.data(), input.size(), kBlockSize100k));
        std::lock_guard lock(mutex);
        done[j] = std::move(framed);
      } catch (...) {
        std::lock_guard lock(mutex);
        if (!error) error = std::current_exception();
        stop = true;
      }
      changed.notify_all();
    }
  };

  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
  try {
    for (size_t j = 0; j < jobs.size(); ++j) {
      std::vector<uint8_t> chunk;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || done[j].has_value(); });
        if (stop) break;
        chunk = std::move(*done[j]);
        done[j].reset();
      }
      sink(j, chunk);
      {
        std::lock_guard lock(mutex);
        ++written;
      }
      changed.notify_all();
    }
  } catch (...) {
    std::lock_guard lock(mutex);
    if (!error) error = std::current_exception();
    stop = true;
  }
  changed.notify_all();
  for (auto& t : pool) t.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace

std::vector<uint8_t> frameChunk(const std::vector<uint8_t>& body) {
  uint64_t h = uint64_t(body.size()) + kChunkHeaderCount;
  if (h > kMaxChunkHeader)
    throw BuildError("a compressed chunk of " + std::to_string(body.size()) + " bytes exceeds the engine's chunk buffer");
  std::vector<uint8_t> out(kChunkPrefix + body.size());
  writeU32(out.data(), uint32_t(h));
  std::memcpy(out.data() + kChunkPrefix, body.data(), body.size());
  return out;
}

std::vector<uint8_t> makeUninstallerBlob(const std::vector<uint8_t>& image) {
  if (image.size() != kUninstallerImageSize)
    throw BuildError("the uninstaller image is " + std::to_string(image.size()) + " bytes; it must be exactly " +
                     std::to_string(kUninstallerImageSize));
  std::vector<uint8_t> body = writeStoredStream(image.data(), image.size(), kBlockSize100k);
  if (body.size() > kBlobBodySize)
    throw BuildError("the uninstaller image compresses to " + std::to_string(body.size()) +
                     " bytes; the uninstaller blob holds at most " + std::to_string(kBlobBodySize));
  // The blob's length is fixed; the bytes after the end-of-stream mark are never read.
  std::vector<uint8_t> blob(kBlobSize, 0);
  writeU32(blob.data(), kBlobHeader);
  std::memcpy(blob.data() + kChunkPrefix, body.data(), body.size());
  return blob;
}

BuildSummary buildInstaller(Project project, const BuildOptions& options) {
  ScriptModel& script = project.script;
  const std::vector<SourceFile>& sources = project.sources;
  if (script.files.empty() || script.files.size() != sources.size())
    throw BuildError("the project installs no files");

  std::vector<uint8_t> stub = readWhole(options.stub, "stub");
  if (stub.size() < kMinimumStubSize)
    throw BuildError("the stub '" + options.stub.string() + "' is " + std::to_string(stub.size()) +
                     " bytes; it must hold the locator record at " + std::to_string(kLocatorOffset) +
                     " and so be at least " + std::to_string(kMinimumStubSize));
  if (stub[0] != 'M' || stub[1] != 'Z') throw BuildError("the stub '" + options.stub.string() + "' is not a Windows program");
  // The product's icon and version resource go into the engine's own bytes first: whatever
  // finishes the installer afterwards sees them as part of the stub.
  try {
    applyProductIdentity(stub, project.identity);
  } catch (const std::runtime_error& e) {
    throw BuildError(options.stub.string() + ": " + e.what());
  }
  std::vector<uint8_t> blob;
  try {
    blob = makeUninstallerBlob(readWhole(options.uninstaller, "uninstaller image"));
  } catch (const BuildError& e) {
    throw BuildError(options.uninstaller.string() + ": " + e.what());
  }

  uint64_t inputBytes = 0;
  for (size_t i = 0; i < sources.size(); ++i) {
    inputBytes += sources[i].size;
    // chunkCount is 16 bits: 65,535 chunks of 1 MiB.
    if ((sources[i].size + kMaxChunkOutput - 1) / kMaxChunkOutput > 0xFFFF)
      throw BuildError("'" + sources[i].path.string() + "' is larger than the 65,535 MiB a file can hold");
  }

  Contents contents = findContents(sources);
  std::vector<ChunkJob> jobs;
  std::vector<size_t> firstJob(contents.representative.size());
  uint64_t uniqueBytes = 0;
  for (size_t c = 0; c < contents.representative.size(); ++c) {
    uint64_t size = sources[contents.representative[c]].size;
    uniqueBytes += size;
    firstJob[c] = jobs.size();
    for (uint64_t at = 0; at < size; at += kMaxChunkOutput)
      jobs.push_back({c, at, uint32_t(std::min<uint64_t>(kMaxChunkOutput, size - at))});
  }

  unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  AtomicOutput out(options.output);
  out.write(stub.data(), stub.size());

  struct Placement {
    uint32_t offset = 0;
    uint16_t chunks = 0;
    uint32_t checksum = 1;
  };
  std::vector<Placement> placed(contents.representative.size());
  auto checkSize = [&](uint64_t size) {
    if (size > 0xFFFFFFFFull) throw BuildError("the installer would be larger than 4 GiB, the most its offsets can address");
  };

  ProgressBar progress("packing", uniqueBytes, options.progress);
  compressInOrder(jobs, sources, contents.representative, threads, [&](size_t j, const std::vector<uint8_t>& chunk) {
    const ChunkJob& job = jobs[j];
    Placement& p = placed[job.content];
    if (j == firstJob[job.content]) p.offset = uint32_t(out.size());
    ++p.chunks;
    // The per-file checksum covers the compressed bodies, chained across the file's chunks.
    p.checksum = adler32Update(p.checksum, chunk.data() + kChunkPrefix, uint32_t(chunk.size() - kChunkPrefix));
    out.write(chunk.data(), chunk.size());
    checkSize(out.size());
    progress.advance(job.length);
  });
  progress.finish();
  uint64_t storedBytes = out.size() - stub.size();

  for (size_t i = 0; i < script.files.size(); ++i) {
    ScriptFile& f = script.files[i];
    if (contents.contentOf[i] < 0) {
      f.dataOffset = 0;
      f.chunkCount = 0;
      f.checksum = 1;
    } else {
      const Placement& p = placed[size_t(contents.contentOf[i])];
      f.dataOffset = p.offset;
      f.chunkCount = p.chunks;
      f.checksum = p.checksum;
    }
  }

  std::vector<uint8_t> scriptBytes;
  try {
    scriptBytes = writeScript(script);
  } catch (const std::invalid_argument& e) {
    throw BuildError(std::string("cannot write the setup script: ") + e.what());
  }
  // Read it back with the engine's own readers: what the stub will see must be what we meant.
  std::string readError;
  auto readBack = readScript(scriptBytes.data(), uint32_t(scriptBytes.size()), readError);
  if (!readBack || !(*readBack == script))
    throw BuildError("internal error: the setup script does not read back as written (" + readError + ")");

  std::vector<uint8_t> body = writeStoredStream(scriptBytes.data(), scriptBytes.size(), kBlockSize100k);
  std::vector<uint8_t> stored(4 + body.size());
  writeU32(stored.data(), uint32_t(scriptBytes.size()));
  std::memcpy(stored.data() + 4, body.data(), body.size());

  LocatorRecord record;
  record.scriptOffset = uint32_t(out.size());
  record.scriptLength = uint32_t(stored.size());
  out.write(stored.data(), stored.size());
  out.write(blob.data(), blob.size());
  checkSize(out.size());
  record.checksum = adler32Update(adler32Update(1, stored.data(), uint32_t(stored.size())), blob.data(), kBlobSize);

  uint8_t raw[kLocatorSize];
  writeLocator(raw, record);
  out.writeAt(kLocatorOffset, raw, kLocatorSize);
  // Always the last write: the checksum covers every byte written before it.
  finishImage(out);
  uint64_t finalSize = out.size();
  out.commit();

  BuildSummary summary;
  summary.installerSize = finalSize;
  summary.files = script.files.size();
  summary.storedContents = contents.representative.size();
  summary.chunks = jobs.size();
  summary.inputBytes = inputBytes;
  summary.storedBytes = storedBytes;
  summary.scriptLength = uint32_t(scriptBytes.size());
  return summary;
}

}  // namespace mw::packager
