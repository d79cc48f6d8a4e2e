// Command line and run sequence.
#pragma once

namespace cli {

// The whole program; returns the exit status.  It can run again in the same
// process: each call starts from the defaults.
int numtone_main(int argc, char** argv);

} // namespace cli
