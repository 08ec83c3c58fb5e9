// Peak memory of a silent installation: runs the whole engine on the host platform over an
// installer file (read in place, as the stub reads its own file) and prints the process's
// peak resident set size. bench/memory/run compares a small and a large payload.
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/host_engine.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: install_memory SETUP.EXE WORKDIR\n");
    return 2;
  }
  std::filesystem::remove_all(argv[2]);
  std::filesystem::create_directories(argv[2]);
  int outcome;
  {
    mw::HostPlatform os(argv[2]);
    os.installerFile = argv[1];
    outcome = mw::test::runSilentEngine(os, "C:\\Dest");
  }
  struct rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("outcome %d, peak RSS %ld KiB\n", outcome, usage.ru_maxrss);
  return outcome == mw::test::EngineFinished ? 0 : 1;
}
