// mw_store_file INPUT OUTPUT [BLOCKSIZE100K]: writes INPUT in the stored stream form with the
// framing a reader hands the decompressor, behind the decoded size, for decode_probe.exe:
//   [u32 size of INPUT][u32 h = 10 + body length][six zero bytes][stored body]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/bytes.h"
#include "decompress/stored_writer.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: mw_store_file INPUT OUTPUT [BLOCKSIZE100K]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "mw_store_file: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
  try {
    const std::vector<uint8_t> body = mw::writeStoredStream(data.data(), data.size(), argc > 3 ? std::atoi(argv[3]) : 9);
    std::vector<uint8_t> file(14);
    mw::writeU32(file.data(), uint32_t(data.size()));
    mw::writeU32(file.data() + 4, uint32_t(body.size() + 10));
    file.insert(file.end(), body.begin(), body.end());
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    if (!out) {
      std::fprintf(stderr, "mw_store_file: cannot write %s\n", argv[2]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mw_store_file: %s\n", e.what());
    return 1;
  }
  return 0;
}
