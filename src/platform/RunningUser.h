#pragma once

// This program opens, follows and writes whatever files its user names. Run
// with rights that user does not have (a set-user-ID or set-group-ID copy,
// file capabilities), it would hand those rights to anyone who may start it:
// root's files set, folders made where only root may make them. So it does
// not run that way at all.

// When this process runs with rights its user does not have: says so in one
// line on stderr and ends the process with status 2 at once, so that no exit
// handler of any library runs with those rights either. Uses no Qt and reads
// no file: it is called before anything else runs.
void exitIfPrivileged() noexcept;
