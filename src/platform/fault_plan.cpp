#include "platform/fault_plan.h"

namespace tavren::platform {

namespace detail {
std::atomic<FaultPlan*> g_faultPlan{nullptr};
}

void InstallFaultPlan(FaultPlan* plan) {
    detail::g_faultPlan.store(plan, std::memory_order_release);
}

std::string_view SysCallName(SysCall call) {
    switch (call) {
    case SysCall::Open: return "open";
    case SysCall::MakeTemp: return "make-temp";
    case SysCall::Read: return "read";
    case SysCall::Write: return "write";
    case SysCall::Resize: return "resize";
    case SysCall::Attributes: return "attributes";
    case SysCall::Sync: return "sync";
    case SysCall::Close: return "close";
    case SysCall::Rename: return "rename";
    case SysCall::Link: return "link";
    case SysCall::Remove: return "remove";
    case SysCall::Lock: return "lock";
    case SysCall::MakeFolder: return "make-folder";
    case SysCall::Copy: return "copy";
    }
    return "?";
}

std::string_view FaultName(Fault fault) {
    switch (fault) {
    case Fault::None: return "none";
    case Fault::Io: return "EIO";
    case Fault::NoSpace: return "ENOSPC";
    case Fault::Access: return "EACCES";
    case Fault::Interrupted: return "EINTR";
    case Fault::CrossDevice: return "EXDEV";
    case Fault::Sharing: return "SHARING";
    }
    return "?";
}

}  // namespace tavren::platform
