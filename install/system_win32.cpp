// The platform seam on Windows: plain ANSI Win32 calls, one per operation, and nothing that
// ends the process. The worker above decides what every failure means.
#include "install/system_win32.h"

#include <objidl.h>
#include <shlobj.h>

#include "core/bytes.h"

namespace mw {
namespace {

// The shell's link object and the two interfaces the shortcut needs. Declared here instead of
// linking the GUID library: three constants are all the engine uses of it.
const GUID kClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr uint32_t kRtManifest = 24;

HANDLE asHandle(FileHandle file) { return static_cast<HANDLE>(file); }

}  // namespace

void* Win32Platform::allocateZeroed(uint32_t size) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void Win32Platform::release(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

uint32_t Win32Platform::readInstaller(uint32_t offset, void* buffer, uint32_t length) {
  // The chunks are read in the order they lie in the file: a read that starts where the last one
  // ended needs no seek, one system call fewer per chunk.
  uint32_t got = 0;
  const bool read = offset == installerAt_ ? readOn(installer_, buffer, length, got)
                                           : readAt(installer_, offset, buffer, length, got);
  installerAt_ = read ? offset + got : kPositionUnknown;
  return got;
}

FileHandle Win32Platform::createFile(const char* path) {
  // Create or truncate, readable too: the uninstaller's header is patched through a mapping.
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

uint32_t Win32Platform::writeFile(FileHandle file, const void* data, uint32_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t done = 0;
  while (done < length) {
    DWORD n = 0;
    if (!WriteFile(asHandle(file), p + done, length - done, &n, nullptr) || n == 0) break;
    done += n;
  }
  return done;
}

bool Win32Platform::closeFile(FileHandle file) { return CloseHandle(asHandle(file)) != 0; }

uint32_t Win32Platform::readFileAt(const char* path, uint32_t offset, void* buffer, uint32_t length) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  uint32_t got = 0;
  readAt(h, offset, buffer, length, got);
  CloseHandle(h);
  return got;
}

uint8_t* Win32Platform::mapFile(FileHandle file, uint32_t length) {
  mapping_ = CreateFileMappingA(asHandle(file), nullptr, PAGE_READWRITE, 0, 0, nullptr);
  if (!mapping_) return nullptr;
  void* view = MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, length);
  if (!view) {
    CloseHandle(mapping_);
    mapping_ = nullptr;
  }
  return static_cast<uint8_t*>(view);
}

bool Win32Platform::unmapFile(FileHandle, uint8_t* view, uint32_t length) {
  bool ok = FlushViewOfFile(view, length) != 0;
  ok = UnmapViewOfFile(view) != 0 && ok;
  if (mapping_) ok = CloseHandle(mapping_) != 0 && ok;
  mapping_ = nullptr;
  return ok;
}

bool Win32Platform::replaceFile(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
  // Systems outside the NT family have the call only as a stub that fails with this error: make
  // room and move. Any other failure leaves `to` as it was.
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  DeleteFileA(to);
  return MoveFileA(from, to) != 0;
}

bool Win32Platform::removeFile(const char* path) { return DeleteFileA(path) != 0; }

bool Win32Platform::folderExists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32Platform::makeFolder(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }

bool Win32Platform::setCurrentFolder(const char* path) { return SetCurrentDirectoryA(path) != 0; }

uint32_t Win32Platform::currentFolder(char* buffer, uint32_t size) {
  const DWORD n = GetCurrentDirectoryA(size, buffer);
  if (n == 0 || n >= size) {
    if (size) buffer[0] = 0;
    return 0;
  }
  return n;
}

uint32_t Win32Platform::shellFolder(ShellFolder folder, char* buffer, uint32_t size) {
  return shellFolderPath(int(folder), buffer, size);
}

bool Win32Platform::makeShellLink(const char* targetPath, const char* shortcutPath) {
  // The working folder is the target's folder: everything before its last backslash.
  char folder[MAX_PATH];
  WCHAR widePath[MAX_PATH];
  const size_t targetLength = textLength(targetPath);
  if (targetLength >= MAX_PATH || textLength(shortcutPath) >= MAX_PATH) return false;
  size_t cut = 0;
  for (size_t i = 0; i < targetLength; ++i)
    if (targetPath[i] == '\\') cut = i;
  copyBytes(folder, targetPath, cut);
  folder[cut] = 0;
  if (!MultiByteToWideChar(CP_ACP, 0, shortcutPath, -1, widePath, MAX_PATH)) return false;

  bool saved = false;
  const HRESULT com = CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, kIidShellLinkA,
                                 reinterpret_cast<void**>(&link)))) {
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(kIidPersistFile, reinterpret_cast<void**>(&file)))) {
      link->SetPath(targetPath);
      link->SetWorkingDirectory(folder);
      link->SetIconLocation(targetPath, 0);
      saved = SUCCEEDED(file->Save(widePath, TRUE));
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return saved;
}

