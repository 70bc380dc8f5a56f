// korvalctl test: the I/O acceptance test (IoTest.h) of a module whose
// outputs are wired back to its inputs, its verdicts as a table or JSON,
// and --report, the page to print.
#pragma once

#include "IoTestText.h"
#include "Report.h"
#include "Session.h"

namespace cli
{

int CmdTest(TSession &s);

// The words and the page are the core's, the same a window shows.
using ::AcceptanceHtml;
using ::FaultText;
using ::SeenText;
using ::TReportPage;
using ::VerdictText;

} // namespace cli
