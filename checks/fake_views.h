// The checks' views of the system as the host tests script them (host only: the standard library
// is at hand). Each counts what it was asked, so a test can see that nothing is read when nothing
// is required.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "checks/views.h"

namespace mw {

// A registry with the three places the .NET check reads.
struct FakeDotNet {
  bool hasRelease = false;
  uint32_t release = 0;
  bool hasNdp = false;
  std::vector<std::string> subkeys;  // in enumeration order; "\x01" marks an unreadable name
  bool hasPolicy = false;
  int calls = 0;
  bool ndpOpen = false;
  int ndpCloses = 0;
  uint32_t maxIndexAsked = 0;

  bool readRelease(uint32_t& value) {
    ++calls;
    if (hasRelease) value = release;
    return hasRelease;
  }
  bool openNdpKey() {
    ++calls;
    ndpOpen = hasNdp;
    return hasNdp;
  }
  SubkeyRead ndpSubkey(uint32_t index, char* name, uint32_t room) {
    ++calls;
    EXPECT_TRUE(ndpOpen);
    maxIndexAsked = std::max(maxIndexAsked, index);
    if (index >= subkeys.size()) return SubkeyRead::end;
    if (subkeys[index] == "\x01") return SubkeyRead::unreadable;
    EXPECT_LT(subkeys[index].size(), room);
    snprintf(name, room, "%s", subkeys[index].c_str());
    return SubkeyRead::entry;
  }
  void closeNdpKey() {
    ndpOpen = false;
    ++ndpCloses;
  }
  bool policyKeyExists() {
    ++calls;
    return hasPolicy;
  }
};

// An account with a privilege level and a group membership.
struct FakeAccounts {
  int32_t level;
  bool member = false;
  int asked = 0;
  int membershipAsked = 0;
  explicit FakeAccounts(int32_t l, bool m = false) : level(l), member(m) {}
  int32_t privilegeLevel() {
    ++asked;
    return level;
  }
  bool memberOfAdministrators() {
    ++membershipAsked;
    return member;
  }
};

// The folders a test names; every other folder cannot be had. `rooms` records the room each
// query was given.
struct FakeFolders {
  std::map<Folder, std::string> known;
  std::vector<uint32_t> rooms;
  uint32_t folder(Folder which, char* out, uint32_t room) {
    rooms.push_back(room);
    auto it = known.find(which);
    if (it == known.end() || it->second.size() >= room) {
      out[0] = 0;
      return 0;
    }
    snprintf(out, room, "%s", it->second.c_str());
    return uint32_t(it->second.size());
  }
};

}  // namespace mw
