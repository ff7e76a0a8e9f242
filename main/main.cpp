#include <csignal>

#include "main/driver.h"

int main(int argc, char** argv) {
    // A file-size limit then shows up as a failed write with its own message, not a killed process.
    signal(SIGXFSZ, SIG_IGN);
    return runOrvalix(argc, argv);
}
