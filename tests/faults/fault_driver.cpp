#include "faults/fault_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace tavren::faults {

using platform::Fault;
using platform::SysCall;

CountingPlan::CountingPlan(int failAt, Fault fault, Filter counts)
    : failAt_(failAt), fault_(fault), counts_(std::move(counts)) {}

Fault CountingPlan::Next(SysCall call) {
    if (counts_ && !counts_(call)) return Fault::None;
    {
        const std::lock_guard lock(traceMutex_);
        trace_.push_back(call);
    }
    const int n = ++calls_;
    if (n != failAt_) return Fault::None;
    failed_ = call;
    hit_ = true;
    return fault_;
}

std::vector<SysCall> CountingPlan::Trace() const {
    const std::lock_guard lock(traceMutex_);
    return trace_;
}

bool FullPass() {
    const char* pass = std::getenv("TAVREN3_FAULTS");
    return pass != nullptr && std::string_view(pass) == "full";
}

const std::vector<Fault>& CommonFaults() {
    static const std::vector<Fault> faults = {Fault::Io, Fault::NoSpace, Fault::Access,
                                              Fault::Interrupted, Fault::CrossDevice};
    return faults;
}

namespace {

constexpr const char* kTableHeading =
    "| Path | Calls | Runs | Calls failed | Kinds of call failed | Violations |\n"
    "|---|---:|---:|---:|---|---:|\n";

std::string Row(const PathOutcome& o) {
    return "| " + o.path + " | " + std::to_string(o.calls) + " | " + std::to_string(o.runs) +
           " | " + std::to_string(o.failed) + " | " + o.kinds + " | " +
           std::to_string(o.violations) + " |\n";
}

std::mutex g_tableMutex;
std::vector<PathOutcome> g_table;

std::string Describe(int failAt, Fault fault, const CountingPlan& plan) {
    std::string s = "call " + std::to_string(failAt);
    if (failAt > 0) {
        s += " (" + std::string(platform::SysCallName(plan.FailedCall())) + ", " +
             std::string(platform::FaultName(fault)) + (plan.Hit() ? "" : ", not reached") + ")";
    }
    return s;
}

// Prints the table when the tests are done, and writes it where
// TAVREN3_FAULT_TABLE names.
class TableEnvironment final : public ::testing::Environment {
public:
    void TearDown() override {
        if (g_table.empty()) return;
        std::fputs(FormatTable().c_str(), stdout);
        // ctest runs each test in a process of its own: the rows gather in
        // one file, and `make faults` prints them under one heading.
        if (const char* file = std::getenv("TAVREN3_FAULT_TABLE")) {
            std::ofstream out(file, std::ios::app);
            for (const PathOutcome& o : g_table) out << Row(o);
        }
    }
};
[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new TableEnvironment);

}  // namespace

PathOutcome RunEveryFault(std::string_view path, const Scenario& scenario,
                          const std::vector<Fault>& faults, CountingPlan::Filter counts) {
    PathOutcome outcome;
    outcome.path = std::string(path);
    std::set<SysCall> kinds;
    auto run = [&](int failAt, Fault fault) {
        CountingPlan plan(failAt, fault, counts);
        FaultRun faultRun{plan, failAt, fault};
        const std::vector<std::string> broken = scenario(faultRun);
        if (failAt == 0) {
            outcome.calls = plan.Calls();
        } else {
            ++outcome.runs;
            if (plan.Hit()) {
                ++outcome.failed;
                kinds.insert(plan.FailedCall());
            }
        }
        outcome.violations += static_cast<int>(broken.size());
        for (const std::string& b : broken) {
            if (outcome.examples.size() < 10)
                outcome.examples.push_back(Describe(failAt, fault, plan) + ": " + b);
        }
    };
    run(0, Fault::None);
    const bool full = FullPass();
    for (int n = 1; n <= outcome.calls; ++n) {
        if (full) {
            for (Fault f : faults) run(n, f);
        } else {
            run(n, faults[static_cast<std::size_t>(n - 1) % faults.size()]);
        }
    }
    for (SysCall k : kinds) {
        if (!outcome.kinds.empty()) outcome.kinds += ' ';
        outcome.kinds += platform::SysCallName(k);
    }
    {
        const std::lock_guard lock(g_tableMutex);
        g_table.push_back(outcome);
    }
    for (const std::string& e : outcome.examples) ADD_FAILURE() << outcome.path << ": " << e;
    return outcome;
}

std::string FormatTable() {
    const std::lock_guard lock(g_tableMutex);
    std::ostringstream out;
    out << "\n" << kTableHeading;
    for (const PathOutcome& o : g_table) out << Row(o);
    out << (FullPass() ? "(full pass: every fault on every call)\n"
                       : "(short pass: every call failed once, the faults taking turns)\n");
    return out.str();
}

}  // namespace tavren::faults
