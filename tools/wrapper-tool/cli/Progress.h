#pragma once
#include <chrono>
#include <cstdint>
#include <string>

// Progress on stderr. On a terminal: one line, redrawn a few times a second
// once the work has taken longer than half a second, with the current file,
// the rate and the elapsed time. In a log (not a terminal) and when asked
// for: one line per 10 % when there is at least 1 MiB to do. Silent
// otherwise, and always with Quiet.
class Progress {
public:
    enum class Mode { Auto, AutoWithLog, Quiet };

    Progress(const std::string& label, uint64_t totalBytes, Mode mode = Mode::Auto);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance(uint64_t bytes);
    // The file being worked on, shown on a terminal.
    void setItem(const std::string& name) { item_ = name; }
    // Clears the line; called by the destructor too.
    void done();

private:
    void draw();
    void logLine();
    double elapsedSeconds() const;

    std::string label_;
    std::string item_;
    uint64_t total_;
    uint64_t current_ = 0;
    bool terminal_ = false;
    bool log_ = false;
    unsigned nextLogTenth_ = 1;
    bool drawn_ = false;
    size_t drawnWidth_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

// True while a progress line is on the terminal: an interrupted command ends
// it with a newline so the shell's prompt starts on a line of its own.
bool progressLineShown();
