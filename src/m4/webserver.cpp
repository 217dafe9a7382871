#include "m4/webserver.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "m4/netlayer.h"

namespace fs = std::filesystem;

namespace {

constexpr int SECOND_PORT = 8000;
constexpr int WORKER_THREADS = 4;
constexpr time_t CLIENT_TIMEOUT_S = 5;       // an idle or slow client is dropped after this
constexpr std::size_t MAX_BODY = 64u << 20;  // an upload larger than this is refused
constexpr std::size_t MAX_INDEX = 1u << 20;  // bytes of the index template read
constexpr char SERVER_NAME[] = "Arvelo";
constexpr char ANY_ADDRESS[] = "0.0.0.0";
constexpr std::size_t MAX_ANNOUNCEMENTS = 16;  // a busy client's oldest are dropped

struct WebServer {
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
  WebServerOptions options;
  int port = 0;
  std::mutex activity_lock;           // guards activity
  std::deque<std::string> activity;   // announcements not yet taken, oldest first
  std::atomic<bool> has_activity{false};  // looked at without the lock, every frame
};

WebServer web_state;

void note_activity(const std::string& text) {
  std::lock_guard<std::mutex> hold(web_state.activity_lock);
  if (web_state.activity.size() == MAX_ANNOUNCEMENTS) web_state.activity.pop_front();
  web_state.activity.push_back(text);
  web_state.has_activity = true;
}

void reply_error(httplib::Response& res, int status) {
  res.status = status;
  const char* text = status == 403 ? "403 Forbidden\r\n"
                     : status == 404 ? "404 Not Found\r\n"
                     : status == 400 ? "400 Bad Request\r\n"
                                     : "500 Server Error\r\n";
  res.set_content(text, "text/plain");
}

void reply_for(const web::MappedPath& mapped, httplib::Response& res) {
  reply_error(res, mapped.result == web::PathResult::FORBIDDEN ? 403 : 404);
}

std::string host_name() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

void serve_index(httplib::Response& res) {
  std::ifstream in(web_state.options.index_file, std::ios::binary);
  if (!in) return reply_error(res, 404);
  std::string text(MAX_INDEX, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  const web::Areas& areas = web_state.options.areas;
  res.set_content(web::render_index(text, host_name(), [&](const std::string& dir) { return web::listing(areas, dir); }),
                  "text/html");
}

void serve_file(const web::MappedPath& mapped, httplib::Response& res) {
  std::error_code error;
  const auto size = fs::file_size(mapped.host_path, error);
  auto in = std::make_shared<std::ifstream>(mapped.host_path, std::ios::binary);
  if (error || !*in) return reply_error(res, 500);
  note_activity("Web download: " + fs::path(mapped.host_path).filename().string());
  res.set_content_provider(static_cast<std::size_t>(size), "application/octet-stream",
                           [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                             char buffer[16384];
                             in->seekg(static_cast<std::streamoff>(offset));
                             in->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
                             const auto got = in->gcount();
                             if (got <= 0) return false;  // the file shrank meanwhile
                             return sink.write(buffer, static_cast<std::size_t>(got));
                           });
}

void handle_get(const httplib::Request& req, httplib::Response& res) {
  if (req.path == "/" || req.path == "/index.html") return serve_index(res);
  const web::MappedPath mapped = web::map_path(web_state.options.areas, req.path);
  if (mapped.result != web::PathResult::OK) return reply_for(mapped, res);
  std::error_code error;
  if (fs::is_directory(mapped.host_path, error)) {
    return res.set_content(web::listing(web_state.options.areas, mapped.url_path), "text/html");
  }
  if (!fs::is_regular_file(mapped.host_path, error)) return reply_error(res, 404);
  serve_file(mapped, res);
}

// Writes the upload without following a symbolic link at the file itself.
bool write_upload(const std::string& path, const std::string& content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == content.size();
}

const httplib::MultipartFormData* file_part(const httplib::Request& req) {
  for (const auto& [key, part] : req.files) {
    if (!part.filename.empty()) return &part;
  }
  return nullptr;
}

void handle_post(const httplib::Request& req, httplib::Response& res) {
  std::printf("----UPLOAD----\r\n");
  const httplib::MultipartFormData* file = file_part(req);
  if (!req.is_multipart_form_data() || !req.has_file("DESTINATION") || !file) return reply_error(res, 400);
  std::string destination = req.get_file_value("DESTINATION").content;
  while (!destination.empty() && std::isspace(static_cast<unsigned char>(destination.back()))) destination.pop_back();
  const std::string name = web::upload_name(file->filename);
  if (name.empty()) return reply_error(res, 400);
  const web::MappedPath dir = web::map_path(web_state.options.areas, destination);
  std::error_code error;
  if (dir.result != web::PathResult::OK) return reply_for(dir, res);
  if (!fs::is_directory(dir.host_path, error)) return reply_error(res, 404);
  const web::MappedPath target = web::map_path(web_state.options.areas, dir.url_path + "/" + name);
  if (target.result != web::PathResult::OK) return reply_for(target, res);
  std::printf("WRITING RECEIVED FILE (%d BYTES)\r\n", static_cast<int>(file->content.size()));
  if (!write_upload(target.host_path, file->content)) {
    std::printf("Unable to write %s: %s\r\n", target.host_path.c_str(), std::strerror(errno));
    return reply_error(res, 500);
  }
  std::fflush(stdout);
  note_activity("Web upload: " + name);
  res.status = 301;
  res.set_header("Location", "/index.html");
}

void configure(httplib::Server& server) {
  server.new_task_queue = [] { return new httplib::ThreadPool(WORKER_THREADS); };
  server.set_read_timeout(CLIENT_TIMEOUT_S);
  server.set_write_timeout(CLIENT_TIMEOUT_S);
  server.set_keep_alive_timeout(1);
  server.set_payload_max_length(MAX_BODY);
  server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
    res.set_header("Server", SERVER_NAME);
  });
  server.set_logger([](const httplib::Request& req, const httplib::Response&) {
    std::printf("\r\n\r\nNew client: %s\r\n", req.remote_addr.c_str());
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    reply_error(res, 500);
  });
  // Errors found by the HTTP layer itself (a malformed or oversized request) get the
  // same plain-text bodies as ours.
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty() && (res.status == 400 || res.status == 404 || res.status == 500)) reply_error(res, res.status);
  });
  server.Get(".*", handle_get);
  server.Post(".*", handle_post);
}

