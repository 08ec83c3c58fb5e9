#include "packager/progress.h"

#include <unistd.h>

#include <cstdio>

namespace mw::packager {

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(std::string label, uint64_t total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled) {
  draw(true);
}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::advance(uint64_t amount) {
  done_ += amount;
  draw(false);
}

void ProgressBar::finish() {
  if (!enabled_ || finished_) return;
  finished_ = true;
  draw(true);
  std::fputc('\n', stderr);
}

void ProgressBar::draw(bool force) {
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  constexpr int kWidth = 32;
  double fraction = total_ ? double(done_) / double(total_) : 1.0;
  if (fraction > 1) fraction = 1;
  int filled = int(fraction * kWidth);
  char bar[kWidth + 1];
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = 0;
  std::fprintf(stderr, "\r%s [%s] %3d%%  %.1f / %.1f MiB", label_.c_str(), bar, int(fraction * 100),
               double(done_) / 1048576.0, double(total_) / 1048576.0);
  std::fflush(stderr);
}

}  // namespace mw::packager
