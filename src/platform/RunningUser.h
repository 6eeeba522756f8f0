#pragma once

// This program opens, follows and writes whatever files its user names. Run
// with rights that user does not have (a set-user-ID or set-group-ID copy,
// file capabilities), it would hand those rights to anyone who may start it:
// root's files set, folders made where only root may make them. So it does
// not run that way at all.

// The one line (ending in a newline) to print on stderr before leaving, when
// this process runs with rights its user does not have; null when it does
// not. Uses no Qt and reads no file: it is asked before anything else runs.
const char* privilegeRefusal() noexcept;
