#include "DriveRoots.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace {

bool IsPseudoFileSystem(const QByteArray& type) {
  static const QSet<QByteArray> kPseudo = {
      "proc",     "sysfs",      "devtmpfs",      "devpts",  "tmpfs",   "ramfs",      "cgroup",
      "cgroup2",  "securityfs", "pstore",        "debugfs", "tracefs", "configfs",   "fusectl",
      "mqueue",   "hugetlbfs",  "binfmt_misc",   "autofs",  "bpf",     "rpc_pipefs", "nsfs",
      "efivarfs", "selinuxfs",  "squashfs",      "nfsd",    "sockfs",  "pipefs",     "devfs",
      "usbfs",    "fuse.lxcfs", "fuse.snapfuse", "none"};
  return kPseudo.contains(type);
}

bool IsUnder(const QString& path, const QString& folder) {
  return path == folder || path.startsWith(folder + u'/');
}

bool IsSystemPlace(const QString& mountPoint) {
  if (IsUnder(mountPoint, QStringLiteral("/run/media"))) return false;
  for (const char* folder : {"/proc", "/sys", "/dev", "/boot", "/snap", "/run"}) {
    if (IsUnder(mountPoint, QString::fromLatin1(folder))) return true;
  }
  return false;
}

// The kernel writes space, tab, newline and backslash in a mount point as a
// backslash and three octal digits.
QString DecodeMountPoint(const QByteArray& field) {
  QByteArray bytes;
  bytes.reserve(field.size());
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
        octal(field[i + 3])) {
      const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      if (value < 256) {
        bytes.append(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    bytes.append(field[i]);
  }
  return QString::fromUtf8(bytes);
}

}  // namespace

QStringList MountRootsFromTable(const QByteArray& table) {
  QStringList roots;
  for (const QByteArray& line : table.split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 3) continue;
    const QString mountPoint = DecodeMountPoint(fields[1]);
    const QByteArray& type = fields[2];
    if (!mountPoint.startsWith(u'/')) continue;
    const bool tmpFolder = type == "tmpfs" && mountPoint == QStringLiteral("/tmp");
    if (IsPseudoFileSystem(type) && !tmpFolder) continue;
    if (IsSystemPlace(mountPoint)) continue;
    if (!roots.contains(mountPoint)) roots.append(mountPoint);
  }
  return roots;
}

QStringList SystemDriveRoots() {
  QStringList roots{QDir::homePath()};
  QFile mounts(QStringLiteral("/proc/self/mounts"));
  if (mounts.open(QIODevice::ReadOnly)) {
    QStringList mounted = MountRootsFromTable(mounts.readAll());
    std::sort(mounted.begin(), mounted.end());
    for (const QString& root : mounted) {
      // Bind-mounted single files (containers mount /etc/hosts so) are no
      // place to browse.
      if (!roots.contains(root) && QFileInfo(root).isDir()) roots.append(root);
    }
  }
  // The whole tree stays reachable even when the root file system was left
  // out or the mount table could not be read.
  if (!roots.contains(QStringLiteral("/"))) roots.append(QStringLiteral("/"));
  return roots;
}
