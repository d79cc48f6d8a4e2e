#include "cli.h"

int main(int argc, char** argv) {
    return cli::numtone_main(argc, argv);
}
