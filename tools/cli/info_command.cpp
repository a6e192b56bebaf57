#include "cli_commands.h"
namespace d2ucli {
int RunInfo(int, char**) {
    return 1;
}
}  // namespace d2ucli
