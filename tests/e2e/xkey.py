#!/usr/bin/env python3
"""Presses or releases one X key by its key code through the XTEST extension.

  xkey.py down|up KEYCODE

xdotool names keys by symbol and may add modifier keys on its own (for Alt_R it also
presses Alt_L); a key code is one physical key, as when a person presses right Alt
(AltGr, key code 108 on evdev servers).
"""
import ctypes
import sys


def main(argv):
    if len(argv) != 2 or argv[0] not in ("down", "up"):
        print(__doc__)
        return 2
    x11 = ctypes.CDLL("libX11.so.6")
    xtst = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    display = x11.XOpenDisplay(None)
    if not display:
        print("cannot open the X display")
        return 1
    ok = xtst.XTestFakeKeyEvent(display, int(argv[1]), 1 if argv[0] == "down" else 0, 0)
    x11.XFlush(display)
    x11.XCloseDisplay(display)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
