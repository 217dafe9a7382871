#include "hardware/autotype.h"

#include <cstring>
#include <string>

#include "hardware/keyboard.h"
#include "hardware/memory.h"

namespace {

struct Typing {
  std::string buffer;   // a leading blank, then the text
  size_t position = 0;  // the character whose keys are (or were last) down
  uint8_t counter = 0;  // steps since the last key went down
  int waited = 0;       // steps the next character has waited for the firmware
  int key_count_address = -1;  // the firmware's count of keys in its buffer, -1 unknown
};
Typing typing;

// The firmware keeps the keys its scan finds in a buffer of 20 until the running
// program reads them, and drops keys that find it full: typed ahead of a busy program
// (a CAT, a SAVE, a loading program), text would lose its middle. So the next character
// waits until the firmware has handed the last one on. The buffer is found by the
// firmware's own code that empties it:
//   DI; LD HL,buffer; LD (HL),21; INC HL; XOR A; LD (HL),A; INC HL; LD (HL),1;
//   INC HL; LD (HL),A; INC HL; LD (HL),A; RET
// whose fifth byte from `buffer` is the number of keys held.
constexpr uint8_t KEY_BUFFER_RESET_CODE[] = {0xF3, 0x21, 0x00, 0x00, 0x36, 0x15, 0x23, 0xAF, 0x77,
                                             0x23, 0x36, 0x01, 0x23, 0x77, 0x23, 0x77, 0xC9};
constexpr int KEY_BUFFER_COUNT_OFFSET = 4;
constexpr int KEY_BUFFER_CAPACITY = 20;
// The firmware variables live in the central RAM's third block (0x8000-0xBFFF).
constexpr int FIRMWARE_RAM_BANK = 2, FIRMWARE_RAM_START = 0x8000;
constexpr size_t ROM_SIZE = 0x4000;
// A program that reads keys without the buffer (testing keys, or its own scan) never
// empties it: after this many scans the typing goes on while the buffer has room, and
// after the longer wait at any rate (the keys then reach such a program as before).
constexpr int PATIENCE_SCANS = 50;
constexpr int GIVE_UP_SCANS = 500;

int find_key_buffer() {
  const uint8_t* rom = memory_view().lower_rom;
  if (!rom) return -1;
  const size_t n = sizeof KEY_BUFFER_RESET_CODE;
  for (size_t i = 0; i + n <= ROM_SIZE; ++i) {
    bool same = true;
    for (size_t k = 0; k < n && same; ++k) same = (k == 2 || k == 3) || rom[i + k] == KEY_BUFFER_RESET_CODE[k];
    if (!same) continue;
    const int address = (rom[i + 2] | rom[i + 3] << 8) + KEY_BUFFER_COUNT_OFFSET;
    if (address >= FIRMWARE_RAM_START && address < FIRMWARE_RAM_START + static_cast<int>(ROM_SIZE)) return address;
  }
  return -1;
}

// Whether the next character may go down now.
bool firmware_ready() {
  if (typing.key_count_address < 0) return true;
  const uint8_t* ram = ram_bank_block(FIRMWARE_RAM_BANK);
  const int held = ram ? ram[typing.key_count_address - FIRMWARE_RAM_START] : 0;
  if (held == 0 || held > KEY_BUFFER_CAPACITY) return true;  // empty, or not the firmware's now
  ++typing.waited;
  if (held < KEY_BUFFER_CAPACITY && typing.waited >= PATIENCE_SCANS) return true;
  return typing.waited >= GIVE_UP_SCANS;
}

// The unshifted key of each digit 0..9.
constexpr int DIGIT_KEYS[10] = {4, 8, 24, 23, 7, 22, 6, 21, 5, 20};
// Letters a..z.
constexpr int LETTER_KEYS[26] = {88, 102, 103, 87, 39, 86, 70, 69, 52, 85, 84, 68, 100,
                                 101, 36, 51, 56, 38, 71, 54, 37, 118, 55, 119, 53, 120};

void set_key(int code, bool down) {
  if (code < 0) return;
  keyboard_set_typing_key(code, down);
}

void set_char(int c, bool down) {
  const TypedKeys k = keys_for_char(c);
  set_key(k.first, down);
  set_key(k.second, down);
}

void finish() {
  typing.buffer.clear();
  typing.buffer.shrink_to_fit();
  typing.position = 0;
  typing.counter = 0;
  keyboard_set_typing_active(false);
}

}  // namespace

