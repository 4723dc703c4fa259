#include "headless/report_session.h"

#include "headless/report_card.h"
#include "headless/report_html.h"
#include "headless/report_json.h"
#include "headless/report_limits.h"
#include "headless/report_steps.h"
#include "headless/report_stream_card.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/stat.h>

#ifndef TAVRIN_VERSION
#error "TAVRIN_VERSION comes from the build"
#endif

namespace {

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "%s: cannot read '%s': %s\n", kTool, path.c_str(),
                     std::strerror(errno));
        return std::nullopt;
    }
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "%s: cannot write '%s'\n", kTool, path.c_str());
        return false;
    }
    return true;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The limits and the older report, read before anything is measured.
struct Inputs {
    std::vector<FigureLimit> limits;
    std::optional<Report> old;
};

std::optional<Inputs> ReadInputs(const ReportOptions& options) {
    Inputs inputs;
    std::string error;
    if (options.limits) {
        const auto text = ReadFile(*options.limits);
        if (!text) {
            return std::nullopt;
        }
        auto limits = ParseLimits(*text, ReportFigureTable(), &error);
        if (!limits) {
            std::fprintf(stderr, "%s: %s: %s\n", kTool, options.limits->c_str(), error.c_str());
            return std::nullopt;
        }
        inputs.limits = std::move(*limits);
    }
    if (options.compare) {
        const auto text = ReadFile(*options.compare);
        if (!text) {
            return std::nullopt;
        }
        inputs.old = ParseReportJson(*text, &error);
        if (!inputs.old) {
            std::fprintf(stderr, "%s: %s: %s\n", kTool, options.compare->c_str(), error.c_str());
            return std::nullopt;
        }
    }
    if (mkdir(options.out_dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "%s: cannot make '%s': %s\n", kTool, options.out_dir.c_str(),
                     std::strerror(errno));
        return std::nullopt;
    }
    return inputs;
}

int Finish(Report& report, const Inputs& inputs, const ReportOptions& options, bool complete) {
    if (inputs.old) {
        CompareWith(*inputs.old, report);
    }
    const std::vector<std::string> failed = ApplyLimits(inputs.limits, report);
    const std::string dir = options.out_dir + "/";
    if (!WriteFile(dir + "report.json", ReportJsonText(report)) ||
        !WriteFile(dir + "summary.csv", ReportCsvText(report)) ||
        !WriteFile(dir + "report.html", ReportHtmlText(report))) {
        return kExitBadArguments;
    }
    double seconds = 0;
    bool stepFailed = false;
    for (const ReportStep& step : report.steps) {
        seconds += step.seconds;
        stepFailed = stepFailed || step.failed;
    }
    std::fprintf(stderr, "%s: %zu steps in %.1f s; report in %s\n", kTool, report.steps.size(),
                 seconds, options.out_dir.c_str());
    for (const std::string& id : failed) {
        const ReportFigure* f = report.Figure(id);
        std::fprintf(stderr, "%s: out of limits: %s = %s%s\n", kTool, id.c_str(),
                     f->value ? std::to_string(*f->value).c_str() : "not measured",
                     f->value ? (" " + f->unit).c_str() : "");
    }
    if (!complete) {
        return kExitReportStopped;
    }
    if (!failed.empty()) {
        return kExitReportOutOfLimits;
    }
    return stepFailed ? kExitReportStepFailed : kExitDone;
}

} // namespace

int RunReport(const ReportOptions& options) {
    // A bad limits file or older report is refused before a device is touched.
    const std::optional<Inputs> inputs = ReadInputs(options);
    if (!inputs) {
        return kExitBadArguments;
    }
    if (!BeginRun(options.device)) {
        return kExitDeviceFailed;
    }
    // The panel's own format runs on its engine; any other opens the card as a stream of its own.
    std::optional<CEngineCardCapture> engineCard;
    std::unique_ptr<CStreamCardCapture> streamCard;
    ICardCapture* card = nullptr;
    std::string device;
    if (AtStreamFormat(options)) {
        streamCard = CStreamCardCapture::Open(options);
        if (!streamCard) {
            return kExitDeviceFailed;
        }
        card = streamCard.get();
        device = streamCard->Device();
    } else {
        CAlertLines alerts;
        card = &engineCard.emplace();
        const std::optional<std::string> opened = engineCard->Open(alerts);
        if (!opened) {
            return kExitDeviceFailed;
        }
        alerts.Echo();
        device = *opened;
    }
    const std::string format = DescribeStreamFormat(options.stream, false);
    std::fprintf(stderr, "%s: measuring the report on '%s' at %s\n", kTool, device.c_str(),
                 format.c_str());
    Report report;
    report.device = device;
    report.format = format + ", stereo";
    report.rate_hz = options.stream.rate_hz;
    report.sample_format = SampleFormatName(options.stream.format);
    report.date = UtcNow();
    report.version = TAVRIN_VERSION;
    const bool complete = RunReportSteps(*card, ReportSettingsAt(card->RateHz()), report);
    return Finish(report, *inputs, options, complete);
}
