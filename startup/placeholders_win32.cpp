// Stand-ins for the parts of the engine that are not in the tree yet, so the stub links and its
// layout can be checked while they are being written. Each block is compiled only while its
// library is missing (see stub_win32.cmake) and says so when it runs. Remove once all landed.
#include <windows.h>

#if defined(MW_PLACEHOLDER_WIZARD)
#include "wizard/wizard.h"
namespace mw {
volatile uint8_t wizardPage;
void runWizard(const WizardStart&) {
  MessageBoxA(nullptr, "The wizard is not part of this build yet.", "Error", MB_OK | MB_ICONHAND);
}
void showSplash(const Picture&, uint8_t, void*) {}
void wizardShowFile(const char*) {}
void wizardSetProgress(uint32_t) {}
bool wizardPausePoint() { return true; }
void* wizardWindow() { return nullptr; }
void showFinishedPage(const char*) { wizardPage = 6; }
}  // namespace mw
#endif

#if defined(MW_PLACEHOLDER_INSTALL)
#include "install/install.h"
namespace mw {
InstallOutcome installWorker(InstallJob&) {
  MessageBoxA(nullptr, "The installation worker is not part of this build yet.", "Error",
              MB_OK | MB_ICONHAND);
  return InstallStopped;
}
}  // namespace mw
#endif

#if defined(MW_PLACEHOLDER_DECODER)
#include "decompress/decompress.h"
namespace mw {
const uint32_t kStateRegionSize = 64116;
DecoderRegions decoderRegions;
int32_t decompressInit(StreamRecord*, int32_t, int32_t) { return DecodeParamError; }
int32_t decompress(StreamRecord*) { return DecodeParamError; }
void* arenaAlloc(void*, int32_t, int32_t) { return nullptr; }
}  // namespace mw
#endif
