#include "files/image_saver.h"

#include "base/le_bytes.h"
#include "base/palette16.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Offsets of the info-header fields inside the block.
constexpr size_t kBiSize = 0;
constexpr size_t kBiWidth = 4;
constexpr size_t kBiHeight = 8;
constexpr size_t kBiPlanes = 12;
constexpr size_t kBiBitCount = 14;
constexpr size_t kBiCompression = 16;
constexpr size_t kBiSizeImage = 20;

// The file size field is 32 bits: leave room for both headers and the largest colour table.
constexpr uint64_t kMaxImageBytes = UINT32_MAX - kFileHeaderBytes - kInfoHeaderBytes - 4 * 256;

bool IsSupportedDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Colour table entries are blue, green, red, 0.
void FillColorTable(uint8_t* table, uint32_t entries, int bitCount,
                    std::span<const PaletteEntry> palette) {
    std::fill(table, table + 4 * entries, uint8_t(0));
    if (!palette.empty()) {
        const size_t count = std::min<size_t>(entries, palette.size());
        for (size_t i = 0; i < count; ++i) {
            table[4 * i] = palette[i].blue;
            table[4 * i + 1] = palette[i].green;
            table[4 * i + 2] = palette[i].red;
        }
        return;
    }
    if (bitCount == 1) {
        std::fill(table + 4, table + 7, uint8_t(0xFF));
        return;
    }
    // No palette of the caller's: the display's standard 16 colours.
    for (uint32_t i = 0; i < 16 && i < entries; ++i) {
        table[4 * i] = kPalette16[i].blue;
        table[4 * i + 1] = kPalette16[i].green;
        table[4 * i + 2] = kPalette16[i].red;
    }
}

// Rows go bottom-up; padding bytes, and the unused fourth byte of 32-bit pixels, are written as
// 0 so that a file never carries leftovers of the raster's memory.
void CopyRows(const FrameRaster& raster, uint8_t* out, uint64_t rowBytes) {
    const size_t usedBytes = (size_t(raster.width) * raster.bitsPerPixel + 7) / 8;
    for (int row = 0; row < raster.height; ++row) {
        const uint8_t* src = raster.pixels + size_t(raster.height - 1 - row) * raster.rowStride;
        uint8_t* dst = out + size_t(row) * rowBytes;
        std::memcpy(dst, src, usedBytes);
        std::fill(dst + usedBytes, dst + rowBytes, uint8_t(0));
        if (raster.bitsPerPixel == 32) {
            for (int x = 0; x < raster.width; ++x) {
                dst[4 * x + 3] = 0;
            }
        }
    }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        data += done;
        size -= size_t(done);
    }
    return true;
}

// Where the bytes must end up: a symbolic link is followed, as opening the path would.
std::string ResolveTarget(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
    }
    return path;
}

// A new file beside the target, created with the permissions a plain create would give it.
int CreateTemporary(const std::string& target, std::string& tempPath) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = target + ".part-" + std::to_string(::getpid()) + "-" +
                   std::to_string(serial.fetch_add(1, std::memory_order_relaxed));
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// The system's words for an errno value; strerror_r keeps this safe on any thread.
const char* ErrorText(int error) {
    thread_local char text[128];
    return ::strerror_r(error, text, sizeof text);
}

} // namespace

uint32_t ColorTableEntries(uint32_t bitCount) {
    return bitCount <= 8 ? 1u << bitCount : 0u;
}

uint64_t BmpRowBytes(uint64_t width, uint32_t bitCount) {
    return ((width * bitCount + 31) & ~uint64_t(31)) / 8;
}

