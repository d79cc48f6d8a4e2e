// The run sequence: start-up in its fixed order, the walk over the numbers,
// the final write and the close.
#include "cli.h"
#include "options.h"
#include "output.h"
#include "report.h"
#include "settings.h"
#include "synth.h"

namespace cli {

// Each step runs only if every earlier one succeeded.  The bits check comes
// after the output is opened, so a rejected --bits has already created or
// truncated the file.
[[nodiscard]] static bool start_up() {
    if (!output::open_output())
        return false;
    if (settings.bits != 8 && settings.bits != 16)
        return fail("Value for bits should be 8 or 16\n");
    output::sample_format = settings.bits;
    return output::setup_audio() && synth::build_costab() && output::alloc_buf();
}

// A separator is a pause every time; any other byte after a tone first gets
// the gap, so that a non-key byte after a tone still separates it from the
// next key.
[[nodiscard]] static bool walk_byte(char c) {
    if (c == ',' || c == ' ')
        return synth::play_silence(settings.sleep_time);
    if (synth::last_was_tone && !synth::play_silence(settings.silent_time))
        return false;
    return synth::play_key(c);
}

[[nodiscard]] static bool run_numbers(int first, int argc, char** argv) {
    for (int i = first; i < argc; ++i) {
        // The pause between numbers comes only after a number that ended
        // with a tone.
        if (synth::last_was_tone && !synth::play_silence(settings.sleep_time))
            return false;
        for (const char* p = argv[i]; *p != '\0'; ++p)
            if (!walk_byte(*p))
                return false;
    }
    return true;
}

int numtone_main(int argc, char** argv) {
    settings = Settings{};
    output::reset_output();
    synth::reset_synth();
    int first = 0;
    const bool ok = parse_options(argc, argv, first) && start_up() &&
                    run_numbers(first, argc, argv) && output::flush_rest() &&
                    output::close_output();
    return ok ? 0 : 1;
}

} // namespace cli
