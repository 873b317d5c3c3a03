#pragma once

#include <string>

#include "core/result.h"
#include "core/unique_fd.h"

namespace pelvaron {

// Who may read a file the programs make: everyone (0644), or only its owner
// (0600, for what holds secrets). Nobody but the owner may ever write it,
// whatever the umask.
enum class FileMode : unsigned { Shared = 0644, Private = 0600 };

// What to do when something is already at the path.
enum class WhenThere {
  Refuse,            // EEXIST: a new file only (temporary files, lock files)
  Open,              // open the file; a symbolic link there is refused (ELOOP)
  OpenThroughLinks,  // open the file a link leads to (a protocol kept elsewhere on purpose)
};

// The one way the programs create files: the new file is never made through
// a symbolic link planted at its path (nor through a dangling one), is not
// inherited by the commands the console runs, and is made with mode. flags
// are open(2)'s access flags (O_WRONLY or O_RDWR, with O_APPEND or O_TRUNC).
// Returns the descriptor, or the problem with errno as its code.
Result<UniqueFd> CreateFile(const std::string& path, int flags, WhenThere there, FileMode mode = FileMode::Shared);

}  // namespace pelvaron
