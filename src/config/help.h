// Help file lookup. A topic starts with a header line "#[KEY,KEY,...]"; its text is the
// following lines up to the next line that starts with '#'. A key is the topic name in
// upper case, '.', and the language suffix UK, GR, FR or SP.
#pragma once
#include <string>
#include <vector>

enum HelpStatus : int {
  HELP_FOUND = 0,        // lines hold the topic's text
  HELP_CANNOT_OPEN = 1,  // the file cannot be opened ("Error opening <file>")
  HELP_NO_TOPIC = 2,     // no topic for the key, in no language (message 155 + key)
};

// The key of a topic name in a language (0..3): the name upper-cased (ASCII letters and
// the ISO-8859-1 letters ä ö ü é ç ñ), '.', and the language suffix. An empty name is
// replaced by message 153.
std::string help_topic_key(const std::string& name, int language);

// Finds a topic in the help file: the first header holding exactly the key, failing that
// the first header holding the same name in another language. Fills lines with the
// topic's text (line ends removed).
HelpStatus help_find_key(const char* file, const std::string& key, std::vector<std::string>& lines);
// The same for a topic name in a language.
HelpStatus help_find_topic(const char* file, const std::string& name, int language,
                           std::vector<std::string>& lines);

// The link of a line of help text: the text between the first '[' that is not preceded
// by a double quote and the next ']'; empty when the line has none.
std::string help_link_of(const std::string& line);

// The language a link switches to: "ENGLISH" 0, "GERMAN" 1, "FRENCH" 2, "SPANISH" 3;
// -1 for any other link (which names a topic).
int help_language_link(const std::string& link);
