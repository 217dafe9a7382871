// The help window: the lines of a help topic in a list; choosing a line follows its
// link to another topic or switches the language.
#pragma once
#include <string>
#include <vector>

#include "ui/select.h"

class help_w : public selectwin {
 public:
  explicit help_w(std::vector<std::string> lines);
  const char* line_text(char* buffer, int index, int width) override;
  int help_key(int index, const char* text) override;

 private:
  std::vector<std::string> lines_;
};

// Opens the help window at a topic name (empty or nullptr: the index).
void help_window(const char* topic);
