// Draws the bar with a sample day into PNG images: light and dark, collapsed
// and expanded with an entry tooltip.
//   daybrook_render [OUTPUT-FOLDER]   (default: docs)
#include "bar/BarRenderer.h"
#include "bar/BarState.h"
#include "core/Clock.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <QTimeZone>

using namespace daybrook;

namespace {
constexpr int width = 1450;

QDateTime at(int hour, int minute) {
    return QDateTime(QDate(2026, 12, 7), QTime(hour, minute), QTimeZone("Europe/Berlin")).toUTC();
}

CalendarEntry event(const char *id, int h1, int m1, int h2, int m2, const QString &label, const char *colour,
                    const char *group) {
    return CalendarEntry{
        QString::fromLatin1(id), at(h1, m1), at(h2, m2), label, hexColor(QString::fromLatin1(colour)),
        QString::fromUtf8(group)};
}

TodoistEntry task(const char *id, int h1, int m1, std::optional<QDateTime> end, const QString &label,
                  const char *colour, const char *project) {
    return TodoistEntry{
        QString::fromLatin1(id),   at(h1, m1), end, label, hexColor(QString::fromLatin1(colour)),
        QString::fromUtf8(project)};
}

BarPreviewData sampleDay(bool dark) {
    BarPreviewData day;
    day.isDarkMode = dark;
    day.sunEnabled = true;
    day.sunrise = at(8, 5);
    day.sunset = at(16, 30);
    day.entries = {
        event("breakfast", 7, 30, 8, 15, QStringLiteral("☕ Breakfast with Sam"), "#7CB342", "Personal"),
        event("standup", 9, 0, 10, 0, QStringLiteral("Standup"), "#4285F4", "Work"),
        event("review", 9, 30, 10, 30, QStringLiteral("Design review"), "#8E24AA", "Work"),
        event("oneone", 10, 0, 11, 0, QStringLiteral("1:1 with Alex"), "#039BE5", "Work"),
        task("run", 11, 30, at(12, 15), QStringLiteral("🏃 Run"), "#ff9933", "Health"),
        CombinedEntry{TodoistEntry{QStringLiteral("lunch"), at(12, 30), at(13, 30), QStringLiteral("Lunch"),
                                   hexColor(u"#db4035"), QStringLiteral("Errands")},
                      CalendarEntry{QStringLiteral("lunch-event"), at(12, 30), at(13, 30),
                                    QStringLiteral("Lunch 🍜"), hexColor(u"#33B679"),
                                    QStringLiteral("Personal")}},
        task("writing", 13, 0, std::nullopt, QStringLiteral("Focus: writing"), "#14aaf5", "Writing"),
        event("planning", 15, 0, 16, 30, QStringLiteral("Quarterly planning 📋"), "#F4511E", "Work"),
        task("guitar", 17, 0, at(17, 30), QStringLiteral("🎸"), "#af38eb", "Music"),
        event("dinner", 19, 0, 20, 0, QStringLiteral("Dinner 🍝 with friends"), "#E67C73", "Personal"),
    };
    return day;
}

QImage render(bool dark, bool expanded) {
    BarState state;
    state.setFrame(QRectF(0, 0, width, 150));
    state.setCurrentTime(Clock::now());
    state.setPreviewData(sampleDay(dark));
    if (expanded) {
        state.setIsExpanded(true);
        // The pointer on "Design review", a little after its start.
        const double x = state.xPosition(at(9, 50));
        state.setBarContentHovered(true);
        state.updateHover(HoveredElement::entry(QStringLiteral("review"), x), true);
    }
    const BarVisuals visuals = BarVisuals::settled(state);

    QImage image(width, expanded ? 120 : 56, QImage::Format_ARGB32_Premultiplied);
    // A plain desktop behind the translucent bar.
    image.fill(dark ? QColor(0x2b, 0x2f, 0x3a) : QColor(0xd9, 0xde, 0xe6));
    QPainter painter(&image);
    painter.translate(0, 0);
    BarRenderer renderer;
    renderer.paint(painter, state, visuals);
    painter.end();
    return image;
}
} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Times are shown in the sample day's zone wherever this runs.
    qputenv("TZ", "Europe/Berlin");
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(folder);
    Clock::freezeAt(at(14, 10));

    QTextStream out(stdout);
    for (const bool dark : {false, true}) {
        for (const bool expanded : {false, true}) {
            const QString name =
                QStringLiteral("%1/bar-%2-%3.png")
                    .arg(folder, dark ? QStringLiteral("dark") : QStringLiteral("light"),
                         expanded ? QStringLiteral("expanded") : QStringLiteral("collapsed"));
            if (!render(dark, expanded).save(name)) {
                out << "cannot write " << name << Qt::endl;
                return 1;
            }
            out << name << Qt::endl;
        }
    }
    return 0;
}
