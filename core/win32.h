// The Win32 helpers the engine's pieces share (library mw_win32, Windows configuration only).
#pragma once

#include <windows.h>

#include <stdint.h>

namespace mw {

// Reads up to `length` bytes at `offset` of an open file; `got` says how many arrived (fewer at
// the end of the file). False when the system refused the seek or a read. The start-up, the
// installer file's reads and the look at a shortcut's target all read through this.
bool readAt(HANDLE file, uint32_t offset, void* buffer, uint32_t length, uint32_t& got);
// The same from the file's current position, without a seek.
bool readOn(HANDLE file, void* buffer, uint32_t length, uint32_t& got);

// A shell folder's full path (CSIDL numbering) into `out` (room bytes, NUL included); returns
// its length, or 0 with `out` empty when the folder cannot be resolved or does not fit.
uint32_t shellFolderPath(int csidl, char* out, uint32_t room);

}  // namespace mw
