#pragma once

#include "exchange/coord_listing.h"
#include "view/user_prompts.h"

#include <QList>
#include <QString>

#include <deque>
#include <functional>

// Answers the program's questions from a script and records each one.
class ScriptedPrompts final : public kav::CUserPrompts {
public:
    struct Asked {
        QString kind; // "question", "notice", "warning", "format", "savePath", "openPath", "exportPath", "underlayPath", "listing", "about"
        QString text;
        QString caption;
    };

    std::deque<bool> yesNo; // answers to AskYesNo; No when empty
    std::deque<std::optional<kav::SaveFormat>> formats; // nothing (cancel) when empty
    std::deque<QString> savePaths; // empty (cancel) when none left
    std::deque<QString> openPaths;
    std::deque<kav::ExportTarget> exportPaths; // cancel when none left
    std::deque<QString> underlayPaths;
    QList<Asked> asked;

    bool AskYesNo(QWidget*, const QString& text, const QString& caption) override
    {
        asked.append({QStringLiteral("question"), text, caption});
        return Next(yesNo, false);
    }
    void Tell(QWidget*, const QString& text, const QString& caption, Icon icon) override
    {
        asked.append({icon == Icon::Warning ? QStringLiteral("warning") : QStringLiteral("notice"), text, caption});
    }
    std::optional<kav::SaveFormat> AskSaveFormat(QWidget*) override
    {
        asked.append({QStringLiteral("format"), {}, {}});
        return Next(formats, std::optional<kav::SaveFormat>{});
    }
    QString AskSavePath(QWidget*) override
    {
        asked.append({QStringLiteral("savePath"), {}, {}});
        return Next(savePaths, QString());
    }
    QString AskOpenPath(QWidget*) override
    {
        asked.append({QStringLiteral("openPath"), {}, {}});
        return Next(openPaths, QString());
    }
    std::optional<kav::ExportTarget> AskExportPath(QWidget*) override
    {
        asked.append({QStringLiteral("exportPath"), {}, {}});
        if (exportPaths.empty())
            return std::nullopt;
        return Next(exportPaths, kav::ExportTarget{});
    }
    QString AskUnderlayPath(QWidget*) override
    {
        asked.append({QStringLiteral("underlayPath"), {}, {}});
        return Next(underlayPaths, QString());
    }
    void ShowListing(QWidget*, std::span<const kav::Point> points, kav::Point centre) override
    {
        asked.append(
            {QStringLiteral("listing"), QString::fromStdString(kav::FormatListing(points, centre.x, centre.y)), {}});
    }
    void CloseListing() override {}
    void ShowAbout(QWidget*) override { asked.append({QStringLiteral("about"), {}, {}}); }

    int cancelProgressAfter = -1; // updates before Cancel; never when negative
    bool withProgress = true; // no progress object at all when false
    std::function<void(int update)> duringProgress; // what the user does meanwhile
    int progressUpdates = 0;
    kav::ProgressWork progressWork = kav::ProgressWork::Loading; // of the last progress started
    QString progressText; // likewise
    qint64 progressTotal = 0; // likewise
    qint64 progressBytes = 0; // the last update's
    std::unique_ptr<kav::CProgress> StartProgress(QWidget*, kav::ProgressWork work, const QString& text,
                                                  qint64 total) override
    {
        progressWork = work;
        progressText = text;
        progressTotal = total;
        if (!withProgress)
            return nullptr;
        struct Progress final : kav::CProgress {
            ScriptedPrompts& owner;
            explicit Progress(ScriptedPrompts& o)
                : owner(o)
            {
            }
            bool Update(qint64 bytesRead, qint64) override
            {
                ++owner.progressUpdates;
                owner.progressBytes = bytesRead;
                if (owner.duringProgress)
                    owner.duringProgress(owner.progressUpdates);
                return owner.cancelProgressAfter < 0 || owner.progressUpdates <= owner.cancelProgressAfter;
            }
        };
        return std::make_unique<Progress>(*this);
    }

    QStringList Kinds() const
    {
        QStringList kinds;
        for (const Asked& a : asked)
            kinds.append(a.kind);
        return kinds;
    }

private:
    template <class T> static T Next(std::deque<T>& queue, T fallback)
    {
        if (queue.empty())
            return fallback;
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }
};
