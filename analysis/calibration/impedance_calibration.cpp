#include "analysis/calibration/impedance_calibration.h"

#include "analysis/calibration/calibration.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

constexpr int kFileVersion = 1;
constexpr const char* kFileName = "impedance_calibration.json";

nlohmann::json TableJson(const CImpedanceCalTable& table) {
    nlohmann::json points = nlohmann::json::array();
    for (const ImpedanceCalPoint& point : table.Points()) {
        points.push_back({point.freq_hz, point.value.real(), point.value.imag()});
    }
    return points;
}

// [[freq_hz, re, im], ...]; false at the first point that is not three finite numbers with a
// positive frequency.
bool ParseTable(const nlohmann::json& item, const char* key, CImpedanceCalTable& table) {
    const auto points = item.find(key);
    if (points == item.end()) {
        return true;
    }
    if (!points->is_array()) {
        return false;
    }
    for (const auto& point : *points) {
        if (!point.is_array() || point.size() != 3 || !point[0].is_number() ||
            !point[1].is_number() || !point[2].is_number()) {
            return false;
        }
        const double f = point[0].get<double>();
        const std::complex<double> value(point[1].get<double>(), point[2].get<double>());
        if (!(f > 0) || !std::isfinite(f) || !std::isfinite(value.real()) ||
            !std::isfinite(value.imag())) {
            return false;
        }
        table.Set(f, value);
    }
    return true;
}

} // namespace

std::string CImpedanceCalibrationStore::DefaultPath() {
    const std::string volts = CCalibrationStore::DefaultPath();
    return volts.substr(0, volts.rfind('/') + 1) + kFileName;
}

bool CImpedanceCalibrationStore::Load(const std::string& path, std::string* message) {
    m_cards.clear();
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 && errno == ENOENT) {
        return true;
    }
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const nlohmann::json document = nlohmann::json::parse(text.str(), nullptr, false);
    if (!file || document.is_discarded() || !document.is_object() ||
        document.value("version", 0) != kFileVersion || !document.contains("cards") ||
        !document["cards"].is_array()) {
        *message = path + ": not an impedance calibration file; no corrections applied";
        return false;
    }
    int skipped = 0;
    for (const auto& item : document["cards"]) {
        ImpedanceCorrections corrections;
        const bool named =
            item.is_object() && item.contains("device") && item["device"].is_string();
        bool whole = named && ParseTable(item, "match", corrections.match) &&
                     ParseTable(item, "open", corrections.open) &&
                     ParseTable(item, "short", corrections.shorted);
        if (whole && item.contains("input_impedance_ohm") &&
            !item["input_impedance_ohm"].is_null()) {
            const auto& zin = item["input_impedance_ohm"];
            whole = zin.is_number() && zin.get<double>() > 0 && std::isfinite(zin.get<double>());
            if (whole) {
                corrections.input_impedance_ohm = zin.get<double>();
            }
        }
        if (whole) {
            m_cards[item["device"].get<std::string>()] = corrections;
        } else {
            ++skipped;
        }
    }
    if (skipped > 0) {
        *message = path + ": " + std::to_string(skipped) +
                   (skipped == 1 ? " card's entry is" : " cards' entries are") +
                   " damaged and skipped";
        return false;
    }
    return true;
}

bool CImpedanceCalibrationStore::Save(const std::string& path, std::string* error) const {
    nlohmann::json cards = nlohmann::json::array();
    for (const auto& [device, corrections] : m_cards) {
        nlohmann::json card = {{"device", device},
                               {"match", TableJson(corrections.match)},
                               {"open", TableJson(corrections.open)},
                               {"short", TableJson(corrections.shorted)}};
        card["input_impedance_ohm"] = corrections.input_impedance_ohm
                                          ? nlohmann::json(*corrections.input_impedance_ohm)
                                          : nlohmann::json(nullptr);
        cards.push_back(card);
    }
    const nlohmann::json document = {{"version", kFileVersion}, {"cards", cards}};
    const std::string text =
        document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return WriteFileAtomically(path, text, error);
}

const ImpedanceCorrections* CImpedanceCalibrationStore::Find(const std::string& device) const {
    const auto at = m_cards.find(device);
    return at == m_cards.end() ? nullptr : &at->second;
}

void CImpedanceCalibrationStore::Set(const std::string& device,
                                     const ImpedanceCorrections& corrections) {
    m_cards[device] = corrections;
}
