#include "packager/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace mw::packager {
namespace {

iconv_t openConverter(const std::string& to, const std::string& from) {
  return iconv_open(to.c_str(), from.c_str());
}

// glibc knows the Windows code pages as CPnnnn (and some as WINDOWS-nnnn).
std::pair<iconv_t, iconv_t> openPair(uint32_t number) {
  for (const std::string& name : {"CP" + std::to_string(number), "WINDOWS-" + std::to_string(number)}) {
    iconv_t to = openConverter(name, "UTF-8");
    if (to == iconv_t(-1)) continue;
    iconv_t from = openConverter("UTF-8", name);
    if (from == iconv_t(-1)) {
      iconv_close(to);
      continue;
    }
    return {to, from};
  }
  return {iconv_t(-1), iconv_t(-1)};
}

// Runs one whole conversion. Returns false with `stoppedAt` (input bytes consumed) when the
// input holds something the target cannot represent.
bool runIconv(iconv_t cd, std::string_view in, std::string& out, size_t& stoppedAt) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.clear();
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  std::vector<char> buffer(in.size() * 4 + 16);
  while (true) {
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (r != size_t(-1)) {
      // Flush any shift state (none for these code pages, but cheap).
      outPtr = buffer.data();
      outLeft = buffer.size();
      iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
      out.append(buffer.data(), buffer.size() - outLeft);
      // glibc counts irreversible conversions in r; a best-fit mapping is not acceptable.
      if (r != 0) {
        stoppedAt = 0;
        return false;
      }
      return true;
    }
    if (errno == E2BIG) continue;
    stoppedAt = size_t(inPtr - in.data());
    return false;
  }
}

// Decodes one code point of valid UTF-8 starting at `i`, advancing `i`.
char32_t nextCodePoint(std::string_view s, size_t& i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
  ++i;
  for (int k = 0; k < extra && i < s.size(); ++k, ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return cp;
}

}  // namespace

bool isAnsiCodePage(uint32_t n) {
  return n == 874 || (n >= 1250 && n <= 1258) || n == 932 || n == 936 || n == 949 || n == 950;
}

CodePage::CodePage(uint32_t number) : number_(number), doubleByte_(number >= 932 && number <= 950) {
  if (!isAnsiCodePage(number))
    throw std::invalid_argument("code page " + std::to_string(number) +
                                " is not a Windows ANSI code page (874, 932, 936, 949, 950, 1250-1258)");
  auto [to, from] = openPair(number);
  if (to == iconv_t(-1))
    throw std::invalid_argument("code page " + std::to_string(number) + " is not supported by this system's iconv");
  toAnsi_ = to;
  fromAnsi_ = from;
}

CodePage::~CodePage() {
  iconv_close(iconv_t(toAnsi_));
  iconv_close(iconv_t(fromAnsi_));
}

std::string CodePage::encode(std::string_view utf8, std::optional<ConversionFailure>& failure) const {
  failure.reset();
  // NUL first: iconv would happily convert it.
  size_t index = 0;
  for (size_t i = 0; i < utf8.size(); ++index) {
    if (nextCodePoint(utf8, i) == 0) {
      failure = ConversionFailure{index, 0, "a NUL character cannot be stored"};
      return {};
    }
  }

  auto refuse = [&](size_t byteOffset) {
    std::string_view head = utf8.substr(0, byteOffset);
    size_t i = byteOffset;
    char32_t cp = i < utf8.size() ? nextCodePoint(utf8, i) : 0;
    failure = ConversionFailure{codePointCount(head), cp,
                                "cannot be represented in code page " + std::to_string(number_)};
  };

  std::string out;
  size_t stoppedAt = 0;
  if (!doubleByte_) {
    if (runIconv(iconv_t(toAnsi_), utf8, out, stoppedAt)) return out;
    if (stoppedAt != 0 || utf8.empty()) {
      refuse(stoppedAt);
      return {};
    }
  }
  // Character by character: finds an irreversible mapping's position, and in double-byte code
  // pages refuses characters whose trail byte is a backslash, which every path scan in the
  // engine would take for a separator.
  out.clear();
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    nextCodePoint(utf8, i);
    std::string piece;
    size_t dummy;
    if (!runIconv(iconv_t(toAnsi_), utf8.substr(start, i - start), piece, dummy) ||
        (piece.size() > 1 && piece.find('\\') != std::string::npos)) {
      refuse(start);
      return {};
    }
    out += piece;
  }
  return out;
}

std::string CodePage::decode(std::string_view ansi) const {
  std::string out;
  for (size_t i = 0; i < ansi.size();) {
    // Try one byte, then two (lead and trail byte in double-byte code pages).
    bool done = false;
    for (size_t n = 1; n <= 2 && i + n <= ansi.size() && !done; ++n) {
      std::string piece;
      size_t dummy;
      if (runIconv(iconv_t(fromAnsi_), ansi.substr(i, n), piece, dummy) && !piece.empty()) {
        out += piece;
        i += n;
        done = true;
      }
    }
    if (!done) {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

bool validUtf8(std::string_view s, size_t& badOffset) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra;
    char32_t min;
    if (c < 0x80) { ++i; continue; }
    else if (c >= 0xC2 && c < 0xE0) { extra = 1; min = 0x80; }
    else if (c >= 0xE0 && c < 0xF0) { extra = 2; min = 0x800; }
    else if (c >= 0xF0 && c < 0xF5) { extra = 3; min = 0x10000; }
    else { badOffset = i; return false; }
    if (i + extra >= s.size()) { badOffset = i; return false; }
    char32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) { badOffset = i; return false; }
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { badOffset = i; return false; }
    i += extra + 1;
  }
  return true;
}

size_t codePointCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string crlfLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace mw::packager
