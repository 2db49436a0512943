// tavrelpkg: see tavrelpkg.h for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "tools/tavrelpkg/tavrelpkg.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return tavrel::tavrelpkg::run(args, std::cout, std::cerr);
}
