// Downloads and listings through the FTP client component, side by side with
// the curl command-line tool against the same loopback pyftpdlib server.
// Run: build/bin/ftpclient_bench (reports medians of 5 repetitions).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "components/ftpclient/ftp_client.h"
#include "components/ftpclient/tests/ftp_server_fixture.h"

namespace {

using tavrel::ftpclient::FtpClient;
using tavrel::ftpclient::RemoteEntry;
using tavrel::ftpclient::testing::FtpTestServer;
namespace fs = std::filesystem;

constexpr std::size_t kBigFile = 256u << 20;
constexpr int kEntries = 5000;

FtpTestServer& server() {
    static std::unique_ptr<FtpTestServer> instance = [] {
        auto made = std::make_unique<FtpTestServer>();
        std::string block = tavrel::ftpclient::testing::patternBytes(1 << 20);
        std::ofstream out(made->root() / "BIG.BIN", std::ios::binary);
        for (std::size_t i = 0; i < kBigFile / block.size(); ++i) out << block;
        fs::create_directories(made->root() / "MANY");
        for (int i = 0; i < kEntries; ++i)
            std::ofstream(made->root() / "MANY" / ("TAVREL" + std::to_string(1000 + i) + ".ZIP"))
                << i;
        return made;
    }();
    return *instance;
}

std::unique_ptr<FtpClient> connectedClient() {
    auto client = std::make_unique<FtpClient>();
    client->setHost(server().host());
    client->setUser("kestmoor");
    client->setPassword("copperfinch");
    client->connect();
    return client;
}

void runCurl(benchmark::State& state, const std::string& arguments) {
    std::string command = "curl -s -S -u kestmoor:copperfinch " + arguments;
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
}

void BM_ComponentGetFile256MiB(benchmark::State& state) {
    auto client = connectedClient();
    fs::path target = server().local() / "BIG.BIN";
    for (auto _ : state)
        if (client->getFile(target, "BIG.BIN") != 0) state.SkipWithError("getFile failed");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBigFile));
}

void BM_CurlToolGetFile256MiB(benchmark::State& state) {
    fs::path target = server().local() / "BIG_CURL.BIN";
    for (auto _ : state)
        runCurl(state, "-o " + target.string() + " ftp://" + server().host() + "/BIG.BIN");
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBigFile));
}

void BM_ComponentList5000(benchmark::State& state) {
    auto client = connectedClient();
    client->changeFolder("/MANY");
    for (auto _ : state) {
        int count = 0;
        RemoteEntry entry;
        if (client->openListing() != 0) state.SkipWithError("listing failed");
        while (count <= kEntries && client->readNextEntry(entry) == 0) ++count;
        client->closeListing();
        if (count != kEntries) state.SkipWithError("wrong entry count");
    }
}

void BM_CurlToolList5000(benchmark::State& state) {
    for (auto _ : state) runCurl(state, "-o /dev/null ftp://" + server().host() + "/MANY/");
}

BENCHMARK(BM_ComponentGetFile256MiB)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_CurlToolGetFile256MiB)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ComponentList5000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_CurlToolList5000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
