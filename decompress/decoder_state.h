// The decoder's private state: one record that holds everything a stream needs between calls,
// so that decompress can stop whenever input or output runs out and continue later from
// exactly the same place. Read this header to find the whole machine.
//
// The stream is the bzip2 format without its first ten bytes being looked at: the callers
// put ten bytes of their own framing there. Checks are not CRCs: see blockCheck below.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "decompress/decompress.h"

namespace mw {

// Where the machine stands. Each state names the read it is waiting for; every read needs
// input (a state is re-entered from its start when input ran out), except WritingBlock, which
// needs output room.
//
//   StreamHeader1..4 -> BlockMagic1 --(0x17)--> EndMagic2..6 -> CombinedCheck1..4 -> StreamEnded
//                            |
//                            +--> BlockMagic2..6 -> BlockCheck1..4 -> RandomisedBit -> OrigPtr1..3
//                                 -> RangeMap -> ByteMap -> TableCount -> SelectorCount
//                                 -> SelectorBit (repeats) -> CodeLengthStart -> CodeLengthBit <-> CodeLengthStep
//                                    (CodeLengthBit returns to CodeLengthStart for the next table)
//                                 -> FirstSymbol[Bit] -> SymbolAfterRun[Bit] / SymbolAfterByte[Bit] (repeat)
//                                 -> (end-of-block symbol) WritingBlock -> BlockMagic1
enum DecoderStateNumber : int32_t {
  StreamEnded = 1,        // end-of-stream marker and combined check read; nothing more
  WritingBlock = 2,       // a decoded block is being written out (needs output room)
  StreamHeader1 = 10,     // first of four stream-header bytes (ignored)
  StreamHeader2 = 11,
  StreamHeader3 = 12,
  StreamHeader4 = 13,     // last header byte; then the table is requested
  BlockMagic1 = 14,       // first magic byte: 0x17 opens the end-of-stream marker
  BlockMagic2 = 15,       // magic bytes 2 to 6 of a block (ignored)
  BlockMagic3 = 16,
  BlockMagic4 = 17,
  BlockMagic5 = 18,
  BlockMagic6 = 19,
  BlockCheck1 = 20,       // four bytes of the stored block check, most significant first
  BlockCheck2 = 21,
  BlockCheck3 = 22,
  BlockCheck4 = 23,
  RandomisedBit = 24,     // one bit: the block was randomised
  OrigPtr1 = 25,          // three bytes of the primary index
  OrigPtr2 = 26,
  OrigPtr3 = 27,          // last byte; the index is range-checked
  RangeMap = 28,          // 16 bits: which ranges of 16 byte values occur
  ByteMap = 29,           // 16 bits per range present: which byte values occur
  TableCount = 30,        // 3 bits: number of coding tables
  SelectorCount = 31,     // 15 bits: number of selectors
  SelectorBit = 32,       // one unary bit of a selector's move-to-front index
  CodeLengthStart = 33,   // 5 bits: first code length of a table
  CodeLengthBit = 34,     // one bit: 0 ends this symbol's length, 1 announces a step
  CodeLengthStep = 35,    // one bit: the step's direction
  FirstSymbol = 36,       // the first minLen code bits of a block's first symbol
  FirstSymbolBit = 37,    // one more code bit of that symbol
  SymbolAfterRun = 38,    // the first minLen code bits of a symbol after a run digit
  SymbolAfterRunBit = 39, // one more code bit of that symbol
  SymbolAfterByte = 40,   // the first minLen code bits of a symbol after an ordinary symbol
  SymbolAfterByteBit = 41,// one more code bit of that symbol
  EndMagic2 = 42,         // end-of-stream magic bytes 2 to 6: 0x72 0x45 0x38 0x50 0x90
  EndMagic3 = 43,
  EndMagic4 = 44,
  EndMagic5 = 45,
  EndMagic6 = 46,
  CombinedCheck1 = 47,    // four bytes of the stored combined check
  CombinedCheck2 = 48,
  CombinedCheck3 = 49,
  CombinedCheck4 = 50,
};

constexpr int32_t kMaxGroups = 6;         // coding tables per block
constexpr int32_t kMaxAlphaSize = 258;    // 256 byte values, two run digits, end-of-block
constexpr int32_t kMaxSelectors = 18002;  // selector arrays; more selectors are rejected
constexpr int32_t kMaxCodeLength = 20;
constexpr int32_t kCodeLimitEntries = 24; // limit/base entries per table (lengths 0..22 used)
constexpr int32_t kGroupSize = 50;        // symbols coded with one selector
constexpr int32_t kBlockCapacity = 900000;
constexpr uint32_t kTableEntries = 900000;

// Codes of up to kFastBits bits are decoded by one look-up in a table of 2^kFastBits entries
// per coding table; longer codes continue bit by bit through limit/base/perm.
constexpr int32_t kFastBits = 11;
constexpr int32_t kFastEntries = 1 << kFastBits;

// The inverse transform cuts the walk into at most this many segments, followed side by side.
constexpr uint32_t kSegmentNumbers = 256;

// The block decoder's locals live here between calls, so that a decode cut short by missing
// input resumes in the middle of a table or a symbol (zeroed when a stream starts). Some are
// kept for the record of the format's decoder and not needed by this one (zt, zj).
struct SavedLocals {
  int32_t i;           // loop counter: selector, table or symbol being read
  int32_t j;           // inner counter: range bit, selector's unary count
  int32_t t;           // coding table being read
  int32_t alphaSize;   // symbols per coding table: nInUse + 2
  int32_t nGroups;     // coding tables in this block (2 to 6)
  int32_t nSelectors;  // groups of 50 symbols announced
  int32_t EOB;         // the end-of-block symbol, nInUse + 1
  int32_t groupNo;     // group of the symbol being decoded (-1 before the first)
  int32_t groupPos;    // symbols left in the current group
  int32_t nextSym;     // the symbol just decoded
  int32_t nblockMAX;   // block capacity, 900,000
  int32_t nblock;      // symbols stored in tt so far; after the block, its symbol count
  int32_t es;          // length of the run being accumulated from run digits
  int32_t N;           // weight of the next run digit
  int32_t curr;        // code length being built
  int32_t zt;          // table of the symbol being decoded
  int32_t zn;          // code bits read for the symbol being decoded
  int32_t zvec;        // those code bits as a number
  int32_t zj;          // the last single bit read
  int32_t gSel;        // coding table of the current group
  int32_t gMinlen;     // its shortest code length
  const int32_t* gLimit;  // its limit, base and perm arrays
  const int32_t* gBase;
  const int32_t* gPerm;
};

struct DecoderState {
  StreamRecord* strm;      // the record this state belongs to (checked on every call)
  int32_t stateNumber;     // a DecoderStateNumber

