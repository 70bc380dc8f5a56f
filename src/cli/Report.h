// The acceptance test's results in words: the Czech texts of a channel's
// verdict (shared by the text output, the JSON and the report page) and
// the self-contained HTML page of `korvalctl test --report`.
#pragma once

#include "IoTest.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace cli
{

// Text for HTML element content and attribute values.
std::string HtmlEscape(std::string_view text);

// "pass", "stuck_at_0", "stuck_at_1", "follows", "inconsistent", "untested".
const char *FaultKey(TChannelFault fault);
// Short Czech verdict of a channel: "v pořádku", "trvale 0", "sleduje DOUT5", ...
std::string FaultText(const TChannelVerdict &v);
// What was seen on the channel, one Czech sentence.
std::string SeenText(const TChannelVerdict &v, const TIoTestResult &r);
// "VYHOVUJE"; "NEVYHOVUJE" when a channel was seen wrong; otherwise
// "NEDOKONČENO" (the test or its last status read did not complete).
const char *VerdictText(const TIoTestResult &r);

// What the page says besides the result: as the connection was made.
struct TReportPage {
    std::string Module;    // from the module: escaped on the page
    std::string Date;      // "2026-12-08 16:40:00"
    std::string Interface; // "LAN konvertor LX-1417, 127.0.0.1:5000"
    unsigned Address = 0;
    uint32_t BaudRate = 0;
    unsigned IntervalMs = 0;
};

// One UTF-8 HTML document: inline style, no external resources, one A4
// page when printed.
std::string AcceptanceHtml(const TReportPage &page, const TIoTestResult &r);

} // namespace cli
