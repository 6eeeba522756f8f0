#pragma once

#include <QString>

// Whether Wine's server runs for a prefix. While it runs it holds the
// prefix's registry in memory and writes it back when it ends, so a change
// made to system.reg behind its back is lost.
namespace WineServer {

// True when a wineserver for the prefix folder runs, however it was started.
// A wineserver names its folder "server-<device>-<inode>" after the prefix
// (hexadecimal), makes it its working folder and holds a lock on the file
// "lock" in it. The folder lies in /tmp/.wine-<uid> in Wine as it comes; in
// Debian's Wine in $TMPDIR (else /tmp) below a folder whose name the prefix's
// file "wineserver" holds, and $TMPDIR is the one of whoever started it. So
// both places are looked at for the lock, and every process that is a
// wineserver: its working folder, or the WINEPREFIX (else ~/.wine) of its
// environment. In a prefix Wine made (it holds dosdevices or drive_c) that
// belongs to another user, a wineserver of that user which this user may not
// look into counts as running: a write could be lost. A prefix that does not
// exist has no server.
bool runsFor(const QString& prefix);

} // namespace WineServer
