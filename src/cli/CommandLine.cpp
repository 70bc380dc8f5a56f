#include "CommandLine.h"

#include "ConfigText.h"
#include "Module.h"
#include "Scan.h"
#include "ScanText.h"
#include "Text.h"

#include <algorithm>
#include <optional>
#include <set>

#ifndef KORVAL_VERSION
#define KORVAL_VERSION "?"
#endif

namespace cli
{

void Usage(const std::string &message)
{
    throw TUsageError(message);
}

namespace
{

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<uint32_t> HexDigits(std::string_view text, std::size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        value = value << 4 | uint32_t(d);
    }
    return value;
}

} // namespace

uint32_t Number(std::string_view option, std::string_view text, uint32_t min, uint32_t max)
{
    const std::optional<uint64_t> value = DecimalDigits(text, 10);
    if (!value || *value < min || *value > max)
        Usage(std::string(option) + ": " + Quoted(text) + " není celé číslo " +
              std::to_string(min) + ".." + std::to_string(max) + ".");
    return uint32_t(*value);
}

uint32_t Rate(std::string_view option, std::string_view text)
{
    const std::optional<uint64_t> value = DecimalDigits(text, 10);
    for (uint8_t code = 0; value && code < BaudCodeCount; ++code) {
        if (BaudCodeToRate(code) == *value)
            return uint32_t(*value);
    }
    Usage(std::string(option) + ": " + Quoted(text) +
          " není podporovaná rychlost (600 1200 2400 4800 9600 19200 38400 57600 115200).");
}

// A 32-bit word, always written as hex with "0x".
uint32_t HexWordValue(std::string_view option, std::string_view text)
{
    std::optional<uint32_t> value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        value = HexDigits(text.substr(2), 8);
    if (!value)
        Usage(std::string(option) + ": " + Quoted(text) +
              " není 32bitové slovo v šestnáctkové soustavě (0x00000000..0xFFFFFFFF).");
    return *value;
}

// The ISA base as the connection dialog takes it: three hex digits, with
// "0x" or a trailing "h" accepted.
uint16_t IsaBase(std::string_view text)
{
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    else if (!digits.empty() && (digits.back() == 'h' || digits.back() == 'H'))
        digits.remove_suffix(1);
    const std::optional<uint32_t> value = HexDigits(digits, 3);
    if (!value)
        Usage("--base: " + Quoted(text) +
              " není bázová adresa 000h..FFFh (zadejte např. 300, 0x300 nebo 300h).");
    return uint16_t(*value);
}

bool IsIpv4(std::string_view text)
{
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(
            start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        const std::optional<uint64_t> value = DecimalDigits(part, 3);
        if (!value || *value > 255)
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return parts == 4;
}

// "0x0000000F", "0,3,5-7" or "none".
uint32_t OutputsValue(std::string_view text)
{
    if (text == "none")
        return 0;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return HexWordValue("outputs", text);
    const std::optional<std::vector<bool>> channels = NumberRanges(text, 31);
    if (!channels)
        Usage("outputs: " + Quoted(text) +
              " není slovo 0x00000000..0xFFFFFFFF, seznam kanálů 0..31 (např. 0,3,5-7) ani "
              "none.");
    uint32_t word = 0;
    for (uint32_t c = 0; c < 32; ++c)
        word |= uint32_t((*channels)[c]) << c;
    return word;
}

std::vector<uint8_t> AddressList(std::string_view option, std::string_view text)
{
    const std::optional<std::vector<uint8_t>> addresses = ParseAddressList(text);
    if (!addresses)
        Usage(std::string(option) + ": " + AddressListError(text));
    return *addresses;
}

std::vector<uint8_t> BaudCodeList(std::string_view option, std::string_view text)
{
    std::vector<uint8_t> codes;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const uint8_t code = RateToBaudCode(
            Rate(option, text.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                            : comma - start)));
        if (std::find(codes.begin(), codes.end(), code) == codes.end())
            codes.push_back(code);
        if (comma == std::string_view::npos)
            return codes;
        start = comma + 1;
    }
}

