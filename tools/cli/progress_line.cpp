#include "progress_line.h"

#include <unistd.h>

#include <cstdio>

namespace d2ucli {

ProgressLine::ProgressLine(bool quiet) : shown_(!quiet && isatty(STDERR_FILENO) == 1) {}

void ProgressLine::Update(double fraction, int64_t pictures) {
    if (!shown_) return;
    auto now = std::chrono::steady_clock::now();
    if (written_ && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    written_ = true;
    std::fprintf(stderr, "\r%5.1f%%  %lld pictures", fraction * 100.0,
                 static_cast<long long>(pictures));
    std::fflush(stderr);
}

void ProgressLine::Finish() {
    if (!shown_ || !written_) return;
    std::fprintf(stderr, "\r%40s\r", "");
    std::fflush(stderr);
}

}  // namespace d2ucli
