// The operating-system gate: the reported version becomes a one-byte release code (smaller is
// newer) that is compared with the oldest release the product accepts.
#include "checks/checks.h"
#include "checks/texts.h"

namespace mw {

int releaseCode(uint32_t major, uint32_t minor, uint32_t platformId) {
  // The major version is a signed number to the comparison: a value with the top bit set counts
  // as below 4, not as a very new system.
  const int32_t m = int32_t(major);
  if (m > 6) return kReleaseAboveTable;
  if (m == 6) {
    switch (minor) {
      case 3: return 2;
      case 2: return 3;
      case 1: return 4;
      default: return 5;
    }
  }
  if (m == 5) {
    switch (minor) {
      case 2: return 6;
      case 1: return 7;
      default: return 8;
    }
  }
  if (m == 4) {
    if (minor == 90) return 9;
    if (minor == 10) return 10;
    return platformId == kPlatformNt ? 12 : 11;
  }
  return minor == 51 ? 13 : kReleaseUnrecognised;
}

CheckOutcome osGate(uint8_t minimumOs, const OsVersion& os) {
  CheckOutcome pass{true, nullptr, nullptr, 0, false};
  if (minimumOs == 0) return pass;
  const int code = releaseCode(os.major, os.minor, os.platformId);
  if (code == kReleaseAboveTable) return pass;
  // Both sides are signed bytes: 255 is -1, so an unrecognised system passes, and requirements of
  // 128 and more refuse every release of the table.
  if (int8_t(minimumOs) >= int8_t(uint8_t(code))) return pass;
  return CheckOutcome{false, texts::kErrorCaption, texts::kUnsupportedOs, 16, false};
}

}  // namespace mw
