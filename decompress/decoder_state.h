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

// Where the machine stands: one state per field of the stream, in the order the fields come.
// Each reading state takes its bits through one helper (needBits in block_decoder.cpp) with the
// state number already stored, so when the input runs dry inside a read the call returns 0 and
// the next call enters the same state and repeats that read from its start (the bits already
// pulled wait in bsBuff). A state that reads a field several times counts the reads done in
// save.i, which is stored as it goes. Only WritingBlock needs output room; every other state
// needs input.
//
//   Stream:       StreamHeader1 -> StreamHeader2 -> BlockMagic1
//   Block header: BlockMagic1 -> BlockMagicRest -> BlockCheck -> RandomisedBit -> OrigPtr
//                   -> RangeMap -> ByteMap -> TableCount -> SelectorCount -> SelectorBit
//                   -> CodeLengthStart -> CodeLengthBit
//   Code lengths: CodeLengthBit -> CodeLengthStep -> CodeLengthBit  (bit 1: one step)
//                 CodeLengthBit -> CodeLengthBit    (bit 0: the next symbol's length)
//                 CodeLengthBit -> CodeLengthStart  (bit 0 after a table's last length)
//                 CodeLengthBit -> Symbols          (bit 0 after the last table's last length)
//   Block data:   Symbols -> WritingBlock           (end-of-block symbol; tt turned into links)
//                 WritingBlock -> BlockMagic1       (block written and its check matched)
//   Stream end:   BlockMagic1 -> EndMagic -> CombinedCheck -> StreamEnded  (first byte 0x17)
//
// A field that is checked is read whole or checked byte by byte as it arrives, so an error is
// reported after exactly the bits that the format's bit-by-bit reading takes to find it.
enum DecoderStateNumber : int32_t {
  // Below 0: the stream has failed with that result code (-2, -3 or -4); every later call
  // returns it again.
  StreamEnded = 1,       // nothing more: the end-of-stream marker and its check are read
  WritingBlock = 2,      // needs output room: the decoded block is being written out
  StreamHeader1 = 10,    // needs input, 16 bits: stream-header bytes 1 and 2 (ignored)
  StreamHeader2 = 11,    // needs input, 16 bits: bytes 3 and 4 (ignored); then the table is requested
  BlockMagic1 = 12,      // needs input, 8 bits: 0x17 opens the end-of-stream marker, else a block
  BlockMagicRest = 13,   // needs input, 8 bits 5 times: block magic bytes 2 to 6 (ignored)
  BlockCheck = 14,       // needs input, 8 bits 4 times: the stored block check, high byte first
  RandomisedBit = 15,    // needs input, 1 bit: the block was randomised
  OrigPtr = 16,          // needs input, 24 bits: the primary index (at most 900,010)
  RangeMap = 17,         // needs input, 16 bits: which ranges of 16 byte values occur
  ByteMap = 18,          // needs input, 16 bits per range present: which byte values occur
  TableCount = 19,       // needs input, 3 bits: number of coding tables (2 to 6)
  SelectorCount = 20,    // needs input, 15 bits: number of selectors (1 to 18002)
  SelectorBit = 21,      // needs input, 1 bit, repeated: the unary index of each selector
  CodeLengthStart = 22,  // needs input, 5 bits: a table's first code length
  CodeLengthBit = 23,    // needs input, 1 bit: 0 ends this symbol's length, 1 announces a step
  CodeLengthStep = 24,   // needs input, 1 bit: the step's direction (0 up, 1 down)
  Symbols = 25,          // needs input, Huffman codes of 1 to 20 bits up to the end-of-block symbol
  EndMagic = 26,         // needs input, 8 bits 5 times: must be 0x72 0x45 0x38 0x50 0x90
  CombinedCheck = 27,    // needs input, 8 bits 4 times: the stored combined check, high byte first
};

constexpr int32_t kMaxGroups = 6;         // coding tables per block
constexpr int32_t kMaxAlphaSize = 258;    // 256 byte values, two run digits, end-of-block
constexpr int32_t kMaxSelectors = 18002;  // selector array; more selectors are rejected
constexpr int32_t kMaxCodeLength = 20;
constexpr int32_t kCodeLimitEntries = 24; // limit/base entries per table (lengths 0..22 used)
constexpr int32_t kGroupSize = 50;        // symbols coded with one selector
constexpr int32_t kBlockCapacity = 900000;
constexpr uint32_t kTableEntries = 900000;

// Codes of up to kFastBits bits are decoded by one look-up in a table of 2^kFastBits entries
// per coding table; longer codes continue through limit/base/perm.
constexpr int32_t kFastBits = 11;
constexpr int32_t kFastEntries = 1 << kFastBits;

// The inverse transform cuts the walk into at most this many segments, followed side by side.
constexpr uint32_t kSegmentNumbers = 256;

// One coding table: perm lists the symbols by code length, limit[l] is the largest code value
// of length l and base[l] turns a code value of length l into a perm index. fast holds, per
// kFastBits-bit prefix, the symbol in the low 9 bits and the code's length above (0: the code
// is longer than kFastBits bits or invalid; decode it through limit/base/perm).
struct CodingTable {
  int32_t minLen;                      // shortest code length
  int32_t limit[kCodeLimitEntries];    // per length: largest code value of that length
  int32_t base[kCodeLimitEntries];     // per length: subtracted from a code value to index perm
  int32_t perm[kMaxAlphaSize];         // the symbols ordered by code length, then by value
  uint8_t len[kMaxAlphaSize];          // code length of each symbol, as read
  uint16_t fast[kFastEntries];         // per kFastBits-bit prefix: symbol | length << 9, or 0
};

