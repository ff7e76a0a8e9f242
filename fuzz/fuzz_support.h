#pragma once
#include <cstddef>
#include <cstdint>

// Helpers shared by the fuzz targets: quiet standard output, and an anonymous in-memory file that
// the wave layer can open by name like any regular file on disk.

// Sends standard output to /dev/null, so the stage reports do not flood the fuzzer's log.
void silenceStandardOutput();

// Replaces the contents of one memory-backed file with the bytes and returns its name
// ("/proc/self/fd/N"); the same file is reused for every input. Aborts when the file cannot be made.
const char* memoryFileWith(const uint8_t* data, size_t size);
