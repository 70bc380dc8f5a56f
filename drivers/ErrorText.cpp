// The texts of the Error entry, the same in all five libraries. Czech, as
// the program shows them; element-wise Windows-1250 on the way out.
#include "Driver.h"

#include "CodePage.h"
#include "q417drv.h"

#include <algorithm>
#include <string>

namespace drv {

namespace {

struct CodeText {
    int32_t code;
    const char *text;
};

constexpr CodeText Texts[] = {
    {Q417_OK, "V pořádku"},
    {Q417_E_HANDLE, "neplatný identifikátor spojení nebo spojení uzavřeno"},
    {Q417_E_PARAM, "neplatný parametr volání ovladače"},
    {Q417_E_OPEN, "port, kartu nebo převodník nelze otevřít"},
    {Q417_E_RATE, "rozhraní nepodporuje tuto přenosovou rychlost"},
    {Q417_E_TIMEOUT, "modul neodpovídá (vypršel časový limit)"},
    {Q417_E_CRC, "chyba CRC v odpovědi modulu"},
    {Q417_E_FRAME, "odpověď modulu není platný rámec"},
    {Q417_E_IO, "chyba čtení nebo zápisu na rozhraní"},
    {Q417_E_COMPOSE, "požadavek nelze sestavit"},
    {Q417_E_NOTLOADED, "ovladač není načten nebo chybný typ rozhraní"},
    {Q417_E_IPADDR, "neplatná IP adresa"},
    {Q417_E_BUSY, "spojení je již otevřeno"},
    {Q417_E_PORT_TAKEN, "sériový port používá jiný program"},
    {Q417_E_CONV_RATE, "převodník odmítl rychlost sběrnice"},
    {Q417_E_MOD_CMD, "modul nezná příkaz"},
    {Q417_E_MOD_REG, "modul nemá takový registr"},
    {Q417_E_MOD_VALUE, "modul hodnotu odmítl"},
    {Q417_E_MOD_COPY, "kopie hodnoty v požadavku se liší"},
};

constexpr const char *UnknownText = "neznámý chybový kód ovladače";

} // namespace

const char *ErrorText(int32_t code)
{
    for (const CodeText &t : Texts) {
        if (t.code == code)
            return t.text;
    }
    return UnknownText;
}

int32_t Error(int32_t code, int32_t *text)
{
    if (text == nullptr)
        return Q417_E_PARAM;
    const std::string bytes = Utf8ToCp1250(ErrorText(code));
    // Element 0 stays 0 and the last element is always the terminating 0.
    const std::size_t n = std::min<std::size_t>(bytes.size(), Q417_ARRAY_LEN - 2);
    std::fill(text, text + Q417_ARRAY_LEN, 0);
    for (std::size_t i = 0; i < n; ++i)
        text[i + 1] = static_cast<unsigned char>(bytes[i]);
    return Q417_OK;
}

} // namespace drv
