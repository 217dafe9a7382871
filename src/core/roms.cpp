// Loading the configured ROM images into the bank table, model detection, and the
// fall-back to the open system ROM.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "config/messages.h"
#include "config/settings.h"
#include "core/machine.h"
#include "media/media_file.h"
#include "media/tape.h"
#include "media/tape_deck.h"

namespace {

int disc_rom = 2;  // 0 = 0.5, 1 = 0.7, 2 = unknown

// The disc ROM: a background ROM (type 1) of version 0.5 or 0.7 whose first command name
// is the disc operating system's own "CPM ROM". Another ROM that merely carries those
// version bytes is not patched.
constexpr uint8_t BACKGROUND_ROM = 1;
constexpr int UPPER_ROM_ADDRESS = 0xC000;
constexpr char DISC_ROM_FIRST_NAME[] = "CPM ROM";  // its last character has bit 7 set

bool is_disc_rom(const uint8_t* rom) {
  if (rom[0] != BACKGROUND_ROM || rom[1] != 0 || (rom[2] != 5 && rom[2] != 7)) return false;
  const int names = (rom[4] | rom[5] << 8) - UPPER_ROM_ADDRESS;
  const int length = sizeof DISC_ROM_FIRST_NAME - 1;
  if (names < 0 || names + length > BANK_SIZE) return false;
  for (int i = 0; i < length; ++i) {
    const uint8_t wanted = static_cast<uint8_t>(DISC_ROM_FIRST_NAME[i] | (i == length - 1 ? 0x80 : 0));
    if (rom[names + i] != wanted) return false;
  }
  return true;
}

}  // namespace

// ---- Open system ROM -------------------------------------------------------------------

namespace {
struct OpenRomState {
  std::string file = OPEN_ROM_FILE;  // path of the image
  bool in_use = false;               // the ROM list holds it (this set-up)
} open_rom_state;

std::string rom_file_path(const char* rom_path, const std::string& file) {
  return !file.empty() && file[0] == '/' ? file : std::string(rom_path) + file;
}

bool rom_opens(const std::string& path) {
  zip_ifs image(path.c_str());
  return static_cast<bool>(image);
}

bool system_rom_missing() {
  const char* rom_path = setting_text(kw::ROM_PATH);
  if (!rom_path) return false;  // load_roms reports the missing path
  for (const RomEntry* e = rom_list(); e; e = e->next)
    if ((e->slot == 255 || e->slot == 0) && !rom_opens(rom_file_path(rom_path, e->file)))
      return true;
  return false;
}
}  // namespace

void set_open_rom_directory(const std::string& directory) {
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  open_rom_state.file = dir + OPEN_ROM_FILE;
}

bool open_rom_in_use() { return open_rom_state.in_use; }

bool fall_back_to_open_rom() {
  open_rom_state.in_use = false;
  if (!system_rom_missing() || !rom_opens(open_rom_state.file)) return false;
  std::cout << message_text(msg::OPEN_ROM_FALLBACK) << " " << open_rom_state.file << std::endl;
  free_rom_list();
  add_rom(255, open_rom_state.file.c_str(), 0);
  add_rom(0, open_rom_state.file.c_str(), 1);
  open_rom_state.in_use = true;
  return true;
}

bool open_rom_fill_parameters(uint8_t* lower_rom, int language, const char* rom_path) {
  using namespace open_rom;
  if (!lower_rom || std::memcmp(lower_rom + SIGNATURE_AT, SIGNATURE, sizeof SIGNATURE) != 0)
    return false;
  lower_rom[LANGUAGE_AT] = static_cast<uint8_t>(language >= 0 && language <= 3 ? language : 0);
  // A path too long for the screen keeps its end, which names the directory itself.
  std::string path = rom_path ? rom_path : "";
  if (path.size() > ROM_PATH_SHOWN) path = "..." + path.substr(path.size() - (ROM_PATH_SHOWN - 3));
  std::memset(lower_rom + ROM_PATH_AT, 0, ROM_PATH_SIZE);
  std::memcpy(lower_rom + ROM_PATH_AT, path.data(), path.size());
  return true;
}

int disc_rom_version() { return disc_rom; }

// ---- Loading ---------------------------------------------------------------------------

