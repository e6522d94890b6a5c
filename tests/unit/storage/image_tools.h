// Host-side helpers for looking at card images: kept apart from the firmware headers, whose
// open-flag macros are the board's own and clash with the host's.
#pragma once

#include <cstdint>
#include <string>

namespace olas::test {

// Copies bytes [offset, offset + size) of an image into a new sparse file (data extents only).
bool CopyImageRange(const std::string& image, const std::string& out, uint64_t offset, uint64_t size);
// Runs a shell command; returns its exit status and leaves stdout and stderr in out.
int RunShell(const std::string& command, std::string* out);

}  // namespace olas::test
