#include "Report.h"

#include "Text.h"

#include <cstdio>

namespace cli
{

namespace
{

std::string Hex(uint32_t word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", word);
    return text;
}

std::string Milliseconds(std::chrono::nanoseconds t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", double(t.count()) / 1e6);
    std::string s = text;
    for (char &c : s)
        c = c == '.' ? ',' : c;
    return s;
}

} // namespace

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

const char *FaultKey(TChannelFault fault)
{
    switch (fault) {
    case TChannelFault::Pass:
        return "pass";
    case TChannelFault::StuckAt0:
        return "stuck_at_0";
    case TChannelFault::StuckAt1:
        return "stuck_at_1";
    case TChannelFault::Follows:
        return "follows";
    case TChannelFault::Inconsistent:
        return "inconsistent";
    case TChannelFault::Untested:
        break;
    }
    return "untested";
}

std::string FaultText(const TChannelVerdict &v)
{
    switch (v.Fault) {
    case TChannelFault::Pass:
        return "v pořádku";
    case TChannelFault::StuckAt0:
        return "trvale 0";
    case TChannelFault::StuckAt1:
        return "trvale 1";
    case TChannelFault::Follows:
        return "sleduje DOUT" + std::to_string(v.Source);
    case TChannelFault::Inconsistent:
        return "nesouhlasí";
    case TChannelFault::Untested:
        break;
    }
    return "nevyzkoušen";
}

std::string SeenText(const TChannelVerdict &v, const TIoTestResult &r)
{
    const std::string n = std::to_string(v.Channel);
    const std::string wrong =
        "chybně " + InCount(v.Wrong) + " z " + std::to_string(r.Steps.size()) + " kroků";
    switch (v.Fault) {
    case TChannelFault::Pass:
        return "všech " + std::to_string(r.Steps.size()) + " kroků souhlasí";
    case TChannelFault::StuckAt0:
    case TChannelFault::StuckAt1:
        // From the inputs alone an output stuck and an input stuck look
        // the same: the level is the terminal's.
        return std::string("svorka trvale v úrovni ") +
               (v.Fault == TChannelFault::StuckAt1 ? "1" : "0") + " (čteno na vstupu DIN" + n +
               "; vadný může být výstup DOUT" + n + ", vstup DIN" + n + " i propojení), " + wrong;
    case TChannelFault::Follows:
        return "vstup DIN" + n + " sleduje výstup DOUT" + std::to_string(v.Source) +
               " (překřížené vodiče?), " + wrong;
    case TChannelFault::Inconsistent: {
        const TIoStep &s = r.Steps[v.FirstWrong - 1];
        const int bit = v.Channel;
        return wrong + ", poprvé v kroku " + std::to_string(v.FirstWrong) + ": zapsáno " +
               Hex(s.Written) + ", očekáváno " + std::to_string((s.Expected >> bit) & 1u) +
               ", čteno " + std::to_string((s.Seen >> bit) & 1u);
    }
    case TChannelFault::Untested:
        break;
    }
    return "bez chyby " + InCount(r.Steps.size()) + " z " + std::to_string(r.StepsPlanned) +
           " kroků; test nedokončen";
}

const char *VerdictText(const TIoTestResult &r)
{
    if (r.Passed())
        return "VYHOVUJE";
    // A channel seen wrong fails the module, whether or not the test ended.
    for (const TChannelVerdict &v : r.Channels) {
        if (v.Fault != TChannelFault::Pass && v.Fault != TChannelFault::Untested)
            return "NEVYHOVUJE";
    }
    return "NEDOKONČENO";
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
    row("Negace DIN", Hex(r.DinNegation));
    row("Negace DOUT", Hex(r.DoutNegation));
    row("Prodleva před čtením vstupů", std::to_string(page.IntervalMs) + " ms");
    row("Status registr před / po",
        Hex(r.StatusBefore) + " / " + (r.StatusAfterRead ? Hex(r.StatusAfter) : "nečten"));
    row("Kroky", std::to_string(r.Steps.size()) + " z " + std::to_string(r.StepsPlanned));
    row("Výměn s modulem", std::to_string(r.Exchanges));
    row("Doba zkoušky", Milliseconds(r.Duration));
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

} // namespace cli
