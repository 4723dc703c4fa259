#pragma once
// The wave-device calls the capture and playback threads make, with their order and meaning
// kept: open, prepare header, add/write, start, reset, unprepare, close, error text. Each open
// device sends "buffer done" to its owner's message queue. Which device opens: the name set by
// SetWaveDevices, else TAVRIN_AUDIO (unset or "alsa" -> ALSA "default", "alsa:NAME" -> ALSA
// NAME, "sim" -> the simulated bench). The open is audio/wave_open.h's: the table that picks
// a backend sits above both, so this layer holds ALSA alone and builds no simulated card.

#include "audio/wave/message_thread.h"
#include "audio/wave/wave_types.h"
#include "base/clock_stamp.h"
#include "base/pcm_format.h"

#include <cstdint>
#include <string>

using MMRESULT = uint32_t;
inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_NOMEM = 7;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

inline constexpr uint32_t MM_WOM_DONE = 0x3BD;
inline constexpr uint32_t MM_WIM_DATA = 0x3C0;
// The device stopped working beyond recovery (gone, or its sound server went away). Posted once
// per outage as {MM_WIM_LOST or MM_WOM_LOST, device, WaveOutage*}; the device keeps its queued
// headers and reopens itself about once a second until it is back or reset.
inline constexpr uint32_t MM_WIM_LOST = 0x7C0;
inline constexpr uint32_t MM_WOM_LOST = 0x7BD;

inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

inline constexpr int kErrorTextChars = 100;

struct WAVEHDR {
    uint8_t* lpData = nullptr;
    uint32_t dwBufferLength = 0;  // bytes
    uint32_t dwBytesRecorded = 0; // bytes
    uint32_t dwFlags = 0;
    // Capture: WaveGapCount() as the device completed the header, so that a hole shows at the
    // first buffer after it rather than at whichever buffer the owner happens to handle next.
    uint64_t gapCount = 0;
    // Capture: WaveInputGapCount() at the same moment.
    uint64_t inputGapCount = 0;
    // When the header's first frame was at the converter: captured there (capture), or left
    // for the line (playback, stamped as the header completes). None when the device could
    // not tell its position.
    ClockStamp stamp;
};

// The devices opened from now on, one name per direction: an ALSA name ("default",
// "hw:CARD=Device") or "sim"/"sim:ANYTHING" for the simulated bench. An empty name leaves that
// direction to TAVRIN_AUDIO. Any thread; a device already open stays open.
void SetWaveDevices(const std::string& input, const std::string& output);
void SetWaveDevice(WaveDirection direction, const std::string& name);
// The name the next open in `direction` will use, TAVRIN_AUDIO resolved ("default" when nothing
// chose; the variable's text itself when it is not a valid choice). Any thread.
std::string WaveDeviceName(WaveDirection direction);
bool IsSimulatedDeviceName(const std::string& name);

class CWaveDevice;
using HWAVEIN = CWaveDevice*;
using HWAVEOUT = CWaveDevice*;

// Capture, on a device waveInOpen (audio/wave_open.h) opened.
MMRESULT waveInPrepareHeader(HWAVEIN device, WAVEHDR* header);
MMRESULT waveInUnprepareHeader(HWAVEIN device, WAVEHDR* header);
MMRESULT waveInAddBuffer(HWAVEIN device, WAVEHDR* header);
MMRESULT waveInStart(HWAVEIN device);
// Stops input and hands every queued header back, synchronously, as MM_WIM_DATA.
MMRESULT waveInReset(HWAVEIN device);
MMRESULT waveInClose(HWAVEIN device);
// Text for `code`; when it is the calling thread's latest failure, the Linux cause in words.
void waveInGetErrorText(MMRESULT code, char* text, int chars);

// Playback, on a device waveOutOpen (audio/wave_open.h) opened.
MMRESULT waveOutPrepareHeader(HWAVEOUT device, WAVEHDR* header);
MMRESULT waveOutUnprepareHeader(HWAVEOUT device, WAVEHDR* header);
MMRESULT waveOutWrite(HWAVEOUT device, WAVEHDR* header);
MMRESULT waveOutReset(HWAVEOUT device);
MMRESULT waveOutClose(HWAVEOUT device);
void waveOutGetErrorText(MMRESULT code, char* text, int chars);

// The message's outage: the owner's worker takes it (and frees it); it becomes the calling
// thread's latest failure, so the error-text calls give its cause. Returns its code.
MMRESULT TakeWaveOutage(void* outage);

// Overruns and underruns recovered by the ALSA backend since the process started.
uint64_t WaveXrunCount();
// Capture frames thrown away because the owner held every header (a worker in a modal box).
uint64_t WaveDroppedInputFrames();
// The two above and the capture devices lost, added up: it changes whenever the captured stream
// gets a hole.
uint64_t WaveGapCount();
// What breaks the captured stream alone: capture xruns, dropped input frames, capture devices
// lost, and capture starts (the frames between a stop and the next start are never read). A
// playback underrun leaves the input whole, so it is not counted here. Two buffers stamped
// with the same count follow on from each other.
uint64_t WaveInputGapCount();
