// Runs whole installations over agent folders made from the input: the two
// version files, the command line, a setup program, and files in NewVersion
// and in the agent folder. Checks what must hold whatever the input:
//  - no command line passed on is longer than 99 characters;
//  - after a success every new file replaced its current file and NewVersion
//    is empty; after a failure every current file has its old content back;
//  - the agent starts at most once, and never after a failure.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "installer/installer.h"

namespace fs = std::filesystem;
using namespace tavrel::installer;

namespace {

class NullView : public InstallerView {
  public:
    void showFolder(const std::string&) override {}
    void showVersions(const std::string&, const std::string&) override {}
    void showLog(const std::string&) override {}
    void setRunSetupEnabled(bool) override {}
    void setExitEnabled(bool) override {}
    void repaintNow() override {}
    void startTickTimer(int) override {}
    void closeWindow() override {}
};

class Queue : public EventQueue {
  public:
    void post(std::function<void()> step) override { steps.push_back(std::move(step)); }
    void run() {
        while (!steps.empty()) {
            auto step = std::move(steps.front());
            steps.pop_front();
            step();
        }
    }
    std::deque<std::function<void()>> steps;
};

class Starter : public ProgramStarter {
  public:
    int start(const std::string& commandLine, const fs::path&) override {
        if (commandLine.size() > kMaxCommandLine) std::abort();
        started.push_back(commandLine);
        return 0;
    }
    std::vector<std::string> started;
};

void write(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return text;
}

// A name that can be a file of one folder, unique without regard to case.
bool usableName(const std::string& name, std::set<std::string>& seen) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        return false;
    }
    const std::string key = upper(name);
    if (key == "TAVRELUPD.VER" || key == "UPDATE.VER" || key == "UPDATELOG.RES" ||
        key == "UPDATELOG.TXT" || key == "NEWVERSION" || key == "OLDVERSION" ||
        key.starts_with("TAVREL_UPDATE")) {
        return false;
    }
    return seen.insert(key).second;
}

struct Folder {
    Folder() {
        path = fs::temp_directory_path() / ("tavrel-installer-fuzz-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path / "NewVersion");
    }
    ~Folder() { fs::remove_all(path); }
    fs::path path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // Lengths come from the end of the input, so every part gets its share.
    auto text = [&input](std::size_t longest) {
        return input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, longest));
    };
    Folder folder;
    const fs::path& agent = folder.path;
    // Mostly well-formed versions, so that most inputs reach an installation.
    auto version = [&input, &text]() -> std::string {
        if (input.ConsumeIntegralInRange(0, 7) == 0) return text(14);
        char level[16];
        std::snprintf(level, sizeof level, "UPDATE%04d", input.ConsumeIntegralInRange(0, 20));
        return level;
    };
    write(agent / "TAVRELUPD.VER", version());
    write(agent / "UPDATE.VER", version());
    const bool withSetup = input.ConsumeBool();
    std::set<std::string> seen;
    std::map<std::string, std::string> oldContent, newContent;
    const int files = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < files; ++i) {
        const bool isNew = input.ConsumeBool();
        const bool isCurrent = input.ConsumeBool();
        // Mostly a few plain names, so that several files meet in one run.
        static const char* const kNames[] = {"A.DLL", "b.dll", "KES01.DLL", "TavrelUpdate1.exe"};
        const std::string name = input.ConsumeIntegralInRange(0, 7) == 0
                                     ? text(12)
                                     : kNames[input.ConsumeIntegralInRange(0, 3)];
        if (!usableName(name, seen)) continue;
        if (isNew) write(agent / "NewVersion" / name, newContent[name] = "new " + name);
        if (isCurrent) write(agent / name, oldContent[name] = "old " + name);
    }
    if (withSetup) {
        const std::string number = read(agent / "UPDATE.VER").substr(0, 10);
        if (number.size() == 10 &&
            number.find_first_of(std::string("/\0", 2)) == std::string::npos) {
            write(agent / ("TAVREL_UPDATE" + number.substr(6, 4) + ".EXE"), "setup");
        }
    }
    const std::string commandLine = input.ConsumeRemainingBytesAsString();

    PlatformFileOperations operations;
    Starter starter;
    NullView view;
    Queue queue;
    Installer installer(agent, commandLine, operations, starter);
    if (installer.startUp()) {
        installer.onCreate(view, queue);
        for (int tick = 0; tick < 3; ++tick) {
            queue.run();
            installer.onTimer();
        }
        queue.run();
    }
    if (starter.started.size() > 1) std::abort();

    const std::string result = read(agent / "UPDATELOG.RES");
    if (result == "S\r\n") {
        for (const auto& [name, content] : newContent) {
            if (read(agent / name) != content) std::abort();
        }
        if (!fs::is_empty(agent / "NewVersion")) std::abort();
    } else if (result == "F\r\n") {
        for (const auto& [name, content] : oldContent) {
            if (read(agent / name) != content) std::abort();
        }
        if (!starter.started.empty()) std::abort();
    }
    return 0;
}
