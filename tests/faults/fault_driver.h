#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fault_plan.h"

namespace tavren::faults {

// Counts the calls of a run and fails the `failAt`-th of them (from 1; 0
// fails none) with `fault`. Only calls that `counts` accepts are counted,
// so a scenario can aim at the calls of one kind.
class CountingPlan final : public platform::FaultPlan {
public:
    using Filter = std::function<bool(platform::SysCall)>;
    CountingPlan(int failAt, platform::Fault fault, Filter counts = nullptr);

    platform::Fault Next(platform::SysCall call) override;

    int Calls() const { return calls_.load(); }
    // Whether the run reached the call to fail, and which kind it was.
    bool Hit() const { return hit_.load(); }
    platform::SysCall FailedCall() const { return failed_.load(); }
    // The kinds of the counted calls, in the order they came.
    std::vector<platform::SysCall> Trace() const;

private:
    const int failAt_;
    const platform::Fault fault_;
    const Filter counts_;
    std::atomic<int> calls_{0};
    std::atomic<bool> hit_{false};
    std::atomic<platform::SysCall> failed_{platform::SysCall::Open};
    mutable std::mutex traceMutex_;
    std::vector<platform::SysCall> trace_;
};

// Installs a plan for as long as it lives.
class ScopedPlan {
public:
    explicit ScopedPlan(platform::FaultPlan& plan) { platform::InstallFaultPlan(&plan); }
    ~ScopedPlan() { platform::InstallFaultPlan(nullptr); }
    ScopedPlan(const ScopedPlan&) = delete;
    ScopedPlan& operator=(const ScopedPlan&) = delete;
};

// One run of a scenario: it sets up what it needs afresh, does its work with
// `plan` installed (through ScopedPlan, around just the part under trial),
// then recovers as a restarted program would, with no plan, and returns
// every broken invariant it finds, each as one line.
struct FaultRun {
    CountingPlan& plan;
    int failAt;  // 0 in the counting run
    platform::Fault fault;
};
using Scenario = std::function<std::vector<std::string>(FaultRun&)>;

// What the runs of one path came to: a row of the table.
struct PathOutcome {
    std::string path;
    int calls = 0;       // counted in the run without faults
    int runs = 0;        // runs with a fault planned
    int failed = 0;      // of them, runs that reached the planned call
    int violations = 0;  // broken invariants over all runs
    std::string kinds;   // the kinds of call failed, e.g. "open write sync rename"
    std::vector<std::string> examples;  // the first few violations, with the run that broke them
};

// Whether this is the full pass (TAVREN3_FAULTS=full): every fault on every
// call. The short pass fails every call once, the faults taking turns.
bool FullPass();

// Runs `scenario` once without faults to count its calls (a violation there
// is reported too), then once for every call and fault as FullPass says,
// with `faults` to choose from. The outcome is also kept for the table.
PathOutcome RunEveryFault(std::string_view path, const Scenario& scenario,
                          const std::vector<platform::Fault>& faults,
                          CountingPlan::Filter counts = nullptr);

// Starts the engine's worker threads, keeping `running` at how many of
// them have not ended yet: a run waits for them before it judges.
inline std::function<std::thread(std::function<void()>)> CountedThreads(
    std::shared_ptr<std::atomic<int>> running) {
    return [running](std::function<void()> f) {
        ++*running;
        return std::thread([running, f = std::move(f)] {
            f();
            --*running;
        });
    };
}

// The faults every path is tried with.
const std::vector<platform::Fault>& CommonFaults();

// The table of every path run so far in this process.
std::string FormatTable();

}  // namespace tavren::faults
