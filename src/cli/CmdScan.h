// korvalctl scan: the module finder (Scan.h) over the connection's
// interface, its finds as a table, JSON or CSV, and --use to write the one
// module found into the settings file.
#pragma once

#include "Session.h"

namespace cli
{

int CmdScan(TSession &s);

} // namespace cli
