// Injected file-operation failures, for test builds: the N-th file operation of the
// process fails with the error a full disk, a vanished directory or a denied permission
// gives. Compiled in only with ORVANEGATE_FAULT_INJECTION; otherwise every check is a
// constant "no fault" that the compiler removes.
//
// Driven by the environment:
//   ORVANEGATE_FAULT_AT     the 1-based number of the operation that fails (unset: none)
//   ORVANEGATE_FAULT_ERROR  disk-full, not-found or access-denied (default disk-full)
//   ORVANEGATE_FAULT_LOG    a file to which every counted operation is appended as
//                           "<number> <operation> <path>" and a failed one as
//                           "<number> <operation> <path> FAILED"
#pragma once

#include <string>

namespace orvane::platform {

enum class FileOperation { Open, Read, Write, Close, Rename, Link, Unlink, Lock, MakeDirectory };

enum class InjectedFault { None, DiskFull, NotFound, AccessDenied };

#ifdef ORVANEGATE_FAULT_INJECTION
// Counts the operation; tells which failure it must report, if any.
InjectedFault CheckFault(FileOperation operation, const std::string& path);
#else
inline InjectedFault CheckFault(FileOperation, const std::string&) { return InjectedFault::None; }
#endif

}  // namespace orvane::platform
