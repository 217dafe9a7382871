#include "debugger/pokes.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "z80/z80_bus.h"

namespace {

constexpr int TEXT_COLUMN = 25;
constexpr int CHAR_COLUMN = 1;
constexpr int ADDRESS_COLUMN = 4;
constexpr int BYTE_COLUMN = 2;
constexpr unsigned BANK_SHIFT = 14;
constexpr unsigned BANK_OFFSET_MASK = 0x3FFF;

// A token as a whole hexadecimal number; false when it is not one.
bool parse_hex(const std::string& token, unsigned long& value) {
  if (token.empty()) return false;
  char* end = nullptr;
  value = std::strtoul(token.c_str(), &end, 16);
  return *end == '\0' && token[0] != '-' && token[0] != '+';
}

std::string cut(const std::string& field, size_t width) {
  return field.size() > width ? field.substr(0, width) : field;
}

}  // namespace

bool poke_line_fields(const std::string& line, std::vector<std::string>& fields) {
  fields.assign(pokes::FIELD_COUNT, std::string());
  if (line.empty() || line[0] == ';' || line.find('"') == std::string::npos) return false;
  size_t pos = 0;
  for (int f = 0; f < pokes::FIELD_COUNT; ++f) {
    size_t open = line.find('"', pos);
    if (open == std::string::npos) break;
    size_t close = line.find('"', open + 1);
    if (close == std::string::npos) {
      // An unclosed field runs to the line's end.
      fields[f] = line.substr(open + 1);
      break;
    }
    fields[f] = line.substr(open + 1, close - open - 1);
    // A ';' right behind the closing quote is a trailing comment: no more fields.
    if (close + 1 < line.size() && line[close + 1] == ';') break;
    pos = close + 1;
  }
  return true;
}

std::string poke_line_text(const std::vector<std::string>& fields) {
  auto field = [&](size_t i, size_t width) { return i < fields.size() ? cut(fields[i], width) : ""; };
  char text[96];
  std::snprintf(text, sizeof text, "%-25s %-25s %1s %4s %2s %2s", field(1, TEXT_COLUMN).c_str(),
                field(2, TEXT_COLUMN).c_str(), field(3, CHAR_COLUMN).c_str(),
                field(4, ADDRESS_COLUMN).c_str(), field(5, BYTE_COLUMN).c_str(),
                field(6, BYTE_COLUMN).c_str());
  return text;
}

PokeDatabase::~PokeDatabase() { close(); }

bool PokeDatabase::open(const char* path) {
  close();
  file_ = path ? std::fopen(path, "rb") : nullptr;
  cached_index_ = 0;
  cached_offset_ = 0;
  last_number_ = 0;
  lines_read_ = 0;
  return file_ != nullptr;
}

void PokeDatabase::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool PokeDatabase::read_line(std::string& line) {
  line.clear();
  int c = std::fgetc(file_);
  if (c == EOF) return false;
  for (; c != EOF && c != '\n'; c = std::fgetc(file_))
    if (line.size() < static_cast<size_t>(pokes::LINE_LENGTH)) line.push_back(static_cast<char>(c));
  ++lines_read_;
  return true;
}

bool PokeDatabase::read_header(std::vector<std::string>& fields) {
  std::string line;
  while (read_line(line))
    if (poke_line_fields(line, fields) && fields[0] == "0") return true;
  return false;
}

int PokeDatabase::seek_entry(int n) {
  if (!file_) return 0;
  int count = cached_index_;
  if (n < cached_index_) {
    count = 0;
    std::rewind(file_);
  } else {
    std::fseek(file_, cached_offset_, SEEK_SET);
  }
  std::vector<std::string> fields;
  while (count < n && read_header(fields)) ++count;
  if (count != cached_index_) {
    cached_index_ = count;
    cached_offset_ = std::ftell(file_);
  }
  return count;
}

bool PokeDatabase::entry_text(std::string& text, int n) {
  text.clear();
  if (!file_ || n < 0 || seek_entry(n) < n) return false;
  std::vector<std::string> fields;
  if (!read_header(fields)) return false;
  text = poke_line_text(fields);
  last_number_ = 0;
  return true;
}

bool PokeDatabase::next_poke_text(std::string& text) {
  text.clear();
  if (!file_) return false;
  long before = std::ftell(file_);
  std::string line;
  std::vector<std::string> fields;
  if (!read_line(line)) return false;
  if (!poke_line_fields(line, fields) || fields[0] != std::to_string(last_number_ + 1)) {
    std::fseek(file_, before, SEEK_SET);
    return false;
  }
  ++last_number_;
  text = poke_line_text(fields);
  return true;
}

bool apply_poke(const char* text, std::string& printed,
                const std::function<bool(long& value)>& ask_value) {
  std::istringstream in(text ? text : "");
  std::string address_token, value_token, check_token;
  in >> address_token >> value_token >> check_token;
  unsigned long address = 0, value = 0, check = 0;
  if (!parse_hex(address_token, address) || (address & 0xFFFF) == 0) return false;
  if (value_token.empty()) return false;
  if (value_token[0] == '?') {
    long asked = 0;
    if (!ask_value || !ask_value(asked)) return false;
    value = static_cast<unsigned long>(asked);
  } else if (!parse_hex(value_token, value)) {
    return false;
  }
  bool no_check = !check_token.empty() && check_token[0] == '?';
  if (!no_check && !parse_hex(check_token, check)) return false;
  address &= 0xFFFF;
  uint8_t& target = write_bank[address >> BANK_SHIFT][address & BANK_OFFSET_MASK];
  char line[32];
  std::snprintf(line, sizeof line, "%04lX %02X (%02X)", address, static_cast<unsigned>(value & 0xFF),
                target);
  printed += line;
  if (!no_check && check != target) printed += "*";
  target = static_cast<uint8_t>(value);
  return true;
}
