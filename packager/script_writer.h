// The setup script's bytes from a ScriptModel, and back through the engine's own readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "packager/project.h"

namespace mw::packager {

// Writes the fields in script order with their terminators. Throws std::invalid_argument for
// a model the engine cannot read back as written: no files, a string holding a NUL, a program
// group ending in a backslash, a shortcut kind or registry root outside the format, a script
// whose second-to-last byte would be 0x17.
std::vector<uint8_t> writeScript(const ScriptModel& model);

// Reads a decompressed script with the engine's parser and list readers. On a corrupt script
// returns nullopt and says where reading stopped in `error`. `endPosition` receives where the
// last field ended (a well-formed script ends exactly there).
std::optional<ScriptModel> readScript(const uint8_t* script, uint32_t length, std::string& error,
                                      uint32_t* endPosition = nullptr);

}  // namespace mw::packager
