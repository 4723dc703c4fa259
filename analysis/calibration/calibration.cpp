#include "analysis/calibration/calibration.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kFileVersion = 1;
// Below this the reading is mostly the card's own noise: a calibration from it would be off by
// whatever the noise adds.
constexpr double kLowestCalibratingDbfs = -100.0;

const char* SideName(CalibrationSide side) {
    return side == CalibrationSide::Input ? "input" : "output";
}

// One entry of the file, or the reason it cannot be one.
std::optional<CalibrationEntry> ParseEntry(const nlohmann::json& item, std::string* problem) {
    if (!item.is_object()) {
        *problem = "an entry that is not an object";
        return std::nullopt;
    }
    CalibrationEntry entry;
    const auto device = item.find("device");
    if (device == item.end() || !device->is_string() || device->get<std::string>().empty()) {
        *problem = "an entry without a device name";
        return std::nullopt;
    }
    entry.device = device->get<std::string>();
    const auto side = item.find("side");
    if (side == item.end() || !side->is_string() || (*side != "input" && *side != "output")) {
        *problem = "side of " + entry.device + " is not \"input\" or \"output\"";
        return std::nullopt;
    }
    entry.side = *side == "input" ? CalibrationSide::Input : CalibrationSide::Output;
    const auto channel = item.find("channel");
    if (channel == item.end() || !channel->is_number_integer() || channel->get<long long>() < 0 ||
        channel->get<long long>() > 1) {
        *problem = "channel of " + entry.device + " is not 0 or 1";
        return std::nullopt;
    }
    entry.channel = static_cast<int>(channel->get<long long>());
    const auto vrms = item.find("vrms_at_0dbfs");
    if (vrms == item.end() || !vrms->is_number()) {
        *problem = "vrms_at_0dbfs of " + entry.device + " is missing or not a number";
        return std::nullopt;
    }
    entry.vrms_at_0dbfs = vrms->get<double>();
    if (!std::isfinite(entry.vrms_at_0dbfs) || entry.vrms_at_0dbfs <= 0) {
        *problem = "vrms_at_0dbfs of " + entry.device + " is not a positive number";
        return std::nullopt;
    }
    const auto set_on = item.find("set_on");
    if (set_on != item.end()) {
        if (!set_on->is_string()) {
            *problem = "set_on of " + entry.device + " is not a date";
            return std::nullopt;
        }
        entry.set_on = set_on->get<std::string>();
    }
    // Optional, so that a file written before them still loads; an older reader passes over them.
    const auto rate = item.find("rate_hz");
    const auto format = item.find("sample_format");
    if (rate != item.end() || format != item.end()) {
        if (rate == item.end() || !rate->is_number_integer() || rate->get<long long>() <= 0 ||
            rate->get<long long>() > 1000000 || format == item.end() || !format->is_string()) {
            *problem = "rate_hz and sample_format of " + entry.device +
                       " are not a rate in hertz and a format's name";
            return std::nullopt;
        }
        entry.taken_rate_hz = static_cast<int>(rate->get<long long>());
        entry.taken_format = format->get<std::string>();
    }
    return entry;
}

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p: every missing folder on the way.
bool MakeFolders(const std::string& folder, std::string* error) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') {
            continue;
        }
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

} // namespace

double DbfsToVrms(double dbfs, double vrms_at_0dbfs) {
    return vrms_at_0dbfs * std::pow(10.0, dbfs / 20.0);
}

double VrmsToDbfs(double vrms, double vrms_at_0dbfs) {
    return 20.0 * std::log10(vrms / vrms_at_0dbfs);
}

double SineVpp(double vrms) {
    return 2.0 * std::sqrt(2.0) * vrms;
}

std::optional<double> CalibrateFromReading(double vrms, double measured_dbfs) {
    if (!std::isfinite(vrms) || vrms <= 0 || !std::isfinite(measured_dbfs) ||
        measured_dbfs < kLowestCalibratingDbfs) {
        return std::nullopt;
    }
    const double at_0dbfs = vrms / std::pow(10.0, measured_dbfs / 20.0);
    if (!std::isfinite(at_0dbfs) || at_0dbfs <= 0) {
        return std::nullopt;
    }
    return at_0dbfs;
}

