#include "Korvalctl.h"

#include "CliPlatform.h"
#include "CmdConfig.h"
#include "CmdInfo.h"
#include "CmdIo.h"
#include "CmdProfile.h"
#include "CmdScan.h"
#include "CmdTest.h"
#include "CommandLine.h"
#include "Platform.h"
#include "Qxxx417.h"
#include "Session.h"
#include "Text.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <string_view>

namespace
{

using namespace cli;

constexpr const char *NothingSent = "Nic nebylo odesláno do modulu.";

// Each command by its leaf name, and its parent's for those below config.
struct TCommandEntry {
    std::string_view Parent, Name;
    int (*Run)(TSession &);
};

constexpr TCommandEntry Commands[] = {
    {"", "scan", CmdScan},
    {"", "use", CmdUse},
    {"", "info", CmdInfo},
    {"", "test", CmdTest},
    {"config", "save", CmdConfigSave},
    {"config", "diff", CmdConfigDiff},
    {"config", "restore", CmdConfigRestore},
    {"config", "clone", CmdConfigClone},
    {"config", "show", CmdConfigShow},
    {"config", "set", CmdConfigSet},
    {"", "inputs", CmdInputs},
    {"", "outputs", CmdOutputs},
    {"", "walk", CmdWalk},
    {"", "status", CmdStatus},
};

// The checks every command shares, then the command, which checks its own
// arguments before it connects.
int Run(TSession &s, const TCommandLine &cl, const CLI::App &app)
{
    const std::string name = cl.Command->get_name();
    const std::string parent =
        cl.Command->get_parent() != &app ? cl.Command->get_parent()->get_name() : "";

    s.ResolveConnection();
    if (name == "inputs" && s.CommandGiven("--interval") && !cl.Watch)
        Usage("inputs: --interval platí jen s --watch.");
    if (cl.TraceFormat != "text" && cl.TraceFormat != "csv")
        Usage("--trace-format: " + Quoted(cl.TraceFormat) + " není formát (text, csv).");
    for (const TCommandEntry &c : Commands) {
        if (c.Parent == parent && c.Name == name)
            return c.Run(s);
    }
    return ExitUsage; // every leaf of the command line is in the table
}

} // namespace

int RunKorvalctl(int argc, const char *const *argv, const TCliEnvironment &env)
{
    ClearInterrupted();
    if (env.HandleSignals)
        InstallSignalHandlers();
    DrvSetLibraryDirectory(env.ProgramDirectory);

    TCommandLine cl;
    CLI::App app{"Konfigurace a test modulů digitálních vstupů a výstupů z příkazové řádky.",
                 "korvalctl"};
    BuildCommandLine(app, cl);
    BuildTestCommand(app, cl);
    auto usage = [&](const std::string &message) {
        std::fprintf(env.Err, "korvalctl: %s %s Nápověda: korvalctl --help\n", message.c_str(),
                     NothingSent);
        return int(ExitUsage);
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        std::fputs(app.help().c_str(), env.Out);
        return ExitOk;
    } catch (const CLI::CallForAllHelp &) {
        std::fputs(app.help("", CLI::AppFormatMode::All).c_str(), env.Out);
        return ExitOk;
    } catch (const CLI::CallForVersion &e) {
        std::fprintf(env.Out, "%s\n", e.what());
        return ExitOk;
    } catch (const CLI::ParseError &e) {
        return usage(ParseErrorText(app, e));
    }
    // The leaf command: "config" always has one below it.
    for (CLI::App *level = &app; !level->get_subcommands().empty();)
        cl.Command = level = level->get_subcommands().front();

    try {
        RefuseEmptyValues(app);
        TSession session(env, cl, app);
        return Run(session, cl, app);
    } catch (const TUsageError &e) {
        return usage(e.what());
    } catch (const TInterruptedError &e) {
        std::fprintf(env.Err, "korvalctl: %s %s\n", e.what(), NothingSent);
        return int(ExitInterrupted);
    }
}

int KorvalctlMain(int argc, const char *const *argv)
{
    TCliEnvironment env;
    env.ProgramDirectory = platform::ExecutableDirectory();
    cli::PrepareConsole();
    return RunKorvalctl(argc, argv, env);
}
