#include "support/Users.h"

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

ActingAs::~ActingAs()
{
    if (lowered_)
        (void)::setresuid(0, 0, 0);
    if (groupLowered_)
        (void)::setresgid(0, 0, 0);
    if (groupsSet_)
        (void)::setgroups(oldGroups_.size(), oldGroups_.data());
}
