// The names the project file and `list` use for the script's numeric codes.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace mw::packager {

extern const std::map<std::string, uint8_t> kDestinationKinds;   // destinationKind
extern const std::map<std::string, uint8_t> kWindowsReleases;    // minimumOs
extern const std::map<std::string, uint8_t> kDotNetReleases;     // dotNetRequired
extern const std::map<std::string, uint8_t> kShortcutPlaces;     // shortcut kind letters
extern const std::map<std::string, uint32_t> kRegistryRoots;     // root keys (with short forms)
extern const std::map<std::string, uint8_t> kRegistryTypes;      // value types by name
extern const std::map<std::string, uint8_t> kBannerAlignments;
extern const std::map<std::string, uint8_t> kRunFrom;            // runKind

// The first name (in the table's order) for a value, or the number itself.
template <typename Map, typename Value>
std::string nameOf(const Map& names, Value value) {
  for (auto& [name, v] : names)
    if (v == value) return name;
  return std::to_string(uint64_t(value));
}

// The long name of a registry root ("HKEY_..."), or its number.
std::string rootName(uint32_t root);

// "#RRGGBB" for a COLORREF (0x00BBGGRR).
std::string colourName(uint32_t colourRef);

}  // namespace mw::packager
