// The module finder in words, as korvalctl scan prints it and a window will
// show it: the plan's rates and time-outs, the time spent and left, a
// find's row, and the closing line.
#pragma once

#include "Scan.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// "9600 Bd".
std::string RateText(uint8_t baudCode);
// "9600, 19200, 115200": rates without the unit.
std::string RateListText(const std::vector<uint8_t> &baudCodes);
// Ascending addresses as the shortest such list ("0-255", "1-32,100").
std::string AddressListText(const std::vector<uint8_t> &addresses);
// The other way: "1-32,100" (numbers and ranges 0..255 apart by commas, in
// any order) as ascending addresses, each once; nothing for any other text.
std::optional<std::vector<uint8_t>> ParseAddressList(std::string_view text);
// Why `text` is no address list: "„text“ není seznam adres 0..255 (…)."
std::string AddressListError(std::string_view text);

// A rate of the plan and the time-out its probes wait.
struct TScanRate {
    uint8_t BaudCode = 0;
    uint32_t BaudRate = 0;
    uint32_t TimeoutMs = 0; // ProbeTimeoutMs
};
std::vector<TScanRate> ScanRates(const TScanOptions &plan);

// A duration as a clock shows it, whole seconds: "1:05", "1:02:03".
std::string ClockText(std::chrono::nanoseconds d);
// Of the progress so far: the share done in percent, the time left as a
// clock, and the whole line ("  9600 Bd  adresa  17    6 %  uplynulo 0:01
// zbývá ~0:04  nalezeno 1").
std::size_t ScanPercent(const TScanProgress &p);
std::string ScanLeftText(const TScanProgress &p);
std::string ScanProgressText(const TScanProgress &p);

// The driver's text of a status code, asked only for a find that refused
// its identity read.
using TStatusTextOf = std::function<std::string(int32_t status)>;
// What the table says of a find: its name, a refusal or a failed read, and
// ScanFindNote beside it.
std::string ScanFindText(const TScanFind &f, const TScanOptions &plan,
                         const TStatusTextOf &statusText);
// The module column alone: the name, a refusal or a failed read; empty
// for a collision, which only its note describes.
std::string ScanFindName(const TScanFind &f, const TStatusTextOf &statusText);
// The table of finds: a header and a row each, with their newlines.
std::string ScanTableHeader();
std::string ScanFindRow(const TScanFind &f, const TScanOptions &plan,
                        const TStatusTextOf &statusText);

// The line after a scan that ran to its end, without a newline: "nalezeno:
// 2 (zkoušek: 512, 3,9 s)." or "žádný modul neodpověděl (adresy 0-255,
// rychlosti 9600 Bd; 3,9 s)."; `probed`: probes made.
std::string ScanSummaryText(const TScanResult &result, const TScanOptions &plan,
                            std::size_t probed, std::chrono::duration<double> elapsed);
