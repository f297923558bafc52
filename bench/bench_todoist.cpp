// Todoist: decoding a large account's tasks and turning them into entries.
//   daybrook_bench --benchmark_filter=Todoist --benchmark_repetitions=10
//   --benchmark_report_aggregates_only=true
#include "todoist/TodoistDecoding.h"
#include "todoist/TodoistEntries.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <benchmark/benchmark.h>

using namespace daybrook;

namespace {

constexpr int taskCount = 5000;
constexpr int projectCount = 60;
const QString today = QStringLiteral("2030-01-15");

// A task as the API sends it, with the keys we ignore. Due dates mix the three
// forms (floating, fixed with microseconds, whole day) and no date at all;
// about one task in ten is due today (2030-01-15) at a time.
QJsonObject realisticTask(int i) {
    QJsonValue due;
    const int day = i % 10 < 2 ? 15 : 1 + (i / 10) % 28;
    const QString date = QStringLiteral("2030-01-%1").arg(day, 2, 10, QLatin1Char('0'));
    switch (i % 5) {
    case 0:
        due =
            QJsonObject{{"date", date + QStringLiteral("T%1:30:00").arg(7 + i % 12, 2, 10, QLatin1Char('0'))},
                        {"timezone", QJsonValue()},
                        {"string", "every day at 9:30"},
                        {"lang", "en"},
                        {"is_recurring", true}};
        break;
    case 1:
        due = QJsonObject{
            {"date", date + QStringLiteral("T%1:00:00.000000Z").arg(i % 24, 2, 10, QLatin1Char('0'))},
            {"timezone", "Europe/Berlin"},
            {"string", "jan 15 at 14:00"},
            {"lang", "en"},
            {"is_recurring", false}};
        break;
    case 2:
    case 3:
        due = QJsonObject{{"date", date},
                          {"timezone", QJsonValue()},
                          {"string", "jan 15"},
                          {"lang", "en"},
                          {"is_recurring", false}};
        break;
    default:
        break;
    }
    return QJsonObject{
        {"id", QStringLiteral("6cQ9vS8kTn2W%1").arg(i, 6, 10, QLatin1Char('0'))},
        {"user_id", "2671355"},
        {"project_id", QStringLiteral("6cQ9vA1bCd%1").arg(i % projectCount, 6, 10, QLatin1Char('0'))},
        {"section_id", QJsonValue()},
        {"parent_id", QJsonValue()},
        {"added_by_uid", "2671355"},
        {"assigned_by_uid", QJsonValue()},
        {"responsible_uid", QJsonValue()},
        {"labels", QJsonArray{"work", "errand"}},
        {"deadline", QJsonValue()},
        {"duration",
         i % 3 == 0 ? QJsonValue(QJsonObject{{"amount", 30 + i % 90}, {"unit", "minute"}}) : QJsonValue()},
        {"checked", false},
        {"is_deleted", false},
        {"added_at", "2029-11-02T08:14:31.402816Z"},
        {"completed_at", QJsonValue()},
        {"updated_at", "2029-12-30T17:02:11.000000Z"},
        {"due", due},
        {"priority", 1 + i % 4},
        {"child_order", i},
        {"content", QStringLiteral("Task number %1: call the bank about the mortgage ☎️").arg(i)},
        {"description", "Ask about the fixed rate and bring the last three statements."},
        {"note_count", 0},
        {"day_order", -1},
        {"is_collapsed", false},
    };
}

QByteArray realisticTaskBody() {
    QJsonArray results;
    for (int i = 0; i < taskCount; ++i)
        results.append(realisticTask(i));
    return QJsonDocument(QJsonObject{{"results", results}, {"next_cursor", QJsonValue()}})
        .toJson(QJsonDocument::Compact);
}

QList<TodoistProject> projects() {
    static const char *colors[] = {"berry_red", "blue", "grape", "teal", "charcoal", "unknown"};
    QList<TodoistProject> list;
    for (int i = 0; i < projectCount; ++i)
        list.append(TodoistProject{QStringLiteral("6cQ9vA1bCd%1").arg(i, 6, 10, QLatin1Char('0')),
                                   QStringLiteral("Project %1").arg(i), QString::fromLatin1(colors[i % 6]),
                                   std::nullopt, i});
    return list;
}

void BM_TodoistDecodeTasks(benchmark::State &state) {
    const QByteArray body = realisticTaskBody();
    for (auto _ : state) {
        auto page = decodeTaskPage(body);
        if (!page || page.value->results.size() != taskCount)
            state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(page);
    }
    state.counters["bytes"] = double(body.size());
}
BENCHMARK(BM_TodoistDecodeTasks)->Unit(benchmark::kMillisecond);

void BM_TodoistToTimeEntries(benchmark::State &state) {
    const auto page = decodeTaskPage(realisticTaskBody());
    const QList<TodoistTask> tasks = page.value->results;
    const QList<TodoistProject> projectList = projects();
    const QSet<QString> disabled{projectList[3].id, projectList[7].id};
    qsizetype produced = 0;
    for (auto _ : state) {
        const TimeEntryList entries = todoistTimeEntries(tasks, projectList, disabled, today);
        produced = entries.size();
        benchmark::DoNotOptimize(entries);
    }
    state.counters["entries"] = double(produced);
}
BENCHMARK(BM_TodoistToTimeEntries)->Unit(benchmark::kMillisecond);

} // namespace
