#include "support/Users.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>

#include <grp.h>
#include <unistd.h>

ActingAs::ActingAs(uid_t uid, gid_t gid, const std::vector<gid_t>& groups)
{
    if (::geteuid() != 0) {
        ok_ = groups.empty();
        return;
    }
    const int count = ::getgroups(0, nullptr);
    oldGroups_.resize(size_t(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, oldGroups_.data()) != count)
        return;
    groupsSet_ = ::setgroups(groups.size(), groups.data()) == 0;
    groupLowered_ = groupsSet_ && ::setresgid(gid, gid, 0) == 0;
    lowered_ = groupLowered_ && ::setresuid(uid, uid, 0) == 0;
    ok_ = lowered_;
}

// A process that stayed the other user would run every later test as that
// user and report their results as root's: it stops here instead.
ActingAs::~ActingAs()
{
    if (lowered_ && ::setresuid(0, 0, 0) != 0)
        qFatal("ActingAs: cannot become root again: %s", std::strerror(errno));
    if (groupLowered_ && ::setresgid(0, 0, 0) != 0)
        qFatal("ActingAs: cannot take root's group again: %s", std::strerror(errno));
    if (groupsSet_ && ::setgroups(oldGroups_.size(), oldGroups_.data()) != 0)
        qFatal("ActingAs: cannot restore root's groups: %s", std::strerror(errno));
}
