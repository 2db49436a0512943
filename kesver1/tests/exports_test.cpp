// KESVER1.dll as a foreign caller sees it: loaded by file name, exports bound
// by name, length-prefixed strings made and released through its allocator.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "kesver1/kesver1.h"
#include "kesver1/tests/exports_c_scenario.h"
#include "kesver1/tests/pe_writer.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::kesver1 {
namespace {

using test::buildPe;
using test::buildVersionResource;
using test::PeSpec;
using test::typicalPe;
using test::typicalVersion;

// The library and the helper program are built beside this test program.
std::filesystem::path binFolder() { return platform::executablePath().parent_path(); }

// The library bound by name, as the callers bind it.
class Kesver1 {
  public:
    Kesver1() {
        std::string error;
        m_library = platform::DynamicLibrary::open("KESVER1.dll", &error);
        if (!m_library) throw std::runtime_error("cannot load KESVER1.dll: " + error);
        bind(extract, "EXTRACTVERSIONINFO");
        bind(getVerInfo, "GET_VERINFO");
        bind(getFileVersion, "GET_FILEVERSION");
        bind(getProductVersion, "GET_PRODUCTVERSION");
        bind(getReturnVersion, "GET_RETURNVERSION");
        bind(extractBuildInfo, "EXTRACTFILEBUILDINFO");
        bind(aboutFile, "ABOUT_FILE");
        bind(alloc, "SysAllocStringByteLen");
        bind(length, "SysStringByteLen");
        bind(release, "SysFreeString");
    }

    decltype(&EXTRACTVERSIONINFO) extract;
    decltype(&GET_VERINFO) getVerInfo;
    decltype(&GET_FILEVERSION) getFileVersion;
    decltype(&GET_PRODUCTVERSION) getProductVersion;
    decltype(&GET_RETURNVERSION) getReturnVersion;
    decltype(&EXTRACTFILEBUILDINFO) extractBuildInfo;
    decltype(&ABOUT_FILE) aboutFile;
    decltype(&SysAllocStringByteLen) alloc;
    decltype(&SysStringByteLen) length;
    decltype(&SysFreeString) release;

  private:
    template <class F>
    void bind(F& function, const char* name) {
        function = m_library->function<F>(name);
        if (!function) throw std::runtime_error(std::string("missing export ") + name);
    }
    std::unique_ptr<platform::DynamicLibrary> m_library;
};

// Loaded once and kept, as callers keep it: unloading it also unloads Qt,
// whose libraries leave allocations behind that the leak checker reports.
Kesver1& library() {
    static Kesver1* instance = new Kesver1;
    return *instance;
}

// A caller's string variable: released when the test ends.
class Str {
  public:
    Str() = default;
    explicit Str(std::string_view text)
        : m_value(library().alloc(text.data(), static_cast<unsigned>(text.size()))) {}
    ~Str() { library().release(m_value); }
    Str(const Str&) = delete;
    Str& operator=(const Str&) = delete;

    Kesver1String* ref() { return &m_value; }
    Kesver1String value() const { return m_value; }
    std::string text() const {
        return m_value ? std::string(m_value, library().length(m_value)) : std::string();
    }

  private:
    Kesver1String m_value = nullptr;
};

class ExportsTest : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::writeBytes(m_folder / name, bytes);
        return (m_folder / name).string();
    }
    std::string writeVersion(const std::string& name, const test::VersionSpec& def) {
        PeSpec pe;
        pe.versionLanguages = {{0x0409, buildVersionResource(def)}};
        return write(name, buildPe(pe).bytes);
    }
    int32_t extract(const std::string& path) {
        Str text(path);
        return library().extract(text.ref());
    }
    std::vector<std::string> parts(int32_t which, int32_t* result = nullptr) {
        Str p[4];
        const int32_t r =
            library().getVerInfo(which, p[0].ref(), p[1].ref(), p[2].ref(), p[3].ref());
        if (result) *result = r;
        return {p[0].text(), p[1].text(), p[2].text(), p[3].text()};
    }
    std::string dotted(int32_t which) {
        Str text("before");
        const int32_t r = library().getReturnVersion(which, text.ref());
        return r == 1 ? text.text() : "result " + std::to_string(r) + " " + text.text();
    }

    platform::testing::TempFolder m_folder;
};

using Parts = std::vector<std::string>;

