#include "Progress.h"

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

} // namespace

Progress::Progress(const std::string& label, uint64_t totalBytes)
    : label_(label), total_(totalBytes), enabled_(isatty(fileno(stderr)) != 0),
      start_(std::chrono::steady_clock::now()), lastDraw_(start_)
{
}

Progress::~Progress()
{
    done();
}

void Progress::advance(uint64_t bytes)
{
    current_ += bytes;
    if (!enabled_)
        return;
    auto now = std::chrono::steady_clock::now();
    if (now - start_ < kQuietStart || now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    draw();
}

void Progress::draw()
{
    unsigned percent = total_ == 0 ? 100u : unsigned(current_ * 100 / total_);
    std::fprintf(stderr, "\r%s: %3u%% (%llu of %llu MB)", label_.c_str(), percent,
                 (unsigned long long)(current_ >> 20), (unsigned long long)(total_ >> 20));
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::done()
{
    if (drawn_) {
        std::fprintf(stderr, "\r%*s\r", int(label_.size() + 40), "");
        std::fflush(stderr);
    }
    drawn_ = false;
}
