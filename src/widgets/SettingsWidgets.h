#pragma once

#include "widgets/SettingsStyle.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <functional>

class QVBoxLayout;
class QHBoxLayout;

namespace daybrook {

enum class Tone { Primary, Secondary, Tertiary, Red, Green };

QColor toneColor(Tone tone, const QPalette &palette);

// A label whose text colour is a tone of the current palette, so that it
// follows light and dark.
class ToneLabel : public QLabel {
    Q_OBJECT
public:
    explicit ToneLabel(const QString &text = {}, Tone tone = Tone::Primary, QWidget *parent = nullptr);
    void setTone(Tone tone);
    Tone tone() const { return m_tone; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyTone();
    Tone m_tone;
    bool m_applying = false;
};

// One of our glyphs in a tone or a fixed colour, re-tinted when the palette changes.
class SymbolLabel : public QLabel {
    Q_OBJECT
public:
    SymbolLabel(style::Symbol symbol, Tone tone, int size, QWidget *parent = nullptr);
    SymbolLabel(style::Symbol symbol, QColor (*color)(const QPalette &), int size, QWidget *parent = nullptr);
    void setSymbol(style::Symbol symbol);

protected:
    void changeEvent(QEvent *event) override;

private:
    void render();
    style::Symbol m_symbol;
    Tone m_tone = Tone::Primary;
    QColor (*m_color)(const QPalette &) = nullptr;
    int m_size;
};

// "Connected" / "Enabled" with a filled check mark, in green.
class StatusBadge : public QWidget {
    Q_OBJECT
public:
    explicit StatusBadge(const QString &text, QWidget *parent = nullptr);
    QString text() const;

private:
    ToneLabel *m_label;
};

// A button without chrome, as used for the secondary actions of a row.
QPushButton *makeBorderlessButton(const QString &text, Tone tone = Tone::Primary, QWidget *parent = nullptr);

// The disclosure triangle of a group or a project: pointing right when closed, down when open.
class ChevronButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit ChevronButton(QWidget *parent = nullptr);
    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    QSize sizeHint() const override { return {12, 12}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_expanded = false;
};

// A filled circle in a given colour.
class ColorDot : public QWidget {
    Q_OBJECT
public:
    explicit ColorDot(const QColor &color, int diameter = 10, QWidget *parent = nullptr);
    QColor color() const { return m_color; }
    QSize sizeHint() const override { return {m_diameter, m_diameter}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
    int m_diameter;
};

// A group of form rows on a rounded card, with an optional header above it.
class FormSection : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString &title = {}, QWidget *parent = nullptr);
    // Adds a row widget (separated from the previous one by a thin line).
    void addRow(QWidget *row);
    // A row with a label on the leading side and the control on the trailing side.
    QWidget *addLabeledRow(const QString &label, QWidget *control);
    // Removes every row.
    void clearRows();
    QString title() const;

private:
    class Card;
    QLabel *m_header = nullptr;
    Card *m_card;
    QVBoxLayout *m_rows;
};

// Puts a borderless scrolling area into a pane's outer layout and returns the
// layout of its content, with the panes' common margins and the given spacing.
QVBoxLayout *addScrollingForm(QVBoxLayout *outer, int spacing);

// The header section of a connected integration's pane: "Connected", then the
// borderless "Refresh" and red "Disconnect" buttons (object names refreshButton
// and disconnectButton).
FormSection *makeConnectedHeader(QObject *context, std::function<void()> refresh,
                                 std::function<void()> disconnect);

// The common frame of the three rows of the Integrations tab: a glyph, a title,
// a status text under it, a trailing control, then an optional detail line and an
// optional error line.
class IntegrationRow : public QWidget {
    Q_OBJECT
public:
    IntegrationRow(style::Symbol symbol, QColor (*symbolColor)(const QPalette &), const QString &title,
                   QWidget *parent = nullptr);

    QString statusText() const;
    QString errorText() const;

protected:
    void setStatusText(const QString &text);
    // Shows exactly one of the trailing widgets added with addTrailing.
    void addTrailing(QWidget *widget);
    void showTrailing(QWidget *widget);
    QHBoxLayout *detailLayout() const { return m_detailLayout; }
    void setDetailVisible(bool visible);
    // Fills the detail line: a caption text (returned, object name detailText),
    // then the borderless "Refresh" and a red second action.
    ToneLabel *setUpDetailLine(const QString &actionTitle, const QString &actionObjectName,
                               std::function<void()> refresh, std::function<void()> action);
    void setErrorText(const std::optional<QString> &text);

private:
    ToneLabel *m_status;
    QHBoxLayout *m_trailing;
    QList<QWidget *> m_trailingWidgets;
    QWidget *m_detail;
    QHBoxLayout *m_detailLayout;
    ToneLabel *m_error;
};

} // namespace daybrook
