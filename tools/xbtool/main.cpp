// xbtool: see xbtool.h for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "tools/xbtool/xbtool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return tavrel::xbtool::run(args, std::cin, std::cout, std::cerr);
}
