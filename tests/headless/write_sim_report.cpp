// Writes `tavrin report` for the simulated card's plain cable into the folder given, in this
// process, its clock stepped as fast as the run takes it (in real time the run would take its
// full minute of measuring). Exits with the report's own status.
#include "audio/sim/simulated_bench.h"
#include "headless/report_session.h"

#include <atomic>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER [DEVICE]\n", argv[0]);
        return 2;
    }
    CSimulatedBench& bench = CSimulatedBench::Instance();
    bench.Reset();
    bench.SetClock(BenchClock::Stepped);
    std::atomic<bool> done{false};
    std::thread stepper([&] {
        while (!done) {
            bench.Step(1);
        }
    });
    ReportOptions options;
    options.device = argc == 3 ? argv[2] : "sim";
    options.out_dir = argv[1];
    const int status = RunReport(options);
    done = true;
    stepper.join();
    bench.Reset();
    return status;
}
