#pragma once

// Finding and clicking the widgets of the settings window by object name, as
// a user would reach them.

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QSet>
#include <QString>
#include <QTest>
#include <QWidget>
#include <initializer_list>

namespace daybrook::test {

// A left click where a user would click the widget; fails the test when the
// widget is missing or hidden.
inline void click(QWidget *widget) {
    QVERIFY(widget);
    // Rows rebuilt a moment ago are laid out on the next turn of the loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QVERIFY(widget->isVisible());
    // A check box takes clicks on its box and text only, which sit at its leading end.
    const QPoint at =
        qobject_cast<QCheckBox *>(widget) ? QPoint(8, widget->height() / 2) : widget->rect().center();
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
}

template <typename T> T *child(QObject *root, const char *name) {
    return root->findChild<T *>(QLatin1String(name));
}

// Gives the widget focus first, as a user tabbing to it would.
inline void press(QWidget *widget, std::initializer_list<Qt::Key> keys) {
    widget->setFocus();
    for (Qt::Key key : keys)
        QTest::keyClick(widget, key);
}

inline bool shown(QWidget *root, const QString &name) {
    auto *widget = root->findChild<QWidget *>(name);
    return widget && widget->isVisible();
}

// The text of the named label, or a text saying it is missing.
inline QString labelText(QWidget *root, const QString &name) {
    auto *label = root->findChild<QLabel *>(name);
    return label ? label->text() : QStringLiteral("<no %1>").arg(name);
}

inline QSet<QString> ids(std::initializer_list<const char *> list) {
    return QSet<QString>(list.begin(), list.end());
}

} // namespace daybrook::test
