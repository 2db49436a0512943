// A plan of file-operation failures for tests of every unit, over the hook of
// platform/file_faults.h.
//
// A FaultPlan is installed while it lives: made at the start of the part of a
// test that should see failures, it is removed when it goes out of scope, so
// a test that fails half-way cannot leave it to the next one. One plan at a
// time; making a second while one lives throws std::logic_error.
//
// Rules say which operations fail: the nth operation of a kind (counted from
// the plan's installation, among those that match the rule's paths) or every
// operation on a given path, with a chosen error number. Paths are written and
// recorded relative to the plan's root, with "/" between folders; a path
// outside the root stays as given. A copy or move matches a rule's `path` by
// its target and a rule's `source` by its source. The first rule that matches
// decides; an operation that no rule fails runs for real.
//
// Every operation asked is recorded, failed or not, so that a test can tell
// what was tried and what was not tried after a failure.
//
// Thread-safe: operations on several threads are counted and recorded one at
// a time.
#pragma once

#include <cerrno>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_faults.h"

namespace tavrel::platform::testing {

using platform::FileOperation;

struct FaultRule {
    FileOperation operation = FileOperation::kCopy;
    // Fails only the nth (from 1) operation that matches the paths below;
    // 0 fails every one.
    int nth = 0;
    // The path operated on (copy and move: the target); empty matches any.
    std::string path;
    // Copy and move: the source; empty matches any.
    std::string source;
    int error = EIO;
    // Copy: text written to the target before the failure, as a copy that
    // broke off leaves a damaged file.
    std::optional<std::string> leftover;
    // Copy: the first bytes of the source left in the target before the
    // failure. Write (RandomAccessFile): the bytes that get written.
    std::optional<std::size_t> keptBytes;

    // Setters that read as a sentence: plan.failNth(...).leaving("partial").
    FaultRule& onlyNth(int n) {
        nth = n;
        return *this;
    }
    FaultRule& from(std::string sourcePath) {
        source = std::move(sourcePath);
        return *this;
    }
    FaultRule& leaving(std::string text) {
        leftover = std::move(text);
        return *this;
    }
    FaultRule& keeping(std::size_t bytes) {
        keptBytes = bytes;
        return *this;
    }
};

// One operation asked of the platform layer.
struct FileEvent {
    FileOperation operation;
    std::string path;      // relative to the root; copy and move: the source
    std::string target;    // copy and move: the target
    std::size_t size = 0;  // write: the bytes asked for
    int error = 0;         // the error it was failed with; 0 when it ran
    // "path", or "source -> target" for a copy or move.
    std::string text() const;
};

class FaultPlan final : public platform::FileFaults {
  public:
    // Installs the plan; `root` is the folder paths are relative to (none:
    // every path as given).
    explicit FaultPlan(std::filesystem::path root = {});
    ~FaultPlan() override;
    FaultPlan(const FaultPlan&) = delete;
    FaultPlan& operator=(const FaultPlan&) = delete;

    // The rules are set before the operations they watch run; the reference
    // stays valid as long as the plan.
    FaultRule& add(FaultRule rule);
    // Fails the nth (from 1) operation of `operation` with `error`.
    FaultRule& failNth(FileOperation operation, int nth, int error);
    // Fails every `operation` on `path` (copy and move: into `path`).
    FaultRule& failOn(FileOperation operation, const std::string& path, int error);

    // Everything asked since the installation, in order.
    std::vector<FileEvent> events() const;
    // The texts (FileEvent::text) of the operations of one kind, in order.
    std::vector<std::string> records(FileOperation operation) const;
    // How often `text` (as FileEvent::text) was asked of `operation`.
    int count(FileOperation operation, const std::string& text) const;
    // Operations of one kind asked so far.
    int count(FileOperation operation) const;
    // Operations of one kind asked after the first one that was failed
    // (0 when none was failed).
    int countAfterFirstFault(FileOperation operation) const;
    // Operations failed so far.
    int faultsInjected() const;
    // The path as the plan writes it: relative to the root.
    std::string relative(const std::filesystem::path& path) const;

    platform::FileFault before(const platform::FileCall& call) override;

  private:
    struct Rule {
        FaultRule rule;
        int seen = 0;
    };
    bool matches(const FaultRule& rule, const FileEvent& event) const;
    void leaveDamagedCopy(const FaultRule& rule, const platform::FileCall& call) const;

    std::filesystem::path m_root;
    mutable std::mutex m_mutex;
    std::deque<Rule> m_rules;
    std::vector<FileEvent> m_events;
};

}  // namespace tavrel::platform::testing
