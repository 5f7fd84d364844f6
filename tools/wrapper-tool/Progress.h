#pragma once
#include <chrono>
#include <cstdint>
#include <string>

// A one-line progress display on stderr, shown only when stderr is a terminal
// and the work has taken longer than half a second, redrawn a few times a second.
class Progress {
public:
    Progress(const std::string& label, uint64_t totalBytes);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance(uint64_t bytes);
    // Clears the line; called by the destructor too.
    void done();

private:
    void draw();

    std::string label_;
    uint64_t total_;
    uint64_t current_ = 0;
    bool enabled_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};
