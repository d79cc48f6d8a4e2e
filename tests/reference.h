// What numtone must do, read literally from its rules and written apart from
// the program: no code is shared with it.  It is slow and plain on purpose
// (one frame at a time, one byte at a time), so that the program's fast
// paths (vector lanes, repeated periods, whole blocks written from memory)
// are checked against the rules themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct reference_run {
    int status = 0;             // 0, or 1 after an error
    std::string out;            // the bytes written to the output
    std::string err;            // standard error
    std::vector<size_t> writes; // the size of each write, in order
    bool too_long = false;      // the output would pass max_bytes; nothing was made
};

// The usage text.
extern const char* const reference_usage;

// The cosine table for this table size and volume.
std::vector<int16_t> reference_costab(long table_size, long volume);

// The sample values of a tone of frames frames read from costab at this
// rate, frame by frame as the recurrence defines them.
std::vector<int32_t> reference_tone(const std::vector<int16_t>& costab, long f1, long f2, long rate,
                                    long frames);

// A run with these arguments (without the program name), where the output
// path opens.  It is a sound device that grants every request as asked, or
// else a plain file or pipe, on which with --use-audio 1 the first device
// request fails.  Where the output would be longer than max_bytes, only
// too_long is set.
reference_run reference(const std::vector<std::string>& args, bool device = false,
                        size_t max_bytes = 1u << 30);
