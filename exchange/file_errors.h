#pragma once

#include <QString>

class QFileDevice;

namespace kav {

// Why a file could not be opened or read, in Polish, from what the system
// reports for it.
QString ReadErrorReason(const QFileDevice& file);
// Why a file could not be written, likewise.
QString WriteErrorReason(const QFileDevice& file, const QString& path);

} // namespace kav