std::string MillisecondsText(std::chrono::microseconds us)
{
    std::string text = std::to_string(us.count() / 1000);
    if (us.count() % 1000 != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", int(us.count() % 1000));
        text += fraction;
        text.erase(text.find_last_not_of('0') + 1);
    }
    return text;
}

std::chrono::microseconds Milliseconds(std::string_view option, std::string_view text,
                                       std::chrono::microseconds min, std::chrono::microseconds max)
{
    const std::size_t point = text.find_first_of(".,");
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    std::optional<uint64_t> ms = DecimalDigits(whole, 7);
    std::optional<uint64_t> micro = uint64_t(0);
    if (point != std::string_view::npos)
        micro = DecimalDigits(fraction, 3);
    for (std::size_t n = fraction.size(); micro && n < 3; ++n)
        *micro *= 10;
    const std::chrono::microseconds value{ms && micro ? int64_t(*ms * 1000 + *micro) : -1};
    if (value < min || value > max)
        Usage(std::string(option) + ": " + Quoted(text) + " není čas v ms " +
              MillisecondsText(min) + ".." + MillisecondsText(max) +
              " (nejvýše tři desetinná místa, např. 2 nebo 0.5).");
    return value;
}

// ---- config set -----------------------------------------------------------

std::vector<TChange> ParseChanges(const std::vector<std::string> &items)
{
    const std::string keys = " Klíče: address=0..255, baud=RATE, din-negation.C=0|1, "
                             "dout-negation.C=0|1, dout-init.C=0|1 (C = kanál 0..31), "
                             "din-negation=0xHEX32, dout-negation=0xHEX32, dout-init=0xHEX32.";
    std::vector<TChange> changes;
    for (const std::string &item : items) {
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos)
            Usage("config set: " + Quoted(item) + " nemá tvar KLÍČ=HODNOTA." + keys);
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        const std::string subject = "config set " + key;
        if (key == "address") {
            changes.push_back(
                {offsetof(TModuleConfig, Address), 0xFF, uint8_t(Number(subject, value, 0, 255))});
            continue;
        }
        if (key == "baud") {
            changes.push_back(
                {offsetof(TModuleConfig, BaudCode), 0xFF, RateToBaudCode(Rate(subject, value))});
            continue;
        }
        const std::size_t dot = key.find('.');
        const std::string name = key.substr(0, dot);
        const TChannelSetting *setting = nullptr;
        for (const TChannelSetting &s : ChannelSettings) {
            if (name == s.Key)
                setting = &s;
        }
        if (setting == nullptr)
            Usage("config set: neznámý klíč " + Quoted(key) + "." + keys);
        if (dot == std::string::npos) {
            const uint32_t word = HexWordValue(subject, value);
            for (std::size_t n = 0; n < 4; ++n)
                changes.push_back({setting->Byte + n, 0xFF, uint8_t(word >> (8 * n))});
            continue;
        }
        const uint32_t channel =
            Number("config set " + name + ".C (kanál)", key.substr(dot + 1), 0, 31);
        const uint32_t bit = Number(subject, value, 0, 1);
        const uint8_t mask = uint8_t(1u << (channel % 8));
        changes.push_back({setting->Byte + channel / 8, mask, uint8_t(bit != 0 ? mask : 0)});
    }
    return changes;
}

