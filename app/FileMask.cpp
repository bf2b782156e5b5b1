#include "FileMask.h"

#include <QStringList>

namespace {

// Every character but the two wildcards stands for itself: brackets, dots and
// plus signs are common in music file names and must not act as regex syntax.
QRegularExpression PatternToRegex(const QString& pattern) {
  QString regex = QStringLiteral("\\A(?:");
  for (const QChar c : pattern) {
    if (c == u'*') {
      regex += QStringLiteral(".*");
    } else if (c == u'?') {
      regex += u'.';
    } else {
      regex += QRegularExpression::escape(QString(c));
    }
  }
  regex += QStringLiteral(")\\z");
  return QRegularExpression(regex, QRegularExpression::CaseInsensitiveOption |
                                       QRegularExpression::DotMatchesEverythingOption);
}

}  // namespace

TFileMask::TFileMask() : TFileMask(QString::fromLatin1(kDefaultFileListMask)) {}

TFileMask::TFileMask(const QString& mask) : FText(mask) {
  for (const QString& part : mask.split(u';', Qt::SkipEmptyParts)) {
    const QString pattern = part.trimmed();
    if (pattern.isEmpty()) continue;
    // "*.*" means every file, also those without an extension.
    FPatterns.append(
        PatternToRegex(pattern == QStringLiteral("*.*") ? QStringLiteral("*") : pattern));
  }
}

bool TFileMask::Matches(const QString& fileName) const {
  for (const QRegularExpression& regex : FPatterns) {
    if (regex.match(fileName).hasMatch()) return true;
  }
  return false;
}
