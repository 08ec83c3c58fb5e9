// Compiler-style messages for project files: "project.toml:12:5: error: ...".
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace mw::packager {

struct SourcePosition {
  std::string file;
  uint32_t line = 0;    // 1-based; 0 when the message concerns the whole file
  uint32_t column = 0;  // 1-based, in characters
};

struct Diagnostic {
  SourcePosition at;
  bool isError;
  std::string message;
};

// Collects every problem of a project file so that one run reports all of them.
class Diagnostics {
 public:
  void error(const SourcePosition& at, std::string message);
  void warning(const SourcePosition& at, std::string message);
  bool failed() const { return errors_ != 0; }
  size_t errorCount() const { return errors_; }
  const std::vector<Diagnostic>& all() const { return items_; }
  void print(std::ostream& out) const;

 private:
  std::vector<Diagnostic> items_;
  size_t errors_ = 0;
};

std::string render(const Diagnostic& d);

// The position of the `index`-th character (code point) of a string value in a TOML source,
// given where the value's token starts (its opening quote). Escapes and the trimmed first line
// break of multi-line strings are accounted for, so an error can point at the very character.
SourcePosition positionInTomlString(const std::string& source, const SourcePosition& tokenStart,
                                    size_t index);

// The position of the `index`-th character of a plain UTF-8 text file.
SourcePosition positionInText(const std::string& text, const std::string& file, size_t index);

}  // namespace mw::packager