namespace
{

// CLI11's help in Czech: an argument by its Czech placeholder (SOUBOR, not
// the name the code binds it by), and the columns counted in characters,
// not bytes, so "POVINNÉ" does not shift the descriptions.
class TCzechFormatter : public CLI::Formatter
{
  public:
    std::string make_option_name(const CLI::Option *opt, bool positional) const override
    {
        return positional ? opt->get_type_name() : Formatter::make_option_name(opt, false);
    }
    std::string make_option_opts(const CLI::Option *opt) const override
    {
        if (!opt->get_positional())
            return Formatter::make_option_opts(opt);
        std::string text;
        if (opt->get_expected_max() == CLI::detail::expected_max_vector_size)
            text += " ...";
        if (opt->get_required())
            text += " " + get_label("REQUIRED");
        return text;
    }
    std::string make_option(const CLI::Option *opt, bool positional) const override
    {
        const std::string name = "  " + make_option_name(opt, positional) + make_option_opts(opt);
        const std::size_t width = Utf8Length(name);
        std::string text = name;
        const std::string indent(column_width_, ' ');
        if (width >= column_width_)
            text += "\n" + indent;
        else
            text += std::string(column_width_ - width, ' ');
        for (const char c : opt->get_description()) {
            text += c;
            if (c == '\n')
                text += indent;
        }
        return text + "\n";
    }
};

const char *const MainFooter = R"(Příklady:
  korvalctl -i lan --ip 127.0.0.1 --udp-port 5000 -a 1 info
  korvalctl config set dout-init.0=1 din-negation.3=0 --dry-run
  korvalctl inputs --watch --json | jq .inputs

Hodnoty, které nejsou zadané, se berou ze souboru nastavení programu
(nebo ze souboru --settings). Každý příkaz má vlastní nápovědu:
korvalctl PŘÍKAZ --help.

Návratové kódy:
  0    úspěch
  1    chyba ovladače nebo modulu (text ovladače a krok na stderr),
       soubor nastavení nelze zapsat, nebo scan --use našel víc
       modulů nebo kolizi (soubor nastavení nezměněn)
  2    chybné použití; nic nebylo odesláno do modulu
  3    zpětné čtení registru nesouhlasí se zapsanou hodnotou (config set,
       restore, clone); u config diff: modul se od souboru liší;
       test: některý kanál nevyhovuje
  4    scan: žádný modul neodpověděl
  130  Ctrl+C přerušil práci s koncem (walk --count, config set/show/restore/
       clone, scan, test)

Ctrl+C, SIGTERM i SIGHUP (zavřený terminál, spadlé spojení SSH) doběhnou
výměnu, která právě probíhá; walk a test pak vypnou všechny výstupy.)";

} // namespace

