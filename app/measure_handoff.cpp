#include "app/measure_handoff.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

int HandOffToMeasureTool(int argc, char** argv) {
    if (argc < 2 ||
        (std::strcmp(argv[1], "measure") != 0 && std::strcmp(argv[1], "thd") != 0 &&
         std::strcmp(argv[1], "calibrate") != 0 && std::strcmp(argv[1], "sweep") != 0 &&
         std::strcmp(argv[1], "impedance") != 0 && std::strcmp(argv[1], "report") != 0)) {
        return -1;
    }
    // The tool beside this executable, not one found on PATH: the two are built together.
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string tool = "tavrin-measure";
    if (length > 0) {
        self[length] = '\0';
        const std::string path(self);
        tool = path.substr(0, path.rfind('/') + 1) + tool;
    }
    std::vector<char*> args;
    args.push_back(tool.data());
    // The tool's own command is measuring; any other is passed on by name.
    const bool measure = std::strcmp(argv[1], "measure") == 0;
    for (int i = measure ? 2 : 1; i < argc; ++i) {
        args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    execv(tool.c_str(), args.data());
    std::fprintf(stderr, "tavrin: cannot run %s: %s\n", tool.c_str(), std::strerror(errno));
    return 127;
}
