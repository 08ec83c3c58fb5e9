// Selecting the files of a directory tree with glob patterns.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace mw::packager {

// Matches a '/'-separated relative path against a pattern: '*' any run of characters within
// one component, '?' one character, "[abc]"/"[a-z]"/"[!a]" a character class, and a component
// "**" any number (zero included) of whole components.
bool globMatch(std::string_view pattern, std::string_view path);

struct SelectedFile {
  std::filesystem::path path;  // on disk
  std::string relative;        // '/'-separated, below the tree's root
  uint64_t size;
};

// Every regular file below `root` (links to files followed, links to folders not, so a
// link loop cannot trap the walk) whose relative path
// matches one of `include` and none of `exclude`, in byte order of the relative path so that
// the result does not depend on the directory's own order. Throws std::filesystem_error when
// the tree cannot be read.
std::vector<SelectedFile> selectFiles(const std::filesystem::path& root,
                                      const std::vector<std::string>& include,
                                      const std::vector<std::string>& exclude);

}  // namespace mw::packager
