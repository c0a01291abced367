#pragma once
#include <string>
#include <string_view>

namespace quendo {

// Writes the whole content to a temporary file beside path, flushes it to disk and renames it
// over path, so a crash or a full disk never leaves half a file. False when anything failed;
// the old file is then untouched.
// A file that exists and is read-only (the user may not write it, or its mode has no write bit,
// which holds for root too) is left as it is, and the write fails. A replaced file keeps its
// mode (and its owner, where the process may set it). A symbolic link is followed: the file it
// points to is written and the link stays. The temporary files that killed saves of path left
// behind are removed by the next save that succeeds.
bool WriteFileAtomically(const std::string& path, std::string_view content);

// The folder part of a path, no trailing '/' except for the root; "" when there is none.
std::string FolderOfPath(const std::string& path);

// Reads a whole file; false when it cannot be opened. At most maxBytes are read.
bool ReadWholeFile(const std::string& path, std::string& content, std::size_t maxBytes);

}  // namespace quendo
