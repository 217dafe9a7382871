#!/usr/bin/env python3
"""Owns the X clipboard with a text for a while, like an editor after "copy".

  clipboard.py TEXT [SECONDS]

In TEXT, \\r and \\n stand for carriage return and line feed. Default 60 seconds.
"""
import sys
import tkinter


def main(argv):
    if not argv:
        print(__doc__)
        return 2
    root = tkinter.Tk()
    root.withdraw()
    root.clipboard_clear()
    root.clipboard_append(argv[0].replace("\\r", "\r").replace("\\n", "\n"))
    root.update()
    root.after(int(argv[1]) * 1000 if len(argv) > 1 else 60000, root.destroy)
    root.mainloop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
