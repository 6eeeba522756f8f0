#include "platform/RunningUser.h"

#include <cstdio>
#include <cstdlib>

#include <sys/auxv.h>
#include <unistd.h>

void exitIfPrivileged() noexcept
{
    // The kernel sets AT_SECURE for a set-id program and for file
    // capabilities alike. Ids apart cover what it does not mark: a saved id
    // is a right the process could take back at any moment.
    uid_t realUser = 0, effectiveUser = 0, savedUser = 0;
    gid_t realGroup = 0, effectiveGroup = 0, savedGroup = 0;
    const bool idsKnown = ::getresuid(&realUser, &effectiveUser, &savedUser) == 0
                          && ::getresgid(&realGroup, &effectiveGroup, &savedGroup) == 0;
    const bool raised = !idsKnown || ::getauxval(AT_SECURE) != 0 || effectiveUser != realUser
                        || savedUser != realUser || effectiveGroup != realGroup || savedGroup != realGroup;
    if (!raised)
        return;
    std::fputs("brennwerk-editor: refusing to run set-user-ID, set-group-ID or with file capabilities; run it as the "
               "user whose files it edits\n",
               stderr);
    std::_Exit(2);
}
