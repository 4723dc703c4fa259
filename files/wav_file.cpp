#include "files/wav_file.h"

#include "base/le_bytes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The RIFF size counts everything after its own field; sizes are 32-bit, so a recording stops
// growing at 4 GiB rather than wrapping them.
constexpr int64_t kMaxRiffSize = 0xFFFFFFFFLL;

} // namespace

CWavFile::CWavFile(const std::string& path, const WAVEFORMATEX* format) : m_path(path) {
    if (format != nullptr) {
        m_format = *format;
    }
    m_mode = kModeWrite;
    OpenForWriting();
}

CWavFile::~CWavFile() {
    Close();
}

bool CWavFile::OpenForWriting() {
    if (m_fd >= 0) {
        return false;
    }
    // Not O_TRUNC: a second recorder must not empty a file that another one still holds, so
    // the file is emptied only once the lock is ours.
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_mode = 0;
        return false;
    }
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (regular && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        m_mode = 0;
        return false;
    }
    m_fd = fd;

    const uint32_t formatBytes = kWaveFormatBytes + m_format.cbSize;
    m_riffChunk = {};
    std::memcpy(m_riffChunk.id, "RIFF", 4);
    std::memcpy(m_riffChunk.formType, "WAVE", 4);
    m_riffChunk.dataOffset = 8;
    m_subChunk = {};
    std::memcpy(m_subChunk.id, "data", 4);
    m_subChunk.dataOffset = 12 + 8 + int64_t(formatBytes) + 8;
    m_dataBytes = 0;
    // A failure here shows in the first Write, which tries again: the file exists and is ours.
    m_headerWritten = WriteHeader();
    return true;
}

bool CWavFile::WriteHeader() {
    // Built whole in memory and written in one call. Extra format bytes beyond the 18-byte
    // record are not part of it, so they are written as zeros rather than read from nowhere.
    const uint32_t formatBytes = kWaveFormatBytes + m_format.cbSize;
    std::vector<uint8_t> header(size_t(m_subChunk.dataOffset), 0);
    std::memcpy(&header[0], "RIFF", 4);
    std::memcpy(&header[8], "WAVEfmt ", 8);
    PutLe32(&header[16], formatBytes);
    SerializeWaveFormat(m_format, &header[20]);
    std::memcpy(&header[size_t(20 + formatBytes)], "data", 4);
    size_t written = 0;
    const bool whole = WriteAt(0, header.data(), header.size(), &written);
    return WriteSizes(0) && whole;
}

bool CWavFile::Write(const SampleBuffer& buffer) {
    if (m_mode != kModeWrite || m_fd < 0) {
        return false;
    }
    const size_t length = buffer.m_length > 0 ? size_t(buffer.m_length) : 0;
    if (length == 0) {
        return true;
    }
    if (m_subChunk.dataOffset - 8 + m_dataBytes + int64_t(length) + 1 > kMaxRiffSize) {
        return false;
    }
    // Samples behind a missing header are in no reader's view: the buffer is not recorded yet.
    if (!m_headerWritten) {
        m_headerWritten = WriteHeader();
    }
    size_t written = 0;
    const bool whole =
        WriteAt(m_subChunk.dataOffset + m_dataBytes, buffer.m_data, length, &written);
    // A short write still counts what reached the file, so the next buffer follows it.
    m_dataBytes += int64_t(written);
    const bool sized = written == 0 || WriteSizes(0);
    return whole && sized && m_headerWritten;
}

void CWavFile::Close() {
    if (m_fd < 0) {
        return;
    }
    if (m_mode == kModeWrite) {
        if (!m_headerWritten) {
            m_headerWritten = WriteHeader(); // a last chance for a file readers can open
        }
        uint32_t pad = 0;
        if (m_dataBytes % 2 != 0) {
            const uint8_t zero = 0;
            size_t written = 0;
            pad = WriteAt(m_subChunk.dataOffset + m_dataBytes, &zero, 1, &written) ? 1 : 0;
        }
        WriteSizes(pad);
    }
    ::close(m_fd); // also drops the lock
    m_fd = -1;
}

bool CWavFile::WriteAt(int64_t offset, const void* bytes, size_t count, size_t* written) {
    const auto* at = static_cast<const uint8_t*>(bytes);
    *written = 0;
    while (*written < count) {
        const ssize_t n =
            ::pwrite(m_fd, at + *written, count - *written, off_t(offset) + off_t(*written));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        *written += size_t(n);
    }
    return true;
}

// Data written first, sizes after: a file cut off between the two still describes only
// bytes that are really there.
bool CWavFile::WriteSizes(uint32_t pad) {
    m_subChunk.size = uint32_t(m_dataBytes);
    m_riffChunk.size = uint32_t(m_subChunk.dataOffset - 8 + m_dataBytes + pad);
    uint8_t field[4];
    size_t written = 0;
    PutLe32(field, m_riffChunk.size);
    const bool riff = WriteAt(4, field, 4, &written);
    PutLe32(field, m_subChunk.size);
    const bool data = WriteAt(m_subChunk.dataOffset - 4, field, 4, &written);
    return riff && data;
}
