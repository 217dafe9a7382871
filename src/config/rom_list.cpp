// The ROM list: the ROM images the configuration names, one per slot.
#include "config/rom_list.h"

#include <iostream>

#include "config/messages.h"

namespace {
RomEntry* head = nullptr;
int count = 0;
}  // namespace

const RomEntry* rom_list() { return head; }
int rom_count() { return count; }

void free_rom_list() {
  while (head) {
    RomEntry* next = head->next;
    delete head;
    head = next;
  }
  count = 0;
}

void add_rom(int slot, const char* file, int offset) {
  for (RomEntry* e = head; e; e = e->next) {
    if (e->slot != slot) continue;
    e->file = file ? file : "";
    e->offset = offset;
    if (e != head) std::cout << message_text(msg::ROM_LIST_SLOT_REPLACED) << " " << slot << std::endl;
    return;
  }
  if (count >= MAX_ROMS) {
    std::cout << message_text(msg::ROM_LIST_SLOT_REPLACED) << " " << slot << std::endl;
    return;
  }
  head = new RomEntry{count, slot, file ? file : "", offset, head};
  ++count;
}
