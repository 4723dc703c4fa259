#pragma once
// The impedance analyser's corrections per sound card (as --list-devices names it), kept in
// impedance_calibration.json beside the volts' calibration.json and saved the same atomic way.
// A card with no entry has no corrections. Plain data and file handling; one store per thread.

#include "analysis/impedance/impedance_corrections.h"

#include <map>
#include <string>

class CImpedanceCalibrationStore {
public:
    // Beside CCalibrationStore::DefaultPath().
    static std::string DefaultPath();

    // A missing file is no corrections and no message. A damaged file or entry gives one line in
    // *message (whole entries still apply; damaged JSON applies nothing) and false.
    bool Load(const std::string& path, std::string* message);
    bool Save(const std::string& path, std::string* error) const;

    const ImpedanceCorrections* Find(const std::string& device) const;
    void Set(const std::string& device, const ImpedanceCorrections& corrections);

private:
    std::map<std::string, ImpedanceCorrections> m_cards;
};
