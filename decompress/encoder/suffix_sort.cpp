// Induced suffix sorting: the suffixes that start with an S-type run after an L-type one
// (the leftmost S positions, LMS) are placed first; every other suffix's place follows from
// them in two scans (L-types left to right from bucket heads, S-types right to left from
// bucket tails). Sorting the LMS substrings that way and naming them gives a string of at
// most half the length whose suffix order is that of the LMS suffixes; it is sorted the same
// way (recursively, unless every name is unique) and the final induction places the rest.
// The end mark is virtual: it is the smallest suffix and an LMS position at n.
#include "decompress/encoder/suffix_sort.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

namespace mw::encoder {
namespace {

// Each value's bucket head (or tail, one past its last slot) from the values' counts.
void bucketBounds(const int32_t* counts, int32_t alphabet, int32_t* bucket, bool ends) {
  int32_t sum = 0;
  for (int32_t c = 0; c < alphabet; ++c) {
    sum += counts[c];
    bucket[c] = ends ? sum : sum - counts[c];
  }
}

// The suffix types, one bit each (S set), so that the random looks stay in cache.
class Types {
 public:
  explicit Types(int32_t n) : bits_(size_t(n) / 64 + 1, 0), lms_(bits_.size(), 0) {}
  bool s(int32_t i) const { return (bits_[size_t(i) >> 6] >> (i & 63)) & 1; }
  void setS(int32_t i) { bits_[size_t(i) >> 6] |= uint64_t(1) << (i & 63); }
  // Once every S-type is set: the LMS positions (S-type after L-type, never 0) a word at a time.
  void markLms() {
    uint64_t before = 1;  // position 0 counts as following an S-type
    for (size_t w = 0; w < bits_.size(); ++w) {
      lms_[w] = bits_[w] & ~(bits_[w] << 1 | before);
      before = bits_[w] >> 63;
    }
  }
  bool lms(int32_t i) const { return (lms_[size_t(i) >> 6] >> (i & 63)) & 1; }
  // Calls f(i) for every LMS position i, in increasing order.
  template <typename F>
  void forEachLms(F f) const {
    for (size_t w = 0; w < lms_.size(); ++w)
      for (uint64_t m = lms_[w]; m; m &= m - 1) f(int32_t(w * 64 + size_t(__builtin_ctzll(m))));
  }

