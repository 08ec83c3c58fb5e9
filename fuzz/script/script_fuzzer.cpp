// The setup-script front parser and every list reader, in the order the engine walks them,
// over arbitrary bytes. A reader may refuse the script; it may never read outside it or hand
// back a pointer or a string that reaches outside it.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "format/script.h"

namespace {

void inside(const uint8_t* script, size_t size, const void* p) {
  const uint8_t* q = static_cast<const uint8_t*>(p);
  if (q && (q < script || q >= script + size)) abort();
}

void stringInside(const uint8_t* script, size_t size, const char* s) {
  if (!s) return;
  inside(script, size, s);
  // The terminator must be inside too.
  if (!memchr(s, 0, size - size_t(reinterpret_cast<const uint8_t*>(s) - script))) abort();
}

void pictureInside(const uint8_t* script, size_t size, const mw::Picture& p) {
  if (!p.length) return;
  inside(script, size, p.file);
  inside(script, size, p.info);
  inside(script, size, p.bits);
  if (p.file + p.length > script + size || p.bits + p.bitsLength > p.file + p.length) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that a read one past the end is caught.
  uint8_t* script = static_cast<uint8_t*>(malloc(size ? size : 1));
  if (size) memcpy(script, data, size);
  uint32_t length = uint32_t(size);

  mw::SetupScript front;
  if (mw::parseFront(script, length, front)) {
    pictureInside(script, size, front.splashBitmap);
    pictureInside(script, size, front.sideBitmap);
    pictureInside(script, size, front.bannerBitmap);
    stringInside(script, size, front.windowCaption);
    stringInside(script, size, front.productName);
    stringInside(script, size, front.welcomeText);
    stringInside(script, size, front.licenceText);
    stringInside(script, size, front.destinationPath);
    stringInside(script, size, front.linkText);
    stringInside(script, size, front.linkTarget);
    stringInside(script, size, front.dotNetInstaller);
    if (front.fileTableOffset > length) abort();

    mw::ScriptCursor cursor;
    mw::startLists(cursor, script, length, front);
    mw::FileEntry file;
    mw::ReadResult r;
    while ((r = mw::nextFileEntry(cursor, file)) == mw::ReadItem) {
      stringInside(script, size, file.name);
      mw::isContainedPath(file.name);  // the worker's test of every name; must stay in bounds
    }
    const char* group = nullptr;
    if (r == mw::ReadEnd) {
      r = mw::readProgramGroup(cursor, group);
      stringInside(script, size, group);
    }
    mw::ShortcutEntry shortcut;
    if (r != mw::ReadCorrupt)
      while ((r = mw::nextShortcut(cursor, shortcut)) == mw::ReadItem) {
        stringInside(script, size, shortcut.target);
        mw::isContainedPath(shortcut.target);
      }
    mw::RegistryEntry entry;
    if (r != mw::ReadCorrupt)
      while ((r = mw::nextRegistryEntry(cursor, entry)) == mw::ReadItem) {
        stringInside(script, size, entry.subkey);
        stringInside(script, size, entry.valueName);
        inside(script, size, entry.data);
        if (entry.dataLength && entry.data + entry.dataLength > script + size) abort();
      }
    const char* finish = nullptr;
    if (r != mw::ReadCorrupt && mw::readFinishText(cursor, finish) != mw::ReadCorrupt) {
      stringInside(script, size, finish);
      mw::PostInstall post;
      if (mw::readPostInstall(cursor, post) != mw::ReadCorrupt) stringInside(script, size, post.runTarget);
    }
    if (cursor.position > length) abort();
  }
  free(script);
  return 0;
}
