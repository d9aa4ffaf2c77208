#pragma once
// Replacing a small file whole: the new bytes go to a temporary file beside it, which is flushed
// to disk and then renamed over the old one. A reader sees the old file or the new one, never a
// part; a write that fails (disk full, file-size limit, no permission) leaves the old file as it
// was and no temporary file behind.

#include <string>

namespace torva::platform {

// Replaces (or creates) the file at `path` with `bytes`. A file that exists keeps its owner, group
// and permission bits; a new one gets the permissions a plain create would give it (0666 less
// the umask). False when anything fails, and also when `path` names something other than a
// regular file: a symbolic link is refused, never followed, so that whoever may write the folder
// cannot make the caller (root, say) replace the file the link names.
bool ReplaceFile(const std::string& path, const std::string& bytes);

}  // namespace torva::platform
