// Help file lookup: topic keys, topic search with the fallback to another language, and
// the links inside a topic's lines.
#include "config/help.h"

#include <cstdio>

#include "config/messages.h"

namespace {

constexpr const char* language_suffix[4] = {"UK", "GR", "FR", "SP"};

// Upper case of one ISO-8859-1 character as the help keys use it.
char key_upper(char ch) {
  unsigned char c = static_cast<unsigned char>(ch);
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  switch (c) {
    case 0xE4: return static_cast<char>(0xC4);  // ä
    case 0xF6: return static_cast<char>(0xD6);  // ö
    case 0xFC: return static_cast<char>(0xDC);  // ü
    case 0xE9: return static_cast<char>(0xC9);  // é
    case 0xE7: return static_cast<char>(0xC7);  // ç
    case 0xF1: return static_cast<char>(0xD1);  // ñ
    default: return ch;
  }
}

// Reads one line of at most 4095 characters (a longer one counts as several), without
// its line end. False at the end of the file.
bool read_help_line(FILE* f, std::string& line) {
  char buffer[4096];
  if (!std::fgets(buffer, sizeof buffer, f)) return false;
  line.assign(buffer);
  // A zero byte inside the line ends it: the rest of the buffer is not text.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return std::string();
  size_t b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

// The keys of a header line "#[A,B,...]" (the closing ']' may be missing).
std::vector<std::string> header_keys(const std::string& line) {
  std::vector<std::string> keys;
  size_t end = line.find(']', 2);
  std::string list = line.substr(2, end == std::string::npos ? std::string::npos : end - 2);
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    keys.push_back(trimmed(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return keys;
}

}  // namespace

std::string help_topic_key(const std::string& name, int language) {
  std::string key = name.empty() ? std::string(message_text(msg::HELP_INDEX_TOPIC)) : name;
  for (char& c : key) c = key_upper(c);
  if (language < 0 || language > 3) language = 0;
  return key + "." + language_suffix[language];
}

HelpStatus help_find_key(const char* file, const std::string& key, std::vector<std::string>& lines) {
  lines.clear();
  FILE* f = std::fopen(file ? file : "", "rb");
  if (!f) return HELP_CANNOT_OPEN;
  // The same name in another language: equal but for the two-letter suffix.
  const std::string stem = key.size() >= 2 ? key.substr(0, key.size() - 2) : key;
  enum { SKIP, EXACT, OTHER_LANGUAGE } collecting = SKIP;
  bool have_other = false;
  std::vector<std::string> other;
  std::string line;
  while (read_help_line(f, line)) {
    if (!line.empty() && line[0] == '#') {
      if (collecting == EXACT) break;
      collecting = SKIP;
      if (line.size() < 2 || line[1] != '[') continue;
      for (const std::string& k : header_keys(line)) {
        if (k == key) {
          collecting = EXACT;
          break;
        }
        if (!have_other && k.size() == key.size() && k.compare(0, stem.size(), stem) == 0) {
          collecting = OTHER_LANGUAGE;
          have_other = true;
        }
      }
      if (collecting == EXACT) other.clear();
      continue;
    }
    if (collecting == EXACT) lines.push_back(line);
    else if (collecting == OTHER_LANGUAGE) other.push_back(line);
  }
  std::fclose(f);
  if (collecting == EXACT) return HELP_FOUND;
  if (have_other) {
    lines = std::move(other);
    return HELP_FOUND;
  }
  return HELP_NO_TOPIC;
}

HelpStatus help_find_topic(const char* file, const std::string& name, int language,
                           std::vector<std::string>& lines) {
  return help_find_key(file, help_topic_key(name, language), lines);
}

std::string help_link_of(const std::string& line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '[' || (i > 0 && line[i - 1] == '"')) continue;
    size_t close = line.find(']', i + 1);
    if (close == std::string::npos) return std::string();
    return line.substr(i + 1, close - i - 1);
  }
  return std::string();
}

int help_language_link(const std::string& link) {
  static const char* const names[4] = {"ENGLISH", "GERMAN", "FRENCH", "SPANISH"};
  for (int i = 0; i < 4; ++i)
    if (link == names[i]) return i;
  return -1;
}