  // Output stage: the run being written and the walk through the inverse transform.
  uint8_t stateOutCh;      // byte of the pending run
  int32_t stateOutLen;     // bytes of that run still to write
  bool blockRandomised;    // the block's symbols are XORed with the randomisation mask
  int32_t rNToGo;          // symbols until the mask is next 1
  int32_t rTPos;           // next position in the randomisation table

  // Bit reader: bits are taken most significant first. Input bytes are pulled only when a
  // read needs them, so between reads fewer than 8 bits wait here.
  uint32_t bsBuff;         // the last input bytes, newest in the low bits
  int32_t bsLive;          // how many of the low bits of bsBuff are still unread

  int32_t blockSize100k;   // always 9
  int32_t currBlockNo;     // blocks started in this stream
  int32_t verbosity;       // stored, never used

  int32_t origPtr;         // primary index: the row of the sorted rotations holding the block
  uint32_t tPos;           // position of the walk's next symbol in tt (see tt below)
  int32_t k0;              // next symbol of the walk, not yet written

  int32_t unzftab[256];    // occurrences of each byte value in the block
  int32_t nblockUsed;      // symbols taken from the walk so far
  int32_t cftab[257];      // cumulative counts: where each byte value's links start

  // 900,000 entries. While a block is decoded, entry i holds its i-th symbol in the low 8 bits.
  // At the end of the block the inverse transform's links are built in the upper bits and
  // followed (inverse_transform.cpp); from then on, while the block is written, entry k holds
  // in its low 8 bits the k-th symbol of the walk, so the output stage reads them in order.
  uint32_t* tt;
  uint32_t cycleLength;    // symbols in the walk's cycle: nblock unless the block is damaged

