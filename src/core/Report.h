// The acceptance test's report: one self-contained HTML page to print or
// attach (korvalctl test --report), in the words of IoTestText.h.
#pragma once

#include "IoTest.h"

#include <cstdint>
#include <string>
#include <string_view>

// Text for HTML element content and attribute values.
std::string HtmlEscape(std::string_view text);

// What the page says besides the result: as the connection was made.
struct TReportPage {
    std::string Module;    // from the module: escaped on the page
    std::string Date;      // "2026-12-08 16:40:00"
    std::string Interface; // InterfaceText: "LAN konvertor LX-1417, 127.0.0.1:5000"
    unsigned Address = 0;
    uint32_t BaudRate = 0;
    unsigned IntervalMs = 0;
};

// One UTF-8 HTML document: inline style, no external resources, one A4
// page when printed.
std::string AcceptanceHtml(const TReportPage &page, const TIoTestResult &r);
