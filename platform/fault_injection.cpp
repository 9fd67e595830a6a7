// The fault-injection counter of test builds (see fault_injection.h). Portable: it only
// reads the environment and appends to its log with the C library.
#include "platform/fault_injection.h"

#ifdef ORVANEGATE_FAULT_INJECTION

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvane::platform {
namespace {

struct FaultPlan {
  unsigned long fail_at = 0;  // 0: count only
  InjectedFault fault = InjectedFault::DiskFull;
  std::FILE* log = nullptr;
  unsigned long count = 0;
};

InjectedFault ParseFault(const char* text) {
  if (text == nullptr || std::strcmp(text, "disk-full") == 0) return InjectedFault::DiskFull;
  if (std::strcmp(text, "not-found") == 0) return InjectedFault::NotFound;
  if (std::strcmp(text, "access-denied") == 0) return InjectedFault::AccessDenied;
  return InjectedFault::DiskFull;
}

FaultPlan& Plan() {
  static FaultPlan plan = [] {
    FaultPlan made;
    if (const char* at = std::getenv("ORVANEGATE_FAULT_AT")) {
      made.fail_at = std::strtoul(at, nullptr, 10);
    }
    made.fault = ParseFault(std::getenv("ORVANEGATE_FAULT_ERROR"));
    if (const char* log = std::getenv("ORVANEGATE_FAULT_LOG")) made.log = std::fopen(log, "a");
    return made;
  }();
  return plan;
}

const char* OperationName(FileOperation operation) {
  switch (operation) {
    case FileOperation::Open:
      return "open";
    case FileOperation::Read:
      return "read";
    case FileOperation::Write:
      return "write";
    case FileOperation::Close:
      return "close";
    case FileOperation::Rename:
      return "rename";
    case FileOperation::Link:
      return "link";
    case FileOperation::Unlink:
      return "unlink";
    case FileOperation::Lock:
      return "lock";
    case FileOperation::MakeDirectory:
      return "mkdir";
  }
  return "?";
}

}  // namespace

InjectedFault CheckFault(FileOperation operation, const std::string& path) {
  FaultPlan& plan = Plan();
  const unsigned long number = ++plan.count;
  const bool fails = number == plan.fail_at;
  if (plan.log != nullptr) {
    std::fprintf(plan.log, "%lu %s %s%s\n", number, OperationName(operation), path.c_str(),
                 fails ? " FAILED" : "");
    std::fflush(plan.log);
  }
  return fails ? plan.fault : InjectedFault::None;
}

}  // namespace orvane::platform

#endif
