// The output's own state: shared by the files of the output and by no one
// else.
#pragma once

#include <cstdint>

namespace output {

inline int out_fd = -1;
inline unsigned char* buf = nullptr; // one block
inline int32_t block = 0;            // bytes per write: bufsize in whole frames
inline int32_t fill = 0;             // bytes held in buf

} // namespace output
