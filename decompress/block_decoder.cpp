// The block decoder: a resumable state machine over the compressed bits (the states and their
// transitions are drawn in decoder_state.h). Each case below reads its field through needBits,
// with its own state number already stored, and names the state that follows; when the input
// runs dry inside a read the function returns 0 with every counter saved, and the next call
// enters the same case and repeats that read from its start (the bits already pulled stay in
// the bit buffer). The block's Huffman symbols are read by one loop (decodeSymbols) that keeps
// its counters in locals; it looks a code up in the bits it has and waits for input only when
// those bits do not hold a whole code.
#include "core/bytes.h"
#include "decompress/decoder_state.h"

namespace mw {
namespace {

constexpr uint8_t kEndMagic[5] = {0x72, 0x45, 0x38, 0x50, 0x90};

// Internal results: the input ran out inside a read (the caller's 0), and the end-of-block
// symbol has been read.
constexpr int32_t kWaitInput = 1;
constexpr int32_t kEndOfBlock = 2;

// The input as the machine sees it during one call. The unread bits sit at the top of `buf`.
struct Reader {
  const uint8_t* in;         // the next byte to pull
  const uint8_t* const end;  // the end of the caller's input
  uint32_t buf;
  uint32_t live;
};

// The one way input enters the machine outside the symbol loop: takes n bits (1 to 24) into
// *bits, pulling input bytes only as far as they are needed. False when the input ends first;
// the bytes pulled so far stay in the buffer and the caller returns with its state unchanged.
bool needBits(Reader& r, uint32_t n, uint32_t* bits) {
  while (r.live < n) {
    if (r.in == r.end) return false;
    r.buf |= uint32_t(*r.in++) << (24 - r.live);
    r.live += 8;
  }
  *bits = r.buf >> (32 - n);
  r.buf <<= n;
  r.live -= n;
  return true;
}

// One word of the first 16 entries, moved up one entry with `below` (the top entry of the word
// below, or entry n) entering at its bottom; an entry keeps its place where the top bit of its
// byte in `past` is set. Returns the word's top entry as it was.
[[gnu::always_inline]] inline uint32_t shiftWord(uint8_t* at, uint32_t past, uint32_t below) {
  uint32_t word;
  copyBytes(&word, at, 4);
  const uint32_t keep = ((past & 0x80808080u) >> 7) * 0xFFu;
  const uint32_t moved = (((word << 8) | below) & ~keep) | (word & keep);
  copyBytes(at, &moved, 4);
  return word >> 24;
}

#if defined(__i386__)
// The processor's string copies, forwards (the direction flag is clear at every call).
[[gnu::always_inline]] inline void copyWordsForward(uint8_t* dst, const uint8_t* src, uint32_t words) {
  __asm__ volatile("rep movsl" : "+D"(dst), "+S"(src), "+c"(words) : : "memory");
}
[[gnu::always_inline]] inline void copyBytesForward(uint8_t* dst, const uint8_t* src, uint32_t bytes) {
  __asm__ volatile("rep movsb" : "+D"(dst), "+S"(src), "+c"(bytes) : : "memory");
}
#endif

// Move-to-front: entry n of the list goes first and the n entries before it move up one place.
// Indices below 16, by far the most common, take the first 16 entries as four words without a
// branch on n: each word is shifted by one entry (taking the top entry of the word below) and
// keeps its entries past n, found by comparing each entry's position with n + 1 in every byte
// at once (both are below 128, so 0x80 + position - (n + 1) keeps its top bit exactly where
// position > n). Larger indices: the host moves machine words up from the back, each read
// before the store of the word above it can reach it. With 4-byte words, the 32-bit build's
// loop took about 14 ns per index over the decoder's own indices, and the time was that of
// the branch ending a loop whose count varies with n, mispredicted at most indices: 8-byte
// steps (MMX, x87) and a loop that only read took as long, one fixed count half as long. So
// there the n entries are copied out to `scratch` and back one place up by the processor's
// string copies, which branch on no count (about 10 ns). (The Windows programs' own memmove
// goes byte by byte; calling it here took over a quarter of the 32-bit decoder's time.)
void moveToFront(uint8_t* list, uint32_t n, uint8_t* scratch) {
  uint32_t value = list[n];
  if (n >= 16) {
#if defined(__i386__)
    copyWordsForward(scratch, list, (n + 3) / 4);
    copyBytesForward(list + 1, scratch, n);
#else
    (void)scratch;
    constexpr uint32_t kWord = sizeof(size_t);
    size_t word;
    copyBytes(&word, list, kWord);  // the first word, moved last
    for (uint32_t i = n; i > kWord; i -= kWord) {
      size_t above;
      copyBytes(&above, list + i - kWord, kWord);
      copyBytes(list + i - kWord + 1, &above, kWord);
    }
    copyBytes(list + 1, &word, kWord);
#endif
    list[0] = uint8_t(value);
    return;
  }
  // Written out word by word, so that each word's positions are a constant and the loop needs
  // no counter: the 32-bit build has few registers, and the symbol loop around it needs them.
  const uint32_t bound = (n + 1) * 0x01010101u;
  value = shiftWord(list, 0x83828180u - bound, value);
  value = shiftWord(list + 4, 0x87868584u - bound, value);
  value = shiftWord(list + 8, 0x8B8A8988u - bound, value);
  shiftWord(list + 12, 0x8F8E8D8Cu - bound, value);
}

// Result of decodeCode for a code that is invalid.
constexpr uint32_t kBadCode = 0xFFFFu;

// Decodes the code at the top of `buf`, of which `live` bits have arrived, with coding table c
// as the format's bit-by-bit procedure does: lengths from the table's shortest on until the
// code value is within that length's limit. Returns the symbol with the code's length above
// it (symbol | length << 9), 0 when the code needs more bits than have arrived, or kBadCode.
uint32_t decodeCode(const CodingTable* c, uint32_t alphaSize, uint32_t buf, uint32_t live) {
  uint32_t length = uint32_t(c->minLen);
  uint32_t zvec;
  for (;; ++length) {
    if (length > live) return 0;
    // A code is given up once a 21st bit has been read.
    if (length > uint32_t(kMaxCodeLength)) return kBadCode;
    zvec = buf >> (32 - length);
    if (int32_t(zvec) <= c->limit[length]) break;
  }
  // Offsets past the table's own symbols would read perm entries this block never wrote;
  // only a corrupt code can produce them.
  const uint32_t index = zvec - uint32_t(c->base[length]);
  if (index >= alphaSize) return kBadCode;
  return uint32_t(c->perm[index]) | length << 9;
}

// The decoding tables of a coding table whose code lengths are known.
void buildTables(CodingTable* c, int32_t alphaSize) {
  const uint8_t* const length = c->len;
  int32_t* const limit = c->limit;
  int32_t* const base = c->base;
  int32_t minLen = 32, maxLen = 0;
  for (int32_t k = 0; k < alphaSize; ++k) {
    if (length[k] > maxLen) maxLen = length[k];
    if (length[k] < minLen) minLen = length[k];
  }
  c->minLen = minLen;

  int32_t pp = 0;
  for (int32_t l = minLen; l <= maxLen; ++l)
    for (int32_t sym = 0; sym < alphaSize; ++sym)
      if (length[sym] == l) c->perm[pp++] = sym;

  for (int32_t l = 0; l < 23; ++l) base[l] = limit[l] = 0;
  for (int32_t sym = 0; sym < alphaSize; ++sym) ++base[length[sym] + 1];
  for (int32_t l = 1; l < 23; ++l) base[l] += base[l - 1];
  int32_t vec = 0;
  for (int32_t l = minLen; l <= maxLen; ++l) {
    vec += base[l + 1] - base[l];
    limit[l] = vec - 1;
    vec <<= 1;
  }
  for (int32_t l = minLen + 1; l <= maxLen; ++l) base[l] = ((limit[l - 1] + 1) << 1) - base[l];

  // The one-look-up table holds what decodeCode finds in kFastBits bits: a code that needs
  // more, or is invalid, leaves 0. Prefixes are visited in ascending order, so the prefixes
  // of a code come in a run that starts where the code is found: fill it with one entry.
  for (uint32_t p = 0; p < uint32_t(kFastEntries);) {
    uint32_t entry = decodeCode(c, uint32_t(alphaSize), p << (32 - kFastBits), kFastBits);
    uint32_t span = 1;
    if (entry == kBadCode) entry = 0;
    if (entry != 0) span = 1u << (kFastBits - (entry >> 9));
    for (; span != 0; --span) c->fast[p++] = uint16_t(entry);
  }
}

// Decodes symbols from the one the machine stands at until the end-of-block symbol
// (kEndOfBlock), bad data (DecodeDataError) or an input end inside a code (kWaitInput, with
// every input byte pulled and the machine still before that code). Every check comes in the
// same order, after the same bits, as in the format's bit-by-bit procedure.
int32_t decodeSymbols(DecoderState* s, Reader& r) {
  SavedLocals& v = s->save;

  // The loop's counters in locals: the 32-bit build has seven registers for them, so the
  // bit reader and the store position come first, and the block's start is kept in the state.
  const uint8_t* in = r.in;
  uint32_t buf = r.buf;
  uint32_t live = r.live;
  uint32_t* store = s->tt + v.nblock;  // where the next symbol goes
  uint32_t* const storeEnd = s->tt + kBlockCapacity;
  int32_t groupPos = v.groupPos;
  const CodingTable* table = s->tables + s->selector[v.groupNo];
  const int32_t EOB = v.alphaSize - 1;
  int32_t result;

  for (;;) {
    // At least 21 bits (enough to decode or give up any code) while the input lasts. With four
    // bytes at hand they are read as one big-endian word and as many whole bytes taken as fit
    // below the live bits (the rest of the word lands where those bytes will go, so it is
    // simply written again by the next refill); near the input's end, byte by byte.
    if (r.end - in >= 4) {
      buf |= __builtin_bswap32(readU32(in)) >> live;
      in += (31 - live) >> 3;
      live |= 24;
    } else {
      while (live <= uint32_t(kMaxCodeLength) && in != r.end) {
        buf |= uint32_t(*in++) << (24 - live);
        live += 8;
      }
    }
    const uint32_t entry = table->fast[buf >> (32 - kFastBits)];
    uint32_t length = entry >> 9;
    int32_t sym = int32_t(entry & 0x1FFu);
    if (length == 0 || length > live) {
      // A long or invalid code, or one whose bits have not all arrived.
      const uint32_t coded = decodeCode(table, uint32_t(v.alphaSize), buf, live);
      if (coded == 0) {
        result = kWaitInput;
        goto done;
      }
      if (coded == kBadCode) goto dataError;
      length = coded >> 9;
      sym = int32_t(coded & 0x1FFu);
    }
    buf <<= length;
    live -= length;

    if (sym <= 1) {
      // Run digits 0 and 1 add N or 2N copies and double N. A run longer than a block is
      // bad data that the store after the run rejects; the sum stops growing there so that
      // no sequence of digits can overflow it.
      if (v.N == 0) {
        v.es = 0;
        v.N = 1;
      }
      v.es += v.N << sym;
      if (v.es > kBlockCapacity) v.es = kBlockCapacity + 1;
      if (v.N < (1 << 20)) v.N <<= 1;
    } else {
      if (v.N != 0) {
        // The run has ended: es copies of the list's front byte.
        const int32_t es = v.es;
        if (es > storeEnd - store) goto dataError;
        const uint8_t uc = s->mtfList[0];
        s->cftab[uc + 1] += es;
        for (int32_t k = 0; k < es; ++k) store[k] = uc;
        store += es;
        v.N = 0;
      }
      if (sym == EOB) {
        result = kEndOfBlock;
        goto done;
      }
      if (store == storeEnd) goto dataError;
      moveToFront(s->mtfList, uint32_t(sym - 1), s->mtfScratch);
      const uint8_t uc = s->mtfList[0];
      ++s->cftab[uc + 1];
      *store++ = uc;
    }
    // The next symbol's coding table: every 50 symbols the next selector.
    if (--groupPos < 0) {
      if (++v.groupNo >= v.nSelectors) goto dataError;
      groupPos = kGroupSize - 1;
      table = s->tables + s->selector[v.groupNo];
    }
  }
dataError:
  result = DecodeDataError;
done:
  // The bits below the live ones are cleared again: the state keeps only whole reads.
  r.in = in;
  r.buf = live == 0 ? 0 : buf & ~(0xFFFFFFFFu >> live);
  r.live = live;
  v.nblock = int32_t(store - s->tt);
  v.groupPos = groupPos;
  return result;
}

int32_t runMachine(DecoderState* s, Reader& r) {
  SavedLocals& v = s->save;
  uint32_t bits;
  for (;;) switch (s->stateNumber) {
    case StreamHeader1:
      if (!needBits(r, 16, &bits)) return kWaitInput;  // stream-header bytes 1 and 2, ignored
      s->stateNumber = StreamHeader2;
      [[fallthrough]];
    case StreamHeader2:
      if (!needBits(r, 16, &bits)) return kWaitInput;  // bytes 3 and 4, ignored
      s->tt = static_cast<uint32_t*>(s->strm->bzalloc(s->strm->opaque, int32_t(kTableEntries * 4), 1));
      if (s->tt == nullptr) return DecodeMemError;
      s->stateNumber = BlockMagic1;
      [[fallthrough]];

    case BlockMagic1:
      if (!needBits(r, 8, &bits)) return kWaitInput;
      v.i = 0;
      if (bits == 0x17) {
        s->stateNumber = EndMagic;
        break;
      }
      s->stateNumber = BlockMagicRest;
      [[fallthrough]];
    case BlockMagicRest:
      for (; v.i < 5; ++v.i)
        if (!needBits(r, 8, &bits)) return kWaitInput;  // block magic bytes 2 to 6, ignored
      v.i = 0;
      s->storedBlockCRC = 0;
      s->stateNumber = BlockCheck;
      [[fallthrough]];
    case BlockCheck:
      for (; v.i < 4; ++v.i) {
        if (!needBits(r, 8, &bits)) return kWaitInput;
        s->storedBlockCRC = s->storedBlockCRC << 8 | bits;
      }
      s->stateNumber = RandomisedBit;
      [[fallthrough]];
    case RandomisedBit:
      if (!needBits(r, 1, &bits)) return kWaitInput;
      s->blockRandomised = bits != 0;
      s->stateNumber = OrigPtr;
      [[fallthrough]];
    case OrigPtr:
      if (!needBits(r, 24, &bits)) return kWaitInput;
      s->origPtr = int32_t(bits);
      if (bits > 10u + uint32_t(kBlockCapacity)) return DecodeDataError;
      s->stateNumber = RangeMap;
      [[fallthrough]];

    case RangeMap:
      if (!needBits(r, 16, &bits)) return kWaitInput;
      s->rangeMap = bits;
      s->nInUse = 0;
      v.i = 0;
      s->stateNumber = ByteMap;
      [[fallthrough]];
    case ByteMap:
      for (; v.i < 16; ++v.i) {
        if (!(s->rangeMap & (0x8000u >> v.i))) continue;
        if (!needBits(r, 16, &bits)) return kWaitInput;  // the 16 values of range v.i
        for (int32_t k = 0; k < 16; ++k)
          if (bits & (0x8000u >> k)) s->mtfList[s->nInUse++] = uint8_t(v.i * 16 + k);
      }
      if (s->nInUse == 0) return DecodeDataError;
      v.alphaSize = s->nInUse + 2;
      s->stateNumber = TableCount;
      [[fallthrough]];

    case TableCount:
      if (!needBits(r, 3, &bits)) return kWaitInput;
      v.nGroups = int32_t(bits);
      if (v.nGroups < 2 || v.nGroups > kMaxGroups) return DecodeDataError;
      s->stateNumber = SelectorCount;
      [[fallthrough]];
    case SelectorCount:
      if (!needBits(r, 15, &bits)) return kWaitInput;
      v.nSelectors = int32_t(bits);
      // The selector array holds 18002 entries; a block of 900,000 symbols needs 18,000.
      if (v.nSelectors < 1 || v.nSelectors > kMaxSelectors) return DecodeDataError;
      v.i = 0;
      v.j = 0;
      for (int32_t k = 0; k < kMaxGroups; ++k) v.order[k] = uint8_t(k);
      s->stateNumber = SelectorBit;
      [[fallthrough]];
    case SelectorBit:
      while (v.i < v.nSelectors) {
        if (!needBits(r, 1, &bits)) return kWaitInput;
        if (bits) {
          if (++v.j >= v.nGroups) return DecodeDataError;
          continue;
        }
        // The unary count is the table's position in the tables' move-to-front list.
        const uint8_t table = v.order[v.j];
        for (; v.j > 0; --v.j) v.order[v.j] = v.order[v.j - 1];
        v.order[0] = table;
        s->selector[v.i++] = table;
      }
      v.t = 0;
      s->stateNumber = CodeLengthStart;
      [[fallthrough]];

    case CodeLengthStart:
      if (!needBits(r, 5, &bits)) return kWaitInput;
      v.curr = int32_t(bits);
      v.i = 0;
      s->stateNumber = CodeLengthBit;
      [[fallthrough]];
    case CodeLengthBit:
      // The length is checked before every bit, also before the bit that ends it.
      if (v.curr < 1 || v.curr > kMaxCodeLength) return DecodeDataError;
      if (!needBits(r, 1, &bits)) return kWaitInput;
      if (bits) {
        s->stateNumber = CodeLengthStep;
        break;
      }
      s->tables[v.t].len[v.i] = uint8_t(v.curr);
      if (++v.i < v.alphaSize) {
        s->stateNumber = CodeLengthBit;
        break;
      }
      if (++v.t < v.nGroups) {
        s->stateNumber = CodeLengthStart;
        break;
      }
      // Every code length is known: build the decoding tables and start the symbols.
      for (int32_t t = 0; t < v.nGroups; ++t) buildTables(s->tables + t, v.alphaSize);
      for (int32_t k = 0; k <= 256; ++k) s->cftab[k] = 0;
      v.nblock = 0;
      v.N = 0;
      v.groupNo = 0;
      v.groupPos = kGroupSize - 1;
      s->stateNumber = Symbols;
      break;
    case CodeLengthStep:
      if (!needBits(r, 1, &bits)) return kWaitInput;
      v.curr += bits ? -1 : 1;
      s->stateNumber = CodeLengthBit;
      break;

    case Symbols: {
      const int32_t result = decodeSymbols(s, r);  // kWaitInput, DecodeDataError or kEndOfBlock
      if (result != kEndOfBlock) return result;
      if (finishBlock(s) != DecodeOk) return DecodeDataError;
      s->stateNumber = WritingBlock;
      return DecodeOk;
    }

    case EndMagic:
      for (; v.i < 5; ++v.i) {
        if (!needBits(r, 8, &bits)) return kWaitInput;
        if (bits != kEndMagic[v.i]) return DecodeDataError;
      }
      v.i = 0;
      s->storedCombinedCRC = 0;
      s->stateNumber = CombinedCheck;
      [[fallthrough]];
    case CombinedCheck:
      for (; v.i < 4; ++v.i) {
        if (!needBits(r, 8, &bits)) return kWaitInput;
        s->storedCombinedCRC = s->storedCombinedCRC << 8 | bits;
      }
      s->stateNumber = StreamEnded;
      return DecodeStreamEnd;

    default:
      return DecodeParamError;  // not a block decoder state: only a damaged record gets here
  }
}

}  // namespace

int32_t decodeBlock(DecoderState* s) {
  StreamRecord* const strm = s->strm;
  Reader r = {strm->next_in, strm->next_in + strm->avail_in, s->bsBuff, uint32_t(s->bsLive)};
  int32_t result = runMachine(s, r);
  if (result == kWaitInput) {
    result = DecodeOk;  // every input byte has been pulled, as a bit-by-bit reader would
  } else {
    // A read is complete: hand back the whole bytes the symbol loop pulled ahead (never more
    // than this call took in: older bits came from bytes the caller may no longer hold).
    uint32_t back = r.live >> 3;
    if (back > uint32_t(r.in - strm->next_in)) back = uint32_t(r.in - strm->next_in);
    if (back != 0) {
      r.in -= back;
      r.live -= 8 * back;
      r.buf &= ~(0xFFFFFFFFu >> r.live);
    }
  }
  const uint32_t taken = uint32_t(r.in - strm->next_in);
  strm->next_in = r.in;
  strm->avail_in = uint32_t(r.end - r.in);
  strm->total_in_lo32 += taken;
  if (strm->total_in_lo32 < taken) ++strm->total_in_hi32;
  s->bsBuff = r.buf;
  s->bsLive = int32_t(r.live);
  return result;
}

}  // namespace mw
