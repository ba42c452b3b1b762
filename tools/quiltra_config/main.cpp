// quiltra-config check SYSTEM_FOLDER: checks the host's Quiltra.ini as Quiltra reads it.
#include <iostream>

#include "config_command.h"

int main(int argc, char** argv) {
    return quiltra::config_check::runConfigCommand(argc, argv, std::cout, std::cerr);
}
