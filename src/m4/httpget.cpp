#include "m4/httpget.h"

#include <pthread.h>

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "m4/m4.h"
#include "m4/sdcard.h"

namespace {

constexpr int DEFAULT_PORT = 80;
constexpr char HTTP_PREFIX[] = "http://";
constexpr char OFFSET_MARK[] = ", offset=";
constexpr char DEFAULT_UPDATE_HOST[] = "m4-update.arvelo.invalid";
constexpr char VERSION_FILE[] = "cpc/version.bin";
constexpr char FIRMWARE_FILE[] = "cpc/M4FIRM.BIN";
constexpr char FIRMWARE_ON_CARD[] = "/m4/M4FIRM.BIN";
constexpr char HACK_MARK[] = "M4 Board by Vask";
constexpr int HACK_BEFORE_MARK = 480;       // the NMI ROM starts this far before its mark
constexpr int FIRMWARE_ROM_OFFSET = 8;      // the board's ROM follows the two versions
constexpr int VERSION_BYTES = 8;
constexpr std::size_t MAX_DOWNLOAD = 32u << 20;  // a larger body is refused
constexpr time_t CONNECT_TIMEOUT_S = 10;
constexpr time_t READ_TIMEOUT_S = 10;
constexpr auto MAX_TRANSFER_TIME = std::chrono::seconds(120);
constexpr int STATUS_OK = 200;
constexpr int STATUS_PARTIAL = 206;

m4::WaitWindow wait_window = nullptr;

std::string update_host_setting() {
  const char* env = std::getenv("ARVELO_M4_UPDATE_HOST");
  return env && *env ? env : DEFAULT_UPDATE_HOST;
}
std::string update_host = update_host_setting();

bool starts_with_any_case(const std::string& text, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  if (text.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// Bytes that would end or split the request line or a header are never sent.
bool printable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 0x20 && c != 0x7F; });
}

bool parse_number(std::string text, long* value) {
  int base = 10;
  if (starts_with_any_case(text, "0x")) {
    text.erase(0, 2);
    base = 16;
  }
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text.c_str(), &end, base);
  return *end == 0 && errno == 0 && *value >= 0;
}

// ---- Transfers ---------------------------------------------------------------------------------

// Where the body goes: a file, or a bounded text buffer.
struct Sink {
  std::FILE* file = nullptr;
  std::string* text = nullptr;
  std::size_t limit = MAX_DOWNLOAD;
  std::size_t skip = 0;      // body bytes before the wanted ones (a server that ignored Range)
  std::size_t written = 0;
};

struct Transfer {
  m4::HttpRequest request;
  long count = -1;           // bytes wanted from the offset; -1 for all
  std::string local_path;    // file to write, "" for the text buffer
  std::string text;
  std::size_t size = 0;
  std::string error;
};

// Takes a piece of the body; false ends the transfer (time up, write failed, or the
// wanted bytes are all there).
bool take(Sink& sink, const char* data, std::size_t length, const std::chrono::steady_clock::time_point& start) {
  if (std::chrono::steady_clock::now() - start > MAX_TRANSFER_TIME) return false;
  const std::size_t skipped = std::min(sink.skip, length);
  sink.skip -= skipped;
  data += skipped;
  length -= skipped;
  length = std::min(length, sink.limit - sink.written);
  if (sink.file && std::fwrite(data, 1, length, sink.file) != length) return false;
  if (sink.text) sink.text->append(data, length);
  sink.written += length;
  return sink.written < sink.limit;
}

httplib::Headers range_headers(const Transfer& t) {
  if (t.request.offset == 0 && t.count < 0) return {};
  const std::string last = t.count < 0 ? "" : std::to_string(t.request.offset + t.count - 1);
  return {{"Range", "bytes=" + std::to_string(t.request.offset) + "-" + last}};
}

bool successful(int status) { return status == STATUS_OK || status == STATUS_PARTIAL; }

// Called with the reply's headers: only a successful reply opens the sink. A server that
// ignores Range sends the whole file, whose first bytes are then skipped.
bool open_sink(Transfer& t, Sink& sink, int status) {
  if (!successful(status)) return false;
  if (status == STATUS_OK) sink.skip = static_cast<std::size_t>(t.request.offset);
  if (t.local_path.empty()) return true;
  sink.file = std::fopen(t.local_path.c_str(), "wb");
  if (!sink.file) t.error = std::string("fopen: ") + std::strerror(errno);
  return sink.file != nullptr;
}

