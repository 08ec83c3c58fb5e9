#!/usr/bin/env bash
# Builds decode_chunks_native.cpp with the decoder twice, without wine or the Windows toolchain:
#   OUT/harness32  32-bit Linux, the Windows build's flags (cmake/Marlowick.cmake: -Os for the
#                  decoder, -Oz for the freestanding memcpy/memset, link-time optimisation, no PIE)
#   OUT/harness64  x86-64, the host build's -O2
# so the 32-bit build's code can be counted (valgrind --tool=callgrind, perf stat) and timed
# against the host's on the same chunks. Needs gcc-multilib.
#   bench/decode/i686_harness.sh [OUT_DIR]     (default build/harness)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/build/harness}
mkdir -p "$out"
decoder=(decompress.cpp block_decoder.cpp inverse_transform.cpp output_stage.cpp randomisation_table.cpp)
common=(-std=c++20 -I"$root" -fno-exceptions -fno-rtti -fno-pie -no-pie)
flags32=(-m32 -nostdinc++ -march=i686 -mpreferred-stack-boundary=2 -malign-data=abi -ffreestanding
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fomit-frame-pointer -fno-stack-protector
  -fno-threadsafe-statics -fno-builtin -ffunction-sections -flto -flto-partition=one)
objs=()
for f in "${decoder[@]}"; do
  g++ "${common[@]}" "${flags32[@]}" -Os ${EXTRA32:-} -DMARLOWICK_FREESTANDING=1 -c "$root/decompress/$f" -o "$out/${f%.cpp}.32.o"
  objs+=("$out/${f%.cpp}.32.o")
done
g++ "${common[@]}" "${flags32[@]}" -Oz -c "$root/core/crt_win32.cpp" -o "$out/crt.32.o"
g++ "${common[@]}" "${flags32[@]}" -O2 -c "$root/bench/decode/decode_chunks_native.cpp" -o "$out/main.32.o"
gcc "${common[@]}" "${flags32[@]}" -Os "$out/main.32.o" "${objs[@]}" "$out/crt.32.o" -o "$out/harness32"
g++ "${common[@]}" -O2 "$root/bench/decode/decode_chunks_native.cpp" "${decoder[@]/#/$root/decompress/}" -o "$out/harness64"
echo "$out/harness32 $out/harness64"
