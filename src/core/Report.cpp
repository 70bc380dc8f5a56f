#include "Report.h"

#include "IoTestText.h"
#include "Platform.h"
#include "Text.h"

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string ReportDateText(std::time_t t)
{
    std::tm parts{};
    platform::LocalTime(t, parts);
    char day[32];
    std::strftime(day, sizeof day, "%Y-%m-%d %H:%M:%S", &parts);
    return day;
}

std::string AcceptanceHtml(const TReportPage &page, const TIoTestResult &r)
{
    const std::string verdict = ModuleVerdictText(r);
    const bool passed = r.Passed();
    std::string h;
    h += "<!DOCTYPE html>\n<html lang=\"cs\">\n<head>\n<meta charset=\"utf-8\">\n";
    h += "<title>Přejímací zkouška vstupů a výstupů – " + HtmlEscape(page.Module) + "</title>\n";
    // Sized to fit the 32 rows and the header on one A4 sheet.
    h += "<style>\n"
         "@page { size: A4; margin: 15mm; }\n"
         "body { font-family: sans-serif; font-size: 10pt; color: #000; margin: 0 auto; "
         "max-width: 180mm; }\n"
         "h1 { font-size: 14pt; margin: 0 0 3mm; }\n"
         "table { border-collapse: collapse; width: 100%; margin-bottom: 4mm; }\n"
         "th, td { border: 0.3mm solid #888; padding: 0.6mm 2mm; text-align: left; "
         "vertical-align: top; }\n"
         "table.channels td, table.channels th { font-size: 8.5pt; }\n"
         "th { background: #eee; }\n"
         ".ok { color: #060; }\n"
         ".bad { color: #b00; font-weight: bold; }\n"
         ".verdict { font-size: 16pt; font-weight: bold; padding: 2mm; border: 0.6mm solid; "
         "display: inline-block; }\n"
         "table.grid td { width: 12.5%; font-size: 8pt; text-align: center; padding: 1.5mm 0.5mm; }\n"
         "table.grid td.pass { background: #b8e6b8; }\n"
         "table.grid td.fail { background: #f2a8a8; font-weight: bold; }\n"
         "table.grid td.untested { background: #ddd; }\n"
         "table.grid .ch { font-weight: bold; }\n"
         "tr { page-break-inside: avoid; }\n"
         "</style>\n</head>\n<body>\n";
    h += "<h1>Přejímací zkouška vstupů a výstupů</h1>\n";
    h += std::string("<p class=\"summary\">Výsledek: <span class=\"verdict ") +
         (passed ? "ok" : "bad") + "\">" + HtmlEscape(verdict) + "</span></p>\n";
    // Four rows of eight, DIN0 top left, as the channels run on the terminal
    // strips.
    h += "<table class=\"grid\">\n";
    for (int row = 0; row < 4; ++row) {
        h += "<tr>";
        for (int col = 0; col < 8; ++col) {
            const TChannelVerdict &v = r.Channels[std::size_t(row * 8 + col)];
            const char *cls = v.Fault == TChannelFault::Pass       ? "pass"
                              : v.Fault == TChannelFault::Untested ? "untested"
                                                                   : "fail";
            const char *colour = v.Fault == TChannelFault::Pass       ? "#b8e6b8"
                                 : v.Fault == TChannelFault::Untested ? "#dddddd"
                                                                      : "#f2a8a8";
            h += std::string("<td class=\"") + cls + "\" bgcolor=\"" + colour + "\"><span class=\"ch\">" +
                 std::to_string(v.Channel) + "</span> " + HtmlEscape(FaultText(v)) + "</td>";
        }
        h += "</tr>\n";
    }
    h += "</table>\n";
    h += "<table class=\"settings\">\n";
    auto row = [&h](const std::string &name, const std::string &value) {
        h += "<tr><th>" + HtmlEscape(name) + "</th><td>" + HtmlEscape(value) + "</td></tr>\n";
    };
    row("Modul", page.Module);
    if (!page.Serial.empty())
        row("Výrobní číslo", page.Serial);
    if (!page.Tester.empty())
        row("Zkoušel", page.Tester);
    row("Datum", page.Date);
    if (!page.Note.empty())
        row("Poznámka", page.Note);
    row("Rozhraní", page.Interface);
    row("Adresa", std::to_string(page.Address));
    row("Rychlost", std::to_string(page.BaudRate) + " Bd");
    row("Negace DIN", HexText(r.DinNegation));
    row("Negace DOUT", HexText(r.DoutNegation));
    row("Prodleva před čtením vstupů", std::to_string(page.IntervalMs) + " ms");
    row("Status registr před / po",
        HexText(r.StatusBefore) + " / " + (r.StatusAfterRead ? HexText(r.StatusAfter) : "nečten"));
    row("Kroky", std::to_string(r.Steps.size()) + " z " + std::to_string(r.StepsPlanned));
    row("Výměn s modulem", std::to_string(r.Exchanges));
    row("Doba zkoušky", DecimalText(double(r.Duration.count()) / 1e6, 1) + " ms");
    row("Výstupy na konci", r.OutputsOff ? "vypnuty" : "vypnutí se nepodařilo");
    h += "</table>\n";
    h += "<table class=\"channels\">\n<tr><th>Kanál</th><th>Výsledek</th><th>Zjištěno</th></tr>\n";
    for (const TChannelVerdict &v : r.Channels) {
        const char *cls = v.Fault == TChannelFault::Pass ? "ok" : "bad";
        h += "<tr><td>" + std::to_string(v.Channel) + "</td><td class=\"" + cls + "\">" +
             HtmlEscape(FaultText(v)) + "</td><td>" + HtmlEscape(SeenText(v, r)) + "</td></tr>\n";
    }
    h += "</table>\n";
    h += "</body>\n</html>\n";
    return h;
}