TCommands BuildCommandLine(CLI::App &app, TCommandLine &cl)
{
    // Before any command is added: each takes its parent's formatter.
    auto formatter = std::make_shared<TCzechFormatter>();
    app.formatter(formatter);
    formatter->label("Usage", "Použití");
    formatter->label("OPTIONS", "VOLBY");
    formatter->label("SUBCOMMAND", "PŘÍKAZ");
    formatter->label("SUBCOMMANDS", "PŘÍKAZY");
    formatter->label("Positionals", "Argumenty");
    formatter->label("REQUIRED", "POVINNÉ");
    formatter->column_width(34);
    app.set_help_flag("-h,--help", "vypíše nápovědu a skončí");
    app.set_version_flag("--version", std::string("korvalctl ") + KORVAL_VERSION,
                         "vypíše verzi a skončí");
    app.option_defaults()->group("Volby")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.require_subcommand(1);
    // Global options are taken after the command too.
    app.fallthrough();
    app.footer(MainFooter);

    const char *connection = "Připojení (co chybí, platí ze souboru nastavení)";
    app.add_option("-i,--interface", cl.Interface, "rozhraní")
        ->type_name("com|isa|pci|usb|lan")
        ->group(connection);
    app.add_option("--port", cl.Port, "číslo portu COMx, 1..255")
        ->type_name("N")
        ->group(connection);
    app.add_option("--base", cl.Base, "bázová adresa karty ISA, 000h..FFFh (300, 0x300, 300h)")
        ->type_name("HEX")
        ->group(connection);
    app.add_option("--ip", cl.Ip, "adresa IPv4 konvertoru LAN")
        ->type_name("ADRESA")
        ->group(connection);
    app.add_option("--udp-port", cl.UdpPort, "UDP port konvertoru LAN, 1..65535")
        ->type_name("N")
        ->group(connection);
    app.add_option("--timeout", cl.Timeout, "UDP timeout konvertoru LAN v ms, 1000..65535")
        ->type_name("MS")
        ->group(connection);
    app.add_option("-a,--address", cl.Address, "adresa modulu, 0..255")
        ->type_name("N")
        ->group(connection);
    app.add_option("-b,--baud", cl.Baud,
                   "rychlost v Bd: 600 1200 2400 4800 9600 19200 38400 57600 115200")
        ->type_name("RYCHLOST")
        ->group(connection);
    app.add_option("--settings", cl.SettingsPath,
                   "jiný soubor nastavení ke čtení (a k zápisu příkazem use)")
        ->type_name("SOUBOR")
        ->group(connection);
    const char *output = "Výstup";
    app.add_flag("--json", cl.Json, "výsledky jako JSON (u --watch a walk jeden objekt na řádek)")
        ->group(output);
    app.add_option("--trace", cl.TracePath,
                   "každou výměnu s modulem zapíše do souboru (- = stdout)")
        ->type_name("SOUBOR|-")
        ->group(output);
    app.add_option("--trace-format", cl.TraceFormat, "formát záznamu: text (výchozí) nebo csv")
        ->type_name("text|csv")
        ->group(output);

    TCommands c{};
    const char *commands = "Příkazy";
    auto command = [&](CLI::App *parent, const char *name, const char *description,
                       const char *footer) {
        CLI::App *sub = parent->add_subcommand(name, description);
        sub->group(commands);
        sub->footer(std::string(footer) +
                    "\n\nVolby připojení a výstupu (-i, -a, -b, --json, ...): korvalctl --help");
        return sub;
    };
    c.Info =
        command(&app, "info", "připojí se a vypíše identitu modulu, adresu, rychlost a rozhraní",
                "Příklady:\n  korvalctl info\n  korvalctl -i usb -a 1 info --json");
    c.Config = command(
        &app, "config", "konfigurační registry modulu (show, set, save, diff, restore, clone)",
        "Příklady:\n  korvalctl config show\n  korvalctl config set address=5 baud=19200");
    c.Config->require_subcommand(1);
    c.Show = command(c.Config, "show",
                     "přečte všech 14 konfiguračních registrů: adresa, rychlost, negace a "
                     "počáteční stav po kanálech",
                     "Příklady:\n  korvalctl config show\n  korvalctl config show --json");
    c.Set = command(c.Config, "set",
                    "změní zadaná nastavení; zapíše jen registry, jejichž hodnota se mění, se "
                    "zpětným čtením",
                    "Příklady:\n"
                    "  korvalctl config set dout-init.0=1 dout-init.1=1\n"
                    "  korvalctl config set din-negation=0x0000FFFF --dry-run\n"
                    "  korvalctl config set address=5 baud=19200\n\n"
                    "Klíče: address=0..255, baud=RYCHLOST, din-negation.C=0|1,\n"
                    "dout-negation.C=0|1, dout-init.C=0|1 (C = kanál 0..31),\n"
                    "din-negation=0xHEX32, dout-negation=0xHEX32, dout-init=0xHEX32.\n"
                    "Adresa a rychlost platí až po restartu modulu.");
    c.Set->add_option("SETTING", cl.Items, "nastavení ke změně, jedno nebo více")
        ->type_name("KLÍČ=HODNOTA")
        ->required();
    c.Set->add_flag("--dry-run", cl.DryRun, "jen vypíše, co by se zapsalo; nic nezapíše");
    c.Inputs = command(&app, "inputs", "přečte vstupy DIN0..31",
                       "Příklady:\n  korvalctl inputs\n  korvalctl inputs --watch --interval 100\n"
                       "  korvalctl inputs --watch --json");
    c.Inputs->add_flag("--watch", cl.Watch, "čte znovu a vypíše řádek při každé změně, do Ctrl+C");
    c.Inputs->add_option("--interval", cl.Interval, "perioda čtení v ms, 10..60000 (výchozí 200)")
        ->type_name("MS");
    c.Outputs = command(&app, "outputs", "zapíše výstupy DOUT0..31",
                        "Příklady:\n  korvalctl outputs 0x0000000F\n  korvalctl outputs 0,3,5-7\n"
                        "  korvalctl outputs none");
    c.Outputs->add_option("VALUE", cl.OutputsText, "0xHEX32, seznam kanálů (0,3,5-7) nebo none")
        ->type_name("HODNOTA")
        ->required();
    c.Outputs->add_flag("--dry-run", cl.DryRun, "jen vypíše, co by se zapsalo; nic neodešle");
    c.Walk = command(&app, "walk",
                     "test „Běžící 1“: DOUT0, DOUT1, ... DOUT31 postupně; na konci (i po Ctrl+C) "
                     "vypne všechny výstupy",
                     "Příklady:\n  korvalctl walk\n  korvalctl walk --interval 100 --count 32");
    c.Walk
        ->add_option("--interval", cl.Interval,
                     "perioda kroků v ms (od začátku kroku k začátku dalšího), 10..60000 "
                     "(výchozí 500)")
        ->type_name("MS");
    c.Walk->add_option("--count", cl.Count, "počet kroků, 1..1000000000 (výchozí do Ctrl+C)")
        ->type_name("N");
    c.Status = command(&app, "status", "přečte status registr a vypíše jeho bity",
                       "Příklady:\n  korvalctl status\n  korvalctl status --clear --json");
    c.Status->add_flag("--clear", cl.Clear, "status registr vynuluje a přečte znovu");
    c.Scan =
        command(&app, "scan",
                "hledá moduly: zkouší adresy po rychlostech a vypíše, kdo odpověděl; modul nemění",
                "Příklady:\n"
                "  korvalctl scan\n"
                "  korvalctl scan --addresses 1-32,100 --rates 9600,19200 --first\n"
                "  korvalctl scan --first --use\n"
                "  korvalctl scan --json --csv nalezene.csv\n\n"
                "Bez voleb adresy 0..255 při všech devíti rychlostech v pořadí 9600 19200\n"
                "115200 57600 38400 4800 2400 1200 600. -a N a -b RYCHLOST na příkazovém řádku\n"
                "omezí hledání na jednu adresu a jednu rychlost (jako --addresses N, --rates\n"
                "RYCHLOST); adresa a rychlost ze souboru nastavení se nepoužijí.\n"
                "Na terminálu ukazuje na stderr průběh; Ctrl+C hledání ukončí a vypíše,\n"
                "co se našlo. Návratový kód 4: žádný modul neodpověděl.");
    c.Scan
        ->add_option("--addresses", cl.Addresses,
                     "adresy ke zkoušení, čísla a rozsahy 0..255 (výchozí 0-255)")
        ->type_name("SEZNAM");
    c.Scan
        ->add_option(
            "--rates", cl.Rates,
            "rychlosti ke zkoušení v zadaném pořadí, např. 9600,19200 (výchozí všech devět)")
        ->type_name("SEZNAM");
    c.Scan
        ->add_option("--margin", cl.Margin,
                     std::string("rezerva časového limitu pokusu v ms, 0.5..1000 (výchozí ") +
                         MillisecondsText(DefaultScanMargin) +
                         "); převodníku sériové linky na USB dejte víc")
        ->type_name("MS");
    c.Scan
        ->add_option("--guard", cl.Guard,
                     std::string("ohlásí prázdnou adresu, jakmile se první bajt odpovědi zpozdí o "
                                 "tolik ms, 0..65.535, 0 = vypnuto (výchozí ") +
                         MillisecondsText(DefaultScanGuard) +
                         ", u COM 0); ovladač bez této schopnosti čeká celý časový limit")
        ->type_name("MS");
    c.Scan
        ->add_option("--late-window", cl.LateWindow,
                     std::string("jak dlouho po časovém limitu posledního pokusu každé rychlosti "
                                 "ještě čeká na opožděnou odpověď, v ms 0..10000 (výchozí ") +
                         MillisecondsText(DefaultLateAllowance) +
                         "); adresu, která odpověděla pozdě, zkusí znovu s delším limitem")
        ->type_name("MS");
    c.Scan
        ->add_option("--retries", cl.Retries,
                     "další pokusy po poškozené odpovědi, 0..10 (výchozí " +
                         std::to_string(DefaultScanRetries) + ")")
        ->type_name("N");
    c.Scan->add_flag("--first", cl.First, "skončí u prvního nalezeného modulu");
    c.Scan->add_option("--csv", cl.CsvPath, "nálezy zapíše i do souboru CSV")->type_name("SOUBOR");
    c.Scan->add_flag("--use", cl.UseFound,
                     "najde-li právě jeden modul (bez kolize), zapíše jeho adresu a rychlost "
                     "do souboru nastavení");
    c.Use = command(&app, "use",
                    "zapíše zadané připojení do souboru nastavení, aby se s ním připojil i program",
                    "Příklady:\n  korvalctl -i lan --ip 127.0.0.1 --udp-port 5000 use\n"
                    "  korvalctl -i com --port 3 -a 2 -b 19200 use");
    BuildProfileCommands(c, cl);
    // The help flags were made before the default group was set.
    for (CLI::App *a : {&app, c.Info, c.Config, c.Show, c.Set, c.Save, c.Diff, c.Restore, c.Clone,
                        c.Inputs, c.Outputs, c.Walk, c.Status, c.Use, c.Scan}) {
        if (CLI::Option *help = a->get_help_ptr(); help != nullptr)
            help->group("Volby");
    }
    app.get_option("--version")->group("Volby");
    return c;
}

