#pragma once

#include <sys/types.h>

#include <vector>

// Root ignores the modes of files and folders, and tests run as root in CI.
// For as long as it lives, this makes a process running as root act as
// another user (real and effective ids, so that access() agrees) with the
// supplementary groups given, keeping root as the saved user to return to.
// Run by another user, nothing changes, and that is enough when no group is
// asked for.
class ActingAs {
public:
    explicit ActingAs(uid_t uid = 65534, gid_t gid = 65534, const std::vector<gid_t>& groups = {});
    ~ActingAs();
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;

    // False when the process could not become that user: skip the test.
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool lowered_ = false;
    bool groupsSet_ = false;
    bool groupLowered_ = false;
    std::vector<gid_t> oldGroups_;
};
