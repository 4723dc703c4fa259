#pragma once
// The BMP picture file: a frame raster packed into a device-independent image block (info header,
// colour table, bottom-up rows), then written behind a 14-byte file header.
//
// Stateless; both operations may run on any thread. The screen save calls them on the capture
// worker. The raster is only read, and only during PackBitmap.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A frame as the drawing code holds it. Rows run top-down in memory, each row's pixels in the
// BMP order for its depth: indices (most significant bits first) at 1, 4 and 8 bits per pixel,
// 5-5-5 at 16, blue-green-red at 24 and blue-green-red-unused at 32 (what a 32-bit display
// raster already is on a little-endian machine).
struct FrameRaster {
    int width = 0;                   // pixels
    int height = 0;                  // rows
    int bitsPerPixel = 0;            // 1, 4, 8, 16, 24 or 32
    int rowStride = 0;               // bytes from the start of one row to the start of the next
    const uint8_t* pixels = nullptr; // the top row
};

// One colour of a caller's palette, in the order of a logical palette entry.
struct PaletteEntry {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t flags = 0;
};

// The packed image: 40-byte info header, 4 x E bytes of colour table, then the pixel rows
// bottom row first, each padded to a multiple of 4 bytes.
using PackedImage = std::vector<uint8_t>;

inline constexpr uint32_t kCompressionRgb = 0;       // uncompressed: the only one produced
inline constexpr uint32_t kCompressionBitfields = 3; // masks: never supported
inline constexpr uint32_t kInfoHeaderBytes = 40;
inline constexpr uint32_t kFileHeaderBytes = 14;

class CImageSaver {
public:
    virtual ~CImageSaver() = default;

    // Packs the raster in its own depth. The colour table (1, 4 and 8 bits per pixel) holds the
    // palette's colours, black for indices the palette does not reach; with an empty palette it
    // holds the default colours (black and white at 1 bit, the 16 standard colours otherwise).
    // Nothing for a compression other than uncompressed RGB (bit-field masks included), for a
    // raster that does not describe a picture, or when memory runs out.
    std::optional<PackedImage> PackBitmap(const FrameRaster& raster, uint32_t compression,
                                          std::span<const PaletteEntry> palette);

    // Writes "BM", the file size, the pixel offset and the whole block to path, replacing any
    // file there. False, with nothing changed under path, for no block, a malformed block, a
    // path that cannot be written or an error while writing: the file is first written beside
    // the target under a temporary name and only renamed into place once complete. On failure
    // *why (when given) says what went wrong, in words for the user.
    bool WriteBmpFile(const std::string& path, const std::optional<PackedImage>& block,
                      std::string* why = nullptr);
};

// Colour-table entries for a bit count: 2^bits up to 8 bits per pixel, none above.
uint32_t ColorTableEntries(uint32_t bitCount);

// Bytes of one stored row: width x bits rounded up to a whole number of 32-bit words.
uint64_t BmpRowBytes(uint64_t width, uint32_t bitCount);
