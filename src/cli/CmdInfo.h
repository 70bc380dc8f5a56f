// korvalctl info: the module's identity over the connection; korvalctl use:
// the connection written into the settings file for the program.
#pragma once

#include "Session.h"

namespace cli
{

int CmdInfo(TSession &s);
int CmdUse(TSession &s);

} // namespace cli
