// korvalctl config show and config set: the configuration registers read,
// and changed with a read-back of each register written. What the profile
// commands (CmdProfile) share with them is here too.
#pragma once

#include "Session.h"

#include <span>
#include <string>
#include <vector>

namespace cli
{

int CmdConfigShow(TSession &s);
int CmdConfigSet(TSession &s);

// The address and baud code registers, then the channel registers.
std::vector<TRegisterStep> AllRegisters();
// A register's number and its name in JSON ("register", "name", and
// "first_channel" for a channel register).
Json RegisterJson(const TRegisterStep &r);
// Which registers of `registers` a write that ended with `result` after
// step `last` left written and checked (a write and its read-back a
// register), as a sentence for the error message.
std::string WrittenText(std::span<const TRegisterStep> registers, const TModuleResult &result,
                        const TModuleStep &last);

} // namespace cli
