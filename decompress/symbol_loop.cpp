// The block decoder's fast path: decodes a block's Huffman symbols, run digits and
// move-to-front indices while at least 8 input bytes remain, with the hot fields in locals,
// a machine-word bit buffer refilled a word at a time, and one table look-up per code of up
// to kFastBits bits. It applies the same checks in the same order as the bit-by-bit states
// and stops only between symbols, handing back every input byte it has not fully used, so the
// machine it leaves behind is the one the bit-by-bit path would have reached.
#include "core/bytes.h"
#include "decompress/block_decoder_internal.h"

namespace mw {
namespace {

#if UINTPTR_MAX == 0xFFFFFFFFu
using BitWord = uint32_t;
inline BitWord loadWord(const uint8_t* p) {
  uint32_t w;
  copyBytes(&w, p, 4);
  return __builtin_bswap32(w);
}
#else
using BitWord = uint64_t;
inline BitWord loadWord(const uint8_t* p) {
  uint64_t w;
  copyBytes(&w, p, 8);
  return __builtin_bswap64(w);
}
#endif
constexpr uint32_t kWordBits = sizeof(BitWord) * 8;
// After a refill at least this many bits are unread: enough for the longest code (20 bits).
static_assert(kWordBits - 8 >= uint32_t(kMaxCodeLength), "bit buffer too small");

// A code longer than kFastBits bits, or an invalid one: the bit-by-bit procedure with its
// checks, on bits already in the buffer (at least 20 are). Returns the symbol and the code's
// length (symbol | length << 16), or -1. The buffer is passed by value so that the caller's
// stays in a register.
int32_t decodeLongCode(const DecoderState* s, int32_t gSel, BitWord buf) {
  const int32_t* const limit = s->limit[gSel];
  int32_t zn = s->minLens[gSel];
  int32_t zvec = int32_t(buf >> (kWordBits - zn));
  while (zvec > limit[zn]) {
    if (++zn > kMaxCodeLength) return -1;
    zvec = int32_t(buf >> (kWordBits - zn));
  }
  const int32_t index = zvec - s->base[gSel][zn];
  if (index < 0 || index >= s->save.alphaSize) return -1;
  return s->perm[gSel][index] | (zn << 16);
}

// Stores `count` copies of a byte as table entries, two entries per 64-bit store.
inline void fillEntries(uint32_t* p, uint32_t value, int32_t count) {
  const uint64_t pair = uint64_t(value) * 0x100000001ull;
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    copyBytes(p + k, &pair, 8);
    copyBytes(p + k + 2, &pair, 8);
  }
  for (; k < count; ++k) p[k] = value;
}

}  // namespace

