#include "IoTestText.h"

#include "Text.h"

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
               HexText(s.Written) + ", očekáváno " + std::to_string((s.Expected >> bit) & 1u) +
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

std::size_t FailingChannels(const TIoTestResult &r)
{
    std::size_t failing = 0;
    for (const TChannelVerdict &v : r.Channels)
        failing += v.Fault == TChannelFault::Pass || v.Fault == TChannelFault::Untested ? 0 : 1;
    return failing;
}

std::string ModuleVerdictText(const TIoTestResult &r)
{
    const std::size_t failing = FailingChannels(r);
    return VerdictText(r) + (failing == 0 ? std::string()
                                          : " (nevyhovuje kanálů: " + std::to_string(failing) +
                                                " z 32)");
}

std::string IoTestRunText(const TIoTestResult &r)
{
    return std::to_string(r.Steps.size()) + " z " + std::to_string(r.StepsPlanned) + " kroků, " +
           std::to_string(r.Exchanges) + " výměn, " +
           DecimalText(double(r.Duration.count()) / 1e9, 2) + " s";
}
