#include "files/float_wave.h"

#include "base/le_bytes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint16_t kWaveFormatIeeeFloat = 3;
constexpr uint32_t kBytesPerSample = 4;
// RIFF header 12, "fmt " chunk 8 + 18, "fact" chunk 8 + 4, "data" chunk header 8.
constexpr uint32_t kHeaderBytes = 12 + 26 + 12 + 8;

std::vector<uint8_t> FloatWaveBytes(const std::vector<float>& samples, int rate_hz) {
    const auto frames = uint32_t(samples.size());
    const uint32_t dataBytes = frames * kBytesPerSample;
    std::vector<uint8_t> bytes(kHeaderBytes + dataBytes);
    uint8_t* at = bytes.data();
    std::memcpy(at, "RIFF", 4);
    PutLe32(at + 4, kHeaderBytes - 8 + dataBytes);
    std::memcpy(at + 8, "WAVEfmt ", 8);
    PutLe32(at + 16, 18);
    PutLe16(at + 20, kWaveFormatIeeeFloat);
    PutLe16(at + 22, 1); // channels
    PutLe32(at + 24, uint32_t(rate_hz));
    PutLe32(at + 28, uint32_t(rate_hz) * kBytesPerSample);
    PutLe16(at + 32, kBytesPerSample); // block align
    PutLe16(at + 34, 32);              // bits per sample
    PutLe16(at + 36, 0);               // no extension bytes
    std::memcpy(at + 38, "fact", 4);
    PutLe32(at + 42, 4);
    PutLe32(at + 46, frames);
    std::memcpy(at + 50, "data", 4);
    PutLe32(at + 54, dataBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        uint32_t bits = 0;
        std::memcpy(&bits, &samples[i], 4);
        PutLe32(at + kHeaderBytes + i * kBytesPerSample, bits);
    }
    return bytes;
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC; // a device that takes nothing more is as good as full
            }
            return false;
        }
        done += size_t(n);
    }
    return true;
}

} // namespace

bool WriteFloatWave(const std::string& path, const std::vector<float>& samples, int rate_hz,
                    std::string& error) {
    if (rate_hz <= 0) {
        error = "sample rate must be above 0 Hz";
        return false;
    }
    if (samples.size() > (0xFFFFFFFFull - kHeaderBytes) / kBytesPerSample) {
        error = "too many samples for one WAV file (4 GiB)";
        return false;
    }
    const std::vector<uint8_t> bytes = FloatWaveBytes(samples, rate_hz);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    // close() is where some file systems report the last block as unwritable.
    const bool written = WriteAll(fd, bytes);
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (written && closed) {
        return true;
    }
    error = path + ": " + std::strerror(written ? errno : writeErrno);
    if (regular) {
        ::unlink(path.c_str());
    }
    return false;
}
