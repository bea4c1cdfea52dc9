#include "app/recent_files.h"

#include "res/strings.h"

#include <QSettings>

namespace kav {

namespace {

const QString kRecentGroup = QStringLiteral("Recent File List");

QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, ui::kOrganization, ui::kAppName);
}

} // namespace

QStringList RecentFiles()
{
    QSettings profile = Profile();
    profile.beginGroup(kRecentGroup);
    QStringList files;
    for (int i = 1; i <= kMaxRecentFiles; ++i) {
        const QString file = profile.value(QStringLiteral("File%1").arg(i)).toString();
        if (!file.isEmpty())
            files.append(file);
    }
    return files;
}

void AddToRecentFiles(const QString& path)
{
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    QSettings profile = Profile();
    profile.beginGroup(kRecentGroup);
    for (int i = 1; i <= kMaxRecentFiles; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= files.size())
            profile.setValue(key, files.at(i - 1));
        else
            profile.remove(key);
    }
}

} // namespace kav
