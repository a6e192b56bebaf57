#include "cli_commands.h"
namespace d2ucli {
int RunSubtitle(int, char**) {
    return 1;
}
}  // namespace d2ucli
