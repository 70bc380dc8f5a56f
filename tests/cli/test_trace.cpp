#include "TraceFile.h"

#include "Qxxx417.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace
{

using namespace std::chrono;

struct Exchange {
    const char *name;
    TModuleLink link;
    TModuleStep step;
    std::string statusText;
};

// One exchange of every kind the operations make, worded as they word them,
// and a third-party driver's text that needs CSV quoting and holds a break.
std::vector<Exchange> Exchanges()
{
    using Bytes = std::array<uint8_t, 4>;
    std::vector<Exchange> e;
    const auto add = [&](const char *name, uint8_t kind, uint8_t address, const char *what,
                         uint8_t cmd, uint8_t sub, Bytes request, Bytes reply, uint8_t status = 0,
                         const char *statusText = "V pořádku") {
        TModuleStep s;
        s.What = what;
        s.Cmd = cmd;
        s.Sub = sub;
        s.Request = request;
        s.Reply = reply;
        s.Status = status;
        s.Started = system_clock::time_point(microseconds(1796740914123456)); // 14:41:54 UTC
        s.Duration = nanoseconds(41'300);
        e.push_back({name, {kind, 1, address}, s, statusText});
    };
    add("identity", ifUsb, 31, "čtení názvu modulu (5-8)", CmdReadIdentity, 1, {},
        {'D', 'I', 'O', '3'});
    e.back().step.RequestX = 0x5A; // the identity's X travels both ways
    e.back().step.X = 0xC3;
    add("register read", ifLan, 1, "čtení registru 62 (rychlost) = 4 (9600 Bd)", CmdReadRegister, 0,
        {62, 62, 0, 0}, {62, 62, 4, 4});
    add("register write", ifCom, 255, "zápis registru 63 (adresa) = 7", CmdWriteRegister, 0,
        {63, 63, 7, 7}, {63, 63, 7, 7});
    add("mismatch", ifIsa, 2, "kontrola registru 33 (negace DIN0-7) = 255 (přečteno 254)",
        CmdReadRegister, 0, {33, 33, 0, 0}, {33, 33, 254, 254});
    e.back().step.Mismatch = true;
    add("inputs", ifPci, 3, "čtení vstupů = 0x0000A5F0", CmdReadInputs, SubChannels, {},
        {0xF0, 0xA5, 0, 0});
    add("outputs", ifLan, 4, "zápis výstupů = 0x80000001", CmdWriteOutputs, SubChannels,
        {1, 0, 0, 0x80}, {1, 0, 0, 0x80});
    add("status read", ifLan, 5, "čtení status registru = 0x00000003", CmdReadStatus, 0, {},
        {3, 0, 0, 0});
    add("status clear", ifLan, 6, "nulování status registru", CmdClearStatus, 0, {}, {}, 0, "OK");
    add("failed", ifCom, 7, "čtení vstupů", CmdReadInputs, SubChannels, {}, {}, 5,
        "modul neodpovídá (vypršel časový limit)");
    add("odd driver text", ifLan, 8, "čtení vstupů", CmdReadInputs, SubChannels, {}, {}, 42,
        "ovladač: \"chyba\", kód 42\r\nkonec");
    add("quotes alone", ifLan, 9, "čtení vstupů", CmdReadInputs, SubChannels, {}, {}, 43,
        "odpověď \"NAK\"");
    return e;
}

std::string Line(TTraceFormat format, const Exchange &e)
{
    TTraceClock clock;
    std::string line;
    AppendTraceLine(line, format, clock, e.link, e.step, e.statusText);
    return line;
}

std::vector<std::string> Words(const std::string &text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::vector<std::string> HexWords(uint8_t x, const std::array<uint8_t, 4> &d)
{
    std::vector<std::string> words;
    for (uint8_t b : {x, d[0], d[1], d[2], d[3]}) {
        char text[3];
        std::snprintf(text, sizeof text, "%02X", b);
        words.push_back(text);
    }
    return words;
}

std::string OneLine(std::string text)
{
    for (char &c : text)
        c = (c == '\r' || c == '\n') ? ' ' : c;
    return text;
}

// RFC 4180 records; a record ends at a line break outside quotes.
std::vector<std::vector<std::string>> ParseCsv(const std::string &text)
{
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            records.back().back() += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            records.back().emplace_back();
        else if (!quoted && c == '\n')
            records.emplace_back(1);
        else
            records.back().back() += c;
    }
    records.pop_back(); // after the last line break
    return records;
}

// What reached the file itself, past the stream's buffer.
std::string OnDisk(std::FILE *file)
{
    std::string text(1 << 20, '\0');
    const ssize_t n = ::pread(::fileno(file), text.data(), text.size(), 0);
    text.resize(std::size_t(std::max<ssize_t>(n, 0)));
    return text;
}

// Central European time, without depending on installed zone data.
class Trace : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (const char *tz = std::getenv("TZ"))
            zone_ = tz;
        ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        ::tzset();
    }
    void TearDown() override
    {
        zone_ ? ::setenv("TZ", zone_->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }
    std::optional<std::string> zone_;
};

TEST_F(Trace, TextLinePutsEachFieldOfEveryKindOfExchangeInItsColumn)
{
    std::size_t columns[3] = {};
    for (const Exchange &e : Exchanges()) {
        SCOPED_TRACE(e.name);
        const std::string line = Line(TTraceFormat::Text, e);
        ASSERT_EQ(line.find('\n'), line.size() - 1);
        const std::size_t to = line.find("→"), from = line.find("←");
        ASSERT_LT(to, from);
        const char *const interfaces[] = {"com", "isa", "pci", "usb", "lan"};
        EXPECT_EQ(
            Words(line.substr(0, to)),
            (std::vector<std::string>{"2026-12-08", "15:41:54.123456", "0.041", "ms",
                                      interfaces[e.link.Kind], std::to_string(e.link.Address)}));
        auto sent = HexWords(e.step.RequestX, e.step.Request);
        sent.insert(sent.begin(),
                    {"→", std::to_string(e.step.Cmd) + "/" + std::to_string(e.step.Sub)});
        EXPECT_EQ(Words(line.substr(to, from - to)), sent);
        auto answer = HexWords(e.step.X, e.step.Reply);
        answer.insert(answer.begin(), "←");
        answer.push_back(std::to_string(e.step.Status));
        const auto tail = Words(line.substr(from));
        EXPECT_EQ(std::vector<std::string>(tail.begin(), tail.begin() + 7), answer);
        const std::size_t meaning = line.size() - 1 - e.step.What.size();
        EXPECT_EQ(line.substr(meaning), e.step.What + "\n");
        EXPECT_NE(line.find(OneLine(e.statusText), from), std::string::npos);

        // Aligned in columns (characters, not bytes) down the trace; the
        // meaning wherever the status text is short.
        const std::size_t at[3] = {Utf8Length(line.substr(0, to)), Utf8Length(line.substr(0, from)),
                                   Utf8Length(line.substr(0, meaning))};
        for (int i = 0; i < 3; ++i) {
            if (columns[i] == 0)
                columns[i] = at[i];
            if (i < 2 || e.step.Status == 0) {
                EXPECT_EQ(at[i], columns[i]) << "field " << i;
            }
        }
    }
}

TEST_F(Trace, CsvFileParsesBackToTheExchangesWithTextsIntact)
{
    std::FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const auto exchanges = Exchanges();
    {
        TTrace trace(file, TTraceFormat::Csv);
        for (const Exchange &e : exchanges)
            trace.Exchange(e.link, e.step, e.statusText);
    }
    const std::string text = OnDisk(file);
    std::fclose(file);

    const auto records = ParseCsv(text);
    ASSERT_EQ(records.size(), exchanges.size() + 1);
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < records[0].size(); ++i)
        column[records[0][i]] = i;
    ASSERT_EQ(column.size(), 20u) << "header names repeat";
    for (std::size_t r = 0; r < exchanges.size(); ++r) {
        const TModuleStep &s = exchanges[r].step;
        SCOPED_TRACE(exchanges[r].name);
        ASSERT_EQ(records[r + 1].size(), column.size());
        const auto field = [&](const std::string &name) { return records[r + 1][column.at(name)]; };
        EXPECT_EQ(field("time"), "2026-12-08 15:41:54.123456");
        EXPECT_EQ(field("status_text"), OneLine(exchanges[r].statusText));
        EXPECT_EQ(field("meaning"), s.What);
        EXPECT_EQ(field("mismatch"), s.Mismatch ? "1" : "0");
        EXPECT_EQ(field("address") + " " + field("cmd") + " " + field("sub") + " " +
                      field("status"),
                  std::to_string(exchanges[r].link.Address) + " " + std::to_string(s.Cmd) + " " +
                      std::to_string(s.Sub) + " " + std::to_string(s.Status));
        for (int i = 0; i < 5; ++i) {
            const std::string d = i < 4 ? "d" + std::to_string(i) : "x";
            EXPECT_EQ(field("request_" + d), std::to_string(i < 4 ? s.Request[i] : s.RequestX));
            EXPECT_EQ(field("reply_" + d), std::to_string(i < 4 ? s.Reply[i] : s.X));
        }
    }
}

