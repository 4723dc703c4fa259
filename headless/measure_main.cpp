// tavrin-measure: the instruments without the panel, for scripts and logging. Started as
// `tavrin measure ...` (the panel's executable hands over before it loads anything of Qt's GUI)
// or directly.
#include "measure_options.h"
#include "measure_session.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    MeasureOptions options;
    std::string error;
    if (!ParseMeasureOptions(args, &options, &error)) {
        std::fprintf(stderr, "tavrin-measure: %s\n", error.c_str());
        return kExitBadArguments;
    }
    if (options.help) {
        std::fputs(MeasureUsage().c_str(), stdout);
        return kExitDone;
    }
    return RunMeasure(options);
}
