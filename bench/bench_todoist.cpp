// Todoist: decoding a large account's tasks and turning them into entries.
//   daybrook_bench --benchmark_filter=Todoist --benchmark_repetitions=10
//   --benchmark_report_aggregates_only=true
#include "StallWatch.h"
#include "todoist/TodoistDecoding.h"
#include "todoist/TodoistEntries.h"
#include "todoist/TodoistService.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <benchmark/benchmark.h>
#include <thread>

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

QByteArray realisticTaskBody(int count = taskCount) {
    QJsonArray results;
    for (int i = 0; i < count; ++i)
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

// Answers every request on 127.0.0.1 from its own thread (so that serving
// costs the measured event loop nothing): tasks get `tasks`, the rest an
// empty page.
class PageServer {
public:
    explicit PageServer(QByteArray tasks) : m_tasks(std::move(tasks)) {
        std::atomic<quint16> port = 0;
        m_thread = std::thread([this, &port] {
            QTcpServer server;
            server.listen(QHostAddress::LocalHost);
            port = server.serverPort();
            while (!m_stop) {
                if (!server.waitForNewConnection(50))
                    continue;
                std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
                QByteArray head;
                while (!head.contains("\r\n\r\n") && socket->waitForReadyRead(5000))
                    head += socket->readAll();
                const QByteArray body = head.startsWith("GET /api/v1/tasks")
                                            ? m_tasks
                                            : QByteArray(R"({"results": [], "next_cursor": null})");
                socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: application/json\r\n"
                              "Content-Length: " +
                              QByteArray::number(body.size()) + "\r\n\r\n" + body);
                while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(5000)) {
                }
                socket->disconnectFromHost();
            }
        });
        while (port == 0)
            std::this_thread::yield();
        m_port = port;
    }
    ~PageServer() {
        m_stop = true;
        m_thread.join();
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

private:
    QByteArray m_tasks;
    std::thread m_thread;
    std::atomic<bool> m_stop = false;
    quint16 m_port = 0;
};

// Nothing stored and nothing kept: the benchmark must not touch the desktop's keyring.
class NoSecrets : public SecretStore {
public:
    QCoro::Task<Result> read(QString) override { co_return Result{Status::NotFound, {}, {}}; }
    QCoro::Task<Result> write(QString, QString) override { co_return Result{}; }
    QCoro::Task<Result> remove(QString) override { co_return Result{}; }
};

// The longest the UI thread's event loop stalls while the service fetches and
// decodes a 14 MB task page (issue: it froze for seconds when decoding ran
// there). Frames are 16 ms; the figure to watch is stall_ms_max.
void BM_TodoistFetchStall(benchmark::State &state) {
    constexpr int bigTaskCount = 20000;
    const QByteArray body = realisticTaskBody(bigTaskCount);
    PageServer server(body);
    TodoistConfig config;
    config.apiBaseUrl = server.url();
    config.tokenUrl = server.url();
    TodoistService service(config, std::make_shared<NoSecrets>());
    service.setAccessToken(QStringLiteral("bench"));
    // What the loop shows with nothing to do, for comparison (other programs
    // on the machine preempt it too).
    {
        StallWatch watch;
        QEventLoop loop;
        QTimer::singleShot(500, &loop, &QEventLoop::quit);
        loop.exec();
        state.counters["idle_stall_ms"] = watch.longestMs();
    }
    double worst = 0;
    qsizetype tasks = 0;
    for (auto _ : state) {
        StallWatch watch;
        QEventLoop loop;
        bool done = false;
        [](TodoistService *s, bool *flag, QEventLoop *l) -> QCoro::Task<> {
            co_await s->fetchAll();
            *flag = true;
            l->quit();
        }(&service, &done, &loop);
        if (!done)
            loop.exec();
        worst = std::max(worst, watch.longestMs());
        tasks = service.tasks().size();
    }
    if (tasks != bigTaskCount)
        state.SkipWithError("the fetch failed");
    state.counters["bytes"] = double(body.size());
    state.counters["stall_ms_max"] = worst;
}
BENCHMARK(BM_TodoistFetchStall)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