// Port 80 needs privileges on most hosts; 8000 and then any port are the fall-backs.
int bind_listener(httplib::Server& server, int first_port) {
  for (int port : {first_port, SECOND_PORT}) {
    if (port <= 0) continue;
    if (server.bind_to_port(ANY_ADDRESS, port)) return port;
    std::printf("SDLNet_TCP_Open (port %d): %s\n", port, std::strerror(errno));
  }
  const int any = server.bind_to_any_port(ANY_ADDRESS);
  if (any > 0) return any;
  std::printf("SDLNet_TCP_Open (any port): %s\n", std::strerror(errno));
  std::printf("[main:bindListener] Failed to bind at ports %d, %d and any other port.\n", first_port, SECOND_PORT);
  return 0;
}

std::string reachable_address() {
  IPaddress found[8];
  const int count = SDLNet_GetLocalAddresses(found, 8);
  for (int i = 0; i < count; ++i) {
    if ((SDLNet_IPv4(&found[i]) >> 24) != 127) return found[i].host;
  }
  return "127.0.0.1";
}

}  // namespace

bool web_server_start(const WebServerOptions& options) {
  if (web_state.server) {
    std::printf("Webserver already running.\n");
    return false;
  }
  if (SDLNet_Init() != 0) {
    std::cerr << "SDLNet_Init: " << SDLNet_GetError() << std::endl;
    std::exit(1);
  }
  web_state.options = options;
  auto server = std::make_unique<httplib::Server>();
  configure(*server);
  const int port = bind_listener(*server, options.first_port);
  if (port == 0) {
    std::fflush(stdout);
    SDLNet_Quit();
    return false;
  }
  web_state.port = port;
  web_state.server = std::move(server);
  httplib::Server* running = web_state.server.get();
  web_state.thread = std::thread([running] {
    pthread_setname_np(pthread_self(), "http server");
    running->listen_after_bind();
  });
  // A stop before the thread reached its accept loop would not be seen by it.
  for (int waited = 0; !running->is_running() && waited < 5000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::printf("Web server listening on %s port %d: http://%s:%d/\n", ANY_ADDRESS, port,
              reachable_address().c_str(), port);
  std::fflush(stdout);
  return true;
}

bool web_server_start_areas(const char* drive_a, const char* sd_card, const char* tapes, const char* roms) {
  auto text = [](const char* t) { return std::string(t ? t : ""); };
  WebServerOptions options;
  options.areas = {text(drive_a), text(sd_card), text(tapes), text(roms)};
  return web_server_start(options);
}

void web_server_stop() {
  if (!web_state.server) return;
  web_state.server->stop();
  if (web_state.thread.joinable()) web_state.thread.join();
  web_state.server.reset();
  web_state.port = 0;
  SDLNet_Quit();
}

bool web_server_running() { return web_state.server != nullptr; }

int web_server_port() { return web_state.port; }

bool web_server_take_activity(std::string* text) {
  if (!web_state.has_activity.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> hold(web_state.activity_lock);
  if (web_state.activity.empty()) return false;
  *text = std::move(web_state.activity.front());
  web_state.activity.pop_front();
  web_state.has_activity = !web_state.activity.empty();
  return true;
}
