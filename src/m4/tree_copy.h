// Copying a host directory tree: the first start copies the program's data folders (the
// SD card's among them) into the settings directory with it.
#pragma once
#include <string>

// Copies the file or directory tree `from` to `to`, following symbolic links; files that
// already exist at the target are kept. Problems are told on the error output: a directory
// that cannot be made ("Mkdir failed for %s"), a link back into the tree ("%s: cycle in
// directory tree", passed over), a file that cannot be copied ("Copying %s failed").
// False when `from` does not exist or a directory or file could not be copied.
bool copy_tree(const std::string& from, const std::string& to);
