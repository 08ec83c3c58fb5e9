#include "packager/file_selection.h"

#include <algorithm>

namespace mw::packager {
namespace {

std::vector<std::string_view> split(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t slash = s.find('/', start);
    parts.push_back(s.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return parts;
}

// One component against one pattern component.
bool matchComponent(std::string_view p, std::string_view s) {
  size_t pi = 0, si = 0;
  size_t starP = std::string_view::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      starP = pi++;
      starS = si;
      continue;
    }
    if (pi < p.size()) {
      if (p[pi] == '?') {
        ++pi;
        ++si;
        continue;
      }
      if (p[pi] == '[') {
        size_t close = p.find(']', pi + 2);
        if (close != std::string_view::npos) {
          bool negate = p[pi + 1] == '!' || p[pi + 1] == '^';
          bool hit = false;
          for (size_t k = pi + 1 + (negate ? 1 : 0); k < close; ++k) {
            if (k + 2 < close && p[k + 1] == '-') {
              hit = hit || (s[si] >= p[k] && s[si] <= p[k + 2]);
              k += 2;
            } else {
              hit = hit || s[si] == p[k];
            }
          }
          if (hit != negate) {
            pi = close + 1;
            ++si;
            continue;
          }
        } else if (s[si] == '[') {
          ++pi;
          ++si;
          continue;
        }
      } else if (p[pi] == s[si]) {
        ++pi;
        ++si;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    pi = starP + 1;
    si = ++starS;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

bool matchParts(const std::vector<std::string_view>& p, size_t pi, const std::vector<std::string_view>& s, size_t si) {
  if (pi == p.size()) return si == s.size();
  if (p[pi] == "**") {
    for (size_t k = si; k <= s.size(); ++k)
      if (matchParts(p, pi + 1, s, k)) return true;
    return false;
  }
  if (si == s.size()) return false;
  return matchComponent(p[pi], s[si]) && matchParts(p, pi + 1, s, si + 1);
}

}  // namespace

bool globMatch(std::string_view pattern, std::string_view path) {
  return matchParts(split(pattern), 0, split(path), 0);
}

std::vector<SelectedFile> selectFiles(const std::filesystem::path& root,
                                      const std::vector<std::string>& include,
                                      const std::vector<std::string>& exclude) {
  namespace fs = std::filesystem;
  std::vector<SelectedFile> out;
  for (auto it = fs::recursive_directory_iterator(root);
       it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file()) continue;
    std::string relative = it->path().lexically_relative(root).generic_string();
    auto matches = [&](const std::vector<std::string>& patterns) {
      return std::any_of(patterns.begin(), patterns.end(),
                         [&](const std::string& p) { return globMatch(p, relative); });
    };
    if (!matches(include) || matches(exclude)) continue;
    out.push_back({it->path(), relative, it->file_size()});
  }
  std::sort(out.begin(), out.end(), [](const SelectedFile& a, const SelectedFile& b) { return a.relative < b.relative; });
  return out;
}

}  // namespace mw::packager
