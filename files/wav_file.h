#pragma once
// CWavFile: one recording, a RIFF/WAVE file with an 18-byte format chunk and one data chunk,
// to which every captured buffer is appended. Construction and destruction: GUI thread;
// Write: the capture worker. The object takes no lock; the engine guarantees that no Write
// runs once destruction has begun.

#include "audio/sample_buffer.h"
#include "base/pcm_format.h"

#include <cstdint>
#include <string>

// Where a chunk stands in the file. Offsets in bytes from the start of the file.
struct WavChunk {
    char id[4] = {};
    uint32_t size = 0;          // bytes of chunk data
    char formType[4] = {};      // RIFF chunk only
    int64_t dataOffset = 0;     // first byte after the chunk's id and size
};

class CWavFile : public CPcmFormat {
public:
    static constexpr int32_t kModeWrite = 2;

    // Copies the 18 bytes of *format and opens path for writing. When that fails the object
    // holds no file and refuses every Write.
    CWavFile(const std::string& path, const WAVEFORMATEX* format);
    ~CWavFile() override;

    CWavFile(const CWavFile&) = delete;
    CWavFile& operator=(const CWavFile&) = delete;

    // Creates or empties the file, locked against any other recorder until Close.
    bool OpenForWriting();
    // Appends all m_length bytes; true when every one was written and the size fields were
    // brought up to date after them, so the file is a valid WAV of what it holds even if Close
    // never runs. A stale size field hides the buffer from every reader: that is a failure too.
    bool Write(const SampleBuffer& buffer);
    // Final sizes (and a pad byte after an odd data size), then closes. Harmless when closed.
    void Close();

    int m_fd = -1;              // none while no file is open
    std::string m_path;
    int32_t m_mode = 0;         // kModeWrite while open for writing; 0 when opening failed
    WavChunk m_riffChunk;
    WavChunk m_subChunk;        // the format chunk while the header is built, then "data"
    int64_t m_dataBytes = 0;    // sample bytes written so far

protected:
    // Every byte of the file goes through here; a test derives to make chosen writes fail.
    virtual bool WriteAt(int64_t offset, const void* bytes, size_t count, size_t* written);

private:
    bool WriteHeader();
    bool WriteSizes(uint32_t pad);

    bool m_headerWritten = false; // every header byte is in the file
};
