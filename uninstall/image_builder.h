// Host side of the uninstaller image: composing the 8088-byte image from the linked program and
// the icons, checking every field the installer relies on, and assembling a finished
// Uninstall.exe from an image, a log and a manifest (what the installer does, for tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mw {

using Bytes = std::vector<uint8_t>;

// Composes the image from the program as linked with uninstall/image.ld (code at 0x1000,
// read-only data ending with the import address table at 0x2000, data at 0x3000, the linker's
// import directory in a section of its own that is dropped here) and an .ico file with the
// icon images. Headers, import tables and the resource section are written anew. Throws
// std::runtime_error when the linked program does not have that shape or does not fit.
Bytes composeUninstallerImage(const Bytes& linked, const Bytes& iconFile);

// Every way the image departs from the layout the installer patches, one line each; empty when
// the image is sound. Also checks that the compressed image fits the payload's blob body.
std::vector<std::string> checkUninstallerImage(const Bytes& image);

// Size of the image's stored stream as the packager writes it into the blob.
size_t storedStreamSize(const Bytes& image);

// A finished Uninstall.exe: image, log, zero gap to a multiple of 8, manifest, zero tail to a
// multiple of 512, header patched for the log.
Bytes makeUninstallFile(const Bytes& image, const Bytes& log, const Bytes& manifest,
                        uint32_t timeStamp);

}  // namespace mw
