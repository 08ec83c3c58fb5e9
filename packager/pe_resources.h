// What setup.exe shows of itself before it runs: the product's icon in place of the engine's
// icon group 1 images, and a version resource with the product's name, version, publisher,
// description and copyright. Both are written into the engine's own bytes, in room the engine
// already holds, so no header, section or other resource moves; anything that finishes the
// image afterwards (its checksum, a signature) sees a stub like any other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packager/project.h"

namespace mw::packager {

// Resource types by number.
constexpr uint32_t kResourceIcon = 3;
constexpr uint32_t kResourceIconGroup = 14;
constexpr uint32_t kResourceVersion = 16;

// One leaf of a PE image's resource directory (type, then id, then language; named entries
// are not listed).
struct ResourceEntry {
  uint32_t type, id, language;
  uint32_t entryAt;  // file offset of its data entry: data address, size, code page, reserved
  uint32_t dataAt;   // file offset of its data
  uint32_t size;
};

// The resource directory of a PE32 image. Empty when the bytes are not a PE image or hold no
// resources. Throws std::runtime_error for a directory that points outside the file or loops.
std::vector<ResourceEntry> readResources(const std::vector<uint8_t>& image);

// The version resource (VS_VERSIONINFO, in US English with Unicode strings) for a product:
// ProductName, ProductVersion and FileVersion, CompanyName, FileDescription, LegalCopyright;
// empty texts are left out, except the name and the description.
std::vector<uint8_t> versionResource(const ProductIdentity& identity);

// Writes the identity into `stub`: each image of icon group 1 re-encoded from the project's
// icon (when it has one) at its own size and depth, and the version resource laid out in the
// room of the engine's version resource 1 (its data entry then gives the new size). A stub
// that is no PE image or holds no resources is left as it is unless the project asks for an
// icon or version texts. Throws std::runtime_error saying what does not fit.
void applyProductIdentity(std::vector<uint8_t>& stub, const ProductIdentity& identity);

}  // namespace mw::packager
