// Automatic typing: text that the emulated keyboard types by itself, one character per
// keyboard scan (pasted text, the disc autostart command, the runner's --type).
//
// The keys go into the typing overlay of the keyboard matrix (keyboard_inputs().typing);
// the keyboard calls type_step whenever the CPC reads row 0 while typing is active.
#pragma once
#include <cstdint>

// CPC key codes are bit * 16 + matrix row.
constexpr int CPC_KEY_SHIFT = 82;
constexpr int CPC_KEY_CONTROL = 114;
constexpr int CPC_NO_KEY = -1;

struct TypedKeys {
  int first = CPC_NO_KEY;   // the character's key
  int second = CPC_NO_KEY;  // SHIFT or CONTROL with it, if needed
};
// The keys that type a 7-bit character (none for characters the table leaves out, such
// as 14, which pasting puts in place of carriage returns, and 127).
TypedKeys keys_for_char(int c);

// Appends text to the typing buffer; a new buffer starts with one blank that is never
// pressed. Bit 7 of every character is cleared.
void type_text(const char* text);
// Text from the clipboard: each carriage return becomes 14, which types nothing, so
// that a carriage return and line feed pair types one RETURN.
void type_pasted(const char* text);
// One step of typing (see autotype.cpp): releases the current character's keys, and
// after the hold-off presses the next character's.
void type_step();
// Characters not yet pressed (keyboard_inputs().typing_active says whether typing runs).
int type_pending();
// Presses or releases a character's keys in the typing overlay, for callers that time
// the key themselves (a program that polls the keyboard once a frame may miss a key
// held for one keyboard scan).
void hold_char(int c, bool down);
// Drops the buffer and releases the typing overlay.
void type_clear();
