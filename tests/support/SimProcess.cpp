#include "SimProcess.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace simtest {

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

void SimProcess::AwaitReady(const std::string &executable, Ms startTimeout)
{
    const auto deadline = Clock::now() + startTimeout;
    std::unique_lock lock(mutex_);
    while (!ready_) {
        if (!changed_.wait_until(lock, deadline, [this] { return !lines_.empty() || ended_; })) {
            failure_ = "no \"ready\" from " + executable + " in time";
            break;
        }
        if (lines_.empty()) {
            failure_ = executable + " ended before \"ready\"";
            // Its complaint on stderr may still be on the way.
            changed_.wait_until(lock, deadline, [this] { return finished_; });
            break;
        }
        std::string line = std::move(lines_.front());
        lines_.pop_front();
        if (line == "ready") {
            ready_ = true;
        } else {
            Parse(line);
            startLines_.push_back(std::move(line));
        }
    }
    if (!ready_) {
        failure_ += "; read:\n";
        for (const std::string &line : startLines_)
            failure_ += line + '\n';
        failure_ += partial_;
        if (!stderr_.empty())
            failure_ += "\nstderr:\n" + stderr_;
    }
}

void SimProcess::TakeOut(const char *data, std::size_t n)
{
    partial_.append(data, n);
    for (std::size_t eol; (eol = partial_.find('\n')) != std::string::npos;) {
        lines_.push_back(partial_.substr(0, eol));
        partial_.erase(0, eol + 1);
    }
}

void SimProcess::Parse(const std::string &line)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "udp") {
        std::string where;
        in >> where;
        if (const auto colon = where.rfind(':'); colon != std::string::npos)
            udpPort_ = uint16_t(std::atoi(where.c_str() + colon + 1));
    } else if (word == "pty") {
        in >> pty_;
    } else if (word == "link") {
        in >> link_;
    } else if (word == "module") {
        Module m;
        std::string key;
        in >> m.address >> key >> m.baudCode >> key >> m.name >> key >> m.version;
        modules_.push_back(m);
    }
}

bool SimProcess::WaitForLine(const std::string &line, Ms timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!changed_.wait_until(lock, deadline, [this] { return !lines_.empty() || ended_; }) ||
            lines_.empty())
            return false;
        const bool found = lines_.front() == line;
        lines_.pop_front();
        if (found)
            return true;
    }
}

std::optional<SimProcess::Requests> SimProcess::StopAndCount(int sig)
{
    Stop(sig);
    std::lock_guard lock(mutex_);
    for (const std::string &line : lines_) {
        if (!line.starts_with("requests total="))
            continue;
        Requests r;
        std::istringstream in(line.substr(9));
        for (std::string word; in >> word;) {
            const auto eq = word.find('=');
            if (eq == std::string::npos)
                return std::nullopt;
            const char *value = word.c_str() + eq + 1;
            char *end = nullptr;
            const uint64_t n = std::strtoull(value, &end, 10);
            const std::string key = word.substr(0, eq);
            if (end == value || *end != '\0')
                return std::nullopt;
            if (key == "total")
                r.total = n;
            else if (key == "read")
                r.read = n;
            else if (key == "write")
                r.write = n;
            else if (key.starts_with("cmd"))
                r.byCommand[std::atoi(key.c_str() + 3)] = n;
            else
                return std::nullopt;
        }
        return r;
    }
    return std::nullopt;
}

std::string SimProcess::Stderr() const
{
    std::lock_guard lock(mutex_);
    return stderr_;
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

} // namespace simtest
