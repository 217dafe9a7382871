#include "m4/web_paths.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace web {
namespace {

constexpr char CONTENT_TAG[] = "<CONTENT DIR=";
constexpr char CONTENT_END[] = "/>";
constexpr char HOSTNAME_MARK[] = "%HOSTNAME%";
constexpr std::size_t MAX_LISTED = 10000;  // entries of one directory shown

struct Area {
  const char* name;
  const std::string Areas::*dir;
};
constexpr Area AREAS[] = {
    {"DISC", &Areas::disc}, {"SDCARD", &Areas::sdcard}, {"TAPE", &Areas::tape}, {"ROM", &Areas::rom}};

bool same_text_any_case(const std::string& a, const char* b) {
  const std::string upper_b(b);
  if (a.size() != upper_b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != upper_b[i]) return false;
  }
  return true;
}

// The path's components; false when one of them could step out or is no name at all.
bool components(const std::string& path, std::vector<std::string>* out) {
  if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") out->push_back(part);
    start = end + 1;
  }
  return true;
}

// True when `inside` is `root` or lies below it (both canonical).
bool lies_within(const fs::path& root, const fs::path& inside) {
  auto r = root.begin(), i = inside.begin();
  for (; r != root.end(); ++r, ++i) {
    if (i == inside.end() || *r != *i) return false;
  }
  return true;
}

}  // namespace

MappedPath map_path(const Areas& areas, const std::string& request_path) {
  MappedPath mapped;
  std::vector<std::string> parts;
  if (!components(request_path, &parts)) {
    mapped.result = PathResult::FORBIDDEN;
    return mapped;
  }
  if (parts.empty()) return mapped;
  const Area* area = nullptr;
  for (const Area& a : AREAS) {
    if (same_text_any_case(parts[0], a.name)) area = &a;
  }
  if (!area || (areas.*(area->dir)).empty()) return mapped;
  std::error_code error;
  const fs::path root = fs::canonical(areas.*(area->dir), error);
  if (error) return mapped;
  fs::path host = root;
  mapped.url_path = std::string("/") + area->name;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    host /= parts[i];
    mapped.url_path += "/" + parts[i];
  }
  // Symbolic links are followed as far as they exist: the result must stay in the area.
  const fs::path resolved = fs::weakly_canonical(host, error);
  if (error) return mapped;
  if (!lies_within(root, resolved)) {
    mapped.result = PathResult::FORBIDDEN;
    return mapped;
  }
  mapped.host_path = resolved.string();
  mapped.result = PathResult::OK;
  return mapped;
}

std::string upload_name(const std::string& client_name) {
  // Browsers on some systems send the whole client-side path; only its last part counts.
  const std::size_t cut = client_name.find_last_of("/\\");
  const std::string name = cut == std::string::npos ? client_name : client_name.substr(cut + 1);
  if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos) return "";
  return name;
}

std::string html_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&#39;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string url_encode(const std::string& path) {
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '_' || c == '~' || c == '-') {
      out += static_cast<char>(c);
    } else {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", c);
      out += code;
    }
  }
  return out;
}

std::string listing(const Areas& areas, const std::string& url_path) {
  const MappedPath dir = map_path(areas, url_path);
  std::error_code error;
  if (dir.result != PathResult::OK || !fs::is_directory(dir.host_path, error)) return "";
  std::vector<std::pair<std::string, bool>> entries;
  for (fs::directory_iterator it(dir.host_path, error), end; !error && it != end && entries.size() < MAX_LISTED;
       it.increment(error)) {
    std::error_code kind_error;
    entries.emplace_back(it->path().filename().string(), it->is_directory(kind_error));
  }
  std::sort(entries.begin(), entries.end());
  std::string out;
  for (const auto& [name, is_dir] : entries) {
    const std::string shown = is_dir ? name + "/" : name;
    out += "<A HREF='" + html_escape(url_encode(dir.url_path + "/" + shown)) + "'>" + html_escape(shown) +
           "</A>\r\n<BR>\r\n";
  }
  return out;
}

std::string render_index(const std::string& template_text, const std::string& host_name,
                         const std::function<std::string(const std::string&)>& list) {
  std::string out;
  std::size_t start = 0;
  const std::string host = html_escape(host_name);
  while (start < template_text.size()) {
    std::size_t end = template_text.find('\n', start);
    end = end == std::string::npos ? template_text.size() : end + 1;
    std::string line = template_text.substr(start, end - start);
    start = end;
    if (line.rfind(CONTENT_TAG, 0) == 0) {
      std::string dir = line.substr(sizeof CONTENT_TAG - 1);
      dir = dir.substr(0, dir.find(CONTENT_END));
      dir.erase(std::remove(dir.begin(), dir.end(), '\''), dir.end());
      dir.erase(std::remove(dir.begin(), dir.end(), '"'), dir.end());
      out += list(dir);
      continue;
    }
    for (std::size_t at = line.find(HOSTNAME_MARK); at != std::string::npos;
         at = line.find(HOSTNAME_MARK, at + host.size())) {
      line.replace(at, sizeof HOSTNAME_MARK - 1, host);
    }
    out += line;
  }
  return out;
}

}  // namespace web
