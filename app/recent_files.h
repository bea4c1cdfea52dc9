#pragma once

#include <QStringList>

namespace kav {

// The recent-file list in the user's settings, newest first.
constexpr int kMaxRecentFiles = 4;

QStringList RecentFiles();
// Puts `path` at the front; the oldest beyond kMaxRecentFiles drops out.
void AddToRecentFiles(const QString& path);

} // namespace kav
