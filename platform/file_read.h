// Reading a whole file the user may have pointed us at. Only regular files are read (a FIFO, a device or a
// folder never blocks or floods the reader), opened so that the open itself cannot block, and never more
// than a stated number of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

enum class FileRead { Ok, Missing, NotRegular, TooLarge, Failed };

// Reads the file into *bytes; on anything but Ok, *bytes is empty and *error holds the errno, if any.
FileRead readRegularFile(const std::string& path, size_t maxBytes, std::vector<uint8_t>* bytes,
                         int* error = nullptr);

}  // namespace qm