TEST_F(Trace, TimeKeepsMicrosecondsAndFollowsEverySecondChangeDespiteTheCache)
{
    TTraceClock clock;
    const auto at = [&](int64_t us) {
        char text[TTraceClock::Width];
        clock.Format(system_clock::time_point(microseconds(us)), text);
        return std::string(text, sizeof text);
    };
    const int64_t newYear = 1798758000'000000; // 2027-01-01 00:00:00 CET
    EXPECT_EQ(at(newYear - 1000001), "2026-12-31 23:59:58.999999");
    EXPECT_EQ(at(newYear - 1000000), "2026-12-31 23:59:59.000000");
    EXPECT_EQ(at(newYear - 1), "2026-12-31 23:59:59.999999");
    EXPECT_EQ(at(newYear), "2027-01-01 00:00:00.000000");
    EXPECT_EQ(at(newYear + 7), "2027-01-01 00:00:00.000007");
    // The system clock set back.
    EXPECT_EQ(at(newYear - 1000000 + 420), "2026-12-31 23:59:59.000420");
    // Summer time: an hour more than the winter offset.
    EXPECT_EQ(at(1780000000'000001), "2026-05-28 22:26:40.000001");
}

TEST_F(Trace, DurationRoundsToTheMicrosecondAndCarriesIntoMilliseconds)
{
    Exchange e = Exchanges()[1];
    const std::pair<int64_t, const char *> cases[] = {
        {0, "0.000"},
        {499, "0.000"},
        {500, "0.001"},
        {41'499, "0.041"},
        {999'500, "1.000"},
        {12'345'678, "12.346"},
        {999'999'600, "1000.000"},
        {3'600'000'000'000, "3600000.000"},
    };
    for (const auto &[ns, text] : cases) {
        e.step.Duration = nanoseconds(ns);
        EXPECT_EQ(ParseCsv(Line(TTraceFormat::Csv, e))[0][1], text) << ns << " ns";
        EXPECT_EQ(Words(Line(TTraceFormat::Text, e))[2], text) << ns << " ns";
    }
}

// Into a file, lines gather in blocks (a long run neither writes each line
// nor holds them all); on a terminal each shows at once, as a person
// watches it, whatever buffering the tool left on the stream.
TEST_F(Trace, FileIsWrittenInBlocksButATerminalSeesEachLineAtOnce)
{
    const Exchange e = Exchanges()[4];
    const std::string line = Line(TTraceFormat::Text, e);
    std::FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        TTrace trace(file, TTraceFormat::Text);
        trace.Exchange(e.link, e.step, e.statusText);
        EXPECT_EQ(OnDisk(file), "");
        trace.Flush();
        EXPECT_EQ(OnDisk(file), line);
        std::string all = line;
        while (all.size() < 3 * TTrace::BlockSize) {
            trace.Exchange(e.link, e.step, e.statusText);
            all += line;
        }
        const std::string written = OnDisk(file);
        EXPECT_GE(written.size(), 2 * TTrace::BlockSize);
        EXPECT_EQ(written, all.substr(0, written.size()));
        trace.Flush();
        EXPECT_EQ(OnDisk(file), all);
    }
    std::fclose(file);

    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    std::FILE *terminal = ::fdopen(slave, "w");
    ASSERT_NE(terminal, nullptr);
    std::setvbuf(terminal, nullptr, _IOFBF, 4096);
    {
        TTrace trace(terminal, TTraceFormat::Text);
        trace.Exchange(e.link, e.step, e.statusText);
        pollfd ready{master, POLLIN, 0};
        ASSERT_EQ(::poll(&ready, 1, 2000), 1) << "nothing reached the terminal";
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        EXPECT_NE(std::string(buf, std::size_t(std::max<ssize_t>(n, 0))).find(e.step.What),
                  std::string::npos);
    }
    std::fclose(terminal);
    ::close(master);
}

} // namespace
