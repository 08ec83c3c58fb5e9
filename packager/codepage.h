// Converting the project's UTF-8 texts to the 8-bit ANSI code page the engine reads, and the
// line ends Windows edit and static controls need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mw::packager {

// Why a text cannot be converted: the index (in code points) of the first offending character.
struct ConversionFailure {
  size_t index;
  char32_t codePoint;
  std::string reason;
};

class CodePage {
 public:
  // Throws std::invalid_argument for a code page that is not a Windows ANSI code page or that
  // the C library cannot convert to.
  explicit CodePage(uint32_t number);
  ~CodePage();
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;

  uint32_t number() const { return number_; }

  // Converts valid UTF-8 to the code page. NUL characters are refused (every string in the
  // script ends at its first NUL), and so is any character the code page cannot hold; nothing
  // is ever replaced or transliterated.
  std::string encode(std::string_view utf8, std::optional<ConversionFailure>& failure) const;

  // The reverse, for showing or extracting what an installer holds. Bytes the code page does not
  // define come out as U+FFFD.
  std::string decode(std::string_view ansi) const;

 private:
  uint32_t number_;
  bool doubleByte_;
  void* toAnsi_;
  void* fromAnsi_;
};

// The Windows ANSI code pages the packager accepts: 874, 1250 to 1258, and the double-byte
// 932, 936, 949 and 950.
bool isAnsiCodePage(uint32_t number);

// Checks that `text` is UTF-8; on failure gives the byte offset of the first bad sequence.
bool validUtf8(std::string_view text, size_t& badOffset);

// Number of code points in valid UTF-8.
size_t codePointCount(std::string_view utf8);

// Every line end (CR LF, a lone LF or a lone CR) becomes CR LF.
std::string crlfLineEnds(std::string_view text);

}  // namespace mw::packager
