#include "Report.h"

#include "IoTestText.h"
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

std::string AcceptanceHtml(const TReportPage &page, const TIoTestResult &r)
{
    const std::string verdict = VerdictText(r);
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
         "tr { page-break-inside: avoid; }\n"
         "</style>\n</head>\n<body>\n";
    h += "<h1>Přejímací zkouška vstupů a výstupů</h1>\n";
    h += "<table class=\"settings\">\n";
    auto row = [&h](const std::string &name, const std::string &value) {
        h += "<tr><th>" + HtmlEscape(name) + "</th><td>" + HtmlEscape(value) + "</td></tr>\n";
    };
    row("Modul", page.Module);
    row("Datum", page.Date);
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
    h += std::string("<p>Výsledek: <span class=\"verdict ") + (passed ? "ok" : "bad") + "\">" +
         HtmlEscape(verdict) + "</span></p>\n";
    h += "</body>\n</html>\n";
    return h;
}
