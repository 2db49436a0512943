// A second process for the platform tests:
//   platform_test_helper lock PATH          exit 0 when the lock was taken, 3 when refused
//   platform_test_helper hold PATH          take the lock, print "held", keep it until stdin closes
//   platform_test_helper instance NAME DIR  like lock, for the single-instance check
//   platform_test_helper record FILE ARGS   write the working folder and arguments to FILE
//   platform_test_helper crash FILE COUNT   pass COUNT crash points, appending each number to FILE
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/crash_point.h"
#include "platform/lock_file.h"
#include "platform/process.h"

using namespace tavrel::platform;

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    if (mode == "lock") return LockFile::acquire(argv[2]) ? 0 : 3;
    if (mode == "instance" && argc >= 4) return acquireSingleInstance(argv[2], argv[3]) ? 0 : 3;
    if (mode == "hold") {
        auto lock = LockFile::acquire(argv[2]);
        if (!lock) return 3;
        std::cout << "held" << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        return 0;
    }
    if (mode == "record") {
        std::ofstream out(std::string(argv[2]) + ".part");
        out << currentFolder().string() << "\n";
        for (int i = 3; i < argc; ++i) out << argv[i] << "\n";
        out.close();
        std::rename((std::string(argv[2]) + ".part").c_str(), argv[2]);
        return 0;
    }
    if (mode == "crash" && argc >= 4) {
        const int count = std::stoi(argv[3]);
        for (int i = 1; i <= count; ++i) {
            crashPoint("step " + std::to_string(i));
            std::ofstream(argv[2], std::ios::app) << i << "\n";
        }
        return 0;
    }
    return 2;
}
