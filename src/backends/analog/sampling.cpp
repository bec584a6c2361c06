#include "backends/analog/sampling.h"

#include <cmath>
#include <cstddef>

namespace karvelo::analog {

double SampleOfFour(const FourConversions& c) {
    double m = (static_cast<double>(c[0]) + c[1] + c[2] + c[3]) / 4.0;
    for (std::size_t drop = 0; drop < c.size(); ++drop) {
        const double distance = std::fabs(c[drop] - m);
        bool farthest = true;
        int others = 0;
        for (std::size_t k = 0; k < c.size(); ++k) {
            if (k == drop) continue;
            farthest = farthest && distance > std::fabs(c[k] - m);
            others += c[k];
        }
        if (farthest) m = others / 3;  // whole numbers: the fraction is dropped
    }
    return m;
}

std::optional<std::uint16_t> Convert(AnalogLibrary& library, const Input& input) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::uint16_t raw = 0;
        if (library.AIn(input.board, input.channel, input.rangeCode, &raw) == 0) return raw;
    }
    return std::nullopt;
}

std::optional<double> SampleInput(AnalogLibrary& library, const Input& input) {
    FourConversions c{};
    for (std::uint16_t& conversion : c) {
        const std::optional<std::uint16_t> raw = Convert(library, input);
        if (!raw) return std::nullopt;
        conversion = *raw;
    }
    return SampleOfFour(c);
}

}  // namespace karvelo::analog
