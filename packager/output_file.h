// An output file that appears complete or not at all: written under a temporary name beside
// its destination and renamed over it only when everything succeeded. A failure, an exception
// or an interrupt (SIGINT, SIGTERM, SIGHUP) removes the temporary file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace mw::packager {

class AtomicOutput {
 public:
  // Throws std::runtime_error when the temporary file cannot be created.
  explicit AtomicOutput(const std::filesystem::path& destination);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  void write(const void* data, size_t size);
  void writeAt(uint64_t offset, const void* data, size_t size);
  uint64_t size() const { return size_; }
  // Renames the temporary file to the destination. Throws on failure (the temporary is removed).
  void commit();

 private:
  std::filesystem::path destination_;
  std::string temporary_;
  int fd_ = -1;
  uint64_t size_ = 0;
  bool committed_ = false;
};

}  // namespace mw::packager