std::string transfer_error(const Transfer& t, const Sink& sink, int status, const httplib::Result& result) {
  if (!t.error.empty()) return t.error;
  if (status != 0 && !successful(status)) return "HTTP status " + std::to_string(status);
  if (sink.written == sink.limit) return sink.text ? "" : "file too large";
  if (result) return "";
  const std::string reason = httplib::to_string(result.error());
  return status ? "transfer broken off (" + reason + ")" : "SDLNet_TCP_Open: " + reason;
}

void run_transfer(Transfer& t) {
  httplib::Client client(t.request.host, t.request.port);
  client.set_connection_timeout(CONNECT_TIMEOUT_S);
  client.set_read_timeout(READ_TIMEOUT_S);
  client.set_url_encode(false);
  Sink sink;
  sink.limit = t.count >= 0 ? static_cast<std::size_t>(t.count) : MAX_DOWNLOAD;
  if (t.local_path.empty()) sink.text = &t.text;
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto result = client.Get(
      "/" + t.request.path, range_headers(t),
      [&](const httplib::Response& response) { return open_sink(t, sink, status = response.status); },
      [&](const char* data, std::size_t length) { return take(sink, data, length, start); });
  const bool opened = sink.file != nullptr;
  if (opened && std::fclose(sink.file) != 0 && t.error.empty()) t.error = std::strerror(errno);
  t.size = sink.written;
  t.error = transfer_error(t, sink, status, result);
  if (!t.error.empty() && opened) std::remove(t.local_path.c_str());  // no half files
}

// Runs the transfer on the "httpget" thread while the window (when there is one) waits.
void transfer_waiting(Transfer& t, const char* title) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    pthread_setname_np(pthread_self(), "httpget");
    run_transfer(t);
    done = true;
  });
  if (wait_window) wait_window(title, done);
  worker.join();
  if (!t.error.empty()) std::cerr << t.error << std::endl;
}

// ---- Commands ---------------------------------------------------------------------------------

// The zero-terminated texts of the packet's parameters.
std::vector<std::string> packet_texts() {
  std::vector<std::string> texts;
  const char* p = reinterpret_cast<const char*>(m4::packet());
  int at = 3;
  const int end = m4::packet_bytes();
  while (at < end) {
    const std::string text(p + at, strnlen(p + at, end - at));
    texts.push_back(text);
    at += static_cast<int>(text.size()) + 1;
  }
  return texts;
}

void reply_failure(int code, const std::string& reason) { m4::reply_text(code, ("Error: " + reason + "\r\n").c_str()); }

// 0x4320: "URL", then the local name (default: the URL's last component) on the SD card.
void download_to_card(int code) {
  const std::vector<std::string> texts = packet_texts();
  Transfer t;
  std::string error;
  if (texts.empty() || !m4::parse_http_request(texts[0], &t.request, &error)) return reply_failure(code, error);
  std::string local = texts.size() > 1 ? texts[1] : "";
  if (local.empty()) {
    const std::size_t slash = t.request.path.find_last_of('/');
    local = slash == std::string::npos ? t.request.path : t.request.path.substr(slash + 1);
  }
  if (local.empty()) return reply_failure(code, "no local file name");
  t.local_path = m4::sd_host_path(local);
  transfer_waiting(t, "Downloading...");
  if (!t.error.empty()) return reply_failure(code, t.error);
  m4::reply_text(code, ("Downloaded " + local).c_str());
}

// 0x4328: "URL[, offset=N]": up to a message text's worth of the file from the offset
// into the message text, read back by 0x4329.
void download_to_message(int code) {
  const std::vector<std::string> texts = packet_texts();
  Transfer t;
  std::string error;
  if (texts.empty() || !m4::parse_http_request(texts[0], &t.request, &error)) return reply_failure(code, error);
  t.count = m4::MESSAGE_SIZE - 1;
  transfer_waiting(t, "Downloading...");
  m4::set_message(t.text);
  if (!t.error.empty()) return reply_failure(code, t.error);
  m4::reply_text(code, ("Downloaded " + std::to_string(t.size) + " bytes").c_str());
}

// ---- Firmware update ------------------------------------------------------------------------------

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

std::string version_text(uint32_t v) {
  return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

bool read_all(const std::string& path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

bool write_rom(const std::string& name, const uint8_t* data) {
  const char* rom_path = setting_text(kw::ROM_PATH);
  const std::string path = std::string(rom_path ? rom_path : "") + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), m4::ROM_SIZE);
  if (!out) return false;
  std::printf("%s overwritten\n", name.c_str());
  return true;
}

