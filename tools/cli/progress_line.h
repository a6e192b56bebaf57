// The progress line on a terminal: rewritten in place on standard error, at most a few times a
// second, and only when standard error is a terminal and the user did not ask for quiet.
#pragma once

#include <chrono>
#include <cstdint>

namespace d2ucli {

class ProgressLine {
public:
    explicit ProgressLine(bool quiet);
    // `fraction` of the input read (0 to 1), `pictures` done so far.
    void Update(double fraction, int64_t pictures);
    // Clears the line.
    void Finish();

private:
    bool shown_;
    bool written_ = false;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace d2ucli
