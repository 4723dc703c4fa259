#pragma once
// The work of each report step over the card: what it plays, how long it captures, which
// analyser reads the capture, and the figures and curves it sets. Used by report_steps.cpp
// alone. Main thread.

#include "headless/report_card.h"
#include "headless/report_data.h"
#include "headless/report_steps.h"

#include <cmath>
#include <string>
#include <utility>

inline constexpr const char* kStepLevel = "output level";
inline constexpr const char* kStepResponse = "frequency response";
inline constexpr const char* kStepNoise = "noise";
inline constexpr const char* kStepDynamicRange = "dynamic range";
inline constexpr const char* kStepThd1 = "THD at -1 dBFS";
inline constexpr const char* kStepThd20 = "THD at -20 dBFS";
inline constexpr const char* kStepImdSmpte = "IMD SMPTE";
inline constexpr const char* kStepImdCcif = "IMD CCIF";
inline constexpr const char* kStepCrosstalk = "crosstalk";
inline constexpr const char* kStepBalance = "channel balance";
inline constexpr const char* kStepThdnLevel = "THD+N against level";

enum class StepStatus { Done, Failed, Ended };

struct StepOutcome {
    StepStatus status = StepStatus::Done;
    std::string reason; // why it failed; or what a step that is done found worth a note
};

// What the steps share.
inline constexpr const char* kStepChannelIds[] = {"_l", "_r"};
inline constexpr const char* kStepChannelNames[] = {"L", "R"};

inline StepOutcome StepFailed(std::string reason) {
    return {StepStatus::Failed, std::move(reason)};
}

inline double StepDb(double ratio) {
    return 20 * std::log10(ratio);
}

inline TestSignal StepTone(double freq_hz, double level_dbfs,
                           TestSignalChannels channels = TestSignalChannels::Both) {
    TestSignal signal;
    signal.kind = TestSignalKind::Tone;
    signal.freq_hz = freq_hz;
    signal.level_dbfs = level_dbfs;
    signal.channels = channels;
    return signal;
}

class CStepWork {
public:
    CStepWork(ICardCapture& card, const ReportSettings& settings, Report& report)
        : m_card(card), m_settings(settings), m_report(report),
          m_settle_frames(settings.settle_frames) {}

    StepOutcome Level();
    StepOutcome Response();
    StepOutcome Noise();
    StepOutcome DynamicRange();
    StepOutcome Thd1() { return Thd(-1.0, "m1dbfs"); }
    StepOutcome Thd20() { return Thd(-20.0, "m20dbfs"); }
    StepOutcome ImdSmpte();
    StepOutcome ImdCcif();
    StepOutcome Crosstalk();
    StepOutcome Balance();
    StepOutcome ThdnAgainstLevel();

    // A failed step's figures and curves are left out: what its first try set is not a reading.
    void ClearStep(const std::string& step);

private:
    StepOutcome Thd(double level_dbfs, const std::string& tag);
    StepOutcome Imd(bool smpte);
    // Plays, settles, captures; outcome set when the capture cannot be used.
    std::optional<CardCapture> Take(const TestSignal& signal, int frames, StepOutcome& outcome);
    // A level no higher than the largest the card takes unclipped.
    double Capped(double level_dbfs) const;
    void Set(const std::string& id, double value);
    void SetCurve(ReportCurve curve, const std::string& step);

    ICardCapture& m_card;
    const ReportSettings& m_settings;
    Report& m_report;
    double m_ceiling_dbfs = 0;
    int m_settle_frames; // the settings', or more once the sweep has found a longer round trip
    std::vector<std::pair<std::string, std::string>> m_curveSteps; // curve id, its step
};
