// `marlowick try ...`: builds a project and runs the installer under wine for a quick look.
// The implementation lives with the engine's Windows side (packager/try.cpp); builds without
// it link try_default.cpp instead.
#pragma once

namespace mw::packager {

// argv[0] is "try"; returns the process exit code.
int runTry(int argc, char** argv);

}  // namespace mw::packager
