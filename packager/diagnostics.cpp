#include "packager/diagnostics.h"

#include <ostream>

namespace mw::packager {

void Diagnostics::error(const SourcePosition& at, std::string message) {
  items_.push_back({at, true, std::move(message)});
  ++errors_;
}

void Diagnostics::warning(const SourcePosition& at, std::string message) {
  items_.push_back({at, false, std::move(message)});
}

std::string render(const Diagnostic& d) {
  std::string s = d.at.file;
  if (d.at.line) {
    s += ':' + std::to_string(d.at.line);
    if (d.at.column) s += ':' + std::to_string(d.at.column);
  }
  if (!s.empty()) s += ": ";
  s += d.isError ? "error: " : "warning: ";
  s += d.message;
  return s;
}

void Diagnostics::print(std::ostream& out) const {
  for (const Diagnostic& d : items_) out << render(d) << '\n';
}

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// A cursor over UTF-8 source that keeps line and column.
struct Walker {
  const std::string& s;
  size_t i;
  uint32_t line, column;

  bool atEnd() const { return i >= s.size(); }
  char peek(size_t k = 0) const { return i + k < s.size() ? s[i + k] : '\0'; }
  bool startsWith(const char* t) const { return s.compare(i, std::char_traits<char>::length(t), t) == 0; }
  void advance() {
    if (atEnd()) return;
    if (s[i] == '\n') {
      ++line;
      column = 1;
      ++i;
      return;
    }
    ++i;
    while (i < s.size() && isContinuation(static_cast<unsigned char>(s[i]))) ++i;
    ++column;
  }
  void skipNewline() {
    if (peek() == '\r' && peek(1) == '\n') advance();
    if (peek() == '\n') advance();
  }
};

}  // namespace

SourcePosition positionInTomlString(const std::string& source, const SourcePosition& start, size_t index) {
  // Find the token's byte offset from its line and column.
  Walker w{source, 0, 1, 1};
  while (!w.atEnd() && (w.line < start.line || (w.line == start.line && w.column < start.column))) w.advance();
  if (w.line != start.line || w.column != start.column) return start;

  bool multiLine = w.startsWith("\"\"\"") || w.startsWith("'''");
  bool literal = w.peek() == '\'';
  char quote = w.peek();
  for (int k = 0; k < (multiLine ? 3 : 1); ++k) w.advance();
  if (multiLine) w.skipNewline();

  size_t n = 0;
  while (!w.atEnd()) {
    if (!multiLine && w.peek() == quote) break;
    if (multiLine && w.peek() == quote && w.peek(1) == quote && w.peek(2) == quote &&
        w.peek(3) != quote)
      break;
    SourcePosition here{start.file, w.line, w.column};
    if (!literal && w.peek() == '\\') {
      // A backslash at the end of a line (trailing blanks allowed) swallows the line break and
      // the blanks that follow; it produces no character.
      size_t k = 1;
      while (w.peek(k) == ' ' || w.peek(k) == '\t') ++k;
      if (multiLine && (w.peek(k) == '\n' || (w.peek(k) == '\r' && w.peek(k + 1) == '\n'))) {
        w.advance();
        while (w.peek() == ' ' || w.peek() == '\t' || w.peek() == '\n' || w.peek() == '\r') w.advance();
        continue;
      }
      if (n == index) return here;
      size_t length = w.peek(1) == 'u' ? 6 : w.peek(1) == 'U' ? 10 : 2;
      for (size_t m = 0; m < length; ++m) w.advance();
      ++n;
      continue;
    }
    if (n == index) return here;
    if (w.peek() == '\r' && w.peek(1) == '\n') w.advance();
    w.advance();
    ++n;
  }
  return start;
}

SourcePosition positionInText(const std::string& text, const std::string& file, size_t index) {
  Walker w{text, 0, 1, 1};
  for (size_t n = 0; n < index && !w.atEnd(); ++n) w.advance();
  return {file, w.line, w.column};
}

}  // namespace mw::packager
