#pragma once
// Little-endian fields of the file formats we write and read (WAV, BMP), independent of the
// host's byte order. Plain functions; any thread.

#include <cstdint>

inline void PutLe16(uint8_t* at, uint16_t value) {
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

inline void PutLe32(uint8_t* at, uint32_t value) {
    PutLe16(at, uint16_t(value));
    PutLe16(at + 2, uint16_t(value >> 16));
}

inline uint16_t GetLe16(const uint8_t* at) {
    return uint16_t(at[0] | at[1] << 8);
}

inline uint32_t GetLe32(const uint8_t* at) {
    return GetLe16(at) | uint32_t(GetLe16(at + 2)) << 16;
}
