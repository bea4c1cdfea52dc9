#pragma once

#include "exchange/file_result.h"

#include <QString>

namespace kav {

enum class FileAccess { Read, Write };

// The system's error number as a reason in Polish, for a file being read or
// written. Unknown numbers get a Polish sentence with the number.
QString SystemErrorReason(int error, FileAccess access);
// The same for a file routine's result.
QString SystemErrorReason(const FileResult& result);

} // namespace kav
