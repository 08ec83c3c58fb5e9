// The engine's views of the system for the checks' rules (checks/views.h names them
// DotNetRegistryView, AdminQuery and FolderQuery in the Windows build): the registry, the account
// database and the folders, asked with the Win32 API in checks_win32.cpp and destination_win32.cpp.
// Included by checks/views.h in the freestanding build; no Windows header needed to declare them.
#pragma once

#include <stdint.h>

#include "checks/views.h"

namespace mw {

class Win32DotNetRegistry {
 public:
  // The "Release" number of "Software\Microsoft\NET Framework Setup\NDP\v4\Full". False when the
  // key does not open or the value cannot be read as a 4-byte number.
  bool readRelease(uint32_t& release);
  // Opens "Software\Microsoft\NET Framework Setup\NDP"; false when it does not open.
  bool openNdpKey();
  // The subkey at `index` of the open NDP key, in the system's enumeration order. `name` has
  // room for `room` bytes, NUL included.
  SubkeyRead ndpSubkey(uint32_t index, char* name, uint32_t room);
  void closeNdpKey();
  // Whether "Software\Microsoft\.NET Framework\Policy\v1.0" exists.
  bool policyKeyExists();

 private:
  void* ndp_ = nullptr;  // the open NDP key (an HKEY)
};

// GetUserNameA, the name in UTF-16, NetUserGetInfo at level 1 through a netapi32 loaded at run
// time (the engine does not import it); CheckTokenMembership looked up at run time too, since
// the oldest systems the gate admits lack it.
class Win32AdminQuery {
 public:
  // The privilege level of the logged-on user (0 guest, 1 user, 2 administrator), or
  // kPrivilegeNoService or kPrivilegeLookupFailed.
  int32_t privilegeLevel();
  // Whether the process runs with the Administrators group in its token.
  bool memberOfAdministrators();
};

class Win32FolderQuery {
 public:
  // Writes the folder's text, NUL-terminated, into out (room bytes, NUL included) and returns its
  // length; returns 0 and leaves out empty when the folder cannot be had or does not fit.
  uint32_t folder(Folder which, char* out, uint32_t room);
};

}  // namespace mw
