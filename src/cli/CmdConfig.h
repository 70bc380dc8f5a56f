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

} // namespace cli
