// Bounded text helpers shared by every piece of the engine that composes messages and paths, and
// the two captions its message boxes share. Engine core: builds freestanding.
#pragma once

#include <stdint.h>

namespace mw {

// The captions the checks, the start-up, the worker and the wizard share, defined once.
namespace texts {
extern const char kErrorCaption[];    // "Error"
extern const char kWarningCaption[];  // "Warning"
}  // namespace texts

// Copies pattern into out (size bytes, NUL included), replacing the first "%s" with arg. The
// result is cut, never overrun; returns the length written.
uint32_t formatText(char* out, uint32_t size, const char* pattern, const char* arg);

// Appends text to the NUL-terminated out. Returns false, leaving out unchanged, when it does not
// fit in size bytes.
bool appendText(char* out, uint32_t size, const char* text);

// The length of a text that a query wrote into `room` bytes: `room` itself when there is no NUL
// within them (the text is then no text at all).
uint32_t boundedLength(const char* text, uint32_t room);

// Whether text begins with prefix (case-sensitive; a shorter text stops at its NUL).
bool startsWith(const char* text, const char* prefix);

}  // namespace mw
