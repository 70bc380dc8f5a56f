#include "CmdInfo.h"

#include "Text.h"

namespace cli
{

int CmdInfo(TSession &s)
{
    if (!s.Connect())
        return ExitModule;
    const TData &d = s.Data;
    if (s.Line().Json) {
        Json j;
        j["module"] = d.ModuleName;
        j["address"] = d.Address;
        j["baud_rate"] = d.BaudRate;
        j["baud_code"] = s.BaudCode;
        j["interface"] = s.InterfaceJson();
        s.Print(j);
        return ExitOk;
    }
    s.Out("Modul      " + d.ModuleName + "\n" + "Adresa     " + std::to_string(d.Address) + "\n" +
          "Rychlost   " + std::to_string(d.BaudRate) + " Bd\n" + "Rozhraní   " +
          s.InterfaceText() + "\n");
    return ExitOk;
}

int CmdUse(TSession &s)
{
    const SettingsFiles files = s.Files();
    if (!s.SaveSettings(files))
        return ExitModule;
    const TData &d = s.Data;
    if (s.Line().Json) {
        Json j;
        j["settings_file"] = files.file.string();
        j["interface"] = s.InterfaceJson();
        j["address"] = d.Address;
        j["baud_rate"] = d.BaudRate;
        s.Print(j);
        return ExitOk;
    }
    s.Out("Nastavení připojení zapsáno do " + files.file.string() + "\n" + Pad("Rozhraní", 11) +
          s.InterfaceText() + "\n" + Pad("Adresa", 11) + std::to_string(d.Address) + "\n" +
          Pad("Rychlost", 11) + std::to_string(d.BaudRate) + " Bd\n");
    return ExitOk;
}

} // namespace cli
