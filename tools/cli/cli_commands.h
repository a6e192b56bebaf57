// The subcommands of the d2udir command. Each takes the arguments after its name, returns the
// exit status, and throws a CliError (one line for standard error) when it cannot go on.
#pragma once

namespace d2ucli {

int RunInfo(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunPreview(int argc, char** argv);
int RunSubtitle(int argc, char** argv);

}  // namespace d2ucli
