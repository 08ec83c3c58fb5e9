// An output file that appears complete or not at all: written under a temporary name beside
// its destination and renamed over it only when everything succeeded. A failure, an exception
// or an interrupt (SIGINT, SIGTERM, SIGHUP) removes the temporary file. The interrupt's clean-up
// serves other temporary files and tools too (the two classes beside it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/types.h>

namespace mw::packager {

// Refuses an output path that is not a new name or a regular file (a device, a folder, a link,
// "-" for standard output), which renaming over would replace, and creates a missing folder
// for it. Throws std::runtime_error with the reason.
void prepareOutputPath(const std::filesystem::path& destination);

// While it lives, an interrupt (SIGINT, SIGTERM, SIGHUP) removes `path` (a temporary file its
// owner removes itself otherwise). Throws std::runtime_error when the path is too long.
class RemovedOnInterrupt {
 public:
  explicit RemovedOnInterrupt(const std::string& path);
  ~RemovedOnInterrupt();
  // The file's name once mkstemp has filled in the pattern given (the same length).
  void named(const std::string& path);
  RemovedOnInterrupt(const RemovedOnInterrupt&) = delete;
  RemovedOnInterrupt& operator=(const RemovedOnInterrupt&) = delete;

 private:
  int slot_;
};

class AtomicOutput {
 public:
  // Throws std::runtime_error when the temporary file cannot be created.
  explicit AtomicOutput(const std::filesystem::path& destination);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void write(const void* data, size_t size);
  void writeAt(uint64_t offset, const void* data, size_t size);
  // Reads back what was written; false when the range is not all there.
  bool readAt(uint64_t offset, uint8_t* data, size_t size) const;
  // The temporary file's name, for a tool that writes the file itself (the signer).
  const std::string& temporaryPath() const { return temporary_; }
  uint64_t size() const { return size_; }
  // Closes and removes the temporary file so that another program can create it under the
  // same name (one that writes only new files); commit() then renames what it wrote.
  void releaseForWriter();
  // Renames the temporary file to the destination. Throws on failure (the temporary is removed).
  void commit();

 private:
  std::filesystem::path destination_;
  std::string temporary_;
  int fd_ = -1;
  uint64_t size_ = 0;
  bool committed_ = false;
  std::optional<RemovedOnInterrupt> onInterrupt_;  // until committed
};

// While it lives, an interrupt first ends the tool `child` (SIGTERM) and waits for it, so it
// cannot write a temporary file after that was removed.
class ChildEndedOnInterrupt {
 public:
  explicit ChildEndedOnInterrupt(pid_t child);
  ~ChildEndedOnInterrupt();
  ChildEndedOnInterrupt(const ChildEndedOnInterrupt&) = delete;
  ChildEndedOnInterrupt& operator=(const ChildEndedOnInterrupt&) = delete;
};

}  // namespace mw::packager
