// Copying a host directory tree with the file-tree walk interface.
#include "m4/tree_copy.h"

#include <fts.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

bool copy_one_file(const std::string& from, const std::string& to) {
  std::error_code error;
  if (fs::exists(to, error)) return true;  // the user's own copy stays
  fs::copy_file(from, to, error);
  if (!error) return true;
  std::fprintf(stderr, "Copying %s failed\n", from.c_str());
  return false;
}

bool make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  struct stat st;
  if (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  std::fprintf(stderr, "Mkdir failed for %s\n", path.c_str());
  return false;
}

}  // namespace

bool copy_tree(const std::string& from, const std::string& to) {
  struct stat st;
  if (::stat(from.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    std::error_code error;
    fs::create_directories(fs::path(to).parent_path(), error);
    return copy_one_file(from, to);
  }
  std::error_code error;
  fs::create_directories(fs::path(to).parent_path(), error);
  char* paths[] = {const_cast<char*>(from.c_str()), nullptr};
  FTS* walk = ::fts_open(paths, FTS_LOGICAL | FTS_NOCHDIR, nullptr);
  if (!walk) return false;
  bool ok = true;
  while (FTSENT* e = ::fts_read(walk)) {
    // The walk may name the top directory without the trailing '/' it was given (after
    // an empty directory), so a path no longer than the top one is the top itself.
    const std::string path = e->fts_path;
    const std::string here = to + (path.size() > from.size() ? path.substr(from.size()) : "");
    switch (e->fts_info) {
      case FTS_D:
        if (!make_directory(here)) {
          ok = false;
          ::fts_set(walk, e, FTS_SKIP);
        }
        break;
      case FTS_DC:
        std::fprintf(stderr, "%s: cycle in directory tree\n", e->fts_path);
        break;
      case FTS_F:
        ok = copy_one_file(e->fts_path, here) && ok;
        break;
      case FTS_DNR:
      case FTS_ERR:
      case FTS_NS:
        std::fprintf(stderr, "Copying %s failed\n", e->fts_path);
        ok = false;
        break;
      default:
        break;
    }
  }
  ::fts_close(walk);
  return ok;
}
