// The 12 bytes at file offset 15856 that the packager overwrites with the locator record.
// Nothing in the program refers to them: the stub reads its record back from its own file, not
// from memory. The build pads the section so that these bytes land exactly on that offset
// (startup/stub_layout_win32.cmake) and checks afterwards that nothing else lies there.
__attribute__((section(".mwloc"), used)) static const char locatorReservation[12] = {};
