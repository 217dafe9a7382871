// Message file lookups and the help file.
#include <string>
#include <tuple>
#include <vector>

#include "config/help.h"
#include "config/messages.h"
#include "config/settings.h"
#include "config_test_util.h"

using cfgtest::write_file;

namespace {

// A message file of `lines` lines "L<number>", the last one ending as asked.
std::string numbered_lines(int lines, bool final_line_feed = true) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    text += "L" + std::to_string(i);
    if (i + 1 < lines || final_line_feed) text += '\n';
  }
  return text;
}

class MessageFile : public testing::Test {
 protected:
  void SetUp() override { reset_settings(); }
  void TearDown() override {
    close_message_file();
    reset_settings();
  }
  void use(const std::string& name, const std::string& text) {
    set_message_file(write_file(name, text).c_str());
    ASSERT_TRUE(open_message_file());
  }
  // Message n in a language (0 English, 1 German, 2 French, 3 Spanish).
  static std::string in_language(int language, long n) {
    set_setting(kw::LANGUAGE, language);
    return message_text(n);
  }
};

}  // namespace

// Each file with its look-ups: {language, message number, text}.
TEST_F(MessageFile, LookupByLanguageBlockLineAndLength) {
  using Lookup = std::tuple<int, long, std::string>;
  const std::string cannot = "MSG: Cannot read message ";
  const std::vector<std::pair<std::string, std::vector<Lookup>>> files = {
      {numbered_lines(4 * 257),
       {{0, 0, "L0"}, {0, 256, "L256"}, {2, 100, "L614"}, {1, 5, "L262"}, {3, 256, "L1027"}}},
      // A third block that ends after 86 lines.
      {numbered_lines(600),
       {{2, 85, "L599"}, {2, 97, cannot + "97 "}, {0, 3, "L3"}, {0, -1, cannot + "-1 "}}},
      // A missing block falls back to English.
      {numbered_lines(3 * 257), {{3, 10, "L10"}, {2, 10, "L524"}}},
      // The last line without a line feed.
      {numbered_lines(5, false), {{0, 4, "L4"}, {0, 5, cannot + "5 "}}},
      // A line of more than 4095 characters counts as two lines.
      {std::string(5000, 'x') + "\nnext\n",
       {{0, 0, std::string(4095, 'x')}, {0, 1, std::string(905, 'x')}, {0, 2, "next"}}},
      // Only the line feed is removed; an empty line stays empty.
      {"\n\tTabbed \n", {{0, 0, ""}, {0, 1, "\tTabbed "}}},
  };
  for (size_t f = 0; f < files.size(); ++f) {
    use("lookup" + std::to_string(f) + ".msg", files[f].first);
    for (const auto& [language, n, text] : files[f].second)
      EXPECT_EQ(in_language(language, n), text) << "file " << f << ", message " << n;
  }
}

TEST_F(MessageFile, UnopenedOrClosedFileGivesTheCannotReadText) {
  set_message_file("/nonexistent/arvelo.msg");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(open_message_file());
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "MSG: Cannot open message file /nonexistent/arvelo.msg!\n");
  EXPECT_EQ(in_language(1, 12), "MSG: Cannot read message 12 ");
  use("closed.msg", numbered_lines(10));
  EXPECT_EQ(in_language(0, 2), "L2");
  close_message_file();
  EXPECT_STREQ(message_text(2), "MSG: Cannot read message 2 ");
}

TEST_F(MessageFile, PrintFunctions) {
  use("print.msg", numbered_lines(10));
  testing::internal::CaptureStdout();
  print_message(static_cast<msg::Id>(7));
  print_message(static_cast<msg::Id>(8));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "L7\nL8\n");
}

// ---- Help file -------------------------------------------------------------------------

TEST(HelpFile, TopicKeys) {
  reset_settings();
  close_message_file();
  EXPECT_EQ(help_topic_key("Disc menu", 0), "DISC MENU.UK");
  EXPECT_EQ(help_topic_key("f\xE4hre \xF6l \xFC\xE9\xE7\xF1", 1), "F\xC4HRE \xD6L \xDC\xC9\xC7\xD1.GR");
  EXPECT_EQ(help_topic_key("x", 2), "X.FR");
  EXPECT_EQ(help_topic_key("x", 3), "X.SP");
  // An empty name stands for message 153 (here the cannot-read text).
  EXPECT_EQ(help_topic_key("", 0), "MSG: CANNOT READ MESSAGE 153 .UK");
}

TEST(HelpFile, FindsTopicsWithLanguageFallback) {
  const std::string file = write_file("help.txt",
      "intro line before any topic\n"
      "#[DISC.GR]\n"
      "Diskette\n"
      "#[KEYS.UK,TASTEN.GR]\r\n"
      "Keys line 1\r\n"
      "See [DISC] or \"[quoted]\r\n"
      "# a comment line ends the topic\n"
      "not part of KEYS\n"
      "#[DISC.FR]\n"
      "Disquette\n"
      "#[ ONLY.SP , DISC.UK ]\n"
      "Disc text\n"
      "#[EMPTY.UK]");
  std::vector<std::string> lines;
  // A found topic's lines, or "(not found)".
  auto topic = [&](const char* name, int language) {
    const bool found = help_find_topic(file.c_str(), name, language, lines) == HELP_FOUND;
    return found ? lines : std::vector<std::string>{"(not found)"};
  };
  using Lines = std::vector<std::string>;
  const Lines keys{"Keys line 1", "See [DISC] or \"[quoted]"};
  EXPECT_EQ(topic("keys", 0), keys);
  EXPECT_EQ(topic("tasten", 1), keys);
  // The exact key wins even after another language's topic of the same name.
  EXPECT_EQ(topic("disc", 0), Lines{"Disc text"});
  EXPECT_EQ(topic("disc", 2), Lines{"Disquette"});
  // Without a Spanish topic the first one in any language is used.
  EXPECT_EQ(topic("disc", 3), Lines{"Diskette"});
  EXPECT_EQ(topic("only", 0), Lines{"Disc text"});
  EXPECT_EQ(topic("empty", 0), Lines{});
  // "DISCS" is no other-language form of "DISC".
  EXPECT_EQ(help_find_topic(file.c_str(), "discs", 0, lines), HELP_NO_TOPIC);
  EXPECT_EQ(help_find_topic(file.c_str(), "missing", 0, lines), HELP_NO_TOPIC);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(help_find_topic("/nonexistent/help.txt", "keys", 0, lines), HELP_CANNOT_OPEN);
}

TEST(HelpFile, Links) {
  EXPECT_EQ(help_link_of("See [DISC] or [KEYS]"), "DISC");
  EXPECT_EQ(help_link_of("Press \"[\" then [Enter] here"), "Enter");
  EXPECT_EQ(help_link_of("[GERMAN]"), "GERMAN");
  EXPECT_EQ(help_link_of("open [ without close"), "");
  EXPECT_EQ(help_link_of("no link"), "");
  EXPECT_EQ(help_link_of(""), "");
  EXPECT_EQ(help_language_link(help_link_of("Deutsch: [GERMAN]")), 1);
  EXPECT_EQ(help_language_link("DISC"), -1);
}
