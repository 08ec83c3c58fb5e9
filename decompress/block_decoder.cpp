// The block decoder: a resumable state machine over the compressed bits. Each state performs
// one read; when the input runs dry inside a read the function returns 0 with the state
// number and every local saved, and the next call repeats that read from its start (the bits
// already pulled stay in bsBuff). While plenty of input is present, the symbols of a block are
// decoded by a separate loop (symbol_loop.cpp) that leaves the machine in the same state the
// bit-by-bit path would have reached.
#include "decompress/block_decoder_internal.h"

namespace mw {
namespace {

constexpr uint8_t kEndMagic[5] = {0x72, 0x45, 0x38, 0x50, 0x90};

// Pulls input bytes until n bits are unread, then takes them. False when the input ran out
// first; the bytes pulled so far stay in bsBuff and the read is repeated on the next call.
inline bool readBits(DecoderState* s, int32_t n, uint32_t* value) {
  StreamRecord* strm = s->strm;
  while (s->bsLive < n) {
    if (strm->avail_in == 0) return false;
    s->bsBuff = (s->bsBuff << 8) | *strm->next_in;
    s->bsLive += 8;
    ++strm->next_in;
    --strm->avail_in;
    if (++strm->total_in_lo32 == 0) ++strm->total_in_hi32;
  }
  *value = (s->bsBuff >> (s->bsLive - n)) & ((1u << n) - 1u);
  s->bsLive -= n;
  return true;
}

// The list starts as the block's byte values in ascending order: list position p holds
// seqToUnseq[p] itself rather than p, which saves a look-up per symbol. Positions from nInUse
// on are never reached by a valid index and are filled only to keep the array defined.
void initMoveToFront(DecoderState* s) {
  int32_t k = 4095;
  for (int32_t block = 15; block >= 0; --block) {
    for (int32_t entry = 15; entry >= 0; --entry) {
      const int32_t position = block * 16 + entry;
      s->mtfa[k--] = position < s->nInUse ? s->seqToUnseq[position] : uint8_t(position);
    }
    s->mtfbase[block] = k + 1;
  }
}

// Fills the one-look-up table of coding table t: for every kFastBits-bit prefix, the symbol
// the bit-by-bit procedure would decode and the code's length, when that length is at most
// kFastBits and the code is valid; 0 otherwise, which sends the decoder down the bit-by-bit
// path so that long and invalid codes are handled in exactly one place.
void buildFastTable(DecoderState* s, int32_t t, int32_t alphaSize) {
  const int32_t* limit = s->limit[t];
  const int32_t* base = s->base[t];
  const int32_t* perm = s->perm[t];
  uint16_t* table = s->fastTable[t];
  const int32_t minLen = s->minLens[t];
  int32_t p = 0;
  if (minLen > kFastBits) {
    for (; p < kFastEntries; ++p) table[p] = 0;
    return;
  }
  // Prefixes are visited in ascending order, so the codes of each length come in runs: fill
  // a whole run with one entry instead of deciding every prefix separately.
  while (p < kFastEntries) {
    int32_t zn = minLen;
    int32_t zvec = p >> (kFastBits - zn);
    while (zvec > limit[zn]) {
      if (++zn > kFastBits) break;
      zvec = p >> (kFastBits - zn);
    }
    if (zn > kFastBits) {
      table[p++] = 0;
      continue;
    }
    const int32_t span = 1 << (kFastBits - zn);
    const int32_t index = zvec - base[zn];
    uint16_t entry = 0;
    if (index >= 0 && index < alphaSize) entry = uint16_t(perm[index] | (zn << 9));
    for (int32_t k = 0; k < span; ++k) table[p + k] = entry;
    p += span;
  }
}

}  // namespace

uint8_t moveToFrontFar(uint8_t* mtfa, int32_t* mtfbase, uint32_t nn) {
  return moveAcrossBlocks(mtfa, mtfbase, nn);
}

void makeMaps(DecoderState* s) {
  s->nInUse = 0;
  for (int32_t v = 0; v < 256; ++v)
    if (s->inUse[v]) s->seqToUnseq[s->nInUse++] = uint8_t(v);
}

void createDecodeTables(int32_t* limit, int32_t* base, int32_t* perm, const uint8_t* length,
                        int32_t minLen, int32_t maxLen, int32_t alphaSize) {
  int32_t pp = 0;
  for (int32_t l = minLen; l <= maxLen; ++l)
    for (int32_t sym = 0; sym < alphaSize; ++sym)
      if (length[sym] == l) perm[pp++] = sym;

  for (int32_t l = 0; l < 23; ++l) base[l] = 0;
  for (int32_t sym = 0; sym < alphaSize; ++sym) ++base[length[sym] + 1];
  for (int32_t l = 1; l < 23; ++l) base[l] += base[l - 1];

  for (int32_t l = 0; l < 23; ++l) limit[l] = 0;
  int32_t vec = 0;
  for (int32_t l = minLen; l <= maxLen; ++l) {
    vec += base[l + 1] - base[l];
    limit[l] = vec - 1;
    vec <<= 1;
  }
  for (int32_t l = minLen + 1; l <= maxLen; ++l) base[l] = ((limit[l - 1] + 1) << 1) - base[l];
}

bool prepareSymbol(DecoderState* s) {
  SavedLocals& v = s->save;
  if (v.groupPos == 0) {
    ++v.groupNo;
    if (v.groupNo >= v.nSelectors) return false;
    v.groupPos = kGroupSize;
    v.gSel = s->selector[v.groupNo];
    v.gMinlen = s->minLens[v.gSel];
    v.gLimit = s->limit[v.gSel];
    v.gBase = s->base[v.gSel];
    v.gPerm = s->perm[v.gSel];
  }
  --v.groupPos;
  v.zn = v.gMinlen;
  return true;
}

bool storeRun(DecoderState* s) {
  SavedLocals& v = s->save;
  const uint8_t uc = s->mtfa[s->mtfbase[0]];
  s->unzftab[uc] += v.es;
  if (v.es > v.nblockMAX - v.nblock) return false;
  uint32_t* tt = s->tt + v.nblock;
  for (int32_t k = 0; k < v.es; ++k) tt[k] = uc;
  v.nblock += v.es;
  return true;
}

int32_t finishBlock(DecoderState* s) {
  SavedLocals& v = s->save;
  if (s->origPtr < 0 || s->origPtr >= v.nblock) return DecodeDataError;

  s->cftab[0] = 0;
  for (int32_t k = 1; k <= 256; ++k) s->cftab[k] = s->cftab[k - 1] + s->unzftab[k - 1];
  // The counts are kept in step with the symbols stored, so they add up to the block's symbol
  // count; that makes every link below lie inside the block, which is what keeps the walk of
  // the output stage inside it without a test per byte. Check it rather than assume it.
  if (s->cftab[256] != v.nblock) return DecodeDataError;

  s->stateOutLen = 0;
  s->stateOutCh = 0;
  s->blockCheck = 0xFFFFFFFFu;
  s->stateNumber = WritingBlock;

  uint32_t* tt = s->tt;
  int32_t* cftab = s->cftab;
  const uint32_t nblock = uint32_t(v.nblock);
  for (uint32_t k = 0; k < nblock; ++k) {
    const uint32_t u = tt[k] & 0xFFu;
    tt[cftab[u]++] |= k << 8;
  }

  const uint32_t cycle = collectCycle(s, nblock, uint32_t(s->origPtr));
  if (cycle == 0) return DecodeDataError;
  s->cycleLength = cycle;
  s->rNToGo = 0;
  s->rTPos = 0;
  uint32_t first = tt[0] & 0xFFu;
  s->tPos = cycle == 1 ? 0 : 1;
  s->nblockUsed = 1;
  if (s->blockRandomised) first ^= randomMask(s->rNToGo, s->rTPos);
  s->k0 = int32_t(first);
  return DecodeOk;
}

int32_t decodeBlock(DecoderState* s) {
  SavedLocals& v = s->save;
  if (s->stateNumber == StreamHeader1) v = SavedLocals{};
  uint32_t bits;
  int32_t result = DecodeOk;

#define MW_READ(n)                                      \
  if (!readBits(s, (n), &bits)) return DecodeOk;

  for (;;) {
    switch (s->stateNumber) {
      case StreamHeader1:
      case StreamHeader2:
      case StreamHeader3:
        MW_READ(8);
        ++s->stateNumber;
        break;
      case StreamHeader4:
        MW_READ(8);
        s->blockSize100k = 9;
        s->tt = static_cast<uint32_t*>(s->strm->bzalloc(s->strm->opaque, int32_t(kTableEntries * 4), 1));
        if (s->tt == nullptr) return DecodeMemError;
        s->stateNumber = BlockMagic1;
        break;

      case BlockMagic1:
        MW_READ(8);
        s->stateNumber = bits == 0x17 ? EndMagic2 : BlockMagic2;
        break;
      case BlockMagic2:
      case BlockMagic3:
      case BlockMagic4:
      case BlockMagic5:
        MW_READ(8);
        ++s->stateNumber;
        break;
      case BlockMagic6:
        MW_READ(8);
        s->storedBlockCRC = 0;
        ++s->currBlockNo;
        s->stateNumber = BlockCheck1;
        break;

      case BlockCheck1:
      case BlockCheck2:
      case BlockCheck3:
      case BlockCheck4:
        MW_READ(8);
        s->storedBlockCRC = (s->storedBlockCRC << 8) | bits;
        ++s->stateNumber;
        break;
      case RandomisedBit:
        MW_READ(1);
        s->blockRandomised = bits != 0;
        s->origPtr = 0;
        s->stateNumber = OrigPtr1;
        break;
      case OrigPtr1:
      case OrigPtr2:
        MW_READ(8);
        s->origPtr = (s->origPtr << 8) | int32_t(bits);
        ++s->stateNumber;
        break;
      case OrigPtr3:
        MW_READ(8);
        s->origPtr = (s->origPtr << 8) | int32_t(bits);
        if (s->origPtr < 0 || s->origPtr > 10 + 100000 * s->blockSize100k) return DecodeDataError;
        v.i = 0;
        s->stateNumber = RangeMap;
        break;

      case RangeMap:
        while (v.i < 16) {
          MW_READ(1);
          s->inUse16[v.i++] = bits != 0;
        }
        for (int32_t k = 0; k < 256; ++k) s->inUse[k] = false;
        v.i = 0;
        v.j = 0;
        s->stateNumber = ByteMap;
        break;
      case ByteMap:
        while (v.i < 16) {
          if (!s->inUse16[v.i]) {
            ++v.i;
            continue;
          }
          MW_READ(1);
          if (bits) s->inUse[v.i * 16 + v.j] = true;
          if (++v.j == 16) {
            v.j = 0;
            ++v.i;
          }
        }
        makeMaps(s);
        if (s->nInUse == 0) return DecodeDataError;
        v.alphaSize = s->nInUse + 2;
        s->stateNumber = TableCount;
        break;

      case TableCount:
        MW_READ(3);
        v.nGroups = int32_t(bits);
        if (v.nGroups < 2 || v.nGroups > kMaxGroups) return DecodeDataError;
        s->stateNumber = SelectorCount;
        break;
      case SelectorCount:
        MW_READ(15);
        v.nSelectors = int32_t(bits);
        // The selector arrays hold 18002 entries; a block of 900,000 symbols needs 18,000.
        if (v.nSelectors < 1 || v.nSelectors > kMaxSelectors) return DecodeDataError;
        v.i = 0;
        v.j = 0;
        s->stateNumber = SelectorBit;
        break;
      case SelectorBit:
        while (v.i < v.nSelectors) {
          MW_READ(1);
          if (bits == 0) {
            s->selectorMtf[v.i++] = uint8_t(v.j);
            v.j = 0;
          } else if (++v.j >= v.nGroups) {
            return DecodeDataError;
          }
        }
        {
          uint8_t order[kMaxGroups];
          for (int32_t k = 0; k < v.nGroups; ++k) order[k] = uint8_t(k);
          for (int32_t k = 0; k < v.nSelectors; ++k) {
            int32_t at = s->selectorMtf[k];
            const uint8_t table = order[at];
            for (; at > 0; --at) order[at] = order[at - 1];
            order[0] = table;
            s->selector[k] = table;
          }
        }
        v.t = 0;
        s->stateNumber = CodeLengthStart;
        break;

      case CodeLengthStart:
        MW_READ(5);
        v.curr = int32_t(bits);
        v.i = 0;
        s->stateNumber = CodeLengthBit;
        break;
      case CodeLengthBit:
        if (v.curr < 1 || v.curr > kMaxCodeLength) return DecodeDataError;
        MW_READ(1);
        if (bits) {
          s->stateNumber = CodeLengthStep;
          break;
        }
        s->len[v.t][v.i] = uint8_t(v.curr);
        if (++v.i < v.alphaSize) break;
        if (++v.t < v.nGroups) {
          s->stateNumber = CodeLengthStart;
          break;
        }
        // Every code length is known: build the decoding tables and start the symbols.
        for (int32_t t = 0; t < v.nGroups; ++t) {
          int32_t minLen = 32, maxLen = 0;
          for (int32_t k = 0; k < v.alphaSize; ++k) {
            if (s->len[t][k] > maxLen) maxLen = s->len[t][k];
            if (s->len[t][k] < minLen) minLen = s->len[t][k];
          }
          createDecodeTables(s->limit[t], s->base[t], s->perm[t], s->len[t], minLen, maxLen, v.alphaSize);
          s->minLens[t] = minLen;
          buildFastTable(s, t, v.alphaSize);
        }
        v.EOB = s->nInUse + 1;
        v.nblockMAX = 100000 * s->blockSize100k;
        v.groupNo = -1;
        v.groupPos = 0;
        for (int32_t k = 0; k < 256; ++k) s->unzftab[k] = 0;
        initMoveToFront(s);
        v.nblock = 0;
        if (!prepareSymbol(s)) return DecodeDataError;
        s->stateNumber = FirstSymbol;
        break;
      case CodeLengthStep:
        MW_READ(1);
        v.curr += bits ? -1 : 1;
        s->stateNumber = CodeLengthBit;
        break;

      case FirstSymbol:
      case SymbolAfterRun:
      case SymbolAfterByte:
        if (s->strm->avail_in >= kFastLoopInput) {
          result = decodeSymbolsFast(s);
          if (result == kSymbolsEndOfBlock) return finishBlock(s);
          if (result != DecodeOk) return result;
          // The input ran low: the machine stands at the start of the next symbol, in the
          // state the fast loop left (it may differ from the one this case was entered with).
        }
        MW_READ(v.zn);
        v.zvec = int32_t(bits);
        ++s->stateNumber;
        [[fallthrough]];
      case FirstSymbolBit:
      case SymbolAfterRunBit:
      case SymbolAfterByteBit:
        for (;;) {
          if (v.zn > kMaxCodeLength) return DecodeDataError;
          if (v.zvec <= v.gLimit[v.zn]) break;
          MW_READ(1);
          ++v.zn;
          v.zvec = (v.zvec << 1) | int32_t(bits);
        }
        {
          const int32_t index = v.zvec - v.gBase[v.zn];
          // Offsets past the table's own symbols would read perm entries this block never
          // wrote; only a corrupt code can produce them.
          if (index < 0 || index >= v.alphaSize) return DecodeDataError;
          v.nextSym = v.gPerm[index];
        }
        if (s->stateNumber == SymbolAfterRunBit) {
          if (v.nextSym <= 1) {
            addRunDigit(v, v.nextSym);
            if (!prepareSymbol(s)) return DecodeDataError;
            s->stateNumber = SymbolAfterRun;
            break;
          }
          ++v.es;
          if (!storeRun(s)) return DecodeDataError;
        }
        if (v.nextSym == v.EOB) return finishBlock(s);
        if (v.nextSym <= 1) {
          v.es = -1;
          v.N = 1;
          addRunDigit(v, v.nextSym);
          if (!prepareSymbol(s)) return DecodeDataError;
          s->stateNumber = SymbolAfterRun;
          break;
        }
        if (v.nblock >= v.nblockMAX) return DecodeDataError;
        {
          const uint8_t uc = moveToFront(s->mtfa, s->mtfbase, uint32_t(v.nextSym - 1));
          ++s->unzftab[uc];
          s->tt[v.nblock++] = uc;
        }
        if (!prepareSymbol(s)) return DecodeDataError;
        s->stateNumber = SymbolAfterByte;
        break;

      case EndMagic2:
      case EndMagic3:
      case EndMagic4:
      case EndMagic5:
      case EndMagic6:
        MW_READ(8);
        if (bits != kEndMagic[s->stateNumber - EndMagic2]) return DecodeDataError;
        if (++s->stateNumber == CombinedCheck1) s->storedCombinedCRC = 0;
        break;
      case CombinedCheck1:
      case CombinedCheck2:
      case CombinedCheck3:
      case CombinedCheck4:
        MW_READ(8);
        s->storedCombinedCRC = (s->storedCombinedCRC << 8) | bits;
        if (s->stateNumber == CombinedCheck4) {
          s->stateNumber = StreamEnded;
          return DecodeStreamEnd;
        }
        ++s->stateNumber;
        break;

      default:
        // Not a block decoder state: only a damaged record gets here.
        return DecodeParamError;
    }
  }
#undef MW_READ
}

}  // namespace mw
