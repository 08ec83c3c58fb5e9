// The engine's start-up as far as a silent installation goes, run on the host platform: the
// payload check, the arena, the script, then the installation worker. The environment checks
// are left out (they look at the system, not the payload). Shared by the corruption campaign
// and the memory benchmark, which both need "the whole engine, natively".
#pragma once

#include <cstdint>

#include "install/fake_system.h"

namespace mw::test {

enum EngineOutcome : int {
  EngineFinished = 10,            // the worker ran to its end, every file as the script says
  EngineFinishedIncomplete = 11,  // it ran to its end; the user went on past a damaged file
  EngineRefusedPayload = 20,      // the payload could not be used: the user was told
  EngineRefusedScript = 21,       // the script's lists are malformed: the user was told
  EngineStopped = 22,             // the user stopped at one of the worker's questions
  EngineStoppedSilently = 32,     // stopped without asking anything: a defect
  EngineUnknown = 99,
};

// Runs "setup.exe /s <installDir>" over `os` (its installer bytes or file set up by the caller).
// The refusals the Windows start-up shows on its own are recorded in os.questions as well.
int runSilentEngine(HostPlatform& os, const char* installDir);

}  // namespace mw::test
