// korvalctl config save, diff, restore and clone: a module's configuration
// to and from a profile file (docs/profile-format.md), and one profile onto
// many modules.
#pragma once

#include "Session.h"

namespace cli
{

int CmdConfigSave(TSession &s);
int CmdConfigDiff(TSession &s);
int CmdConfigRestore(TSession &s);
int CmdConfigClone(TSession &s);

} // namespace cli