  // The block check register starts at all ones and is shifted left by 8 bits for every byte
  // written (cleared per byte in a randomised block), so after four bytes it is zero; the
  // finished block compares its complement with storedBlockCRC. streamCheck folds each
  // finished block's value in (rotate left by one, then XOR) and must equal storedCombinedCRC.
  uint32_t storedBlockCRC;
  uint32_t storedCombinedCRC;
  uint32_t blockCheck;
  uint32_t streamCheck;

  int32_t nInUse;              // byte values present in the block
  bool inUse[256];             // which byte values are present
  bool inUse16[16];            // which ranges of 16 values are present
  uint8_t seqToUnseq[256];     // i-th present byte value

  // Move-to-front list of 256 entries kept as 16 blocks of 16 in a 4096-byte array; block k
  // starts at mtfbase[k]. Block 0 grows downwards and the list is packed back to the top
  // when it reaches position 0. The entries are the byte values themselves (the list starts
  // as seqToUnseq), so a decoded index gives the byte directly.
  uint8_t mtfa[4096];
  int32_t mtfbase[16];

  uint8_t selector[kMaxSelectors];  // coding table of each group of 50 symbols
  // The selectors' move-to-front indices are needed only while the selectors are read; the
  // fast decoding tables only once every code length is known. They share the space.
  union {
    uint8_t selectorMtf[kMaxSelectors];
    // Per coding table and kFastBits-bit prefix: symbol in the low 9 bits, code length above
    // (0: the code is longer than kFastBits bits or invalid; decode it bit by bit).
    uint16_t fastTable[kMaxGroups][kFastEntries];
  };

  uint8_t len[kMaxGroups][kMaxAlphaSize];          // code length of each symbol
  int32_t limit[kMaxGroups][kCodeLimitEntries];    // largest code value of each length
  int32_t base[kMaxGroups][kCodeLimitEntries];     // offset from a code value to its perm index
  int32_t perm[kMaxGroups][kMaxAlphaSize];         // symbols ordered by code length
  int32_t minLens[kMaxGroups];                     // shortest code length of each table

  SavedLocals save;

  // Scratch of the inverse transform: for each segment of the walk, the segment that follows
  // it, its length and its first output position (-1 when it is off the walk's cycle).
  uint8_t segmentNext[kSegmentNumbers];
  uint32_t segmentLength[kSegmentNumbers];
  int32_t segmentStart[kSegmentNumbers];
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// The arena reserves exactly this much for the state on the 32-bit target.
static_assert(sizeof(DecoderState) <= 64116, "DecoderState must fit the arena's state region");
#endif

// Block decoder (block_decoder.cpp): reads from the stream until a block is decoded (state
// WritingBlock), the stream ends (4), input runs out (0) or the data is bad (-3, -4).
int32_t decodeBlock(DecoderState* s);
void makeMaps(DecoderState* s);
void createDecodeTables(int32_t* limit, int32_t* base, int32_t* perm, const uint8_t* length,
                        int32_t minLen, int32_t maxLen, int32_t alphaSize);

// Inverse transform (inverse_transform.cpp): with the links built in tt, writes the symbols of
// the walk from origPtr to the low bytes of tt in walk order and returns how many there are
// before the walk repeats (0 if the links are inconsistent).
uint32_t collectCycle(DecoderState* s, uint32_t nblock, uint32_t origPtr);

// Output stage (output_stage.cpp): writes the decoded block until output room or the block
// runs out. Returns false when the walk ran past the block's end (corrupt data).
bool writeBlockOutput(DecoderState* s);

// The bzip2 format's 512-entry randomisation table.
extern const int16_t kRandomisationTable[512];

}  // namespace mw
