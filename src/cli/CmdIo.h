// korvalctl inputs, outputs, walk and status: the module's inputs read
// once or watched, its outputs set, the walking one, the status register.
#pragma once

#include "Session.h"

namespace cli
{

int CmdInputs(TSession &s);
int CmdOutputs(TSession &s);
int CmdWalk(TSession &s);
int CmdStatus(TSession &s);

} // namespace cli
