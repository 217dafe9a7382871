// The web server's own request handling, apart from HTTP itself: which host file a
// request path names, and the index page made from its template.
//
// A request path is "/AREA/dir/.../name" after percent-decoding, AREA one of DISC,
// SDCARD, TAPE and ROM (in any case). Nothing a client sends may reach outside the
// area's directory: ".." components, backslashes, NUL bytes and paths through symbolic
// links that lead out of the directory are refused.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace web {

// The four area directories; an empty one is not served.
struct Areas {
  std::string disc, sdcard, tape, rom;
};

enum class PathResult { OK, NOT_FOUND, FORBIDDEN };

struct MappedPath {
  PathResult result = PathResult::NOT_FOUND;
  std::string host_path;   // the file or directory on the host (OK only)
  std::string url_path;    // the normalised request path "/AREA/dir/name"
};

// Maps a decoded request path into an area. Does not ask whether the file exists, but
// refuses (FORBIDDEN) a path whose existing part resolves outside the area's directory.
MappedPath map_path(const Areas& areas, const std::string& request_path);

// A name the client gives for an uploaded file: its last path component, refused
// (empty result) when that is empty, "." or "..", or holds a NUL byte.
std::string upload_name(const std::string& client_name);

// Text safe inside HTML and inside a single-quoted attribute.
std::string html_escape(const std::string& text);
// A path with every byte outside [A-Za-z0-9/._~-] percent-encoded.
std::string url_encode(const std::string& path);

// One listing line per entry of the directory url_path names: "<A HREF='%s'>%s</A>\r\n<BR>\r\n".
std::string listing(const Areas& areas, const std::string& url_path);

// The index page: the template line by line, "%HOSTNAME%" replaced by the host's name,
// each line that begins with "<CONTENT DIR=" replaced by the listing of the area path
// it names (up to "/>").
std::string render_index(const std::string& template_text, const std::string& host_name,
                         const std::function<std::string(const std::string&)>& list);

}  // namespace web
