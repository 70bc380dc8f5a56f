// korvalctl's commands run in-process against the fake driver (the USB
// kind, module address 7), which fails or answers wrongly at exactly the
// exchange a test scripts.
#pragma once

#include "FakeLoader.h"
#include "Korvalctl.h"
#include "fake_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fakecli
{

namespace fs = std::filesystem;

const fs::path Fakes = FAKES_DIR;

class FakeCommands : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Held across the runs, so the fake's state outlives each run's
        // DrvDone and the test can set it up beforehand.
        keep = fakeload::Load(Fakes / "full" / fakeload::FileName("QUSB1417.DLL"));
        ASSERT_NE(keep, nullptr);
        fake = fakeload::State(keep);
        ASSERT_NE(fake, nullptr);
        Reset();
    }
    void Reset()
    {
        *fake = fake_state{};
        fake->init_handle = 0x417;
    }
    void TearDown() override
    {
        if (keep != nullptr)
            fakeload::Release(keep);
        if (other != nullptr)
            fakeload::Release(other);
    }
    // The fake of another interface kind, fresh.
    fake_state *Hold(const char *windowsName)
    {
        other = fakeload::Load(Fakes / "full" / fakeload::FileName(windowsName));
        fake_state *state = other != nullptr ? fakeload::State(other) : nullptr;
        if (state != nullptr) {
            *state = fake_state{};
            state->init_handle = 0x417;
        }
        return state;
    }

    int Invoke(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"korvalctl", "--settings", (Fakes / "none.ini").string(), "-i",
                                   "usb", "-a", "7"});
        std::vector<const char *> argv;
        for (const std::string &a : args)
            argv.push_back(a.c_str());
        char *outText = nullptr, *errText = nullptr;
        std::size_t outSize = 0, errSize = 0;
        std::FILE *o = ::open_memstream(&outText, &outSize);
        std::FILE *e = ::open_memstream(&errText, &errSize);
        TCliEnvironment env = environment;
        env.ProgramDirectory = Fakes / "full";
        env.Out = o;
        env.Err = e;
        const int exit = RunKorvalctl(int(argv.size()), argv.data(), env);
        std::fclose(o);
        std::fclose(e);
        out.assign(outText, outSize);
        err.assign(errText, errSize);
        std::free(outText);
        std::free(errText);
        return exit;
    }

    // The identity's three answers, then `replies`.
    void Script(const std::vector<fake_reply> &replies)
    {
        std::vector<fake_reply> all(3, fake_reply{0, 0, 0, {'A', 'B', 'C', 'D'}});
        all.insert(all.end(), replies.begin(), replies.end());
        fake->script_len = int32_t(all.size());
        for (std::size_t i = 0; i < all.size(); ++i)
            fake->script[i] = all[i];
        // Past the script every exchange fails, so a step too many shows.
        fake->send_status = 9;
    }
    bool DoneLast() const
    {
        const std::string log = fake->log;
        return log.size() >= 4 && log.compare(log.size() - 4, 4, "Done") == 0;
    }

    // What a run gets besides its streams: no signal handlers of its own
    // unless a test asks.
    TCliEnvironment environment{{}, stdout, stderr, false, {}, {}};
    fakeload::Handle keep = nullptr, other = nullptr;
    fake_state *fake = nullptr;
    std::string out, err;
};

} // namespace fakecli
