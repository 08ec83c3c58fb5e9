// Package-merge: a code with lengths at most L corresponds to choosing 2n - 2 items from the
// list built L times over, where each level merges the sorted leaves with pairs ("packages")
// of the level below. A symbol's length is the number of levels at which its leaf is chosen.
// Since the leaves at every level are merged in sorted order, the chosen leaves of a level
// are always a prefix of the sorted symbols, so only the number of leaves chosen per level
// needs to be known: walking down from the top, the packages chosen at one level say how
// many items are chosen at the level below.
#include "decompress/encoder/code_lengths.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace mw::encoder {

namespace {

constexpr int kMaxSymbols = 258;
constexpr int kMaxLevels = 20;

// Huffman's code over the sorted leaves, without a limit: the two lightest of the unmerged
// leaves and the merged nodes (which are made in order of weight, so a queue holds them) are
// merged until one node is left; a leaf's length is its depth. Returns the longest length.
int huffmanLengths(const uint64_t* leaf, int n, int* length) {
  std::array<uint64_t, 2 * kMaxSymbols> weight;
  std::array<int, 2 * kMaxSymbols> parent;
  std::copy(leaf, leaf + n, weight.begin());
  int nextLeaf = 0, nextMerged = n;
  auto lightest = [&](int made) {
    if (nextLeaf < n && (nextMerged >= made || weight[nextLeaf] <= weight[nextMerged])) return nextLeaf++;
    return nextMerged++;
  };
  for (int made = n; made < 2 * n - 1; ++made) {
    const int a = lightest(made);
    const int b = lightest(made);
    weight[made] = weight[a] + weight[b];
    parent[a] = parent[b] = made;
  }
  // Every node's parent was made after it: depths follow from the root downwards.
  std::array<int, 2 * kMaxSymbols> depth;
  depth[2 * n - 2] = 0;
  int longest = 0;
  for (int k = 2 * n - 3; k >= 0; --k) {
    depth[k] = depth[parent[k]] + 1;
    if (k < n) {
      length[k] = depth[k];
      longest = std::max(longest, depth[k]);
    }
  }
  return longest;
}

// Sorts n keys in place, a byte at a time from the lowest (as many bytes as the largest key
// has): no compare to mispredict, where a comparison sort of a few hundred keys spends most
// of its time.
void sortKeys(uint64_t* key, int n) {
  std::array<uint64_t, kMaxSymbols> spare;
  uint64_t all = 0;
  for (int i = 0; i < n; ++i) all |= key[i];
  uint64_t* from = key;
  uint64_t* to = spare.data();
  for (int shift = 0; shift < 64 && (all >> shift) != 0; shift += 8) {
    std::array<uint32_t, 257> start{};
    for (int i = 0; i < n; ++i) ++start[((from[i] >> shift) & 0xFF) + 1];
    for (int b = 0; b < 256; ++b) start[b + 1] += start[b];
    for (int i = 0; i < n; ++i) to[start[(from[i] >> shift) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != key) std::copy(from, from + n, key);
}

}  // namespace

void limitedCodeLengths(const uint32_t* weights, int n, int maxLength, uint8_t* lengths) {
  // Sorted by weight, ties by symbol: the symbol rides in the key's low bits.
  std::array<uint64_t, kMaxSymbols> key;
  for (int i = 0; i < n; ++i) key[i] = uint64_t(weights[i]) << 9 | uint64_t(i);
  sortKeys(key.data(), n);
  std::array<int, kMaxSymbols> order;
  std::array<uint64_t, kMaxSymbols> leaf;
  for (int i = 0; i < n; ++i) {
    order[i] = int(key[i] & 0x1FF);
    leaf[i] = key[i] >> 9;
  }
  {
    // Most codes are within the limit as they are.
    std::array<int, kMaxSymbols> length;
    if (huffmanLengths(leaf.data(), n, length.data()) <= maxLength) {
      for (int i = 0; i < n; ++i) lengths[order[i]] = uint8_t(length[i]);
      return;
    }
  }

  // Level lists from the deepest (index maxLength - 1: the leaves alone) up to the top
  // (index 0). isLeaf marks which items of a level are leaves; packages are pairs of
  // consecutive items of the level below.
  static thread_local std::array<std::array<uint64_t, 2 * kMaxSymbols>, kMaxLevels> weight;
  static thread_local std::array<std::array<uint8_t, 2 * kMaxSymbols>, kMaxLevels> isLeaf;
  std::array<int, kMaxLevels> size{};
  const int deepest = maxLength - 1;
  for (int i = 0; i < n; ++i) {
    weight[deepest][i] = leaf[i];
    isLeaf[deepest][i] = 1;
  }
  size[deepest] = n;
  for (int level = deepest - 1; level >= 0; --level) {
    const auto& below = weight[level + 1];
    const int packages = size[level + 1] / 2;
    int a = 0, p = 0, k = 0;
    while (a < n || p < packages) {
      const bool takeLeaf = p >= packages || (a < n && leaf[a] <= below[2 * p] + below[2 * p + 1]);
      if (takeLeaf) {
        weight[level][k] = leaf[a++];
        isLeaf[level][k++] = 1;
      } else {
        weight[level][k] = below[2 * p] + below[2 * p + 1];
        isLeaf[level][k++] = 0;
        ++p;
      }
    }
    size[level] = k;
  }

  std::array<int, kMaxSymbols> length{};
  int take = 2 * n - 2;
  for (int level = 0; level <= deepest && take > 0; ++level) {
    int leaves = 0;
    for (int k = 0; k < take; ++k) leaves += isLeaf[level][k];
    for (int i = 0; i < leaves; ++i) ++length[i];
    take = 2 * (take - leaves);
  }
  for (int i = 0; i < n; ++i) lengths[order[i]] = uint8_t(length[i]);
}

}  // namespace mw::encoder