std::string CCalibrationStore::DefaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (config != nullptr && config[0] == '/') {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home != nullptr ? home : "") + "/.config";
    }
    return folder + "/tavrin/calibration.json";
}

bool CCalibrationStore::Load(const std::string& path, std::string* message) {
    m_entries.clear();
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 && errno == ENOENT) {
        return true;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file || S_ISDIR(status.st_mode)) {
        *message = path + ": cannot read the calibration file; no calibration applied";
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    const nlohmann::json document = nlohmann::json::parse(text.str(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        *message = path + ": not a calibration file (damaged JSON); no calibration applied";
        return false;
    }
    const auto version = document.find("version");
    if (version != document.end() && (!version->is_number_integer() || *version != kFileVersion)) {
        *message = path + ": unknown calibration file version; no calibration applied";
        return false;
    }
    const auto entries = document.find("entries");
    if (entries == document.end() || !entries->is_array()) {
        *message = path + ": no list of entries; no calibration applied";
        return false;
    }
    std::string first_problem;
    int skipped = 0;
    for (const auto& item : *entries) {
        std::string problem;
        if (const auto entry = ParseEntry(item, &problem)) {
            Set(*entry);
        } else {
            if (skipped == 0) {
                first_problem = problem;
            }
            ++skipped;
        }
    }
    if (skipped > 0) {
        *message = path + ": " + first_problem + "; " + std::to_string(skipped) +
                   (skipped == 1 ? " entry" : " entries") + " skipped";
        return false;
    }
    return true;
}

bool CCalibrationStore::Save(const std::string& path, std::string* error) const {
    nlohmann::json entries = nlohmann::json::array();
    for (const CalibrationEntry& entry : m_entries) {
        nlohmann::json item = {{"device", entry.device},
                               {"side", SideName(entry.side)},
                               {"channel", entry.channel},
                               {"vrms_at_0dbfs", entry.vrms_at_0dbfs},
                               {"set_on", entry.set_on}};
        if (entry.taken_rate_hz > 0) {
            item["rate_hz"] = entry.taken_rate_hz;
            item["sample_format"] = entry.taken_format;
        }
        entries.push_back(std::move(item));
    }
    const nlohmann::json document = {{"version", kFileVersion}, {"entries", entries}};
    // A device name that is not UTF-8 would make dump() throw; its bytes are replaced instead.
    const std::string text =
        document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return WriteFileAtomically(path, text, error);
}

bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    const std::string folder = Folder(path);
    if (!MakeFolders(folder, error)) {
        return false;
    }
    // Written beside the old file and renamed over it: a crash or a full disk halfway leaves
    // either the old calibration or the new one, never half of one.
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "cannot write in " + folder + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(fd, text) && fsync(fd) == 0;
    const int saved_errno = errno;
    const bool closed = close(fd) == 0;
    if (!written || !closed) {
        *error = "cannot write " + temp + ": " + std::strerror(written ? errno : saved_errno);
        unlink(temp.c_str());
        return false;
    }
    // mkstemp makes it private; the calibration is no secret.
    chmod(temp.c_str(), 0644);
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        *error = "cannot replace " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::optional<CalibrationEntry> CCalibrationStore::Find(const std::string& device,
                                                        CalibrationSide side, int channel) const {
    for (const CalibrationEntry& entry : m_entries) {
        if (entry.device == device && entry.side == side && entry.channel == channel) {
            return entry;
        }
    }
    return std::nullopt;
}

void CCalibrationStore::Set(const CalibrationEntry& entry) {
    for (CalibrationEntry& held : m_entries) {
        if (held.device == entry.device && held.side == entry.side &&
            held.channel == entry.channel) {
            held = entry;
            return;
        }
    }
    m_entries.push_back(entry);
}
