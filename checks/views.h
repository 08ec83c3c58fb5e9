// The checks' seam: the views of the system the rules ask (the registry for .NET, the account
// database, the folders). Each build has one implementation of each and names it here; the rules
// call it directly:
//
//   checks/views_win32.h  the Win32 views the engine links (checks_win32.cpp, destination_win32.cpp)
//   checks/fake_views.h   the tests' scripted views on the host
//
// The concepts below are the contract both keep, checked at compile time.
#pragma once

#include <stdint.h>

namespace mw {

// One step of the NDP key's subkey enumeration.
enum class SubkeyRead : uint8_t {
  entry,       // a subkey; its name is in the buffer
  unreadable,  // a subkey whose name did not fit the buffer: counts as an entry, matches nothing
  end,         // no more items, or the enumeration cannot go on
};

// The folders a FolderQuery answers.
enum class Folder : uint8_t {
  windows,      // GetWindowsDirectoryA
  system,       // GetSystemDirectoryA
  programFiles, // "ProgramFilesDir" of HKLM\Software\Microsoft\Windows\CurrentVersion
  commonFiles,  // "CommonFilesDir" of the same key
  userProfile,  // environment variable "UserProfile"
  appData,      // environment variable "AppData"
  documents,    // special folder CSIDL_PERSONAL
  desktop,      // special folder CSIDL_DESKTOPDIRECTORY
  current,      // GetCurrentDirectoryA
};

// What the .NET rules ask of the registry (all under HKEY_LOCAL_MACHINE, read-only).
template <typename V>
concept DotNetRegistryCalls = requires {
  // The "Release" number of "Software\Microsoft\NET Framework Setup\NDP\v4\Full". False when the
  // key does not open or the value cannot be read as a 4-byte number.
  static_cast<bool (V::*)(uint32_t& release)>(&V::readRelease);
  // Opens "Software\Microsoft\NET Framework Setup\NDP"; false when it does not open.
  static_cast<bool (V::*)()>(&V::openNdpKey);
  // The subkey at `index` of the open NDP key, in the system's enumeration order. `name` has
  // room for `room` bytes, NUL included.
  static_cast<SubkeyRead (V::*)(uint32_t index, char* name, uint32_t room)>(&V::ndpSubkey);
  static_cast<void (V::*)()>(&V::closeNdpKey);
  // Whether "Software\Microsoft\.NET Framework\Policy\v1.0" exists.
  static_cast<bool (V::*)()>(&V::policyKeyExists);
};

// The account database and the process token.
template <typename V>
concept AdminCalls = requires {
  // The privilege level of the logged-on user (0 guest, 1 user, 2 administrator) or one of the
  // kPrivilege values of checks.h.
  static_cast<int32_t (V::*)()>(&V::privilegeLevel);
  // Whether the process runs with the Administrators group in its token. Asked only when the
  // account database does not rate the account as an administrator: a domain account has no
  // local record, and some systems' databases rate every account as a guest, yet the group
  // membership is what actually grants the rights the installation needs.
  static_cast<bool (V::*)()>(&V::memberOfAdministrators);
};

// The folders.
template <typename V>
concept FolderCalls = requires {
  // Writes the folder's text, NUL-terminated, into out (room bytes, NUL included) and returns its
  // length; returns 0 and leaves out empty when the folder cannot be had or does not fit.
  static_cast<uint32_t (V::*)(Folder which, char* out, uint32_t room)>(&V::folder);
};

}  // namespace mw

#if MARLOWICK_FREESTANDING
#include "checks/views_win32.h"
namespace mw {
using DotNetRegistryView = Win32DotNetRegistry;
using AdminQuery = Win32AdminQuery;
using FolderQuery = Win32FolderQuery;
}  // namespace mw
#else
#include "checks/fake_views.h"
namespace mw {
using DotNetRegistryView = FakeDotNet;
using AdminQuery = FakeAccounts;
using FolderQuery = FakeFolders;
}  // namespace mw
#endif

static_assert(mw::DotNetRegistryCalls<mw::DotNetRegistryView>, "the registry view misses a call");
static_assert(mw::AdminCalls<mw::AdminQuery>, "the account view misses a call");
static_assert(mw::FolderCalls<mw::FolderQuery>, "the folder view misses a call");
