// A one-line progress bar on stderr, shown only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace mw::packager {

class ProgressBar {
 public:
  ProgressBar(std::string label, uint64_t total, bool enabled);
  ~ProgressBar();
  void advance(uint64_t amount);
  void finish();

 private:
  void draw(bool force);
  std::string label_;
  uint64_t total_, done_ = 0;
  bool enabled_;
  bool finished_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// True when stderr is a terminal.
bool stderrIsTerminal();

}  // namespace mw::packager
