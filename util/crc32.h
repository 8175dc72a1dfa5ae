#pragma once
// CRC-32 (the ISO-HDLC polynomial that archives and ZIP use), computed in
// pieces: the value of a whole equals Crc32Update over its pieces in order,
// starting from 0.
#include <cstddef>
#include <cstdint>

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);
