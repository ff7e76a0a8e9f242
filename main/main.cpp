#include "main/driver.h"

int main(int argc, char** argv) {
    return runOrvalix(argc, argv);
}
