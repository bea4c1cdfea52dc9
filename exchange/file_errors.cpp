#include "exchange/file_errors.h"

#include "res/strings.h"

namespace kav {

QString SystemErrorReason(int error, FileAccess access)
{
    if (error == EACCES)
        return access == FileAccess::Read ? ui::kReasonNoReadPermission : ui::kReasonNoWritePermission;
    for (const ui::SystemErrorText& entry : ui::kSystemErrorTexts) {
        if (entry.error == error)
            return entry.text;
    }
    return ui::kReasonUnknown.arg(error);
}

QString SystemErrorReason(const FileResult& result)
{
    return SystemErrorReason(result.error, result.Reading() ? FileAccess::Read : FileAccess::Write);
}

} // namespace kav
