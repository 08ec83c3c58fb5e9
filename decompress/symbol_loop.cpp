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

  int32_t state = s->stateNumber;
  int32_t nblock = v.nblock;
  const int32_t nblockMAX = v.nblockMAX;
  int32_t es = v.es;
  int32_t N = v.N;
  int32_t sym = v.nextSym;
  int32_t groupNo = v.groupNo;
  int32_t groupPos = v.groupPos;
  int32_t gSel = v.gSel;
  int32_t gMinlen = v.gMinlen;
  const int32_t* gLimit = v.gLimit;
  const int32_t* gBase = v.gBase;
  const int32_t* gPerm = v.gPerm;
  const uint16_t* fast = s->fastTable[gSel];
  const int32_t nSelectors = v.nSelectors;
  const int32_t EOB = v.EOB;
  const int32_t alphaSize = v.alphaSize;

  uint32_t* const tt = s->tt;
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
    if (entry >> 9) {                                               \
      sym = int32_t(entry & 0x1FFu);                                \
      buf <<= entry >> 9;                                           \
      count -= entry >> 9;                                          \
    } else {                                                        \
      int32_t zn = gMinlen;                                         \
      int32_t zvec = int32_t(buf >> (kWordBits - zn));              \
      while (zn <= kMaxCodeLength && zvec > gLimit[zn]) {           \
        ++zn;                                                       \
        zvec = int32_t(buf >> (kWordBits - zn));                    \
      }                                                             \
      const int32_t index = zvec - gBase[zn > kMaxCodeLength ? 0 : zn]; \
      if (zn > kMaxCodeLength || index < 0 || index >= alphaSize)   \
        goto dataError;                                             \
      sym = gPerm[index];                                           \
      buf <<= zn;                                                   \
      count -= uint32_t(zn);                                        \
    }                                                               \
  }

  // Chooses the coding table of the next symbol, as prepareSymbol does.
#define MW_PREPARE_SYMBOL()                                         \
  if (--groupPos < 0) {                                             \
    if (++groupNo >= nSelectors) goto dataError;                    \
    groupPos = kGroupSize - 1;                                      \
    gSel = s->selector[groupNo];                                    \
    gMinlen = s->minLens[gSel];                                     \
    gLimit = s->limit[gSel];                                        \
    gBase = s->base[gSel];                                          \
    gPerm = s->perm[gSel];                                          \
    fast = s->fastTable[gSel];                                      \
  }

  // An ordinary symbol: move-to-front index sym - 1.
#define MW_STORE_BYTE()                                             \
  if (nblock >= nblockMAX) goto dataError;                          \
  {                                                                 \
    const uint8_t uc = moveToFront(mtfa, mtfbase, uint32_t(sym - 1)); \
    ++unzftab[uc];                                                  \
    tt[nblock++] = uc;                                              \
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
      if (es > nblockMAX - nblock) goto dataError;
      uint32_t* p = tt + nblock;
      for (int32_t k = 0; k < es; ++k) p[k] = uc;
      nblock += es;
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
  v.nblock = nblock;
  v.es = es;
  v.N = N;
  v.nextSym = sym;
  v.groupNo = groupNo;
  v.groupPos = groupPos;
  v.gSel = gSel;
  v.gMinlen = gMinlen;
  v.gLimit = gLimit;
  v.gBase = gBase;
  v.gPerm = gPerm;
  v.zn = gMinlen;
  return result;
}

}  // namespace mw
