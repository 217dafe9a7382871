// Fuzz target: the file selector's listing of a ZIP archive's members, fed archives
// from memory. Every input must end in a listing result, with member names in bounds.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "media/media_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t MAX_MEMBERS = 1526;
  std::vector<ArchiveMember> members;
  const ArchiveListing result = media_list_archive_bytes(data, size, members, MAX_MEMBERS);
  switch (result) {
    case ArchiveListing::OK:
    case ArchiveListing::CANNOT_OPEN:
    case ArchiveListing::SEEK_ERROR:
    case ArchiveListing::READ_ERROR:
    case ArchiveListing::NOT_AN_ARCHIVE:
    case ArchiveListing::BAD_ENTRY:
      break;
    default:
      std::abort();
  }
  if (members.size() > MAX_MEMBERS) std::abort();
  for (const ArchiveMember& m : members)
    if (m.name.empty() || m.name.size() > ARCHIVE_NAME_MAX || m.size < 0) std::abort();
  return 0;
}
