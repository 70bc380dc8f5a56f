// The acceptance test's results in words, the same in korvalctl's text
// and JSON, on the report page and in a window: a channel's verdict, what
// was seen on it, and the verdict on the module.
#pragma once

#include "IoTest.h"

#include <cstddef>
#include <string>

// Short Czech verdict of a channel: "v pořádku", "trvale 0", "sleduje DOUT5", ...
std::string FaultText(const TChannelVerdict &v);
// What was seen on the channel, one Czech sentence.
std::string SeenText(const TChannelVerdict &v, const TIoTestResult &r);
// "VYHOVUJE"; "NEVYHOVUJE" when a channel was seen wrong; otherwise
// "NEDOKONČENO" (the test or its last status read did not complete).
const char *VerdictText(const TIoTestResult &r);
// Channels seen wrong; an untested one is not among them.
std::size_t FailingChannels(const TIoTestResult &r);
// VerdictText, and how many channels fail when any do:
// "NEVYHOVUJE (nevyhovuje kanálů: 3 z 32)".
std::string ModuleVerdictText(const TIoTestResult &r);
// How far the test went and what it took: "66 z 66 kroků, 68 výměn, 1,73 s".
std::string IoTestRunText(const TIoTestResult &r);
