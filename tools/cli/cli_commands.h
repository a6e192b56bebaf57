// The subcommands of the d2udir command.
#pragma once

namespace d2ucli {

// d2udir info FILE
int RunInfo(int argc, char** argv);
// d2udir decode FILE OUT.yuv [--display-order]
int RunDecode(int argc, char** argv);

}  // namespace d2ucli