// ---- configuration profiles ----------------------------------------------

void BuildProfileCommands(TCommands &c, TCommandLine &cl)
{
    auto command = [&](const char *name, const char *description, const std::string &footer) {
        CLI::App *sub = c.Config->add_subcommand(name, description);
        sub->group("Příkazy");
        sub->footer(footer +
                    "\n\nFormát souboru: docs/profile-format.md. Soubor se celý přečte a\n"
                    "zkontroluje dřív, než se cokoli odešle do modulu.\n\n"
                    "Volby připojení a výstupu (-i, -a, -b, --json, ...): korvalctl --help");
        sub->add_option("FILE", cl.ProfilePath,
                        std::string("soubor profilu (- = ") +
                            (std::string_view(name) == "save" ? "stdout)" : "stdin)"))
            ->type_name("SOUBOR")
            ->required();
        return sub;
    };
    c.Save = command("save",
                     "přečte identitu a všech 14 registrů a uloží je do souboru profilu "
                     "(přepíše ho)",
                     "Příklady:\n  korvalctl config save modul3.txt\n  korvalctl config save -");
    c.Diff = command("diff",
                     "porovná modul se souborem profilu po kanálech a po registrech; "
                     "návratový kód 3, když se liší",
                     "Příklady:\n  korvalctl config diff modul3.txt\n"
                     "  korvalctl config diff modul3.txt --json\n"
                     "  korvalctl config diff modul3.txt --with-address\n\n"
                     "Porovná to, co by zapsal config restore se stejnými volbami: 12 registrů\n"
                     "kanálů, s --with-address i adresu a rychlost. Bez ní se jiná adresa nebo\n"
                     "rychlost jen vypíše pro informaci.");
    c.Diff->add_flag("--with-address", cl.WithAddress,
                     "porovná i adresu a kód rychlosti (jako je zapíše restore --with-address)");
    c.Restore =
        command("restore",
                "zapíše ze souboru 12 registrů kanálů se zpětným čtením (adresu a rychlost jen s "
                "--with-address)",
                "Příklady:\n  korvalctl config restore modul3.txt --dry-run\n"
                "  korvalctl config restore modul3.txt\n"
                "  korvalctl -a 3 config restore modul3.txt --with-address\n\n"
                "Zápis končí u prvního registru, který selže nebo se zpětně přečte jinak.\n"
                "Ctrl+C zastaví zápis po zpětném čtení rozepsaného registru.");
    c.Restore->add_flag("--with-address", cl.WithAddress,
                        "zapíše i adresu a kód rychlosti ze souboru (platí po restartu modulu)");
    c.Restore->add_flag("--dry-run", cl.DryRun,
                        "jen přečte modul a vypíše, co by se zapsalo a co se liší; nic nezapíše");
    c.Clone = command(
        "clone", "zapíše profil (bez adresy a rychlosti) postupně do modulů na zadaných adresách",
        "Příklady:\n  korvalctl config clone vzor.txt --to 1-20\n"
        "  korvalctl -b 19200 config clone vzor.txt --to 4,7,9 --json\n\n"
        "Všechny moduly na jedné sběrnici (rozhraní a rychlost z voleb nebo ze souboru\n"
        "nastavení). Na každý modul řádek souhrnu: hotovo, nebo co selhalo. Návratový\n"
        "kód 0, když se povedly všechny; 3, když jediným druhem chyby bylo zpětné čtení,\n"
        "které nesouhlasí; jinak 1.");
    c.Clone->add_option("--to", cl.CloneTo, "adresy modulů, čísla a rozsahy 0..255 (např. 1-5,9)")
        ->type_name("SEZNAM")
        ->required();
}

