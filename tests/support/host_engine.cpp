#include "tests/support/host_engine.h"

#include <cstring>
#include <filesystem>
#include <memory>

#include "install/install.h"
#include "format/arena.h"
#include "format/payload.h"
#include "format/script.h"

namespace mw::test {

int runSilentEngine(HostPlatform& os, const char* installDir) {
  auto refuse = [&](int code) {
    os.questions.push_back({"Error", "refused", 16, false});
    return code;
  };
  uint8_t locator[kLocatorSize];
  if (os.readInstaller(kLocatorOffset, locator, kLocatorSize) != kLocatorSize) return refuse(EngineRefusedPayload);
  const LocatorRecord record = parseLocator(locator);

  uint32_t allocate = 0, toRead = 0;
  std::unique_ptr<uint8_t[]> readBuffer;
  // A 32-bit process gets no more than this; the Windows start-up refuses when the heap says no.
  // As the Windows start-up: a record that reaches past the file's end is a damaged payload.
  const uint64_t fileSize = os.installerFile.empty() ? os.installer.size()
                                                     : std::filesystem::file_size(os.installerFile);
  if (payloadInsideFile(record, uint32_t(fileSize)) && readBufferSizes(record, allocate, toRead) &&
      allocate < (256u << 20)) {
    readBuffer.reset(new uint8_t[allocate]());
    os.readInstaller(record.scriptOffset, readBuffer.get() + kReadBufferLead, toRead);
  }
  const bool payloadSuspect = !readBuffer || !payloadIntact(readBuffer.get(), record);
  if (payloadSuspect) {
    if (os.ask("Error", "Installer corrupted or incomplete.", 20, false) != AnswerYes) return EngineRefusedPayload;
    if (!readBuffer) return refuse(EngineRefusedPayload);
  }
  const uint32_t scriptLength = scriptDecodedLength(readBuffer.get());
  uint32_t arenaSize = 0;
  if (!arenaSizeFor(scriptLength, arenaSize) || arenaSize > (512u << 20)) return refuse(EngineRefusedPayload);
  std::unique_ptr<uint8_t[]> block(new uint8_t[arenaSize]());
  Arena arena{};
  layOutArena(arena, block.get(), scriptLength);
  const LoadResult loaded = loadScript(readBuffer.get(), record, arena);
  readBuffer.reset();
  std::strncpy(arena.installDir, installDir, kInstallDirSize - 1);
  if (loaded != LoadOk) return refuse(EngineRefusedPayload);
  SetupScript front;
  if (!parseFront(arena.base, arena.scriptLength, front)) return refuse(EngineRefusedPayload);

  ScriptCursor cursor{};
  InstallJob job{};
  job.platform = &os;
  job.arena = &arena;
  job.front = &front;
  job.blobOffset = record.scriptOffset + record.scriptLength;
  job.wizard = false;
  job.payloadSuspect = payloadSuspect;
  job.cursor = &cursor;
  switch (installWorker(job)) {
    case InstallDone: return EngineFinished;
    case InstallIncomplete: return EngineFinishedIncomplete;
    case InstallStopped: return os.questions.empty() ? EngineStoppedSilently : EngineStopped;
    case InstallCorrupt: return refuse(EngineRefusedScript);
    case InstallBadDestination:
    case InstallNoMemory: return refuse(EngineRefusedPayload);
    default: return EngineUnknown;
  }
}

}  // namespace mw::test
