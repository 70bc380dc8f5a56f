// The acceptance test's report: one self-contained HTML page to print or
// attach (korvalctl test --report), in the words of IoTestText.h.
#pragma once

#include "IoTest.h"

#include <cstdint>
#include <ctime>
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
    // Typed by the person who ran the test; each row only when given.
    std::string Tester; // "Zkoušel"
    std::string Serial; // "Výrobní číslo": serial or inventory number
    std::string Note;   // "Poznámka"
};

// The page's date of `t` in local time: "2026-12-08 16:40:00".
std::string ReportDateText(std::time_t t);

// One UTF-8 HTML document: inline style, no external resources, one A4
// page when printed. It leads with the verdict and a grid of the 32
// channels coloured pass or fail, so a glance at the sheet tells, then the
// settings and a row per channel. The colours are also bgcolor attributes:
// the rich-text engine that prints the PDF ignores most CSS.
std::string AcceptanceHtml(const TReportPage &page, const TIoTestResult &r);
