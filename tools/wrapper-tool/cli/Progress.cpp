#include "cli/Progress.h"

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

const auto kQuietStart = std::chrono::milliseconds(500);
const auto kRedrawInterval = std::chrono::milliseconds(200);
const size_t kLongestItem = 40;
// Less than this is over too soon for progress lines in a log to help.
const uint64_t kSmallestLoggedWork = 1 << 20;

std::atomic<bool> lineShown{false};

} // namespace

bool progressLineShown()
{
    return lineShown.load();
}

Progress::Progress(const std::string& label, uint64_t totalBytes, Mode mode)
    : label_(label), total_(totalBytes), start_(std::chrono::steady_clock::now()), lastDraw_(start_)
{
    if (mode == Mode::Quiet)
        return;
    terminal_ = isatty(fileno(stderr)) != 0;
    log_ = !terminal_ && mode == Mode::AutoWithLog && totalBytes >= kSmallestLoggedWork;
}

Progress::~Progress()
{
    done();
}

double Progress::elapsedSeconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::advance(uint64_t bytes)
{
    current_ += bytes;
    if (log_) {
        logLine();
        return;
    }
    if (!terminal_)
        return;
    auto now = std::chrono::steady_clock::now();
    if (now - start_ < kQuietStart || now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    draw();
}

void Progress::logLine()
{
    if (total_ == 0)
        return;
    // One line when the next tenth is reached; a big entry that jumps past
    // several gives one line, not a burst of equal ones.
    const unsigned tenth = unsigned(current_ * 10 / total_);
    if (tenth < nextLogTenth_ || nextLogTenth_ > 10)
        return;
    std::fprintf(stderr, "%s: %3u%% (%llu of %llu MB, %.1f s)\n", label_.c_str(), tenth * 10,
                 (unsigned long long)(current_ >> 20), (unsigned long long)(total_ >> 20), elapsedSeconds());
    nextLogTenth_ = tenth + 1;
}

void Progress::draw()
{
    unsigned percent = total_ == 0 ? 100u : unsigned(current_ * 100 / total_);
    double seconds = elapsedSeconds();
    double rate = seconds > 0 ? double(current_) / (1 << 20) / seconds : 0.0;
    std::string item = item_;
    if (item.size() > kLongestItem)
        item = "..." + item.substr(item.size() - (kLongestItem - 3));
    char line[256];
    int length = std::snprintf(line, sizeof line, "%s: %3u%% %-*s %6.1f MB/s %6.1f s", label_.c_str(), percent,
                               int(kLongestItem), item.c_str(), rate, seconds);
    if (length < 0)
        return;
    std::fprintf(stderr, "\r%s", line);
    std::fflush(stderr);
    drawnWidth_ = size_t(length) > drawnWidth_ ? size_t(length) : drawnWidth_;
    drawn_ = true;
    lineShown.store(true);
}

void Progress::done()
{
    if (drawn_) {
        std::fprintf(stderr, "\r%*s\r", int(drawnWidth_), "");
        std::fflush(stderr);
    }
    drawn_ = false;
    lineShown.store(false);
}