TypedKeys keys_for_char(int c) {
  c &= 0x7F;
  auto plain = [](int k) { return TypedKeys{k, CPC_NO_KEY}; };
  auto shifted = [](int k) { return TypedKeys{k, CPC_KEY_SHIFT}; };
  if (c >= 'a' && c <= 'z') return plain(LETTER_KEYS[c - 'a']);
  if (c >= 'A' && c <= 'Z') return shifted(LETTER_KEYS[c - 'A']);
  if (c >= '0' && c <= '9') return plain(DIGIT_KEYS[c - '0']);
  // ! " # $ % & ' ( ) are SHIFT with the digits 1..9.
  static constexpr char digit_symbols[] = "!\"#$%&'()";
  if (const char* p = c ? std::strchr(digit_symbols, c) : nullptr)
    return shifted(DIGIT_KEYS[1 + (p - digit_symbols)]);
  static constexpr char plain_symbols[] = ":;,-./@[\\]^";
  static constexpr int plain_keys[] = {83, 67, 116, 19, 115, 99, 35, 18, 98, 50, 3};
  if (const char* p = c ? std::strchr(plain_symbols, c) : nullptr)
    return plain(plain_keys[p - plain_symbols]);
  // The backquote is SHIFT with the backslash key, as the CPC's key shows it.
  static constexpr char shift_symbols[] = "*+<=>?_{|}`";
  static constexpr int shift_keys[] = {83, 67, 116, 19, 115, 99, 4, 18, 35, 50, 98};
  if (const char* p = c ? std::strchr(shift_symbols, c) : nullptr)
    return shifted(shift_keys[p - shift_symbols]);
  switch (c) {
    case ' ': return plain(117);
    case '~': return TypedKeys{24, CPC_KEY_CONTROL};
    case 1: return plain(1);
    case 2: return plain(16);
    case 3: return plain(17);
    case 8: return plain(121);
    case 9: return plain(72);
    case 10: return plain(34);
    case 11: return plain(0);
    case 12: return plain(32);
    case 13: return plain(34);
    case 16: return plain(121);
    case 20: return TypedKeys{1, CPC_KEY_CONTROL};
    case 21: return TypedKeys{96, CPC_KEY_CONTROL};
    default: return TypedKeys{};
  }
}

void type_text(const char* text) {
  if (!text) return;
  if (typing.buffer.empty()) {
    typing.buffer.assign(1, ' ');
    typing.position = 0;
    typing.counter = 0;
    typing.waited = 0;
    typing.key_count_address = find_key_buffer();
  }
  for (const char* p = text; *p; ++p) typing.buffer.push_back(static_cast<char>(*p & 0x7F));
  set_keyboard_type_step(type_step);
  keyboard_set_typing_active(true);
}

void type_pasted(const char* text) {
  if (!text) return;
  std::string copy(text);
  for (char& c : copy)
    if (c == '\r') c = 14;
  type_text(copy.c_str());
}

// Every character is held down for exactly one keyboard scan and then released for one
// scan, or for two when the next character starts with the same key (the CPC needs to
// see the key up before it counts it again), and longer while the firmware's key
// buffer still holds keys.
void type_step() {
  if (typing.buffer.empty()) {
    keyboard_set_typing_active(false);
    return;
  }
  const int current = static_cast<unsigned char>(typing.buffer[typing.position]);
  if (typing.position > 0) set_char(current, false);
  if (typing.position + 1 >= typing.buffer.size()) {
    finish();
    return;
  }
  const int next = static_cast<unsigned char>(typing.buffer[typing.position + 1]);
  const int hold = (next != current && keys_for_char(next).first != keys_for_char(current).first)
                       ? 1 : 2;
  if (typing.counter <= hold) ++typing.counter;
  if (typing.counter <= hold || !firmware_ready()) return;
  typing.counter = 0;
  typing.waited = 0;
  ++typing.position;
  set_char(next, true);
}

void hold_char(int c, bool down) { set_char(c & 0x7F, down); }

int type_pending() {
  return typing.buffer.empty() ? 0 : static_cast<int>(typing.buffer.size() - 1 - typing.position);
}

void type_clear() {
  keyboard_clear_typing();
  finish();
}