int32_t decodeSymbolsFast(DecoderState* s) {
  StreamRecord* const strm = s->strm;
  SavedLocals& v = s->save;

  const uint8_t* in = strm->next_in;
  const uint8_t* const inStart = in;
  const uint8_t* const inStop = in + strm->avail_in - 8;  // last position with 8 bytes after it

  // The unread bits, most significant first, at the top of the word; `count` of them.
  uint32_t count = uint32_t(s->bsLive);
  BitWord buf = count ? BitWord(BitWord(s->bsBuff) << (kWordBits - count)) : 0;

  // Few values stay in registers across the loop: positions are pointers, and the coding
  // table's limit/base/perm are fetched only for the rare long code.
  int32_t state = s->stateNumber;
  uint32_t* const tt = s->tt;
  uint32_t* store = tt + v.nblock;
  uint32_t* const storeEnd = tt + v.nblockMAX;
  int32_t es = v.es;
  int32_t N = v.N;
  int32_t sym = v.nextSym;
  const uint8_t* selector = s->selector + v.groupNo;  // the current group's selector
  const uint8_t* const selectorEnd = s->selector + v.nSelectors;
  int32_t groupPos = v.groupPos;
  int32_t gSel = v.gSel;
  const uint16_t* fast = s->fastTable[gSel];
  const int32_t EOB = v.EOB;
  int32_t* const unzftab = s->unzftab;
  uint8_t* const mtfa = s->mtfa;
  int32_t* const mtfbase = s->mtfbase;

  int32_t result;

  // One Huffman code: one look-up for codes of up to kFastBits bits, the bit-by-bit procedure
  // (with its checks) for longer or invalid ones.
#define MW_DECODE_SYMBOL()                                          \
  buf |= loadWord(in) >> count;                                     \
  in += (kWordBits - 1 - count) >> 3;                               \
  count |= kWordBits - 8;                                           \
  {                                                                 \
    const uint32_t entry = fast[buf >> (kWordBits - kFastBits)];    \
    if (__builtin_expect(entry >> 9, 1)) {                          \
      sym = int32_t(entry & 0x1FFu);                                \
      buf <<= entry >> 9;                                           \
      count -= entry >> 9;                                          \
    } else {                                                        \
      const int32_t coded = decodeLongCode(s, gSel, buf);           \
      if (coded < 0) goto dataError;                                \
      sym = coded & 0xFFFF;                                         \
      buf <<= coded >> 16;                                          \
      count -= uint32_t(coded >> 16);                               \
    }                                                               \
  }

  // Chooses the coding table of the next symbol, as prepareSymbol does.
#define MW_PREPARE_SYMBOL()                                         \
  if (--groupPos < 0) {                                             \
    if (++selector >= selectorEnd) goto dataError;                  \
    groupPos = kGroupSize - 1;                                      \
    gSel = *selector;                                               \
    fast = s->fastTable[gSel];                                      \
  }

#ifdef MARLOWICK_FREESTANDING
#define MW_FAR_MOVE(uc, nn) uc = moveToFrontFar(mtfa, mtfbase, nn)
#else
#define MW_FAR_MOVE(uc, nn) uc = moveAcrossBlocks(mtfa, mtfbase, nn)
#endif
  // An ordinary symbol: move-to-front index sym - 1.
#define MW_STORE_BYTE()                                             \
  if (store >= storeEnd) goto dataError;                            \
  {                                                                 \
    const uint32_t nn = uint32_t(sym - 1);                          \
    uint8_t uc;                                                     \
    if (nn < 16) {                                                  \
      uint8_t* const front = mtfa + mtfbase[0];                     \
      uc = front[nn];                                               \
      insertAtFront(front, nn, uc);                                 \
    } else {                                                        \
      MW_FAR_MOVE(uc, nn);                                          \
    }                                                               \
    ++unzftab[uc];                                                  \
    *store++ = uc;                                                  \
  }                                                                 \
  state = SymbolAfterByte;

  if (state == SymbolAfterRun) goto runDigits;
  for (;;) {
    if (in > inStop) goto lowInput;
    MW_DECODE_SYMBOL()
    if (sym >= 2) {
      if (sym == EOB) goto endOfBlock;
      MW_STORE_BYTE()
      MW_PREPARE_SYMBOL()
      continue;
    }
    es = (1 << sym) - 1;  // -1 + N << sym with N = 1
    N = 2;
    state = SymbolAfterRun;
    MW_PREPARE_SYMBOL()

  runDigits:
    for (;;) {
      if (in > inStop) goto lowInput;
      MW_DECODE_SYMBOL()
      if (sym > 1) break;
      es += N << sym;
      if (es > kBlockCapacity) es = kBlockCapacity + 1;
      if (N < (1 << 20)) N <<= 1;
      MW_PREPARE_SYMBOL()
    }
    // The run has ended: store es + 1 copies of the front byte.
    ++es;
    {
      const uint8_t uc = mtfa[mtfbase[0]];
      unzftab[uc] += es;
      if (es > storeEnd - store) goto dataError;
      fillEntries(store, uc, es);
      store += es;
    }
    if (sym == EOB) goto endOfBlock;
    MW_STORE_BYTE()
    MW_PREPARE_SYMBOL()
  }
lowInput:
  result = DecodeOk;
  goto done;
endOfBlock:
  result = kSymbolsEndOfBlock;
  goto done;
dataError:
  result = DecodeDataError;
done:
#undef MW_DECODE_SYMBOL
#undef MW_PREPARE_SYMBOL
#undef MW_STORE_BYTE
#undef MW_FAR_MOVE

  // Hand back the whole bytes not used (never more than this call took in: older bits came
  // from bytes the caller may no longer hold).
  uint32_t back = count >> 3;
  const uint32_t taken = uint32_t(in - inStart);
  if (back > taken) back = taken;
  in -= back;
  count -= back * 8;
  s->bsBuff = count ? uint32_t(buf >> (kWordBits - count)) : 0;
  s->bsLive = int32_t(count);

  const uint32_t consumed = uint32_t(in - inStart);
  strm->next_in = in;
  strm->avail_in -= consumed;
  strm->total_in_lo32 += consumed;
  if (strm->total_in_lo32 < consumed) ++strm->total_in_hi32;

  s->stateNumber = state;
  v.nblock = int32_t(store - tt);
  v.es = es;
  v.N = N;
  v.nextSym = sym;
  v.groupNo = int32_t(selector - s->selector);
  v.groupPos = groupPos;
  v.gSel = gSel;
  v.gMinlen = s->minLens[gSel];
  v.gLimit = s->limit[gSel];
  v.gBase = s->base[gSel];
  v.gPerm = s->perm[gSel];
  v.zn = v.gMinlen;
  return result;
}

}  // namespace mw
