#include "app/AppDelegate.h"
#include "app/SettingsView.h"
#include "app/StatusMenu.h"
#include "state/AppState.h"
#include "todoist/TodoistSettingsViews.h"

#include <QCoreApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace daybrook;

namespace {
// Settings are written on construction: keep them out of the user's folder.
void privateConfig() {
    static QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
}

// A project list as large accounts have it: `roots` top-level projects with
// three levels of children below each.
QList<ProjectNode> projectTree(int roots) {
    QList<ProjectNode> tree;
    for (int r = 0; r < roots; ++r) {
        ProjectNode root{{QStringLiteral("p%1").arg(r), QStringLiteral("Project %1").arg(r),
                          QStringLiteral("blue"), std::nullopt, r},
                         0,
                         {}};
        for (int c = 0; c < 3; ++c) {
            ProjectNode childNode{{QStringLiteral("p%1-%2").arg(r).arg(c), QStringLiteral("Child %1").arg(c),
                                   QStringLiteral("red"), root.project.id, c},
                                  1,
                                  {}};
            for (int g = 0; g < 2; ++g)
                childNode.children.append(
                    {{QStringLiteral("p%1-%2-%3").arg(r).arg(c).arg(g), QStringLiteral("Leaf %1").arg(g),
                      QStringLiteral("green"), childNode.project.id, g},
                     2,
                     {}});
            root.children.append(childNode);
        }
        tree.append(root);
    }
    return tree;
}
} // namespace

// Opening the settings window: the view with its tab row and the General pane.
static void BM_SettingsViewOpen(benchmark::State &state) {
    privateConfig();
    AppState appState;
    for (auto _ : state) {
        SettingsView view(&appState, appState.dataSource()->calendarService(),
                          appState.dataSource()->todoistService());
        benchmark::DoNotOptimize(view.currentPane());
    }
}
BENCHMARK(BM_SettingsViewOpen)->Unit(benchmark::kMicrosecond);

// Switching between tabs builds the new pane each time.
static void BM_SettingsTabSwitch(benchmark::State &state) {
    privateConfig();
    AppState appState;
    SettingsView view(&appState, appState.dataSource()->calendarService(),
                      appState.dataSource()->todoistService());
    bool integrations = false;
    for (auto _ : state) {
        integrations = !integrations;
        view.setSelectedTab(integrations ? SettingsTab::Integrations : SettingsTab::General);
        // What one turn of the event loop does after the click.
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(BM_SettingsTabSwitch)->Unit(benchmark::kMicrosecond);

// The tray menu is rebuilt at every opening.
static void BM_StatusMenuRebuild(benchmark::State &state) {
    privateConfig();
    AppDelegate delegate;
    StatusMenu menu(&delegate);
    QMenu target;
    for (auto _ : state) {
        menu.populate(&target);
        // What one turn of the event loop does after the click.
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(BM_StatusMenuRebuild)->Unit(benchmark::kMicrosecond);

// One click on a project checkbox rebuilds the visible rows; all roots expanded.
static void BM_ProjectTreeRebuild(benchmark::State &state) {
    const QList<ProjectNode> tree = projectTree(int(state.range(0)));
    TodoistPaneSource source;
    source.hasService = true;
    source.tasksWithDueTime = [] { return 0; };
    source.tasksDueToday = [] { return qsizetype(0); };
    source.projectTree = [&tree] { return tree; };
    source.toggleState = [](const QString &) { return ToggleState::All; };
    source.setProjectEnabled = [](const QString &, bool) {};
    source.error = [] { return std::optional<QString>(); };
    source.refresh = [] {};
    source.disconnect = [] {};
    TodoistSettingsView pane(nullptr);
    pane.setSource(source);
    for (const ProjectNode &root : tree)
        pane.toggleProject(root.project.id);
    // What one turn of the event loop does after the click.
    QCoreApplication::sendPostedEvents();
    for (auto _ : state) {
        pane.reload();
        // What one turn of the event loop does after the click.
        QCoreApplication::sendPostedEvents();
    }
    state.SetComplexityN(state.range(0) * 10);
}
BENCHMARK(BM_ProjectTreeRebuild)->Arg(5)->Arg(20)->Arg(50)->Unit(benchmark::kMillisecond);
