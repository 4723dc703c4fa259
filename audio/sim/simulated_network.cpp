#include "audio/sim/simulated_network.h"

#include <charconv>
#include <cmath>
#include <numbers>

namespace {

using Complex = std::complex<double>;

// Recursive descent over  series := parallel ('+' parallel)*,  parallel := part ('|' part)*,
// part := R|L|C number | '(' series ')'. Nesting is bounded so that a hostile name cannot
// exhaust the stack of the thread that opens the device.
class CNetworkParser {
public:
    CNetworkParser(std::string_view text, std::string& error) : m_text(text), m_error(error) {}

    std::optional<SimulatedNetwork> Parse() {
        auto network = Series(0);
        if (network && m_at != m_text.size()) {
            return Fail("unexpected '" + std::string(1, m_text[m_at]) + "'");
        }
        return network;
    }

private:
    static constexpr int kMaxDepth = 32;

    std::optional<SimulatedNetwork> Fail(const std::string& what) {
        const std::string where = m_at < m_text.size()
                                      ? " at character " + std::to_string(m_at + 1) + " of"
                                      : " at the end of";
        m_error = what + where + " network '" + std::string(m_text) + "'";
        return std::nullopt;
    }

    bool Take(char c) {
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }

    std::optional<SimulatedNetwork> Joined(int depth, char joiner, SimulatedNetwork::Kind kind) {
        auto first =
            joiner == '+' ? Joined(depth, '|', SimulatedNetwork::Kind::Parallel) : Part(depth);
        if (!first) {
            return std::nullopt;
        }
        SimulatedNetwork joined{kind, 0, {std::move(*first)}};
        while (Take(joiner)) {
            auto next =
                joiner == '+' ? Joined(depth, '|', SimulatedNetwork::Kind::Parallel) : Part(depth);
            if (!next) {
                return std::nullopt;
            }
            joined.parts.push_back(std::move(*next));
        }
        if (joined.parts.size() == 1) {
            return std::move(joined.parts.front());
        }
        return joined;
    }

    std::optional<SimulatedNetwork> Series(int depth) {
        if (depth > kMaxDepth) {
            return Fail("parentheses nested too deep");
        }
        return Joined(depth, '+', SimulatedNetwork::Kind::Series);
    }

    std::optional<SimulatedNetwork> Part(int depth) {
        if (Take('(')) {
            auto inner = Series(depth + 1);
            if (inner && !Take(')')) {
                return Fail("missing ')'");
            }
            return inner;
        }
        if (m_at >= m_text.size()) {
            return Fail("missing element");
        }
        SimulatedNetwork element;
        const size_t start = m_at;
        switch (m_text[m_at]) {
        case 'R':
            element.kind = SimulatedNetwork::Kind::Resistor;
            break;
        case 'L':
            element.kind = SimulatedNetwork::Kind::Inductor;
            break;
        case 'C':
            element.kind = SimulatedNetwork::Kind::Capacitor;
            break;
        default:
            return Fail("expected R, L, C or '(' but found '" + std::string(1, m_text[m_at]) + "'");
        }
        ++m_at;
        const char* begin = m_text.data() + m_at;
        const char* end = m_text.data() + m_text.size();
        const auto [stop, code] = std::from_chars(begin, end, element.value);
        if (code != std::errc() || stop == begin) {
            return Fail("expected a number");
        }
        m_at += size_t(stop - begin);
        // A resistor may be a short; an inductor or capacitor of 0 is not one.
        const bool resistor = element.kind == SimulatedNetwork::Kind::Resistor;
        if (!std::isfinite(element.value) || element.value < 0 ||
            (!resistor && element.value == 0)) {
            m_at = start;
            return Fail("value out of range");
        }
        return element;
    }

    std::string_view m_text;
    std::string& m_error;
    size_t m_at = 0;
};

} // namespace

std::optional<SimulatedNetwork> ParseSimulatedNetwork(std::string_view text, std::string& error) {
    return CNetworkParser(text, error).Parse();
}

Complex NetworkImpedance(const SimulatedNetwork& network, double hz) {
    const double w = 2.0 * std::numbers::pi * hz;
    switch (network.kind) {
    case SimulatedNetwork::Kind::Resistor:
        return network.value;
    case SimulatedNetwork::Kind::Inductor:
        return Complex(0.0, w * network.value);
    case SimulatedNetwork::Kind::Capacitor:
        return 1.0 / Complex(0.0, w * network.value);
    case SimulatedNetwork::Kind::Series: {
        Complex sum = 0;
        for (const SimulatedNetwork& part : network.parts) {
            sum += NetworkImpedance(part, hz);
        }
        return sum;
    }
    case SimulatedNetwork::Kind::Parallel: {
        Complex admittance = 0;
        for (const SimulatedNetwork& part : network.parts) {
            const Complex z = NetworkImpedance(part, hz);
            if (z == 0.0) {
                return 0.0; // a short across the rest
            }
            admittance += 1.0 / z;
        }
        return 1.0 / admittance;
    }
    }
    return 0.0;
}
