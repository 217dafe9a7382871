// Fuzz target: the web server's own request handling and the HTTP client's URL parsing.
// The input's first line is a request path (as the server has it after percent-decoding)
// and a download URL of the CPC, the rest an index page template. The path is mapped into the areas, which must never give a host path outside
// its area's directory; the template is rendered with the areas' listings.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "m4/httpget.h"
#include "m4/web_paths.h"

namespace {

namespace fs = std::filesystem;

web::Areas make_areas() {
  const fs::path base = fuzzsupport::work_dir("fuzz-web");
  fs::create_directories(base / "sd/games");
  fs::create_directories(base / "outside");
  fs::create_directories(base / "tape");
  std::ofstream(base / "sd/games/a.bin") << "a";
  std::ofstream(base / "outside/secret") << "s";
  std::error_code ignored;
  fs::create_directory_symlink(base / "outside", base / "sd/out", ignored);
  web::Areas areas;
  areas.sdcard = (base / "sd").string();
  areas.tape = (base / "tape").string();
  return areas;
}

bool within(const std::string& root, const std::string& path) {
  const std::string canonical_root = fs::canonical(root).string();
  return path == canonical_root || path.rfind(canonical_root + "/", 0) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const web::Areas areas = make_areas();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string path = input.substr(0, cut);
  const web::MappedPath mapped = web::map_path(areas, path);
  if (mapped.result == web::PathResult::OK && !within(areas.sdcard, mapped.host_path) &&
      !within(areas.tape, mapped.host_path)) {
    std::abort();
  }
  web::upload_name(path);
  // The same line as a download request of the CPC: nothing that could split the
  // request line or a header may be accepted.
  m4::HttpRequest request;
  std::string error;
  if (m4::parse_http_request(path, &request, &error)) {
    for (char c : request.host + request.path) {
      if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) std::abort();
    }
    if (request.port < 1 || request.port > 65535 || request.offset < 0) std::abort();
  }
  const std::string page = web::render_index(cut == std::string::npos ? "" : input.substr(cut + 1), "host",
                                             [](const std::string& dir) { return web::listing(areas, dir); });
  if (page.find("secret") != std::string::npos && input.find("secret") == std::string::npos) std::abort();
  return 0;
}