RegKey Win32Platform::openOrCreateKey(uint32_t root, const char* subkey, bool& created) {
  // A key that existed before the installation is one the uninstaller must not delete: the
  // system's own disposition tells the two cases apart (an open that failed for want of rights
  // and a create that then found the key would otherwise pass for a new key).
  HKEY rootKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(root));
  HKEY key = nullptr;
  DWORD disposition = 0;
  created = false;
  if (RegCreateKeyExA(rootKey, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      &disposition) != ERROR_SUCCESS)
    return nullptr;
  created = disposition == REG_CREATED_NEW_KEY;
  return key;
}

bool Win32Platform::setValue(RegKey key, const char* name, uint32_t type, const void* data,
                             uint32_t size) {
  if (name && !name[0]) name = nullptr;
  return RegSetValueExA(static_cast<HKEY>(key), name, 0, type, static_cast<const BYTE*>(data),
                        size) == ERROR_SUCCESS;
}

void Win32Platform::closeKey(RegKey key) {
  if (key) RegCloseKey(static_cast<HKEY>(key));
}

int32_t Win32Platform::ask(const char* caption, const char* text, uint32_t style, bool ownedByWizard) {
  HWND owner = nullptr;
  if (ownedByWizard && wizard_.window) owner = static_cast<HWND>(wizard_.window());
  return MessageBoxA(owner, text, caption, style);
}

void Win32Platform::showFileLabel(const char* text) {
  if (wizard_.showFile) wizard_.showFile(text);
}

void Win32Platform::setProgress(uint32_t percent) {
  if (wizard_.setProgress) wizard_.setProgress(percent);
}

bool Win32Platform::pausePoint() {
  return !wizard_.pausePoint || wizard_.pausePoint();
}

ThreadHandle Win32Platform::startThread(ThreadEntry run, void* arg) {
  DWORD id;  // systems outside the NT family refuse a null id pointer
  return CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(run), arg, 0, &id);
}

void Win32Platform::joinThread(ThreadHandle thread) {
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

SignalHandle Win32Platform::makeSignal(bool raised) {
  return CreateEventA(nullptr, FALSE, raised, nullptr);
}

void Win32Platform::raiseSignal(SignalHandle signal) { SetEvent(signal); }

void Win32Platform::waitSignal(SignalHandle signal) { WaitForSingleObject(signal, INFINITE); }

void Win32Platform::dropSignal(SignalHandle signal) { CloseHandle(signal); }

const uint8_t* Win32Platform::manifest(uint32_t& length) {
  length = 0;
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(kRtManifest));
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (!loaded) return nullptr;
  const void* bytes = LockResource(loaded);
  if (!bytes) return nullptr;
  length = SizeofResource(nullptr, found);
  return static_cast<const uint8_t*>(bytes);
}

void Win32Platform::localTime(LocalTime& now) {
  SYSTEMTIME t;
  GetLocalTime(&t);
  now.year = t.wYear;
  now.month = t.wMonth;
  now.day = t.wDay;
  now.hour = t.wHour;
  now.minute = t.wMinute;
  now.second = t.wSecond;
}

}  // namespace mw
