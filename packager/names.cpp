#include "packager/names.h"

#include <cstdio>

namespace mw::packager {

const std::map<std::string, uint8_t> kDestinationKinds = {
    {"absolute", 0},  {"windows-drive", 1}, {"program-files", 2}, {"common-files", 3},
    {"windows", 4},   {"system", 5},        {"profile", 6},       {"appdata", 7},
    {"documents", 8}, {"desktop", 9},       {"current", 10},
};

// Release codes: a smaller code is a newer release.
const std::map<std::string, uint8_t> kWindowsReleases = {
    {"none", 0},          {"windows-10", 1},     {"windows-8.1", 2},  {"windows-8", 3},
    {"windows-7", 4},     {"windows-vista", 5},  {"windows-xp-x64", 6}, {"windows-server-2003", 6},
    {"windows-xp", 7},    {"windows-2000", 8},   {"windows-me", 9},   {"windows-98", 10},
    {"windows-95", 11},   {"windows-nt4", 12},   {"windows-nt3.51", 13},
};

const std::map<std::string, uint8_t> kDotNetReleases = {
    {"4.7", 1}, {"4.6", 2}, {"4.5", 3}, {"4.0", 4}, {"3.5", 5},
    {"3.0", 6}, {"2.0", 7}, {"1.1", 8}, {"1.0", 9},
};

const std::map<std::string, uint8_t> kShortcutPlaces = {
    {"desktop", 'D'}, {"start-menu", 'M'}, {"program-group", 'P'}, {"quick-launch", 'Q'}, {"startup", 'S'},
};

const std::map<std::string, uint32_t> kRegistryRoots = {
    {"HKEY_CLASSES_ROOT", 0x80000000u},     {"HKCR", 0x80000000u},
    {"HKEY_CURRENT_USER", 0x80000001u},     {"HKCU", 0x80000001u},
    {"HKEY_LOCAL_MACHINE", 0x80000002u},    {"HKLM", 0x80000002u},
    {"HKEY_USERS", 0x80000003u},            {"HKU", 0x80000003u},
    {"HKEY_PERFORMANCE_DATA", 0x80000004u}, {"HKEY_CURRENT_CONFIG", 0x80000005u},
    {"HKCC", 0x80000005u},                  {"HKEY_DYN_DATA", 0x80000006u},
};

const std::map<std::string, uint8_t> kRegistryTypes = {
    {"string", 1}, {"expand-string", 2}, {"binary", 3}, {"dword", 4},
};

const std::map<std::string, uint8_t> kBannerAlignments = {
    {"left", 0}, {"centre", 1}, {"right", 2},
};

const std::map<std::string, uint8_t> kRunFrom = {
    {"install-dir", 1}, {"program-files", 2}, {"windows", 3}, {"system", 4}, {"path", 5}, {"url", 5},
};

std::string rootName(uint32_t root) {
  for (auto& [name, v] : kRegistryRoots)
    if (v == root && name.rfind("HKEY_", 0) == 0) return name;
  return std::to_string(root);
}

std::string colourName(uint32_t c) {
  char s[8];
  std::snprintf(s, sizeof s, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  return s;
}

}  // namespace mw::packager
