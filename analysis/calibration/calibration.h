#pragma once
// Volts for a sound card: per device name (as --list-devices names it), per direction and per
// channel, the RMS voltage that 0 dBFS stands for (AES17: a full-scale sine). The panel and the
// headless commands read the same file, ~/.config/tavrin/calibration.json
// ($XDG_CONFIG_HOME/tavrin/ when set). A device with no entry is uncalibrated: never shown in
// volts, never with another device's figures. Plain data and file handling; any thread, one
// store per thread (the store itself is not shared).

#include <optional>
#include <string>
#include <vector>

enum class CalibrationSide { Input, Output };

struct CalibrationEntry {
    std::string device; // the ALSA (or "sim...") device name
    CalibrationSide side = CalibrationSide::Input;
    int channel = 0;          // 0: X1 / L, 1: X2 / R
    double vrms_at_0dbfs = 0; // > 0
    std::string set_on;       // the date it was set, ISO 8601 (YYYY-MM-DD)
    // The rate and sample format ("s16", "s24", "s32", "float") it was measured at; 0 and ""
    // when the file does not say (written before they were kept: the panel's 44100 Hz s16).
    // The volts apply at every format: a card's analogue gain does not change with it.
    int taken_rate_hz = 0;
    std::string taken_format = {};
};

// dBFS (AES17 RMS) <-> volts RMS for a channel whose 0 dBFS is vrms_at_0dbfs.
double DbfsToVrms(double dbfs, double vrms_at_0dbfs);
double VrmsToDbfs(double vrms, double vrms_at_0dbfs);
// A sine's peak-to-peak voltage from its RMS.
double SineVpp(double vrms);

class CCalibrationStore {
public:
    // $XDG_CONFIG_HOME/tavrin/calibration.json, else $HOME/.config/tavrin/calibration.json.
    static std::string DefaultPath();

    // Reads the file. A missing file is no calibration and no message. An unreadable or damaged
    // file, or an entry of the wrong type, or a value that is not a positive finite number, gives
    // one line in *message (entries that are whole still apply; a damaged JSON text applies
    // nothing). Returns false when *message was set.
    bool Load(const std::string& path, std::string* message);
    // Writes all entries atomically (a temporary file beside it, then a rename); creates the
    // folder. False with the reason in *error; the file on disk is then as it was.
    bool Save(const std::string& path, std::string* error) const;

    std::optional<CalibrationEntry> Find(const std::string& device, CalibrationSide side,
                                         int channel) const;
    // Adds or replaces the entry for (device, side, channel).
    void Set(const CalibrationEntry& entry);
    const std::vector<CalibrationEntry>& Entries() const { return m_entries; }

private:
    std::vector<CalibrationEntry> m_entries;
};

// Writes text to path atomically: a temporary file beside it, then a rename; creates the folder.
// False with the reason in *error; the file on disk is then as it was.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);

// The calibration from a level measured now: the voltmeter read `vrms` while the channel read
// `measured_dbfs`. Nothing for a level or reading that cannot calibrate (not finite, <= 0 V,
// below -100 dBFS: too close to the noise to mean anything).
std::optional<double> CalibrateFromReading(double vrms, double measured_dbfs);
