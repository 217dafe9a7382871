#include "ui/help_window.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "config/help.h"
#include "config/messages.h"
#include "config/settings.h"
#include "ui/window.h"

namespace {

constexpr int HELP_LEFT = 1, HELP_TOP = 4, HELP_RIGHT = 80, HELP_BOTTOM = 25;

const char* help_file() {
  const char* f = setting_text(kw::HELP_FILE);
  return f && *f ? f : "arvelo.hlp";
}

std::string upper(const std::string& s) {
  std::string u = s;
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

}  // namespace

help_w::help_w(std::vector<std::string> lines)
    : selectwin(HELP_LEFT, HELP_TOP, HELP_RIGHT, HELP_BOTTOM, message_text(msg::HELP)),
      lines_(std::move(lines)) {
  for (std::string& l : lines_) std::replace(l.begin(), l.end(), '\t', ' ');
  // An empty topic still shows one (empty) line, so that the window can be closed.
  if (lines_.empty()) lines_.emplace_back();
}

const char* help_w::line_text(char* buffer, int index, int width) {
  if (index < 0 || index >= static_cast<int>(lines_.size())) return nullptr;
  const size_t n = std::min<size_t>(lines_[index].size(), static_cast<size_t>(std::max(0, width)));
  std::memcpy(buffer, lines_[index].data(), n);
  buffer[n] = 0;
  return buffer;
}

int help_w::help_key(int, const char*) {
  help_window(message_text(msg::HELP_USING_TOPIC));
  return selectbit::ROWS | selectbit::WINDOW;
}

void help_window(const char* topic) {
  // Topics visited through links; Esc goes back one, and closes the window at the first.
  std::vector<std::pair<std::string, int>> trail;
  trail.emplace_back(topic ? topic : "", 0);
  while (!trail.empty()) {
    const std::string name = trail.back().first;
    std::vector<std::string> lines;
    const HelpStatus status = help_find_topic(help_file(), name, setting(kw::LANGUAGE), lines);
    if (status == HELP_CANNOT_OPEN) {
      ui_show_message((std::string("Error opening ") + help_file()).c_str());
      return;
    }
    if (status == HELP_NO_TOPIC) {
      ui_show_message((std::string(message_text(msg::HELP_TOPIC_NOT_FOUND)) + " " +
                       help_topic_key(name, setting(kw::LANGUAGE)))
                          .c_str());
      trail.pop_back();
      continue;
    }
    help_w w(lines);
    int index = trail.back().second;
    const int cancelled = select(w, index);
    w.close();
    if (cancelled) {
      trail.pop_back();
      continue;
    }
    trail.back().second = index;
    const std::string link = help_link_of(lines.empty() ? std::string() : lines[static_cast<size_t>(index)]);
    if (link.empty()) continue;
    const int language = help_language_link(link);
    if (language >= 0) {
      set_setting(kw::LANGUAGE, language);
      continue;  // the same topic in the new language
    }
    trail.emplace_back(upper(link), 0);
  }
}
