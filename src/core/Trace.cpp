#include "Trace.h"

#include "Platform.h"
#include "Text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string_view>

namespace
{

// The widest status text of a good exchange ("V pořádku"), so that the
// meanings of good exchanges start in one column.
constexpr std::size_t StatusTextColumns = 12;

void PutUnsigned(std::string &s, uint64_t value, std::size_t width = 0)
{
    char digits[24];
    const std::size_t n =
        std::size_t(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    if (width > n)
        s.append(width - n, ' ');
    s.append(digits, n);
}

void PutHex(std::string &s, uint8_t b)
{
    static const char Digits[] = "0123456789ABCDEF";
    s.push_back(Digits[b >> 4]);
    s.push_back(Digits[b & 0xF]);
}

// Milliseconds with three decimals, rounded to the microsecond.
void PutDuration(std::string &s, std::chrono::nanoseconds d, std::size_t width)
{
    const uint64_t us = (uint64_t(std::max<int64_t>(d.count(), 0)) + 500) / 1000;
    char text[32];
    char *p = std::to_chars(text, text + 24, us / 1000).ptr;
    const unsigned frac = unsigned(us % 1000);
    *p++ = '.';
    *p++ = char('0' + frac / 100);
    *p++ = char('0' + frac / 10 % 10);
    *p++ = char('0' + frac % 10);
    const std::size_t n = std::size_t(p - text);
    if (width > n)
        s.append(width - n, ' ');
    s.append(text, n);
}

void PutInterface(std::string &s, uint8_t kind)
{
    if (const char *key = InterfaceKey(kind))
        s += key;
    else
        PutUnsigned(s, kind, 3);
}

// A driver's text or a meaning on one line: a line break or tab in it would
// split the exchange.
char OneLine(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
}

void PutText(std::string &s, std::string_view text)
{
    for (char c : text)
        s.push_back(OneLine(c));
}

void PutTime(std::string &s, TTraceClock &clock, std::chrono::system_clock::time_point t)
{
    char text[TTraceClock::Width];
    clock.Format(t, text);
    s.append(text, sizeof text);
}

void AppendText(std::string &s, TTraceClock &clock, const TModuleLink &link,
                const TModuleStep &step, const std::string &statusText)
{
    PutTime(s, clock, step.Started);
    s += "  ";
    PutDuration(s, step.Duration, 9);
    s += " ms  ";
    PutInterface(s, link.Kind);
    s += "  ";
    PutUnsigned(s, link.Address, 3);
    s += "  → ";
    const std::size_t command = s.size();
    PutUnsigned(s, step.Cmd);
    s.push_back('/');
    PutUnsigned(s, step.Sub);
    s.append(std::max<std::size_t>(8 - (s.size() - command), 1), ' ');
    PutHex(s, step.RequestX);
    for (uint8_t b : step.Request) {
        s.push_back(' ');
        PutHex(s, b);
    }
    s += "  ← ";
    PutHex(s, step.X);
    for (uint8_t b : step.Reply) {
        s.push_back(' ');
        PutHex(s, b);
    }
    s += "  ";
    PutUnsigned(s, step.Status, 3);
    s.push_back(' ');
    PutText(s, statusText);
    const std::size_t columns = Utf8Length(statusText);
    s.append(columns < StatusTextColumns ? StatusTextColumns - columns : 0, ' ');
    s += "  ";
    PutText(s, step.What);
    s.push_back('\n');
}

void AppendCsv(std::string &s, TTraceClock &clock, const TModuleLink &link, const TModuleStep &step,
               const std::string &statusText)
{
    PutTime(s, clock, step.Started);
    s.push_back(',');
    PutDuration(s, step.Duration, 0);
    s.push_back(',');
    PutInterface(s, link.Kind);
    for (uint8_t n : {link.Address, step.Cmd, step.Sub, step.RequestX}) {
        s.push_back(',');
        PutUnsigned(s, n);
    }
    for (uint8_t b : step.Request) {
        s.push_back(',');
        PutUnsigned(s, b);
    }
    s.push_back(',');
    PutUnsigned(s, step.X);
    for (uint8_t b : step.Reply) {
        s.push_back(',');
        PutUnsigned(s, b);
    }
    s.push_back(',');
    PutUnsigned(s, step.Status);
    s.push_back(',');
    PutCsvText(s, statusText);
    s += step.Mismatch ? ",1," : ",0,";
    PutCsvText(s, step.What);
    s.push_back('\n');
}

} // namespace

void PutCsvText(std::string &s, std::string_view text)
{
    const bool quoted = text.find_first_of(",\"") != std::string_view::npos;
    if (quoted)
        s.push_back('"');
    for (char c : text) {
        if (c == '"')
            s.push_back('"');
        s.push_back(OneLine(c));
    }
    if (quoted)
        s.push_back('"');
}

void TTraceClock::Format(std::chrono::system_clock::time_point t, char *out)
{
    using namespace std::chrono;
    const int64_t us = floor<microseconds>(t.time_since_epoch()).count();
    int64_t second = us / 1000000;
    int64_t micro = us % 1000000;
    if (micro < 0) {
        micro += 1000000;
        --second;
    }
    if (second != second_) {
        std::tm tm{};
        const std::time_t whole = std::time_t(second);
        if (!platform::LocalTime(whole, tm) ||
            std::strftime(seconds_, sizeof seconds_, "%Y-%m-%d %H:%M:%S", &tm) != 19)
            std::memcpy(seconds_, "0000-00-00 00:00:00", sizeof seconds_);
        second_ = second;
    }
    std::memcpy(out, seconds_, 19);
    out[19] = '.';
    for (int i = 25; i > 19; --i, micro /= 10)
        out[i] = char('0' + micro % 10);
}

std::string TraceCsvHeader()
{
    return "time,duration_ms,interface,address,cmd,sub,request_x,request_d0,request_d1,"
           "request_d2,request_d3,reply_x,reply_d0,reply_d1,reply_d2,reply_d3,status,"
           "status_text,mismatch,meaning\n";
}

void AppendTraceLine(std::string &line, TTraceFormat format, TTraceClock &clock,
                     const TModuleLink &link, const TModuleStep &step,
                     const std::string &statusText)
{
    if (format == TTraceFormat::Csv)
        AppendCsv(line, clock, link, step, statusText);
    else
        AppendText(line, clock, link, step, statusText);
}