// The block decoder's counters live here between calls, so that a decode cut short by missing
// input resumes in the middle of a table or a symbol.
struct SavedLocals {
  int32_t i;           // selector, range or symbol being read; bytes read of a multi-byte field
  int32_t j;           // a selector's unary count so far
  int32_t t;           // coding table being read
  int32_t alphaSize;   // symbols per coding table: nInUse + 2
  int32_t nGroups;     // coding tables in this block (2 to 6)
  int32_t nSelectors;  // groups of 50 symbols announced
  int32_t curr;        // code length being built
  int32_t groupNo;     // group of the next symbol
  int32_t groupPos;    // symbols left in that group after the next one
  int32_t nblock;      // symbols stored in tt so far; after the block, its symbol count
  int32_t es;          // copies of the front byte announced by the run digits so far
  int32_t N;           // weight of the next run digit; 0 while no run is being read
  uint8_t order[kMaxGroups];  // move-to-front list of the coding tables, for the selectors
};

// The scalars come first and the arrays last: on the 32-bit target a field within 128 bytes
// of the start is addressed with a one-byte offset, which keeps the code that uses it short.
struct DecoderState {
  StreamRecord* strm;      // the record this state belongs to (checked on every call)
  int32_t stateNumber;     // a DecoderStateNumber
  SavedLocals save;

  int32_t nInUse;          // byte values present in the block
  uint32_t rangeMap;       // bit 15 - r: range r of 16 byte values occurs
  int32_t origPtr;         // primary index: the row of the sorted rotations holding the block

  // 900,000 entries. While a block is decoded, entry i holds its i-th symbol in the low 8 bits.
  // At the end of the block the inverse transform's links are built in the upper bits and
  // followed (inverse_transform.cpp); from then on, while the block is written, entry k holds
  // in its low 8 bits the k-th symbol of the walk, so the output stage reads them in order.
  uint32_t* tt;
  uint32_t cycleLength;    // symbols in the walk's cycle: nblock unless the block is damaged

  // Output stage: the run being written and the position in the walk.
  uint8_t stateOutCh;      // byte of the current run
  bool blockRandomised;    // the block's symbols are XORed with the randomisation mask
  int32_t stateOutLen;     // copies of it still to write
  uint32_t sameCount;      // equal bytes in a row so far (4: the next symbol is a count)
  uint32_t tPos;           // position of the walk's next symbol in tt (see tt above)
  int32_t nblockUsed;      // symbols taken from the walk so far
  int32_t rNToGo;          // symbols until the mask is next 1
  int32_t rTPos;           // next position in the randomisation table

  // The block check register starts at all ones and is shifted left by 8 bits for every byte
  // written (cleared per byte in a randomised block), so after four bytes it is zero; the
  // finished block compares its complement with storedBlockCRC. streamCheck folds each
  // finished block's value in (rotate left by one, then XOR) and must equal storedCombinedCRC.
  uint32_t blockCheck;
  uint32_t storedBlockCRC;
  uint32_t streamCheck;
  uint32_t storedCombinedCRC;

  // Bit reader: the unread bits, first at the top of bsBuff (the bits below them are zero).
  // Fewer than 8 are left after a read is complete; more only while a read waits for input.
  uint32_t bsBuff;
  int32_t bsLive;          // how many bits of bsBuff are unread

  int32_t cftab[257];           // where each byte value's rows start (after the links: end)
  // Move-to-front list of the block's byte values. The byte map fills it with the values
  // present in ascending order; it holds the values themselves, so a decoded index gives the
  // byte directly. Positions from nInUse on are never reached by a valid index.
  uint8_t mtfList[256];

  uint8_t selector[kMaxSelectors];  // coding table of each group of 50 symbols
  CodingTable tables[kMaxGroups];

  // Scratch of the inverse transform: for each segment of the walk, the segment that follows
  // it, its length and its first output position (-1 when it is off the walk's cycle).
  uint8_t segmentNext[kSegmentNumbers];
  uint32_t segmentLength[kSegmentNumbers];
  int32_t segmentStart[kSegmentNumbers];

  // Where the 32-bit build's move-to-front puts the entries of a long move on their way up
  // (block_decoder.cpp); nothing is kept there between symbols.
  uint8_t mtfScratch[256];
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// The arena reserves exactly this much for the state on the 32-bit target.
static_assert(sizeof(DecoderState) <= 64116, "DecoderState must fit the arena's state region");
#endif

// Block decoder (block_decoder.cpp): reads from the stream until a block is decoded (state
// WritingBlock), the stream ends (4), input runs out (0) or the data is bad (-3, -4).
int32_t decodeBlock(DecoderState* s);

// Inverse transform (inverse_transform.cpp): the end-of-block symbol has been read; builds the
// links, collects the walk into tt and readies the output stage (0; the block decoder then
// moves to WritingBlock), or finds the block bad (-4).
int32_t finishBlock(DecoderState* s);

// Output stage (output_stage.cpp): writes the decoded block until output room or the block
// runs out. Returns false when the walk ran past the block's end (corrupt data).
bool writeBlockOutput(DecoderState* s);

// Entry i (0..511) of the format's randomisation table (randomisation_table.cpp).
uint32_t randomisationEntry(uint32_t i);

}  // namespace mw
