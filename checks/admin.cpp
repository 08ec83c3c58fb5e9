// The administrator requirement: only NT has accounts to ask about. The local account database's
// privilege level 2 is an administrator; so is an account whose token carries the Administrators
// group, which the database cannot tell for domain accounts.
#include "checks/checks.h"
#include "checks/texts.h"

namespace mw {

CheckOutcome adminCheck(uint8_t requireAdmin, uint32_t platformId, const char* productName,
                        AdminQuery& query, char* textBuffer, uint32_t size) {
  CheckOutcome pass{true, nullptr, nullptr, 0, false};
  if (requireAdmin == 0 || platformId != kPlatformNt) return pass;
  const int32_t level = query.privilegeLevel();
  if (level == kPrivilegeAdmin || level == kPrivilegeNoService) return pass;
  if (query.memberOfAdministrators()) return pass;
  if (size == 0) return CheckOutcome{false, texts::kErrorCaption, "", 16, false};
  formatText(textBuffer, size, texts::kAdminRequired, productName);
  return CheckOutcome{false, texts::kErrorCaption, textBuffer, 16, false};
}

}  // namespace mw
