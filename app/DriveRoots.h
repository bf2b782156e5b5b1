#pragma once
// The "drives" of the file browser's drive box: the folders a user starts
// browsing from. There are no drive letters here, so they are the home folder
// and the mounted file systems that hold the user's files.

#include <QByteArray>
#include <QStringList>

// The mount points of a mount table in the format of /proc/self/mounts, in
// table order without repeats, leaving out what holds no user files:
// - kernel and virtual file systems (proc, sysfs, cgroup, devpts, debugfs,
//   squashfs images of snaps, ...), and tmpfs unless it is mounted at /tmp;
// - anything mounted under /proc, /sys, /dev, /boot, /snap or /run, except
//   /run/media, where removable drives are mounted.
// Escaped characters of mount points (\040 for a space, ...) are decoded.
QStringList MountRootsFromTable(const QByteArray& table);

// The running system's drives: the home folder first, then the mount points
// of /proc/self/mounts that are folders, sorted by path; "/" is always
// among them.
QStringList SystemDriveRoots();