int load_roms() {
  const char* rom_path = setting_text(kw::ROM_PATH);
  if (!rom_path) {
    std::cerr << "ROM path not configured. Unable to continue." << std::endl;
    return 10;
  }
  int errors = 0;
  bool stop = false;
  for (int slot = 0; slot <= 255 && !stop; ++slot) {
    for (const RomEntry* e = rom_list(); e; e = e->next) {
      if (e->slot != slot) continue;
      const std::string path = rom_file_path(rom_path, e->file);
      uint8_t* bank = bank_block(first_rom_bank() + e->bank);
      zip_ifs image(path.c_str());
      if (!image) {
        std::cerr << message_text(msg::ROM_CANNOT_OPEN) << " " << path << ", errno=" << errno
                  << std::endl;
        ++errors;
        break;
      }
      image.seekg(static_cast<std::streamoff>(e->offset) * BANK_SIZE);
      if (image) image.read(reinterpret_cast<char*>(bank), BANK_SIZE);
      if (!image || image.gcount() < BANK_SIZE) {
        std::cerr << message_text(msg::ROM_TOO_SHORT) << " " << e->file << std::endl;
        ++errors;
        stop = true;
      }
      break;
    }
  }
  // Every reload of the open ROM (set-up, a changed ROM slot) gets its parameters again.
  if (open_rom_in_use())
    open_rom_fill_parameters(bank_block(bank_of_slot(255)), setting(kw::LANGUAGE), rom_path);
  detect_model();
  if (hardware_model() == model::UNKNOWN) {
    std::cerr << "CPC type not configured or ROM for CPC type not available. Unable to continue."
              << std::endl;
    return 10;
  }
  return errors;
}

void detect_model() {
  const int lower = bank_of_slot(255);
  const int basic = bank_of_slot(0);
  const int disc = bank_of_slot(7);
  if (lower == basic || !bank_block(lower) || !bank_block(basic)) return;
  uint8_t* lower_rom = bank_block(lower);
  const uint8_t* basic_rom = bank_block(basic);

  if (basic_rom[0] != 0x80) {
    print_message(msg::NO_BASIC_ROM);
    set_hardware_model(model::UNKNOWN);
  } else {
    // The BASIC version is the model number (0 464 ... 4 BASIC 4), announced by messages
    // 187-191; the open ROM, already announced, claims the 464's.
    const int version = basic_rom[2];
    if (version <= model::BASIC4) {
      set_hardware_model(version);
      if (!open_rom_in_use()) print_message(static_cast<msg::Id>(msg::DETECTED_464 + version));
    } else {
      print_message(msg::UNKNOWN_MODEL);
      set_hardware_model(model::UNKNOWN);
    }
    if (hardware_model() == model::CPC6128 && lower_rom[0x5A1] == '!') {
      set_hardware_model(model::CPC6128_PLUS);
      print_message(msg::DETECTED_6128_MODIFIED);
    }
  }

  // The tape patch rewrites the CPC firmware's cassette routines; the open ROM has none,
  // so the tape deck is not given it to patch later either.
  if (!open_rom_in_use()) tape_deck_note_os_rom(lower_rom, hardware_model());
  if (tape_bypass_wanted() && !open_rom_in_use()) {
    if (hardware_model() == model::UNKNOWN) print_message(msg::UNKNOWN_MODEL);
    else if (tape_patch_rom(lower_rom, hardware_model())) print_message(msg::TAPE_ROUTINES_PATCHED);
    else print_message(msg::LOWER_ROM_NOT_FIRMWARE);
  }

  // The disc ROM: only the one recognised is patched.
  if (disc == lower || disc == basic || !bank_block(disc)) {
    // No ROM in slot 7 (bank_of_slot fell back to BASIC): nothing to patch.
    disc_rom = 2;
    return;
  }
  uint8_t* dos = bank_block(disc);
  if (!is_disc_rom(dos)) {
    print_message(msg::NO_DISC_ROM_PATCH);
    disc_rom = 2;
    return;
  }
  disc_rom = dos[2] == 5 ? 0 : 1;
  if (setting(kw::AMSDOS_DISABLED)) {
    const int at = disc_rom == 0 ? 0xCF2 : 0xD56;
    dos[at] = 0x18;
    dos[at + 1] = 0x05;
    print_message(disc_rom == 0 ? msg::AMSDOS05_DISABLED : msg::AMSDOS07_DISABLED);
  }
  if (setting(kw::AMSDOS_SPEEDUP)) {
    for (int at : {0x5D4, 0x5D8, 0x5D9, 0x5DA}) dos[at] = 1;
    static constexpr int v0[] = {0x602, 0x7E2, 0x784};
    static constexpr int v1[] = {0x62C, 0x80E, 0x7B4};
    for (int at : disc_rom == 0 ? v0 : v1) dos[at] = 1;
    print_message(disc_rom == 0 ? msg::AMSDOS05_SPEEDUP : msg::AMSDOS07_SPEEDUP);
  }
  dos[0x1BBB] = 0x3A;
}