namespace
{

// "config set": the command's words from below the program.
std::string CommandPath(const CLI::App &app, const CLI::App *level)
{
    std::string path;
    for (; level != nullptr && level != &app; level = level->get_parent())
        path = level->get_name() + (path.empty() ? "" : " ") + path;
    return path;
}

// An option by its name and its placeholder, an argument by its
// placeholder alone, as the help shows them.
std::string Placeholder(const CLI::Option *o)
{
    return o->get_positional() ? o->get_type_name() : o->get_name() + " " + o->get_type_name();
}

// The commands of `level`, those of config as "config show/set/...".
std::string CommandList(const CLI::App *level)
{
    std::string list;
    for (const CLI::App *sub : level->get_subcommands({})) {
        list += (list.empty() ? "" : ", ") + sub->get_name();
        std::string below;
        if (level->get_parent() == nullptr) {
            for (const CLI::App *leaf : sub->get_subcommands({}))
                below += (below.empty() ? " " : "/") + leaf->get_name();
        }
        list += below;
    }
    return list;
}

// An option whose value was left out takes the next word, the command: the
// missing value is then the fault, not the command.
std::optional<std::string> SwallowedCommand(const CLI::App &app)
{
    std::set<std::string> commands;
    for (const CLI::App *sub : app.get_subcommands({})) {
        commands.insert(sub->get_name());
        for (const CLI::App *leaf : sub->get_subcommands({}))
            commands.insert(leaf->get_name());
    }
    for (const CLI::App *level = &app; level != nullptr;
         level = level->get_subcommands().empty() ? nullptr : level->get_subcommands().front()) {
        for (const CLI::Option *o : level->get_options()) {
            if (o->get_positional() || o->get_expected_min() == 0 || o->count() == 0)
                continue;
            const std::string &value = o->results().back();
            if (commands.count(value) != 0)
                return "volba " + o->get_name() + ": chybí hodnota " + o->get_type_name() + " (" +
                       Quoted(value) + " je příkaz, ne hodnota).";
        }
    }
    return std::nullopt;
}

} // namespace

