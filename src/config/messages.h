// The message file: numbered texts of the four user languages, one message per line,
// four blocks of 257 lines (English, German, French, Spanish). Lookups go by number in
// the current LANGUAGE and never fail: a missing message reads as the cannot-read text.
#pragma once

constexpr int MESSAGES_PER_LANGUAGE = 257;

// Numbers of the messages the program prints or shows by name (data/arvelo-msg-index.md
// lists them with their texts). Setup labels are not listed: each is its keyword id + 1.
namespace msg {
enum Id : int {
  KEYS_TYPE_CHARACTERS = 12, KEYS_BY_POSITION = 13,
  SETUP_SPEED = 65, SETUP_DISPLAY = 66, SETUP_SOUND = 67, SETUP_M4 = 68, SETUP_INPUT = 69,
  SETUP_LINKS = 70, SETUP_SYSTEM = 71,
  START_WEB_SERVER = 74, STOP_WEB_SERVER = 75, LOAD_CONFIGURATION = 76, ROM_SLOTS = 77,
  RESTART_WITH_SETTINGS = 78, SAVE_CONFIGURATION_AS = 79, POKE_DATABASE_ACTION = 80,
  CLOSE_SETUP = 82,
  ROM_SLOT_TITLE = 92, LOWER_ROM = 93, UPPER_ROM = 94, EMPTY_SLOT = 95,
  TAPE_BYPASS_STOP = 97, TAPE_NOTHING_TO_READ = 98, TAPE_NOT_FOUND = 99, TAPE_END_OF_FILE = 100,
  TAPE_WRITE_ERROR = 101, UNKNOWN_TRAP = 104, MONITOR_LOADED = 112,
  POKE_DATABASE_TITLE = 114, POKE_DATABASE_CANNOT_OPEN = 115,
  HELP = 152, HELP_INDEX_TOPIC = 153, HELP_USING_TOPIC = 154, HELP_TOPIC_NOT_FOUND = 155,
  PRINTER_CANNOT_OPEN = 158,
  NO_MEMORY_FOR_BANKS = 174, AMSDOS05_DISABLED = 175, AMSDOS07_DISABLED = 176,
  AMSDOS05_SPEEDUP = 177, AMSDOS07_SPEEDUP = 178, ROM_CANNOT_OPEN = 179, ROM_TOO_SHORT = 180,
  OPEN_ROM_FALLBACK = 181, NO_DISC_ROM_PATCH = 182, NO_BASIC_ROM = 183, ROM_LIST_SLOT_REPLACED = 184,
  TAPE_ROUTINES_PATCHED = 185, UNKNOWN_MODEL = 186, DETECTED_464 = 187, DETECTED_664 = 188,
  DETECTED_6128 = 189, DETECTED_BASIC3 = 190, DETECTED_BASIC4 = 191, DETECTED_6128_MODIFIED = 192,
  DISC_NOT_SAVED = 197, DISC_SAVED_AS = 198, ZIP_NO_TEMPORARY = 199, ZIP_MEMBER_READ_ONLY = 200, TEMP_CANNOT_OPEN = 201,
  TEMP_CANNOT_REMOVE = 202, TEMP_CANNOT_RENAME = 203, TEMP_REMOVED = 204,
  NO_MEMORY_FOR_FILE_LIST = 205, CURRENT_FILE = 207, SAVE_CONFIGURATION_TITLE = 212,
  LOAD_CONFIGURATION_TITLE = 213, FILE_SELECTOR_TOPIC = 216, CONFIG_CANNOT_WRITE = 217,
  TEMPLATE_NOT_WRITABLE = 218, CONFIG_SAVED_HEADER = 221,
  SNAPSHOT_CANNOT_OPEN = 222, SNAPSHOT_NOT_A_SNAPSHOT = 223, SNAPSHOT_BAD_VERSION = 224,
  SNAPSHOT_BAD_SIZE = 225, SNAPSHOT_LARGER_THAN_RAM = 226, SNAPSHOT_FIRST_64K_LOADED = 227,
  SNAPSHOT_OTHER_MODEL = 228, SNAPSHOT_SAVE_SIZE_TOO_LARGE = 229,
  CPC_TYPE_NAMES = 230,  // 230 + CPC type 0..5; 236 names every other type
  CPC_TYPE_UNKNOWN = 236, FILE_TOO_SHORT = 238, LOWER_ROM_NOT_FIRMWARE = 239,
  LOAD_SNAPSHOT = 240, SAVE_SNAPSHOT = 241, SNAPSHOT_SIZE = 242, SIZE_64K = 243,
  SIZE_128K = 244, SIZE_ALL_RAM = 245, DISC_DRIVES = 246, DRIVE_A = 247, DRIVE_B = 248,
  EJECT = 249, ZIP_CANNOT_OPEN = 250, ZIP_SEEK_ERROR = 251, ZIP_READ_ERROR = 252,
  ZIP_NO_DIRECTORY_END = 253, ZIP_BAD_ENTRY = 256,
};
}  // namespace msg

// Replaces the message file name (set once at start).
void set_message_file(const char* name);
// Opens the message file: true when opened, otherwise false after a line on standard output.
bool open_message_file();
// Closes the message file; later lookups give the cannot-read text.
void close_message_file();
// Message n in the current language, without its line end. The text stays valid until
// the next lookup.
const char* message_text(long n);
// Writes message n and a line feed to standard output.
void print_message(msg::Id n);