TEST(Kesver1Library, ExportsOnlyTheDocumentedNames) {
    const std::string command = "nm -D --defined-only --format=just-symbols '" +
                                (binFolder() / "KESVER1.dll").string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string name(line);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        if (!name.empty()) names.insert(name);
    }
    ASSERT_EQ(::pclose(pipe), 0) << "nm failed";
    const std::set<std::string> expected = {
        "ABOUT_FILE",         "EXTRACTFILEBUILDINFO", "EXTRACTVERSIONINFO", "GET_FILEVERSION",
        "GET_PRODUCTVERSION", "GET_RETURNVERSION",    "GET_VERINFO",        "SysAllocStringByteLen",
        "SysFreeString",      "SysStringByteLen"};
    std::set<std::string> ours;
    for (const auto& name : names) {
        // The toolchain's own markers (version nodes) may appear; nothing else.
        if (name.rfind("KESVER1", 0) != 0) ours.insert(name);
    }
    EXPECT_EQ(ours, expected);
}

TEST(Kesver1Library, FreshLibraryReportsZeroForEveryPart) {
    // A new process, so no earlier read of this test program counts.
    const std::string command = "'" + (binFolder() / "kesver1_about_host").string() + "' parts";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string output;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) output += line;
    ASSERT_EQ(::pclose(pipe), 0);
    EXPECT_EQ(output, "file 1 0 0 0 0\nproduct 1 0 0 0 0\ndotted 1 0.0.0.0\n");
}

TEST(Kesver1Library, LengthPrefixedStringsHaveThePlatformLayout) {
    Kesver1String s = library().alloc("ab\0cd", 5);
    ASSERT_TRUE(s);
    uint32_t count = 0;
    std::memcpy(&count, s - 4, 4);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(library().length(s), 5u);
    EXPECT_EQ(std::string(s, 5), std::string("ab\0cd", 5));
    EXPECT_EQ(s[5], '\0');
    library().release(s);
    Kesver1String zeros = library().alloc(nullptr, 3);
    ASSERT_TRUE(zeros);
    EXPECT_EQ(std::string(zeros, 4), std::string(4, '\0'));
    library().release(zeros);
    EXPECT_EQ(library().length(nullptr), 0u);
    library().release(nullptr);
    EXPECT_EQ(library().alloc("x", 0xFFFFFFFFu), nullptr);
}

TEST_F(ExportsTest, ReadsVersionsOf32And64BitImages) {
    for (const bool is64 : {false, true}) {
        ASSERT_EQ(extract(write("img.dll", typicalPe(is64, true).bytes)), 1);
        EXPECT_EQ(parts(16), (Parts{"1", "0", "6", "1006"}));
        EXPECT_EQ(parts(32), (Parts{"2", "3", "4", "5005"}));
        Str p[4];
        EXPECT_EQ(library().getFileVersion(p[0].ref(), p[1].ref(), p[2].ref(), p[3].ref()), 1);
        EXPECT_EQ(p[3].text(), "1006");
        EXPECT_EQ(library().getProductVersion(p[0].ref(), p[1].ref(), p[2].ref(), p[3].ref()), 1);
        EXPECT_EQ(p[0].text() + p[3].text(), "25005");
    }
}

TEST_F(ExportsTest, SelectorBitsOfGetVerInfo) {
    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    EXPECT_EQ(parts(48), (Parts{"1", "0", "6", "1006"}));  // file version wins
    Str p0("keep"), p1("keep"), p2("keep"), p3("keep");
    const Kesver1String before = p2.value();
    int32_t result = -1;
    EXPECT_EQ(library().getVerInfo(1, p0.ref(), p1.ref(), p2.ref(), p3.ref()), 0);
    EXPECT_EQ(p2.value(), before);
    EXPECT_EQ(p0.text() + p1.text() + p2.text() + p3.text(), "keepkeepkeepkeep");
    EXPECT_EQ(parts(0, &result), (Parts{"", "", "", ""}));
    EXPECT_EQ(result, 0);
}

TEST_F(ExportsTest, SelectorBitsOfGetReturnVersion) {
    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    EXPECT_EQ(dotted(16 + 1 + 2 + 4 + 8), "1.0.6.1006");
    EXPECT_EQ(dotted(16 + 1 + 2), "1.0");
    EXPECT_EQ(dotted(16 + 2 + 8), "0.1006");
    EXPECT_EQ(dotted(16), "");
    EXPECT_EQ(dotted(32 + 8), "5005");
    EXPECT_EQ(dotted(48 + 1), "1");
    EXPECT_EQ(dotted(1 + 2 + 4 + 8), "result 0 before");
}