std::string ParseErrorText(CLI::App &app, const CLI::ParseError &e)
{
    const std::string what = e.what();
    CLI::App *level = &app;
    while (!level->get_subcommands().empty())
        level = level->get_subcommands().front();
    const std::string prefix = level == &app ? "" : CommandPath(app, level) + ": ";
    if (dynamic_cast<const CLI::RequiredError *>(&e) != nullptr) {
        // A command that takes commands (the program, config) got none: a
        // mistyped one is left over as an extra word.
        if (!level->get_subcommands({}).empty()) {
            if (const std::optional<std::string> swallowed = SwallowedCommand(app))
                return *swallowed;
            // A word a command does not take falls back to its parent.
            std::vector<std::string> extras = level->remaining();
            if (extras.empty())
                extras = app.remaining();
            if (!extras.empty())
                return prefix + "neznámý příkaz " + Quoted(extras.front()) + " (" +
                       CommandList(level) + ").";
            return prefix + "chybí příkaz (" + CommandList(level) + ").";
        }
        for (const CLI::Option *o : level->get_options()) {
            if (o->get_required() && o->count() == 0)
                return prefix + "chybí " + (o->get_positional() ? "" : "volba ") + Placeholder(o) +
                       " (" + o->get_description() + ").";
        }
    }
    if (dynamic_cast<const CLI::ExtrasError *>(&e) != nullptr) {
        const std::size_t colon = what.find(": ");
        return "neznámá volba nebo nadbytečný argument: " +
               (colon == std::string::npos ? what : what.substr(colon + 2)) + ".";
    }
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&e) != nullptr) {
        const std::size_t colon = what.find(':');
        return "volba " + (colon == std::string::npos ? what : what.substr(0, colon)) +
               " potřebuje hodnotu.";
    }
    // A switch given a value it cannot take: "Could not convert: --json = x".
    if (dynamic_cast<const CLI::ConversionError *>(&e) != nullptr) {
        const std::size_t colon = what.find(": "), eq = what.find(" = ");
        if (colon != std::string::npos && eq != std::string::npos && eq > colon)
            return what.substr(colon + 2, eq - colon - 2) + ": " + Quoted(what.substr(eq + 3)) +
                   " není hodnota přepínače; zadejte ho bez hodnoty.";
    }
    return prefix + "chybný příkazový řádek; správný tvar ukáže korvalctl " +
           (prefix.empty() ? "" : CommandPath(app, level) + " ") + "--help.";
}

