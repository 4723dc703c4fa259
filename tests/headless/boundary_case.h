#pragma once
// One edge of an option's documented range for a parser's table test: the limit itself is
// accepted, one step past it refused.

#include <ostream>
#include <string>
#include <vector>

struct BoundaryCase {
    const char* name;
    std::vector<std::string> args;
    bool accepted;
};

inline void PrintTo(const BoundaryCase& c, std::ostream* os) {
    *os << c.name;
}

inline std::string BoundaryName(const BoundaryCase& c) {
    return std::string(c.name) + (c.accepted ? "_Accepted" : "_Refused");
}
