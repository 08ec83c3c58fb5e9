// The .NET Framework requirement: find the newest installed release from the registry, on the
// same code scale as the script's requirement, and compare.
#include "checks/checks.h"
#include "checks/texts.h"

namespace mw {
namespace {

// Subkey names of the NDP key by the code they stand for, from 4 (v4.0) to 8 (v1.1); a name
// matches when it begins with one of them, e.g. "v2.0.50727".
constexpr char kSubkeyPrefixes[][5] = {"v4.0", "v3.5", "v3.0", "v2.0", "v1.1"};

// The code a subkey name of the NDP key stands for, or 0 when it names none we know.
uint8_t subkeyCode(const char* name) {
  for (uint8_t i = 0; i < 5; ++i)
    if (startsWith(name, kSubkeyPrefixes[i])) return uint8_t(4 + i);
  return 0;
}

}  // namespace

uint8_t installedDotNet(DotNetRegistryView& registry) {
  uint32_t release = 0;
  if (registry.readRelease(release)) {
    const int32_t r = int32_t(release);
    if (r >= 528040) return kDotNetAllMet;
    if (r >= 460798) return 1;
    if (r >= 393295) return 2;
    return 3;
  }

  uint8_t installed = kDotNetNone;
  if (registry.openNdpKey()) {
    char name[kSubkeyNameRoom];
    for (uint32_t index = 0;; ++index) {
      name[0] = 0;
      const SubkeyRead read = registry.ndpSubkey(index, name, sizeof name);
      if (read == SubkeyRead::end) break;
      if (read != SubkeyRead::entry) continue;
      name[sizeof name - 1] = 0;
      const uint8_t code = subkeyCode(name);
      if (code == 4) {
        installed = 4;  // nothing older can change the answer
        break;
      }
      // Alphabetical order puts the newest of these releases last, so a later match wins.
      if (code != 0) installed = code;
    }
    registry.closeNdpKey();
  }
  if (installed == kDotNetNone && registry.policyKeyExists()) installed = 9;
  return installed;
}

const char* dotNetVersionText(uint8_t dotNetRequired) {
  static constexpr char kTexts[][4] = {"4.7", "4.6", "4.5", "4.0", "3.5", "3.0", "2.0", "1.1", "1.0"};
  const uint32_t index = dotNetRequired - 1u;  // 0 wraps past the table to "1.0"
  return kTexts[index < 8 ? index : 8];
}

CheckOutcome dotNetCheck(uint8_t dotNetRequired, const char* dotNetInstaller,
                         DotNetRegistryView& registry, char* textBuffer, uint32_t size) {
  CheckOutcome pass{true, nullptr, nullptr, 0, false};
  if (dotNetRequired == 0) return pass;
  const uint8_t installed = installedDotNet(registry);
  if (installed == kDotNetAllMet) return pass;
  if (int8_t(dotNetRequired) >= int8_t(installed)) return pass;

  if (size == 0) return CheckOutcome{false, texts::kErrorCaption, "", 16, false};
  formatText(textBuffer, size, texts::kDotNetRequired, dotNetVersionText(dotNetRequired));
  if (dotNetInstaller == nullptr || dotNetInstaller[0] == 0)
    return CheckOutcome{false, texts::kErrorCaption, textBuffer, 16, false};
  // Only offer to open the installer when the question itself reaches the user.
  if (!appendText(textBuffer, size, texts::kDotNetOfferInstall))
    return CheckOutcome{false, texts::kErrorCaption, textBuffer, 16, false};
  return CheckOutcome{false, texts::kErrorCaption, textBuffer, 20, true};
}

}  // namespace mw