std::optional<PackedImage> CImageSaver::PackBitmap(const FrameRaster& raster, uint32_t compression,
                                                   std::span<const PaletteEntry> palette) {
    // Compressed output would need an encoder we do not have; labelling raw rows as compressed
    // would make a corrupt file, so only uncompressed RGB is packed.
    if (compression != kCompressionRgb) {
        return std::nullopt;
    }
    if (raster.width <= 0 || raster.height <= 0 || !IsSupportedDepth(raster.bitsPerPixel) ||
        raster.pixels == nullptr ||
        uint64_t(raster.rowStride) * 8 < uint64_t(raster.width) * raster.bitsPerPixel) {
        return std::nullopt;
    }
    const uint32_t bitCount = uint32_t(raster.bitsPerPixel);
    const uint64_t rowBytes = BmpRowBytes(uint64_t(raster.width), bitCount);
    const uint64_t imageBytes = rowBytes * uint64_t(raster.height);
    if (imageBytes > kMaxImageBytes) {
        return std::nullopt;
    }
    const uint32_t entries = ColorTableEntries(bitCount);
    const size_t rowsAt = kInfoHeaderBytes + 4 * entries;

    PackedImage block;
    try {
        block.resize(rowsAt + imageBytes);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    uint8_t* header = block.data();
    PutLe32(header + kBiSize, kInfoHeaderBytes);
    PutLe32(header + kBiWidth, uint32_t(raster.width));
    PutLe32(header + kBiHeight, uint32_t(raster.height));
    PutLe16(header + kBiPlanes, 1);
    PutLe16(header + kBiBitCount, uint16_t(bitCount));
    PutLe32(header + kBiCompression, compression);
    PutLe32(header + kBiSizeImage, uint32_t(imageBytes));
    // Resolution, colours used and colours important stay 0 from the resize.

    FillColorTable(block.data() + kInfoHeaderBytes, entries, raster.bitsPerPixel, palette);
    CopyRows(raster, block.data() + rowsAt, rowBytes);
    return block;
}

bool CImageSaver::WriteBmpFile(const std::string& path, const std::optional<PackedImage>& block,
                               std::string* why) {
    const auto fail = [why](const char* reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return false;
    };
    // Taken at once, before cleaning up can change errno.
    const auto failWithErrno = [&fail] { return fail(ErrorText(errno)); };
    if (!block) {
        return fail("the picture could not be converted");
    }
    if (block->size() < kInfoHeaderBytes) {
        return fail("the picture is malformed");
    }
    const uint32_t infoBytes = GetLe32(block->data() + kBiSize);
    const uint32_t bitCount = GetLe16(block->data() + kBiBitCount);
    const uint64_t pixelOffset =
        uint64_t(kFileHeaderBytes) + infoBytes + 4 * uint64_t(ColorTableEntries(bitCount));
    const uint64_t fileBytes = kFileHeaderBytes + uint64_t(block->size());
    if (infoBytes < kInfoHeaderBytes || pixelOffset > fileBytes || fileBytes > UINT32_MAX) {
        return fail("the picture is malformed");
    }

    uint8_t fileHeader[kFileHeaderBytes] = {'B', 'M'};
    PutLe32(fileHeader + 2, uint32_t(fileBytes));
    PutLe32(fileHeader + 10, uint32_t(pixelOffset));

    const std::string target = ResolveTarget(path);
    struct stat existing;
    const bool replacing = ::stat(target.c_str(), &existing) == 0;
    // A file we could not open for writing is not ours to replace by renaming over it.
    if (replacing && ::access(target.c_str(), W_OK) != 0) {
        return failWithErrno();
    }

    std::string tempPath;
    const int fd = CreateTemporary(target, tempPath);
    if (fd < 0) {
        return failWithErrno();
    }
    bool ok = true;
    if (replacing && S_ISREG(existing.st_mode)) {
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, fileHeader, sizeof fileHeader) &&
         WriteAll(fd, block->data(), block->size());
    int error = ok ? 0 : (errno != 0 ? errno : EIO);
    // Some file systems report a failed write only when the file is closed.
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(tempPath.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(tempPath.c_str());
        return fail(ErrorText(error));
    }
    return true;
}
