#pragma once

#include "model/AppModel.h"
#include "support/AsyncTest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// Scenario pieces for driving the model through the stand-in tools.
namespace ModelTest {

inline QJsonObject out(const QString& text) { return {{"out", text}}; }
inline QJsonObject sleepFor(int ms) { return {{"sleep", ms}}; }

inline QJsonObject rule(const QString& tool, const QString& pattern, const QJsonArray& steps, int exit = 0)
{
    return {{"tool", tool}, {"match", pattern}, {"steps", steps}, {"exit", exit}};
}

inline QJsonObject withState(QJsonObject rule, const QJsonObject& required, const QJsonObject& changes = {})
{
    if (!required.isEmpty())
        rule.insert("requires", required);
    if (!changes.isEmpty())
        rule.insert("set", changes);
    return rule;
}

inline QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

/// An ipatool answer line as the real tool prints it.
inline QString ipatoolLine(QJsonObject fields)
{
    fields.insert("level", fields.contains("error") ? "error" : "info");
    fields.insert("time", "2026-01-01T00:00:00Z");
    return compact(fields);
}

inline QJsonObject purchasedApp(qint64 id, const QString& name)
{
    return {{"id", id}, {"bundleID", QString("com.example.app%1").arg(id)}, {"name", name}, {"version", "1.0"},
            {"price", 0}, {"purchaseDate", "2020-01-02T03:04:05Z"}};
}

/// The rules that list a history of `total` apps in pages of 100 (App IDs 1000 and up).
inline QJsonArray historyPages(int total, int delayMs = 0)
{
    QJsonArray rules;
    const int pages = std::max(1, (total + 99) / 100);
    for (int page = 1; page <= pages; ++page) {
        QJsonArray apps;
        for (int i = (page - 1) * 100; i < std::min(total, page * 100); ++i)
            apps.append(purchasedApp(1000 + i, QString("Приложение %1").arg(i)));
        QJsonArray steps;
        if (delayMs > 0)
            steps.append(sleepFor(delayMs));
        steps.append(out(ipatoolLine({{"apps", apps}, {"totalCount", total}, {"success", true}})));
        rules.append(rule("ipatool", QString("list-purchases -p %1 -l 100$").arg(page), steps));
    }
    return rules;
}

inline QJsonObject signedInAs(const QString& email)
{
    return withState(rule("ipatool", "auth info$",
                          {out(ipatoolLine({{"email", email}, {"name", "Иван Петров"}, {"success", true}}))}),
                     {{"signedIn", "yes"}, {"email", email}});
}

inline QJsonObject signedOutInfo()
{
    return rule("ipatool", "auth info$",
                {out(ipatoolLine({{"error", "failed to get account: the specified item could not be found in the keyring"},
                                  {"success", false}}))},
                1);
}

inline QStringList logTexts(const AppModel& model)
{
    QStringList texts;
    for (const AppModel::LogEntry& entry : model.log())
        texts.append(entry.text);
    return texts;
}

inline QJsonObject scenario(const QJsonArray& rules, const QJsonObject& state = {})
{
    return {{"rules", rules}, {"state", state}};
}

inline QJsonArray operator+(QJsonArray left, const QJsonArray& right)
{
    for (const QJsonValue& value : right)
        left.append(value);
    return left;
}

} // namespace ModelTest
