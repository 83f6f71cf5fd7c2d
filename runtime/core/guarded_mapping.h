// Read-only mappings of files whose reads never end the program.
//
// A mapped file that another program cuts short (a copy written over it in place) turns reads of the
// pages past its new end into SIGBUS. The guard answers that signal for its own mappings by putting
// zero pages where the file's pages were: the read that faulted sees zeros, and the reader's own
// bounds checks deal with the nonsense. Faults outside its mappings go on as if it were not there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

// The first `size` bytes of the open file `fd`, mapped read-only and guarded; null when the file cannot
// be mapped or the guard already holds as many mappings as it can (the caller reads the file instead).
const uint8_t *MapGuarded(int fd, size_t size);

// Ends a mapping that MapGuarded made.
void UnmapGuarded(const uint8_t *bytes, size_t size);

} // namespace rt
