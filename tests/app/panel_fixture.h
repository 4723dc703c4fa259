#pragma once
// A panel on the simulated bench with a stepped clock, and scripted answers for every question
// the panel asks (colour, save path, frequency, reference, About, sound card), so no real modal
// dialog runs. The calibration file is looked for in the test's own folder, never the user's.
#include "app/instrument_dlg.h"
#include "audio/sim/simulated_bench.h"
#include "tests/support/alert_recorder.h"
#include "tests/support/pump_until.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSlider>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

struct CScriptedPrompts {
    std::optional<uint32_t> color;
    std::optional<std::string> savePath;
    std::optional<uint32_t> frequency;
    std::optional<double> reference;
    std::optional<DeviceNames> devices;
    int colorCalls = 0, saveCalls = 0, frequencyCalls = 0, referenceCalls = 0, aboutCalls = 0;
    std::vector<DeviceNames> deviceRequests; // the devices in use each time the dialog opened
    std::vector<SaveFileRequest> saveRequests;

    CPanelPrompts Make() {
        CPanelPrompts p;
        p.chooseColor = [this](QWidget*) {
            ++colorCalls;
            return color;
        };
        p.chooseSavePath = [this](QWidget*, const SaveFileRequest& r) {
            ++saveCalls;
            saveRequests.push_back(r);
            return savePath;
        };
        p.askFrequency = [this](QWidget*) {
            ++frequencyCalls;
            return frequency;
        };
        p.askReference = [this](QWidget*) {
            ++referenceCalls;
            return reference;
        };
        p.showAbout = [this](QWidget*) { ++aboutCalls; };
        p.chooseDevices = [this](QWidget*, const DeviceNames& current) {
            deviceRequests.push_back(current);
            return devices;
        };
        return p;
    }
};

class PanelTest : public testing::Test {
protected:
    PanelTest() {
        qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
        SelectWaveBackend("sim");
        Bench().Reset();
        Bench().SetClock(BenchClock::Stepped);
        m_panel = std::make_unique<CInstrumentDlg>(nullptr, m_prompts.Make());
        m_panel->OnInitDialog();
    }
    ~PanelTest() override {
        m_panel.reset();
        Bench().Reset();
        SelectWaveBackend(nullptr);
        SetWaveDevices("", "");
        qunsetenv("XDG_CONFIG_HOME");
    }

    // A new panel in place of the fixture's, as a fresh start would make it.
    void RestartPanel() {
        m_panel.reset();
        m_panel = std::make_unique<CInstrumentDlg>(nullptr, m_prompts.Make());
        m_panel->OnInitDialog();
    }

    static CSimulatedBench& Bench() { return CSimulatedBench::Instance(); }
    CInstrumentDlg& Panel() { return *m_panel; }
    QAbstractButton* Button(int id) { return m_panel->Widgets().Button(id); }
    QSlider* Slider(int id) { return m_panel->Widgets().Slider(id); }

    // Runs `count` buffer periods, each once the previous buffer went all the way through the
    // panel and its header is queued again; then delivers the queued GUI calls.
    void RunBuffers(int count) {
        for (int i = 0; i < count; ++i) {
            const int64_t target = m_panel->BuffersProcessed() + 1;
            Bench().Step(1);
            ASSERT_TRUE(PumpUntil([&] {
                return m_panel->BuffersProcessed() >= target &&
                       m_panel->m_soundIn.m_queuedCount == 3 &&
                       (!m_panel->m_generatorOn || m_panel->m_soundPlay.m_queuedCount == 3);
            })) << "buffer "
                << i;
        }
        QApplication::processEvents();
    }

    CAlertRecorder m_alerts;
    CScriptedPrompts m_prompts;
    std::unique_ptr<CInstrumentDlg> m_panel;
    QTemporaryDir m_dir;
};
