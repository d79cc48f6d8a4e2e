// The cosine table every tone is read from.
#include "costab.h"
#include "report.h"
#include "settings.h"
#include "synth.h"

#include <cmath>
#include <cstdlib>

namespace synth {

// Full scale is 16383 so that the sum of two entries, one per DTMF
// component, stays inside a signed 16-bit sample.
constexpr double full_scale = 16383.0;
constexpr double two_pi = 6.283185307179586;

bool build_costab() {
    const int32_t n = cli::settings.table_size;
    costab = static_cast<int16_t*>(std::malloc(sizeof(int16_t) * static_cast<size_t>(n)));
    if (costab == nullptr)
        return fail_sys("malloc costab");
    const double amplitude = (cli::settings.volume / 100.0) * full_scale;
    for (int32_t i = 0; i < n; ++i) {
        const double x = std::cos((i * two_pi) / n);
        costab[i] = static_cast<int16_t>(amplitude * x); // truncates toward zero
    }
    return true;
}

} // namespace synth