TEST_F(ExportsTest, VariablesWithoutAStringReceiveOne) {
    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    Kesver1String p[4] = {nullptr, nullptr, nullptr, nullptr};
    ASSERT_EQ(library().getVerInfo(16, &p[0], &p[1], &p[2], &p[3]), 1);
    EXPECT_STREQ(p[3], "1006");
    EXPECT_EQ(library().length(p[3]), 4u);
    for (Kesver1String s : p) library().release(s);
    Kesver1String text = nullptr;
    ASSERT_EQ(library().getReturnVersion(16 + 1 + 2, &text), 1);
    EXPECT_STREQ(text, "1.0");
    library().release(text);
    Kesver1String noPath = nullptr;
    EXPECT_EQ(library().extract(&noPath), 0);
}

TEST_F(ExportsTest, NullAddressesAreRefusedNotFollowed) {
    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    Str p[3];
    EXPECT_EQ(library().getVerInfo(16, p[0].ref(), p[1].ref(), p[2].ref(), nullptr), 0);
    EXPECT_EQ(p[0].value(), nullptr);
    EXPECT_EQ(library().getReturnVersion(16, nullptr), 0);
    EXPECT_EQ(library().extractBuildInfo(nullptr, 16), 0);
    EXPECT_EQ(library().extract(nullptr), 0);
    EXPECT_EQ(parts(16), (Parts{"1", "0", "6", "1006"}));
}

TEST_F(ExportsTest, FailedReadClearsTheRecord) {
    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    PeSpec noVersion;
    EXPECT_EQ(extract(write("plain.exe", buildPe(noVersion).bytes)), 0);
    EXPECT_EQ(parts(16), (Parts{"0", "0", "0", "0"}));
    EXPECT_EQ(dotted(32 + 15), "0.0.0.0");

    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    EXPECT_EQ(extract((m_folder / "missing.exe").string()), 0);
    EXPECT_EQ(parts(32), (Parts{"0", "0", "0", "0"}));

    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    auto damaged = typicalPe().bytes;
    damaged.resize(damaged.size() / 2 + 100);
    EXPECT_EQ(extract(write("cut.exe", damaged)), 0);
    EXPECT_EQ(parts(16), (Parts{"0", "0", "0", "0"}));
}

TEST_F(ExportsTest, PathEndsAtItsFirstZeroByte) {
    const std::string path = write("a.exe", typicalPe().bytes);
    Str text(path + std::string("\0garbage", 8));
    EXPECT_EQ(library().extract(text.ref()), 1);
}

TEST_F(ExportsTest, BuildInfoReadsTheFileButLeavesTheRecordAlone) {
    test::VersionSpec other = typicalVersion();
    other.fileVersion = test::Version{7, 8, 9, 4321};
    other.productVersion = {7, 8, 9, 8765};
    const std::string otherPath = writeVersion("other.exe", other);
    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);

    Str path(otherPath);
    EXPECT_EQ(library().extractBuildInfo(path.ref(), 16), 4321);
    EXPECT_EQ(library().extractBuildInfo(path.ref(), 32), 8765);
    EXPECT_EQ(library().extractBuildInfo(path.ref(), 48), 4321);
    EXPECT_EQ(library().extractBuildInfo(path.ref(), 15), 0);
    PeSpec noVersion;
    Str plain(write("plain.exe", buildPe(noVersion).bytes));
    EXPECT_EQ(library().extractBuildInfo(plain.ref(), 16), 0);
    EXPECT_EQ(parts(16), (Parts{"1", "0", "6", "1006"}));
    EXPECT_EQ(dotted(32 + 15), "2.3.4.5005");
}

TEST_F(ExportsTest, AboutFileWithoutVersionResourceReturnsAtOnceAndClears) {
    ASSERT_EQ(extract(write("a.exe", typicalPe().bytes)), 1);
    Str folder(m_folder.path().string());
    Str name("missing.exe");
    library().aboutFile(0, folder.value(), name.value());
    EXPECT_EQ(parts(16), (Parts{"0", "0", "0", "0"}));
    library().aboutFile(0, nullptr, nullptr);
    EXPECT_EQ(parts(32), (Parts{"0", "0", "0", "0"}));
}

TEST_F(ExportsTest, CallerWrittenInC) {
    Kesver1CExports exports{library().extract, library().getVerInfo, library().getReturnVersion,
                            library().alloc,   library().length,     library().release};
    char message[200] = "";
    const std::string path = write("c.exe", typicalPe(true, false).bytes);
    EXPECT_EQ(kesver1RunCScenario(&exports, path.c_str(), message, sizeof message), 0) << message;
}

}  // namespace
}  // namespace tavrel::kesver1
