#pragma once
// Files a test writes and reads back, and reading an input to its end.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/core/AudioClasses.h"

namespace lirvo::test {

std::vector<uint8_t> ReadFileBytes(const std::string& Path);
// Replaces the file's contents with Data.
void WriteFileBytes(const std::string& Path, const std::vector<uint8_t>& Data);
void WriteText(const std::string& Path, const std::string& Text);
std::string ReadText(const std::string& Path);

// md5 of the bytes in lower-case hex, as md5sum prints it.
std::string Md5(const std::vector<uint8_t>& Data);

// Reads an initialised input until it delivers nothing, asking Ask bytes a
// call. Stops after MaxCalls calls: a hang then shows as a truncated result
// and sets HitLimit.
std::vector<uint8_t> ReadAll(TAuInput& In, uint32_t Ask = 4096, int MaxCalls = 10000000,
                             bool* HitLimit = nullptr);
// Init, ReadAll, Flush.
std::vector<uint8_t> DecodeAll(TAuInput& In, uint32_t Ask = 16384);

}  // namespace lirvo::test