void RefuseEmptyValues(const CLI::App &app)
{
    for (const CLI::App *level = &app; level != nullptr;
         level = level->get_subcommands().empty() ? nullptr : level->get_subcommands().front()) {
        for (const CLI::Option *o : level->get_options()) {
            if (o->get_expected_min() == 0 || o->count() == 0)
                continue;
            // The last value counts, and of a list each.
            const std::vector<std::string> &values = o->results();
            const bool empty = o->get_positional()
                                   ? std::any_of(values.begin(), values.end(),
                                                 [](const std::string &v) { return v.empty(); })
                                   : values.back().empty();
            if (!empty)
                continue;
            if (o->get_positional())
                Usage(CommandPath(app, level) + " " + o->get_type_name() +
                      ": prázdná hodnota není platná.");
            Usage(o->get_name() + ": prázdná hodnota není platná; zadejte " + o->get_type_name() +
                  ", nebo volbu vynechejte.");
        }
    }
}

// The outputs wired back to the inputs (a test fixture); see IoTest.h.
CLI::App *BuildTestCommand(CLI::App &app, TCommandLine &cl)
{
    CLI::App *test = app.add_subcommand(
        "test", "přejímací zkouška: výstupy propojené zpět na vstupy, výsledek po kanálech; "
                "na konci (i po chybě a Ctrl+C) vypne všechny výstupy");
    test->group("Příkazy");
    test->footer("Příklady:\n"
                 "  korvalctl test\n"
                 "  korvalctl test --interval 5 --report zkouska.html\n"
                 "  korvalctl test --report zkouska.html --tester Novák --serial 417-0815\n"
                 "  korvalctl test --json\n\n"
                 "Výstupy DOUTn musí být propojené se vstupy DINn (přípravek). Zapíše běžící 1,\n"
                 "běžící 0, vše zapnuto a vše vypnuto a po každém zápisu přečte vstupy.\n"
                 "Návratový kód 0: všechny kanály vyhovují, 3: některý nevyhovuje.\n\n"
                 "Volby připojení a výstupu (-i, -a, -b, --json, ...): korvalctl --help");
    test->add_option("--interval", cl.Interval,
                     "prodleva mezi zápisem výstupů a čtením vstupů v ms, 0..10000 (výchozí 0)")
        ->type_name("MS");
    test->add_option("--report", cl.ReportPath, "protokol o zkoušce jako stránka HTML")
        ->type_name("SOUBOR");
    test->add_option("--tester", cl.Tester, "do protokolu: kdo zkoušel")->type_name("JMÉNO");
    test->add_option("--serial", cl.Serial, "do protokolu: výrobní nebo inventární číslo modulu")
        ->type_name("ČÍSLO");
    test->add_option("--note", cl.Note, "do protokolu: poznámka")->type_name("POZNÁMKA");
    if (CLI::Option *help = test->get_help_ptr(); help != nullptr)
        help->group("Volby");
    return test;
}

} // namespace cli
