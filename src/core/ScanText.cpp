#include "ScanText.h"

#include "Text.h"

#include <cstdio>

std::string RateText(uint8_t baudCode)
{
    return std::to_string(BaudCodeToRate(baudCode)) + " Bd";
}

std::string RateListText(const std::vector<uint8_t> &baudCodes)
{
    std::string rates;
    for (uint8_t code : baudCodes)
        rates += (rates.empty() ? "" : ", ") + std::to_string(BaudCodeToRate(code));
    return rates;
}

std::string AddressListText(const std::vector<uint8_t> &addresses)
{
    std::string text;
    for (std::size_t i = 0; i < addresses.size();) {
        std::size_t j = i;
        while (j + 1 < addresses.size() && addresses[j + 1] == addresses[j] + 1)
            ++j;
        text += (text.empty() ? "" : ",") + std::to_string(addresses[i]);
        if (j > i)
            text += "-" + std::to_string(addresses[j]);
        i = j + 1;
    }
    return text;
}

std::optional<std::vector<uint8_t>> ParseAddressList(std::string_view text)
{
    const std::optional<std::vector<bool>> named = NumberRanges(text, 255);
    if (!named)
        return std::nullopt;
    std::vector<uint8_t> addresses;
    for (uint32_t a = 0; a < 256; ++a) {
        if ((*named)[a])
            addresses.push_back(uint8_t(a));
    }
    return addresses;
}

std::string AddressListError(std::string_view text)
{
    return Quoted(text) +
           " není seznam adres 0..255 (čísla a rozsahy oddělené čárkou, např. 1-32,100).";
}

std::vector<TScanRate> ScanRates(const TScanOptions &plan)
{
    std::vector<TScanRate> rates;
    for (uint8_t code : plan.BaudCodes)
        rates.push_back({code, BaudCodeToRate(code), ProbeTimeoutMs(plan, code)});
    return rates;
}

std::string ClockText(std::chrono::nanoseconds d)
{
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

std::size_t ScanPercent(const TScanProgress &p)
{
    return p.Total == 0 ? std::size_t(100) : p.Done * 100 / p.Total;
}

// Rounded up: "0:00" left is for the end.
std::string ScanLeftText(const TScanProgress &p)
{
    return ClockText(std::chrono::ceil<std::chrono::seconds>(p.Left));
}

std::string ScanProgressText(const TScanProgress &p)
{
    // Under 80 columns, so that a terminal never wraps it.
    char line[128];
    std::snprintf(line, sizeof line,
                  "%6u Bd  adresa %3u  %3zu %%  uplynulo %s  zbývá ~%s  "
                  "nalezeno %zu",
                  unsigned(BaudCodeToRate(p.BaudCode)), unsigned(p.Address), ScanPercent(p),
                  ClockText(p.Elapsed).c_str(), ScanLeftText(p).c_str(), p.Found);
    return line;
}

std::string ScanFindText(const TScanFind &f, const TScanOptions &plan,
                         const TStatusTextOf &statusText)
{
    const std::string note = ScanFindNote(f, plan);
    if (f.Collision)
        return note;
    const std::string text = ScanFindName(f, statusText);
    return note.empty() ? text : text + "  " + note;
}

std::string ScanFindName(const TScanFind &f, const TStatusTextOf &statusText)
{
    if (f.Collision)
        return {};
    return !f.Name.empty()  ? f.Name
           : f.Status != 0 ? "odmítl čtení identity: " + statusText(f.Status)
                           : "odpověděl, identitu se nepodařilo přečíst";
}

std::string ScanTableHeader()
{
    return "Adresa  Rychlost   Modul\n";
}

std::string ScanFindRow(const TScanFind &f, const TScanOptions &plan,
                        const TStatusTextOf &statusText)
{
    char cells[32];
    std::snprintf(cells, sizeof cells, "%6u  %6u Bd  ", unsigned(f.Address),
                  unsigned(BaudCodeToRate(f.BaudCode)));
    return cells + ScanFindText(f, plan, statusText) + "\n";
}

std::string ScanSummaryText(const TScanResult &result, const TScanOptions &plan,
                            std::size_t probed, std::chrono::duration<double> elapsed)
{
    const std::string seconds = DecimalText(elapsed.count(), 1) + " s";
    if (result.Finds.empty())
        return "žádný modul neodpověděl (adresy " + AddressListText(plan.Addresses) +
               ", rychlosti " + RateListText(plan.BaudCodes) + " Bd; " + seconds + ").";
    return "nalezeno: " + std::to_string(result.Finds.size()) + " (zkoušek: " +
           std::to_string(probed) + ", " + seconds + ").";
}
