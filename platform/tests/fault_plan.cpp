#include "platform/tests/fault_plan.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace tavrel::platform::testing {

namespace fs = std::filesystem;

namespace {

bool hasTarget(FileOperation operation) {
    return operation == FileOperation::kCopy || operation == FileOperation::kMove;
}

}  // namespace

std::string FileEvent::text() const { return hasTarget(operation) ? path + " -> " + target : path; }

FaultPlan::FaultPlan(fs::path root) : m_root(std::move(root)) {
    if (platform::fileFaults() != nullptr) {
        throw std::logic_error("a fault plan is installed already");
    }
    platform::setFileFaults(this);
}

FaultPlan::~FaultPlan() { platform::setFileFaults(nullptr); }

FaultRule& FaultPlan::add(FaultRule rule) {
    std::lock_guard lock(m_mutex);
    m_rules.push_back(Rule{std::move(rule), 0});
    return m_rules.back().rule;
}

FaultRule& FaultPlan::failNth(FileOperation operation, int nth, int error) {
    FaultRule rule;
    rule.operation = operation;
    rule.nth = nth;
    rule.error = error;
    return add(std::move(rule));
}

FaultRule& FaultPlan::failOn(FileOperation operation, const std::string& path, int error) {
    FaultRule rule;
    rule.operation = operation;
    rule.path = path;
    rule.error = error;
    return add(std::move(rule));
}

std::string FaultPlan::relative(const fs::path& path) const {
    if (m_root.empty()) return path.generic_string();
    const fs::path inside = path.lexically_relative(m_root);
    if (inside.empty() || *inside.begin() == "..") return path.generic_string();
    return inside.generic_string();
}

bool FaultPlan::matches(const FaultRule& rule, const FileEvent& event) const {
    if (rule.operation != event.operation) return false;
    const std::string& operated = hasTarget(event.operation) ? event.target : event.path;
    if (!rule.path.empty() && rule.path != operated) return false;
    return rule.source.empty() || (hasTarget(event.operation) && rule.source == event.path);
}

platform::FileFault FaultPlan::before(const platform::FileCall& call) {
    FileEvent event{call.operation, relative(call.path), {}, call.size, 0};
    if (call.target != nullptr) event.target = relative(*call.target);
    std::lock_guard lock(m_mutex);
    platform::FileFault fault;
    for (Rule& entry : m_rules) {
        if (!matches(entry.rule, event)) continue;
        ++entry.seen;
        if (fault.error != 0 || (entry.rule.nth != 0 && entry.seen != entry.rule.nth)) continue;
        fault.error = entry.rule.error;
        if (call.operation == FileOperation::kWrite) {
            fault.written = std::min(entry.rule.keptBytes.value_or(0), call.size);
        }
        leaveDamagedCopy(entry.rule, call);
    }
    event.error = fault.error;
    m_events.push_back(std::move(event));
    return fault;
}

void FaultPlan::leaveDamagedCopy(const FaultRule& rule, const platform::FileCall& call) const {
    if (call.operation != FileOperation::kCopy || call.target == nullptr) return;
    std::string bytes;
    if (rule.leftover) {
        bytes = *rule.leftover;
    } else if (rule.keptBytes) {
        std::ifstream in(call.path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        bytes.resize(std::min(bytes.size(), *rule.keptBytes));
    } else {
        return;
    }
    std::ofstream(*call.target, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<FileEvent> FaultPlan::events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<std::string> FaultPlan::records(FileOperation operation) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> texts;
    for (const FileEvent& event : m_events) {
        if (event.operation == operation) texts.push_back(event.text());
    }
    return texts;
}

int FaultPlan::count(FileOperation operation, const std::string& text) const {
    const auto texts = records(operation);
    return int(std::count(texts.begin(), texts.end(), text));
}

int FaultPlan::count(FileOperation operation) const { return int(records(operation).size()); }

int FaultPlan::countAfterFirstFault(FileOperation operation) const {
    std::lock_guard lock(m_mutex);
    auto first = std::find_if(m_events.begin(), m_events.end(),
                              [](const FileEvent& event) { return event.error != 0; });
    if (first == m_events.end()) return 0;
    return int(std::count_if(std::next(first), m_events.end(),
                             [&](const FileEvent& event) { return event.operation == operation; }));
}

int FaultPlan::faultsInjected() const {
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_events.begin(), m_events.end(),
                             [](const FileEvent& event) { return event.error != 0; }));
}

}  // namespace tavrel::platform::testing
