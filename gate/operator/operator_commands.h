// The operator's commands on one site's members and leaves, run from a shell. Each
// takes the locks and the kill-safe writes of the gate's own commands (see
// member_records.h and leaf_draft.h), so it may run while the site serves requests.
// Ids and leaf names are given as stored: the record's file name without ".txt", the
// leaf's base name; both are Shift_JIS bytes, as is the password read from standard input.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvane {

// An operator command's option and the operands it takes, for the command line's table.
struct OperatorCommand {
  std::string_view option;
  std::string_view operands;  // as the usage names them
  std::size_t operand_count;
};
std::span<const OperatorCommand> OperatorCommands();
const OperatorCommand* FindOperatorCommand(std::string_view option);

// Runs the command with its operands (as many as it takes) on the site of config.txt
// beside the executable; what it did goes to standard output, a failure's one-line
// reason to standard error. 0 when done, 1 when not.
int RunOperatorCommand(const OperatorCommand& command, std::span<const std::string> operands);

}  // namespace orvane