 private:
  std::vector<uint64_t> bits_, lms_;
};
// From the LMS suffixes in place at their buckets' tails, the L-type suffixes (left to right
// from bucket heads), then the S-type ones (right to left from bucket tails). The type of the
// suffix j in front of a placed suffix p = j + 1 needs no table: in the first scan p is an LMS
// suffix (then j is L-type) or an L-type one, so j is L-type exactly when text[j] >= text[p];
// in the second scan p is S-type exactly when it lies at or past its bucket's S-type pointer,
// and j is S-type when text[j] < text[p], or when they are equal and p is S-type.
template <typename C>
void induce(const C* text, int32_t* sa, int32_t n, int32_t alphabet, const int32_t* counts, int32_t* bucket) {
  bucketBounds(counts, alphabet, bucket, false);
  // The suffix in front of the end mark comes first in its bucket: it is L-type.
  sa[bucket[text[n - 1]]++] = n - 1;
  // The bytes of suffixes a little ahead are fetched early: the text is read in the scan's
  // order of suffixes, which is far from the text's own.
  constexpr int32_t kAhead = 24;
  for (int32_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(text + (sa[i + kAhead] > 0 ? sa[i + kAhead] - 1 : 0));
    const int32_t j = sa[i] - 1;
    if (j >= 0 && text[j] >= text[j + 1]) sa[bucket[text[j]]++] = j;
  }
  bucketBounds(counts, alphabet, bucket, true);
  for (int32_t i = n - 1; i >= 0; --i) {
    if (i >= kAhead) __builtin_prefetch(text + (sa[i - kAhead] > 0 ? sa[i - kAhead] - 1 : 0));
    const int32_t j = sa[i] - 1;
    if (j < 0) continue;
    const C cj = text[j], cp = text[j + 1];
    if (cj < cp || (cj == cp && i >= bucket[cp])) sa[--bucket[cj]] = j;
  }
}

template <typename C>
void sais(const C* text, int32_t* sa, int32_t n, int32_t alphabet) {
  if (n == 1) {
    sa[0] = 0;
    return;
  }
  // The end mark (position n) is S-type and n - 1 L-type.
  Types type(n + 1);
  type.setS(n);
  bool nextS = false;
  for (int32_t i = n - 2; i >= 0; --i) {
    nextS = text[i] < text[i + 1] || (text[i] == text[i + 1] && nextS);
    if (nextS) type.setS(i);
  }
  type.markLms();
  auto isLms = [&](int32_t i) { return type.lms(i); };
  auto sType = [&](int32_t i) { return type.s(i); };

  std::vector<int32_t> counts(static_cast<size_t>(alphabet), 0), bucket(static_cast<size_t>(alphabet), 0);
  for (int32_t i = 0; i < n; ++i) ++counts[text[i]];
  // Stage 1: the LMS substrings sorted.
  std::fill(sa, sa + n, -1);
  bucketBounds(counts.data(), alphabet, bucket.data(), true);
  type.forEachLms([&](int32_t i) {
    if (i < n) sa[--bucket[text[i]]] = i;
  });
  induce(text, sa, n, alphabet, counts.data(), bucket.data());

  int32_t lmsCount = 0;
  for (int32_t i = 0; i < n; ++i)
    if (isLms(sa[i])) sa[lmsCount++] = sa[i];
  std::fill(sa + lmsCount, sa + n, -1);

  // Names: equal LMS substrings (same bytes and types up to the next LMS position) share one.
  int32_t names = 0, previous = -1;
  for (int32_t k = 0; k < lmsCount; ++k) {
    const int32_t pos = sa[k];
    bool differs = previous < 0;
    for (int32_t d = 0; !differs; ++d) {
      if (pos + d == n || previous + d == n || text[pos + d] != text[previous + d] ||
          sType(pos + d) != sType(previous + d)) {
        differs = true;
      } else if (d > 0 && (isLms(pos + d) || isLms(previous + d))) {
        break;
      }
    }
    if (differs) {
      ++names;
      previous = pos;
    }
    // LMS positions are at least two apart, so pos / 2 is a slot of its own.
    sa[lmsCount + pos / 2] = names - 1;
  }
  int32_t* const reduced = sa + n - lmsCount;
  for (int32_t i = n - 1, j = n - 1; i >= lmsCount; --i)
    if (sa[i] >= 0) sa[j--] = sa[i];

  // Stage 2: the LMS suffixes sorted, through the reduced string.
  if (names < lmsCount) {
    sais(reduced, sa, lmsCount, names);
  } else {
    for (int32_t i = 0; i < lmsCount; ++i) sa[reduced[i]] = i;
  }
  {
    int32_t j = 0;
    type.forEachLms([&](int32_t i) {
      if (i < n) reduced[j++] = i;
    });
  }
  for (int32_t i = 0; i < lmsCount; ++i) sa[i] = reduced[sa[i]];
  std::fill(sa + lmsCount, sa + n, -1);

  // Stage 3: every suffix, induced from the sorted LMS suffixes at their buckets' tails.
  bucketBounds(counts.data(), alphabet, bucket.data(), true);
  for (int32_t i = lmsCount - 1; i >= 0; --i) {
    const int32_t j = sa[i];
    sa[i] = -1;
    sa[--bucket[text[j]]] = j;
  }
  induce(text, sa, n, alphabet, counts.data(), bucket.data());
}

}  // namespace

void suffixArray(const uint8_t* text, int32_t n, int32_t* sa) { sais(text, sa, n, 256); }

uint32_t leastRotation(const uint8_t* block, uint32_t n) {
  // Two candidate starts i < j (or j < i) and the length k of their common prefix: a
  // mismatch rules out the larger candidate and the k starts after it. The block twice over
  // lets the rotations be compared eight bytes at a time without wrapping round.
  const std::unique_ptr<uint8_t[]> twice(new uint8_t[2 * size_t(n) + 8]());
  std::memcpy(twice.get(), block, n);
  std::memcpy(twice.get() + n, block, n);
  const uint8_t* const t = twice.get();
  // The length of the common prefix of the rotations at a and b, at most n.
  auto common = [&](uint32_t a, uint32_t b) {
    uint32_t k = 0;
    for (; k + 8 <= n; k += 8) {
      uint64_t x, y;
      std::memcpy(&x, t + a + k, 8);
      std::memcpy(&y, t + b + k, 8);
      // The first differing byte: the lowest set bit, the words being little-endian.
      static_assert(std::endian::native == std::endian::little, "byte order");
      if (x != y) return k + uint32_t(__builtin_ctzll(x ^ y)) / 8;
    }
    while (k < n && t[a + k] == t[b + k]) ++k;
    return k;
  };
  // Only a start at the least byte can be the least rotation: the candidates skip to those.
  const uint8_t least = *std::min_element(block, block + n);
  auto next = [&](uint32_t p) {
    if (p >= n) return n;
    const void* q = std::memchr(t + p, least, n - p);
    return q ? uint32_t(static_cast<const uint8_t*>(q) - t) : n;
  };
  uint32_t i = next(0), j = next(i + 1);
  while (i < n && j < n) {
    const uint32_t k = common(i, j);
    if (k == n) break;
    if (t[i + k] > t[j + k]) i = next(i + k + 1);
    else j = next(j + k + 1);
    if (i == j) j = next(j + 1);
  }
  return std::min(i, j);
}

uint32_t sortRotations(const uint8_t* block, uint32_t n, uint8_t* lastColumn) {
  const uint32_t start = leastRotation(block, n);
  // Both filled before they are read: no zeroing.
  const std::unique_ptr<uint8_t[]> turned(new uint8_t[n]);
  std::copy(block + start, block + n, turned.get());
  std::copy(block, block + start, turned.get() + (n - start));
  const std::unique_ptr<int32_t[]> sa(new int32_t[n]);
  suffixArray(turned.get(), int32_t(n), sa.get());
  // The original block starts at position n - start of the turned one.
  const uint32_t home = start == 0 ? 0 : n - start;
  uint32_t primary = 0;
  for (uint32_t row = 0; row < n; ++row) {
    const uint32_t p = uint32_t(sa[row]);
    if (p == home) primary = row;
    lastColumn[row] = turned[p == 0 ? n - 1 : p - 1];
  }
  return primary;
}

}  // namespace mw::encoder