// The board ROM and the NMI ROM inside the firmware file; false when it holds neither
// wholly (nothing is written then).
bool install_firmware(const std::vector<uint8_t>& firmware, std::string* error) {
  if (firmware.size() < static_cast<std::size_t>(FIRMWARE_ROM_OFFSET + m4::ROM_SIZE)) {
    *error = "M4 firmware file too short";
    return false;
  }
  const auto mark = std::search(firmware.begin(), firmware.end(), HACK_MARK, HACK_MARK + sizeof HACK_MARK - 1);
  const long hack = mark == firmware.end() ? -1 : (mark - firmware.begin()) - HACK_BEFORE_MARK;
  if (hack < 0 || hack + m4::ROM_SIZE > static_cast<long>(firmware.size())) {
    *error = "M4 firmware file without its NMI ROM";
    return false;
  }
  if (!write_rom("M4.ROM", firmware.data() + FIRMWARE_ROM_OFFSET) || !write_rom("HACK.ROM", firmware.data() + hack)) {
    *error = std::string("cannot write to the ROM path: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void firmware_update(int code) {
  Transfer check;
  std::string error;
  if (!m4::parse_http_request(update_host + "/" + VERSION_FILE, &check.request, &error)) return reply_failure(code, error);
  check.count = VERSION_BYTES;
  transfer_waiting(check, "Checking version...");
  if (!check.error.empty() || check.text.size() < VERSION_BYTES) return reply_failure(code, check.error.empty() ? "no version" : check.error);
  const auto* offered = reinterpret_cast<const uint8_t*>(check.text.data());
  std::vector<uint8_t> current(VERSION_BYTES, 0);
  const std::string on_card = m4::sd_root() + FIRMWARE_ON_CARD;  // the board's own file, as named
  std::ifstream(on_card, std::ios::binary).read(reinterpret_cast<char*>(current.data()), VERSION_BYTES);
  if (le32(offered) <= le32(current.data()) && le32(offered + 4) <= le32(current.data() + 4)) {
    return m4::reply_text(code, "You got latest versions.\r\n");
  }
  Transfer download;
  m4::parse_http_request(update_host + "/" + FIRMWARE_FILE, &download.request, &error);
  std::error_code ignored;  // a missing folder shows as the download's fopen failure
  std::filesystem::create_directories(std::filesystem::path(on_card).parent_path(), ignored);
  download.local_path = on_card;
  transfer_waiting(download, "Downloading...");
  std::vector<uint8_t> firmware;
  if (!download.error.empty()) return reply_failure(code, download.error);
  if (!read_all(on_card, &firmware) || !install_firmware(firmware, &error)) return reply_failure(code, error);
  const std::string text = "Downloaded M4 firmware " + version_text(le32(offered)) + " (" +
                           version_text(le32(offered + 4)) + ").\r\n";
  m4::reply_text(code, text.c_str());
}

void reply_network_off(int code) {
  uint8_t* r = m4::reply_area();
  r[0] = 2;
  r[1] = static_cast<uint8_t>(code);
  r[2] = static_cast<uint8_t>(code >> 8);
}

}  // namespace

namespace m4 {

bool parse_http_request(const std::string& text, HttpRequest* request, std::string* error) {
  std::string url = text;
  *request = HttpRequest{};
  const std::size_t mark = url.find(OFFSET_MARK);
  if (mark != std::string::npos) {
    if (!parse_number(url.substr(mark + sizeof OFFSET_MARK - 1), &request->offset)) {
      *error = "bad offset";
      return false;
    }
    url.erase(mark);
  }
  if (starts_with_any_case(url, HTTP_PREFIX)) url.erase(0, sizeof HTTP_PREFIX - 1);
  const std::size_t slash = url.find('/');
  const std::string authority = url.substr(0, slash);
  request->path = slash == std::string::npos ? "" : url.substr(slash + 1);
  const std::size_t colon = authority.find(':');
  request->host = authority.substr(0, colon);
  long port = DEFAULT_PORT;
  if (colon != std::string::npos && (!parse_number(authority.substr(colon + 1), &port) || port < 1 || port > 65535 ||
                                     starts_with_any_case(authority.substr(colon + 1), "0x"))) {
    *error = "bad port";
    return false;
  }
  request->port = static_cast<int>(port);
  if (request->host.empty() || !printable(request->host) || !printable(request->path)) {
    *error = "bad URL";
    return false;
  }
  return true;
}

void set_wait_window(WaitWindow window) { wait_window = window; }

void set_update_host(const std::string& host_and_port) { update_host = host_and_port; }

bool http_command(int code) {
  void (*run)(int) = code == 0x4320 ? download_to_card
                     : code == 0x4328 ? download_to_message
                     : code == 0x4327 ? firmware_update
                                      : nullptr;
  if (!run) return false;
  if (!wifi_enabled()) {
    reply_network_off(code);
  } else {
    run(code);
  }
  return true;
}

}  // namespace m4
