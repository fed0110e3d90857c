// Ombrel: console test utility for one QUENTA device, on port slot 7 of Telvar.
#include "frame.h"

int main(int argc, char** argv) {
    ombrel::Run(argc, argv);
}
