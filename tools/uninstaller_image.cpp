// Build step for the uninstaller image:
//   mw_uninstaller_image compose LINKED.exe ICONS.ico OUT.exe   compose, check, then write OUT
//   mw_uninstaller_image check IMAGE.exe                        check an existing image
// Any departure from the layout the installer patches fails the build with one line per field.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "uninstall/image_builder.h"
#include "format/log_format.h"

namespace {

mw::Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot open");
  return mw::Bytes(std::istreambuf_iterator<char>(in), {});
}

int check(const mw::Bytes& image, const std::string& name) {
  const auto problems = mw::checkUninstallerImage(image);
  for (const auto& p : problems) std::fprintf(stderr, "%s: error: %s\n", name.c_str(), p.c_str());
  if (!problems.empty()) return 1;
  std::printf("%s: %zu bytes, every fixed field as the installer expects; stored stream %zu of %u bytes\n",
              name.c_str(), image.size(), mw::storedStreamSize(image), mw::kUninstallerBlobBody);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "compose" && argc == 5) {
      std::remove(argv[4]);
      const mw::Bytes image = mw::composeUninstallerImage(readFile(argv[2]), readFile(argv[3]));
      if (check(image, argv[4])) return 1;
      const std::string temp = std::string(argv[4]) + ".part";
      {
        std::ofstream out(temp, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        if (!out) throw std::runtime_error(temp + ": cannot write");
      }
      return std::rename(temp.c_str(), argv[4]) == 0 ? 0 : 1;
    }
    if (command == "check" && argc == 3) return check(readFile(argv[2]), argv[2]);
    std::fprintf(stderr, "usage: %s compose LINKED.exe ICONS.ico OUT.exe | check IMAGE.exe\n", argv[0]);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mw_uninstaller_image: error: %s\n", e.what());
    return 1;
  }
}
