// Fuzz target: the file selector's reader of ZIP central directories, fed archives
// from memory. Every input must end in a status, with member names within bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// The reader lives in the host library, which fuzz builds do not link; it depends on
// nothing else, so its source is built in here.
#include "ui/zip_directory.cpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto read_at = [data, size](uint64_t offset, uint8_t* buffer, size_t count) {
    if (offset > size || count > size - offset) return false;
    std::memcpy(buffer, data + offset, count);
    return true;
  };
  std::vector<ZipMember> members;
  const int status = zipdir_read(size, read_at, members, 1526);
  if (status != ZIPDIR_OK && status != ZIPDIR_READ_ERROR && status != ZIPDIR_SEEK_ERROR &&
      status != ZIPDIR_NO_END_RECORD && status != ZIPDIR_BAD_ENTRY)
    std::abort();
  if (members.size() > 1526) std::abort();
  for (const ZipMember& m : members)
    if (m.name.empty() || m.name.size() > ZIPDIR_NAME_MAX || m.size < 0) std::abort();
  return 0;
}
