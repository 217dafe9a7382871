// Fuzz target: message look-ups in every language and help topic look-ups, both over the
// same arbitrary file.
#include <string>
#include <vector>

#include "config/help.h"
#include "config/messages.h"
#include "config/settings.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::silence_console();
  reset_settings();
  const std::string& path = fuzzsupport::write_input("msg", data, size);
  set_message_file(path.c_str());
  open_message_file();
  const long numbers[] = {0, 1, 2, 97, 153, 256, 257, 300, -1};
  for (int language : {0, 3, 1, 2, 0}) {
    set_setting(kw::LANGUAGE, language);
    for (long n : numbers) {
      const char* text = message_text(n);
      if (!text) __builtin_trap();
    }
  }

  // Topic names: fixed ones and the input's first bytes.
  std::string name(reinterpret_cast<const char*>(data), size < 16 ? size : 16);
  std::vector<std::string> lines;
  for (const std::string& topic : {std::string("KEYS"), std::string(""), name}) {
    for (int language = 0; language < 4; ++language) {
      if (help_find_topic(path.c_str(), topic, language, lines) == HELP_FOUND) {
        for (const std::string& line : lines) {
          std::string link = help_link_of(line);
          if (help_language_link(link) < 0 && !link.empty()) help_topic_key(link, language);
        }
      }
    }
  }
  close_message_file();
  return 0;
}
